#include <libquivelmarine/context.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/iterator.h>
#include <libquivelmarine/parser.h>

#include "parser-private.h"
#include "suunto_vyper_dives.h"
#include "suunto_vyper_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

namespace vyper = qvsim::vyper;

constexpr double FOOT = 0.3048;

struct Logged {
    qv_loglevel_t level;
    std::string message;
};

void capture(qv_context_t *, qv_loglevel_t level, const char *, unsigned int, const char *, const char *message,
             void *userdata)
{
    static_cast<std::vector<Logged> *>(userdata)->push_back({level, message});
}

// One sample as the tests compare it: the type with its integer payload
// (time, gas mix index, event type) or its real payload (depth).
struct Sample {
    qv_sample_type_t type;
    uint32_t number = 0;
    double real = 0.0;

    bool operator==(const Sample &other) const
    {
        return type == other.type && number == other.number && std::fabs(real - other.real) < 1e-9;
    }
};

void PrintTo(const Sample &sample, std::ostream *os)
{
    static const char *const names[] = {"time", "depth", "pressure", "temperature", "event", "rbt", "heartbeat",
                                        "bearing", "vendor", "setpoint", "ppo2", "cns", "deco", "gasmix",
                                        "location"};
    *os << (sample.type < 15 ? names[sample.type] : "?") << "(";
    if (sample.type == QV_SAMPLE_DEPTH)
        *os << sample.real;
    else
        *os << sample.number;
    *os << ")";
}

Sample time_ms(uint32_t ms)
{
    return {QV_SAMPLE_TIME, ms, 0.0};
}
Sample depth_ft(double feet)
{
    return {QV_SAMPLE_DEPTH, 0, feet * FOOT};
}
Sample gasmix(uint32_t index)
{
    return {QV_SAMPLE_GASMIX, index, 0.0};
}
Sample event(qv_sample_event_t type)
{
    return {QV_SAMPLE_EVENT, type, 0.0};
}

struct Recorded {
    std::vector<Sample> samples;
    bool bad_event_payload = false; // an event with time, flags or value not 0
};

void record_sample(qv_sample_type_t type, const qv_sample_value_t *value, void *userdata)
{
    auto *recorded = static_cast<Recorded *>(userdata);
    switch (type) {
    case QV_SAMPLE_TIME:
        recorded->samples.push_back(time_ms(value->time));
        break;
    case QV_SAMPLE_DEPTH:
        recorded->samples.push_back({QV_SAMPLE_DEPTH, 0, value->depth});
        break;
    case QV_SAMPLE_GASMIX:
        recorded->samples.push_back(gasmix(value->gasmix));
        break;
    case QV_SAMPLE_EVENT:
        if (value->event.time != 0 || value->event.flags != 0 || value->event.value != 0)
            recorded->bad_event_payload = true;
        recorded->samples.push_back(event(value->event.type));
        break;
    default:
        recorded->samples.push_back({type, 0xDEAD, 0.0});
        break;
    }
}

// A hand-made record: interval 20 s, open circuit, 200 bar at the start, air,
// 25 degrees at the surface, 2023-06-10 10:05, then the profile bytes (which
// should end with the 0x80 marker), then the trailer: 16 degrees minimum,
// 50 bar at the end.
std::vector<uint8_t> record(std::initializer_list<uint8_t> profile,
                            std::initializer_list<uint8_t> trailer = {16, 0, 25, 0})
{
    std::vector<uint8_t> bytes = {0, 0, 0, 20, 0x00, 100, 0, 0, 25, 23, 6, 10, 10, 5};
    bytes.insert(bytes.end(), profile);
    bytes.insert(bytes.end(), trailer);
    return bytes;
}

class VyperParserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
        qv_context_set_loglevel(context, QV_LOGLEVEL_ALL);
        qv_context_set_logfunc(context, capture, &logged);
    }

    void TearDown() override
    {
        qv_parser_destroy(parser);
        qv_context_free(context);
    }

    // Creates the parser under test for bytes (directly, not through the
    // dispatch: the dispatch has its own tests below).
    void open(const std::vector<uint8_t> &bytes)
    {
        qv_parser_destroy(parser);
        parser = nullptr;
        ASSERT_EQ(suunto_vyper_parser_create(&parser, context, bytes.data(), bytes.size()), QV_STATUS_SUCCESS);
        ASSERT_NE(parser, nullptr);
    }

    qv_status_t samples(std::vector<Sample> &out)
    {
        Recorded recorded;
        qv_status_t status = qv_parser_samples_foreach(parser, record_sample, &recorded);
        EXPECT_FALSE(recorded.bad_event_payload);
        out = recorded.samples;
        return status;
    }

    std::vector<Sample> samples()
    {
        std::vector<Sample> out;
        EXPECT_EQ(samples(out), QV_STATUS_SUCCESS);
        return out;
    }

    unsigned int number(qv_field_type_t type, unsigned int index = 0)
    {
        unsigned int value = 0xFFFF;
        EXPECT_EQ(qv_parser_get_field(parser, type, index, &value), QV_STATUS_SUCCESS);
        return value;
    }

    double real(qv_field_type_t type)
    {
        double value = -999.0;
        EXPECT_EQ(qv_parser_get_field(parser, type, 0, &value), QV_STATUS_SUCCESS);
        return value;
    }

    qv_gasmix_t mix(unsigned int index)
    {
        qv_gasmix_t value{};
        EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_GASMIX, index, &value), QV_STATUS_SUCCESS);
        return value;
    }

    qv_tank_t tank()
    {
        qv_tank_t value{};
        EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_TANK, 0, &value), QV_STATUS_SUCCESS);
        return value;
    }

    size_t count_logged(qv_loglevel_t level, const std::string &message) const
    {
        return std::count_if(logged.begin(), logged.end(),
                             [&](const Logged &l) { return l.level == level && l.message == message; });
    }

    qv_context_t *context = nullptr;
    qv_parser_t *parser = nullptr;
    std::vector<Logged> logged;
};

// ---------------------------------------------------------------------------
// Hand-made records

TEST_F(VyperParserTest, DecodesTheHeaderAndTrailer)
{
    std::vector<uint8_t> bytes = record({0x0A, 0x14, 0x7C, 0xE2, 0x80});
    bytes[4] = 0x0B; // conservatism setting 11
    bytes[6] = 32;   // nitrox 32
    open(bytes);

    qv_datetime_t datetime{};
    ASSERT_EQ(qv_parser_get_datetime(parser, &datetime), QV_STATUS_SUCCESS);
    EXPECT_EQ(datetime.year, 2023);
    EXPECT_EQ(datetime.month, 6);
    EXPECT_EQ(datetime.day, 10);
    EXPECT_EQ(datetime.hour, 10);
    EXPECT_EQ(datetime.minute, 5);
    EXPECT_EQ(datetime.second, 0);
    EXPECT_EQ(datetime.timezone, QV_TIMEZONE_NONE);

    // Three depth bytes of 20 s; 10 + 20 = 30 ft at the deepest.
    EXPECT_EQ(number(QV_FIELD_DIVETIME), 60u);
    EXPECT_NEAR(real(QV_FIELD_MAXDEPTH), 30 * FOOT, 1e-9);
    EXPECT_EQ(number(QV_FIELD_GASMIX_COUNT), 1u);
    qv_gasmix_t first = mix(0);
    EXPECT_DOUBLE_EQ(first.oxygen, 0.32);
    EXPECT_DOUBLE_EQ(first.helium, 0.0);
    EXPECT_DOUBLE_EQ(first.nitrogen, 0.68);
    EXPECT_EQ(first.usage, QV_USAGE_NONE);
    EXPECT_DOUBLE_EQ(real(QV_FIELD_TEMPERATURE_SURFACE), 25.0);
    EXPECT_DOUBLE_EQ(real(QV_FIELD_TEMPERATURE_MINIMUM), 16.0);

    EXPECT_EQ(number(QV_FIELD_TANK_COUNT), 1u);
    qv_tank_t t = tank();
    EXPECT_EQ(t.gasmix, 0u);
    EXPECT_EQ(t.type, QV_TANKVOLUME_NONE);
    EXPECT_DOUBLE_EQ(t.volume, 0.0);
    EXPECT_DOUBLE_EQ(t.workpressure, 0.0);
    EXPECT_DOUBLE_EQ(t.beginpressure, 200.0);
    EXPECT_DOUBLE_EQ(t.endpressure, 50.0);
    EXPECT_EQ(t.usage, QV_USAGE_NONE);

    qv_divemode_t mode = 99;
    ASSERT_EQ(qv_parser_get_field(parser, QV_FIELD_DIVEMODE, 0, &mode), QV_STATUS_SUCCESS);
    EXPECT_EQ(mode, QV_DIVEMODE_OC);
    qv_decomodel_t model;
    std::memset(&model, 0xFF, sizeof(model));
    ASSERT_EQ(qv_parser_get_field(parser, QV_FIELD_DECOMODEL, 0, &model), QV_STATUS_SUCCESS);
    EXPECT_EQ(model.type, QV_DECOMODEL_RGBM);
    EXPECT_EQ(model.conservatism, 3); // 11 / 3

    // Indices past the mixes and tanks.
    qv_gasmix_t unused_mix{};
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_GASMIX, 1, &unused_mix), QV_STATUS_INVALIDARGS);
    qv_tank_t unused_tank{};
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_TANK, 1, &unused_tank), QV_STATUS_INVALIDARGS);
    EXPECT_TRUE(logged.empty());
}

TEST_F(VyperParserTest, SignedTemperaturesAndGaugeModeFlags)
{
    std::vector<uint8_t> bytes = record({0x0A, 0xF6, 0x80}, {0xFC, 0, 0, 0});
    bytes[4] = 0x4F; // gauge, conservatism setting 15
    bytes[8] = 0xFE;
    open(bytes);

    EXPECT_DOUBLE_EQ(real(QV_FIELD_TEMPERATURE_SURFACE), -2.0);
    EXPECT_DOUBLE_EQ(real(QV_FIELD_TEMPERATURE_MINIMUM), -4.0);
    qv_divemode_t mode = 99;
    ASSERT_EQ(qv_parser_get_field(parser, QV_FIELD_DIVEMODE, 0, &mode), QV_STATUS_SUCCESS);
    EXPECT_EQ(mode, QV_DIVEMODE_GAUGE);
    qv_decomodel_t model{};
    ASSERT_EQ(qv_parser_get_field(parser, QV_FIELD_DECOMODEL, 0, &model), QV_STATUS_SUCCESS);
    EXPECT_EQ(model.conservatism, 5);

    // A tank with only a start pressure, tied to no mix in gauge mode.
    EXPECT_EQ(number(QV_FIELD_TANK_COUNT), 1u);
    qv_tank_t t = tank();
    EXPECT_EQ(t.gasmix, QV_GASMIX_UNKNOWN);
    EXPECT_DOUBLE_EQ(t.beginpressure, 200.0);
    EXPECT_DOUBLE_EQ(t.endpressure, 0.0);
}

TEST_F(VyperParserTest, YearsBelowNinetyAreThisCentury)
{
    const struct {
        uint8_t byte;
        int year;
    } cases[] = {{0, 2000}, {23, 2023}, {89, 2089}, {90, 1990}, {99, 1999}, {255, 2155}};
    for (const auto &c : cases) {
        std::vector<uint8_t> bytes = record({0x80});
        bytes[9] = c.byte;
        open(bytes);
        qv_datetime_t datetime{};
        ASSERT_EQ(qv_parser_get_datetime(parser, &datetime), QV_STATUS_SUCCESS);
        EXPECT_EQ(datetime.year, c.year) << "year byte " << int(c.byte);
    }
}

TEST_F(VyperParserTest, TooShortRecordsAreDataFormatErrors)
{
    // 17 bytes: one short of a header, a marker and a trailer.
    std::vector<uint8_t> bytes = record({0x80}, {0, 0});
    ASSERT_EQ(bytes.size(), 17u);
    open(bytes);
    unsigned int value = 0;
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_DIVETIME, 0, &value), QV_STATUS_DATAFORMAT);
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_AVGDEPTH, 0, &value), QV_STATUS_DATAFORMAT);
    std::vector<Sample> out;
    EXPECT_EQ(samples(out), QV_STATUS_DATAFORMAT);
    EXPECT_TRUE(out.empty());
    // The date is in the first 14 bytes.
    qv_datetime_t datetime{};
    EXPECT_EQ(qv_parser_get_datetime(parser, &datetime), QV_STATUS_SUCCESS);
    EXPECT_TRUE(logged.empty()); // too short is not logged

    // 13 bytes: not even the date.
    bytes.resize(13);
    open(bytes);
    EXPECT_EQ(qv_parser_get_datetime(parser, &datetime), QV_STATUS_DATAFORMAT);

    // An empty record.
    qv_parser_destroy(parser);
    parser = nullptr;
    ASSERT_EQ(suunto_vyper_parser_create(&parser, context, nullptr, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_parser_get_datetime(parser, &datetime), QV_STATUS_DATAFORMAT);
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_DIVETIME, 0, &value), QV_STATUS_DATAFORMAT);
    EXPECT_EQ(qv_parser_samples_foreach(parser, nullptr, nullptr), QV_STATUS_DATAFORMAT);
}

TEST_F(VyperParserTest, TheEndMarkerNeedsFourBytesAfterIt)
{
    const struct {
        const char *what;
        std::vector<uint8_t> bytes;
        qv_status_t status;
    } cases[] = {
        {"four bytes after the marker", record({0x0A, 0xF6, 0x80}, {1, 2, 3, 4}), QV_STATUS_SUCCESS},
        {"three bytes after the marker", record({0x0A, 0xF6, 0x00, 0x80}, {1, 2, 3}), QV_STATUS_DATAFORMAT},
        {"no marker at all", record({0x0A, 0xF6, 0x00, 0x00, 0x00}, {1, 2, 3, 4}), QV_STATUS_DATAFORMAT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        open(c.bytes);
        logged.clear();
        unsigned int divetime = 0;
        EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_DIVETIME, 0, &divetime), c.status);
        std::vector<Sample> out;
        EXPECT_EQ(samples(out), c.status);
        if (c.status == QV_STATUS_SUCCESS) {
            EXPECT_TRUE(logged.empty());
        } else {
            EXPECT_TRUE(out.empty());
            // Logged on each attempt: the failure is not cached.
            EXPECT_EQ(count_logged(QV_LOGLEVEL_ERROR, "No valid end marker found!"), 2u);
        }
    }
}

TEST_F(VyperParserTest, GasChangeCutOffByTheEndOfTheRecord)
{
    // 0x87 is the last byte: its oxygen byte is missing.
    open(record({0x0A, 0x00, 0x00}, {0x87}));
    std::vector<Sample> out;
    EXPECT_EQ(samples(out), QV_STATUS_DATAFORMAT);
    EXPECT_EQ(count_logged(QV_LOGLEVEL_ERROR, "Buffer overflow detected!"), 1u);

    // With its oxygen byte as the very last byte there is no marker.
    logged.clear();
    open(record({0x0A, 0x00, 0x00}, {0x87, 32}));
    EXPECT_EQ(samples(out), QV_STATUS_DATAFORMAT);
    EXPECT_EQ(count_logged(QV_LOGLEVEL_ERROR, "No valid end marker found!"), 1u);
}

TEST_F(VyperParserTest, AirIsTheFirstMixWhenTheHeaderHasNone)
{
    // Byte 6 is 0; the profile switches to 32 %, back to air (21 %, the first
    // mix), to 50 %.
    open(record({0x0A, 0x87, 32, 0x0A, 0x87, 21, 0x00, 0x87, 50, 0xEC, 0x80}));
    ASSERT_EQ(number(QV_FIELD_GASMIX_COUNT), 3u);
    const double oxygen[] = {0.21, 0.32, 0.50};
    for (unsigned int i = 0; i < 3; i++) {
        qv_gasmix_t m = mix(i);
        EXPECT_DOUBLE_EQ(m.oxygen, oxygen[i]);
        EXPECT_DOUBLE_EQ(m.nitrogen, 1.0 - oxygen[i]);
        EXPECT_DOUBLE_EQ(m.helium, 0.0);
    }
    std::vector<Sample> expected = {
        time_ms(0),     depth_ft(0),  gasmix(0),    //
        time_ms(20000), depth_ft(10),               //
        time_ms(40000), gasmix(1),    depth_ft(20), //
        time_ms(60000), gasmix(0),    depth_ft(20), //
        time_ms(80000), gasmix(2),    depth_ft(0),  //
        time_ms(100000), depth_ft(0),
    };
    EXPECT_EQ(samples(), expected);
}

TEST_F(VyperParserTest, AFourthDistinctMixFailsTheWholeDive)
{
    std::vector<uint8_t> bytes = record({0x0A, 0x87, 32, 0x00, 0x87, 50, 0x00, 0x87, 80, 0xF6, 0x80});
    open(bytes);
    unsigned int value = 0;
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_GASMIX_COUNT, 0, &value), QV_STATUS_DATAFORMAT);
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_DIVETIME, 0, &value), QV_STATUS_DATAFORMAT);
    std::vector<Sample> out;
    EXPECT_EQ(samples(out), QV_STATUS_DATAFORMAT);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(count_logged(QV_LOGLEVEL_ERROR, "Maximum number of gas mixes reached."), 3u);

    // The same switches with a header mix of 32 % are only three mixes.
    bytes[6] = 32;
    open(bytes);
    EXPECT_EQ(number(QV_FIELD_GASMIX_COUNT), 3u);
}

TEST_F(VyperParserTest, EventsShareTheTimeOfTheFollowingDepth)
{
    open(record({0x0A, 0x7C, 0x7A, 0x05, 0x81, 0x00, 0xF1, 0x80}));
    std::vector<Sample> expected = {
        time_ms(0),     depth_ft(0), gasmix(0),
        time_ms(20000), depth_ft(10),
        time_ms(40000), event(QV_SAMPLE_EVENT_BOOKMARK), event(QV_SAMPLE_EVENT_ASCENT), depth_ft(15),
        time_ms(60000), event(QV_SAMPLE_EVENT_SAFETYSTOP), depth_ft(15),
        time_ms(80000), depth_ft(0),
        time_ms(100000), depth_ft(0),
    };
    EXPECT_EQ(samples(), expected);
    // Events take no time: four depth bytes.
    EXPECT_EQ(number(QV_FIELD_DIVETIME), 80u);
}

TEST_F(VyperParserTest, ARecordEndingWithAnEventGetsNoClosingTime)
{
    open(record({0x0A, 0xF6, 0x7C, 0x80}));
    std::vector<Sample> expected = {
        time_ms(0),     depth_ft(0), gasmix(0),     //
        time_ms(20000), depth_ft(10),               //
        time_ms(40000), depth_ft(0),                //
        time_ms(60000), event(QV_SAMPLE_EVENT_BOOKMARK), //
        depth_ft(0),
    };
    EXPECT_EQ(samples(), expected);
}

TEST_F(VyperParserTest, AnEmptyProfileIsTheSurfaceOnly)
{
    open(record({0x80}));
    std::vector<Sample> expected = {time_ms(0), depth_ft(0), gasmix(0), time_ms(20000), depth_ft(0)};
    EXPECT_EQ(samples(), expected);
    EXPECT_EQ(number(QV_FIELD_DIVETIME), 0u);
    EXPECT_DOUBLE_EQ(real(QV_FIELD_MAXDEPTH), 0.0);
}

TEST_F(VyperParserTest, EveryEventCode)
{
    const struct {
        uint8_t code;
        qv_sample_event_t event;
    } mapped[] = {
        {0x7A, QV_SAMPLE_EVENT_ASCENT},   {0x7B, QV_SAMPLE_EVENT_VIOLATION}, {0x7C, QV_SAMPLE_EVENT_BOOKMARK},
        {0x7D, QV_SAMPLE_EVENT_SURFACE},  {0x7E, QV_SAMPLE_EVENT_DECOSTOP},  {0x7F, QV_SAMPLE_EVENT_CEILING},
        {0x81, QV_SAMPLE_EVENT_SAFETYSTOP},
    };
    for (const auto &m : mapped) {
        open(record({m.code, 0x0A, 0x80}));
        std::vector<Sample> expected = {time_ms(0),     depth_ft(0),  gasmix(0), time_ms(20000), event(m.event),
                                        depth_ft(10), time_ms(40000), depth_ft(0)};
        EXPECT_EQ(samples(), expected) << "code " << int(m.code);
    }

    // Unknown codes are reported and dropped; they still open a sample period.
    for (uint8_t code : {0x79, 0x82, 0x83, 0x84, 0x85, 0x86}) {
        logged.clear();
        open(record({code, 0x0A, 0x80}));
        std::vector<Sample> expected = {time_ms(0),     depth_ft(0), gasmix(0), time_ms(20000), depth_ft(10),
                                        time_ms(40000), depth_ft(0)};
        EXPECT_EQ(samples(), expected) << "code " << int(code);
        EXPECT_EQ(count_logged(QV_LOGLEVEL_WARNING, "Unknown event"), 1u) << "code " << int(code);
        // Not a depth change: one sample period only.
        EXPECT_EQ(number(QV_FIELD_DIVETIME), 20u);
    }
}

TEST_F(VyperParserTest, GaugeModeHasNoMixesButStillReportsGasChanges)
{
    std::vector<uint8_t> bytes = record({0x0A, 0x87, 32, 0xF6, 0x80});
    bytes[4] = 0x40;
    open(bytes);

    EXPECT_EQ(number(QV_FIELD_GASMIX_COUNT), 0u);
    qv_gasmix_t unused{};
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_GASMIX, 0, &unused), QV_STATUS_INVALIDARGS);
    std::vector<Sample> expected = {
        time_ms(0),     depth_ft(0),                           // no initial gas mix
        time_ms(20000), depth_ft(10),                          //
        time_ms(40000), gasmix(1),    depth_ft(0),             //
        time_ms(60000), depth_ft(0),
    };
    EXPECT_EQ(samples(), expected);
}

TEST_F(VyperParserTest, NoPressuresNoTank)
{
    std::vector<uint8_t> bytes = record({0x0A, 0xF6, 0x80}, {16, 0, 0, 0});
    bytes[5] = 0;
    open(bytes);
    EXPECT_EQ(number(QV_FIELD_TANK_COUNT), 0u);
    qv_tank_t unused{};
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_TANK, 0, &unused), QV_STATUS_INVALIDARGS);

    // An end pressure alone is a tank.
    bytes = record({0x0A, 0xF6, 0x80}, {16, 0, 40, 0});
    bytes[5] = 0;
    open(bytes);
    EXPECT_EQ(number(QV_FIELD_TANK_COUNT), 1u);
    qv_tank_t t = tank();
    EXPECT_DOUBLE_EQ(t.beginpressure, 0.0);
    EXPECT_DOUBLE_EQ(t.endpressure, 80.0);
}

TEST_F(VyperParserTest, FieldsTheFormatDoesNotCarry)
{
    open(record({0x0A, 0xF6, 0x80}));
    double value = 0.0;
    qv_location_t location{};
    qv_salinity_t salinity{};
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_AVGDEPTH, 0, &value), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_SALINITY, 0, &salinity), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_ATMOSPHERIC, 0, &value), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_TEMPERATURE_MAXIMUM, 0, &value), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_LOCATION, 0, &location), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_parser_get_field(parser, 15, 0, &value), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_DIVETIME, 0, nullptr), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_parser_set_clock(parser, 1, 2), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_parser_set_atmospheric(parser, 101325.0), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_parser_set_density(parser, 1025.0), QV_STATUS_UNSUPPORTED);
}

TEST_F(VyperParserTest, DepthsAboveTheStartStayNegative)
{
    // A damaged record whose depth changes go up first: the depth is kept
    // signed, so it never turns into thousands of kilometres.
    open(record({0xF6, 0x14, 0xF6, 0x80}));
    EXPECT_NEAR(real(QV_FIELD_MAXDEPTH), 10 * FOOT, 1e-9);
    std::vector<Sample> expected = {
        time_ms(0),     depth_ft(0),  gasmix(0), time_ms(20000), depth_ft(-10), time_ms(40000), depth_ft(10),
        time_ms(60000), depth_ft(0), time_ms(80000), depth_ft(0),
    };
    EXPECT_EQ(samples(), expected);

    open(record({0xF6, 0xF6, 0x80}));
    EXPECT_DOUBLE_EQ(real(QV_FIELD_MAXDEPTH), 0.0);
}

TEST_F(VyperParserTest, TheOxygenByteOfAGasChangeIsNeverTheMarker)
{
    // 0x87 0x80: the 0x80 is the new mix's oxygen byte; the profile goes on.
    std::vector<uint8_t> bytes = record({0x0A, 0x87, 0x80, 0x05, 0x80});
    bytes[6] = 21;
    open(bytes);
    EXPECT_EQ(number(QV_FIELD_DIVETIME), 40u);
    EXPECT_EQ(number(QV_FIELD_GASMIX_COUNT), 2u);
    EXPECT_DOUBLE_EQ(mix(1).oxygen, 1.28);
}

TEST_F(VyperParserTest, RepeatedPassesAndNoCallback)
{
    open(vyper::encode(vyper::builtin_logbook().at(1)));
    std::vector<Sample> first = samples();
    std::vector<Sample> second = samples();
    EXPECT_EQ(first, second);
    EXPECT_EQ(qv_parser_samples_foreach(parser, nullptr, nullptr), QV_STATUS_SUCCESS);
    EXPECT_EQ(samples(), first);
}

TEST_F(VyperParserTest, CreationWithoutAnOutPointer)
{
    std::vector<uint8_t> bytes = record({0x80});
    EXPECT_EQ(suunto_vyper_parser_create(nullptr, context, bytes.data(), bytes.size()), QV_STATUS_INVALIDARGS);
}

TEST_F(VyperParserTest, TheParserKeepsItsOwnCopy)
{
    std::vector<uint8_t> bytes = record({0x0A, 0xF6, 0x80});
    open(bytes);
    std::fill(bytes.begin(), bytes.end(), 0x87);
    bytes.clear();
    bytes.shrink_to_fit();
    EXPECT_EQ(number(QV_FIELD_DIVETIME), 40u);
}

// ---------------------------------------------------------------------------
// Through the public dispatch with the model table's descriptors

const qv_descriptor_t *find_descriptor(std::vector<qv_descriptor_t *> &owned, const char *product)
{
    qv_iterator_t *iterator = nullptr;
    if (qv_descriptor_iterator_new(&iterator) != QV_STATUS_SUCCESS)
        return nullptr;
    const qv_descriptor_t *found = nullptr;
    qv_descriptor_t *descriptor = nullptr;
    while (found == nullptr && qv_iterator_next(iterator, &descriptor) == QV_STATUS_SUCCESS) {
        owned.push_back(descriptor);
        if (std::strcmp(qv_descriptor_get_vendor(descriptor), "Suunto") == 0 &&
            std::strcmp(qv_descriptor_get_product(descriptor), product) == 0)
            found = descriptor;
    }
    qv_iterator_free(iterator);
    return found;
}

class VyperDispatchTest : public VyperParserTest {
protected:
    void TearDown() override
    {
        for (qv_descriptor_t *descriptor : owned)
            qv_descriptor_free(descriptor);
        VyperParserTest::TearDown();
    }

    std::vector<qv_descriptor_t *> owned;
};

TEST_F(VyperDispatchTest, EveryVyperModelButTheSpyderGetsThisParser)
{
    std::vector<uint8_t> bytes = vyper::encode(vyper::builtin_logbook().at(0));
    for (const char *product : {"Stinger", "Mosquito", "D3", "Vyper", "Vytec", "Cobra", "Gekko", "Zoop"}) {
        SCOPED_TRACE(product);
        const qv_descriptor_t *descriptor = find_descriptor(owned, product);
        ASSERT_NE(descriptor, nullptr);
        ASSERT_EQ(qv_descriptor_get_type(descriptor), QV_FAMILY_SUUNTO_VYPER);

        qv_parser_destroy(parser);
        parser = nullptr;
        ASSERT_EQ(qv_parser_new2(&parser, context, descriptor, bytes.data(), bytes.size()), QV_STATUS_SUCCESS);
        ASSERT_NE(parser, nullptr);
        EXPECT_EQ(qv_parser_get_type(parser), QV_FAMILY_SUUNTO_VYPER);
        qv_datetime_t datetime{};
        ASSERT_EQ(qv_parser_get_datetime(parser, &datetime), QV_STATUS_SUCCESS);
        EXPECT_EQ(datetime.year, 1998);
        EXPECT_GT(number(QV_FIELD_DIVETIME), 0u);
        EXPECT_GT(samples().size(), 10u);
    }
}

TEST_F(VyperDispatchTest, TheSpyderFailsCleanly)
{
    const qv_descriptor_t *spyder = find_descriptor(owned, "Spyder");
    ASSERT_NE(spyder, nullptr);
    ASSERT_EQ(qv_descriptor_get_model(spyder), 1u);

    std::vector<uint8_t> bytes = vyper::encode(vyper::builtin_logbook().at(0));
    logged.clear();
    qv_parser_t *out = reinterpret_cast<qv_parser_t *>(&logged);
    qv_status_t status = qv_parser_new2(&out, context, spyder, bytes.data(), bytes.size());
    if (status == QV_STATUS_SUCCESS) {
        // The Eon-format parser has landed: it must not be this one.
        EXPECT_NE(qv_parser_get_type(out), 0u);
        qv_parser_t *vyper_parser = nullptr;
        ASSERT_EQ(suunto_vyper_parser_create(&vyper_parser, context, bytes.data(), bytes.size()),
                  QV_STATUS_SUCCESS);
        EXPECT_NE(out->vtable, vyper_parser->vtable);
        qv_parser_destroy(vyper_parser);
        qv_parser_destroy(out);
        return;
    }
    EXPECT_EQ(status, QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, QV_LOGLEVEL_ERROR);
    EXPECT_NE(logged[0].message.find("Suunto Eon"), std::string::npos) << logged[0].message;
}

// ---------------------------------------------------------------------------
// The simulator's dives, decoded

// What the parser should report for a dive description, worked out from the
// description (not from its bytes). Every depth step of the logbook fits in
// one profile byte, so a step is one sample period.
struct Expected {
    unsigned int divetime = 0;
    double maxdepth = 0.0;
    std::vector<unsigned int> mixes; // oxygen %
    std::vector<Sample> samples;
};

Expected expect(const vyper::Dive &dive)
{
    Expected e;
    e.mixes.push_back(dive.o2 != 0 ? dive.o2 : 21);
    e.samples = {time_ms(0), depth_ft(0)};
    if (!dive.gauge)
        e.samples.push_back(gasmix(0));

    int feet = 0;
    int deepest = 0;
    unsigned int time = 0;
    bool open = false; // a sample period has its time but no depth yet
    for (const vyper::Step &step : dive.profile) {
        if (!open) {
            time += dive.interval;
            e.samples.push_back(time_ms(time * 1000));
            open = true;
        }
        switch (step.kind) {
        case vyper::Step::Kind::depth:
            EXPECT_LE(std::abs(step.value), vyper::MAX_DEPTH_STEP);
            feet += step.value;
            deepest = std::max(deepest, feet);
            e.samples.push_back(depth_ft(feet));
            e.divetime += dive.interval;
            open = false;
            break;
        case vyper::Step::Kind::event: {
            static const std::pair<int, qv_sample_event_t> codes[] = {
                {vyper::EVENT_ASCENT, QV_SAMPLE_EVENT_ASCENT},     {vyper::EVENT_VIOLATION, QV_SAMPLE_EVENT_VIOLATION},
                {vyper::EVENT_BOOKMARK, QV_SAMPLE_EVENT_BOOKMARK}, {vyper::EVENT_SURFACE, QV_SAMPLE_EVENT_SURFACE},
                {vyper::EVENT_DECOSTOP, QV_SAMPLE_EVENT_DECOSTOP}, {vyper::EVENT_CEILING, QV_SAMPLE_EVENT_CEILING},
                {vyper::EVENT_SAFETYSTOP, QV_SAMPLE_EVENT_SAFETYSTOP},
            };
            auto it = std::find_if(std::begin(codes), std::end(codes),
                                   [&](const auto &c) { return c.first == step.value; });
            EXPECT_NE(it, std::end(codes)) << "the logbook uses only known events";
            if (it != std::end(codes))
                e.samples.push_back(event(it->second));
            break;
        }
        case vyper::Step::Kind::gas: {
            auto it = std::find(e.mixes.begin(), e.mixes.end(), static_cast<unsigned int>(step.value));
            size_t index = it - e.mixes.begin();
            if (it == e.mixes.end())
                e.mixes.push_back(step.value);
            e.samples.push_back(gasmix(static_cast<uint32_t>(index)));
            break;
        }
        }
    }
    if (!open)
        e.samples.push_back(time_ms((time + dive.interval) * 1000));
    e.samples.push_back(depth_ft(0));
    e.maxdepth = deepest * FOOT;
    return e;
}

TEST_F(VyperParserTest, TheBuiltinLogbookRoundTrips)
{
    const std::vector<vyper::Dive> dives = vyper::builtin_logbook();
    ASSERT_GE(dives.size(), 3u);
    for (size_t i = 0; i < dives.size(); i++) {
        SCOPED_TRACE("dive " + std::to_string(i));
        const vyper::Dive &dive = dives[i];
        const Expected e = expect(dive);
        open(vyper::encode(dive));

        qv_datetime_t datetime{};
        ASSERT_EQ(qv_parser_get_datetime(parser, &datetime), QV_STATUS_SUCCESS);
        EXPECT_EQ(datetime.year, dive.year);
        EXPECT_EQ(datetime.month, dive.month);
        EXPECT_EQ(datetime.day, dive.day);
        EXPECT_EQ(datetime.hour, dive.hour);
        EXPECT_EQ(datetime.minute, dive.minute);

        EXPECT_EQ(number(QV_FIELD_DIVETIME), e.divetime);
        EXPECT_NEAR(real(QV_FIELD_MAXDEPTH), e.maxdepth, 1e-9);

        if (dive.gauge) {
            EXPECT_EQ(number(QV_FIELD_GASMIX_COUNT), 0u);
        } else {
            ASSERT_EQ(number(QV_FIELD_GASMIX_COUNT), e.mixes.size());
            for (size_t m = 0; m < e.mixes.size(); m++)
                EXPECT_DOUBLE_EQ(mix(static_cast<unsigned int>(m)).oxygen, e.mixes[m] / 100.0);
        }

        const bool has_tank = dive.start_pressure != 0 || dive.end_pressure != 0;
        EXPECT_EQ(number(QV_FIELD_TANK_COUNT), has_tank ? 1u : 0u);
        if (has_tank) {
            qv_tank_t t = tank();
            EXPECT_DOUBLE_EQ(t.beginpressure, dive.start_pressure);
            EXPECT_DOUBLE_EQ(t.endpressure, dive.end_pressure);
            EXPECT_EQ(t.gasmix, dive.gauge ? QV_GASMIX_UNKNOWN : 0u);
        }

        EXPECT_DOUBLE_EQ(real(QV_FIELD_TEMPERATURE_SURFACE), dive.surface_temperature);
        EXPECT_DOUBLE_EQ(real(QV_FIELD_TEMPERATURE_MINIMUM), dive.minimum_temperature);

        qv_divemode_t mode = 99;
        ASSERT_EQ(qv_parser_get_field(parser, QV_FIELD_DIVEMODE, 0, &mode), QV_STATUS_SUCCESS);
        EXPECT_EQ(mode, dive.gauge ? QV_DIVEMODE_GAUGE : QV_DIVEMODE_OC);
        qv_decomodel_t model{};
        ASSERT_EQ(qv_parser_get_field(parser, QV_FIELD_DECOMODEL, 0, &model), QV_STATUS_SUCCESS);
        EXPECT_EQ(model.type, QV_DECOMODEL_RGBM);
        EXPECT_EQ(model.conservatism, dive.conservatism / 3);

        EXPECT_EQ(samples(), e.samples);
    }
    EXPECT_TRUE(logged.empty());
}

// ---------------------------------------------------------------------------
// The encoder

TEST(VyperEncoderTest, LargeDepthChangesAreSplitOutsideTheEventCodes)
{
    const struct {
        int feet;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {0, {0x00}},           {120, {0x78}},         {-120, {0x88}},       {121, {0x78, 0x01}},
        {-121, {0x88, 0xFF}},  {250, {0x78, 0x78, 0x0A}}, {-240, {0x88, 0x88}}, {-1, {0xFF}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vyper::encode_profile({vyper::depth(c.feet)}), c.bytes) << c.feet << " ft";

    for (int feet = -1000; feet <= 1000; feet++) {
        std::vector<uint8_t> bytes = vyper::encode_profile({vyper::depth(feet)});
        int sum = 0;
        for (uint8_t byte : bytes) {
            ASSERT_FALSE(byte >= 0x79 && byte <= 0x87) << feet << " ft gave " << int(byte);
            sum += static_cast<int8_t>(byte);
        }
        ASSERT_EQ(sum, feet);
        ASSERT_EQ(bytes.size(), feet == 0 ? 1u : static_cast<size_t>((std::abs(feet) + 119) / 120));
    }
}

TEST(VyperEncoderTest, EventsAndGasSwitches)
{
    EXPECT_EQ(vyper::encode_profile({vyper::event(vyper::EVENT_BOOKMARK), vyper::gas(50), vyper::depth(-3)}),
              (std::vector<uint8_t>{0x7C, 0x87, 50, 0xFD}));
    EXPECT_EQ(vyper::hold(3), (std::vector<vyper::Step>(3, vyper::depth(0))));
}

TEST(VyperEncoderTest, HeaderAndTrailerLayout)
{
    vyper::Dive dive;
    dive.year = 1998;
    dive.month = 8;
    dive.day = 14;
    dive.hour = 9;
    dive.minute = 42;
    dive.interval = 30;
    dive.gauge = true;
    dive.conservatism = 6;
    dive.start_pressure = 201;
    dive.end_pressure = 60;
    dive.o2 = 32;
    dive.surface_temperature = -1;
    dive.minimum_temperature = 4;
    dive.profile = {vyper::depth(10), vyper::depth(-10)};
    std::vector<uint8_t> expected = {0, 0, 0, 30, 0x46, 100, 32, 0, 0xFF, 98, 8, 14, 9, 42, // header
                                     0x0A, 0xF6,                                            // profile
                                     0x80, 4, 0, 30, 0};                                    // trailer
    EXPECT_EQ(vyper::encode(dive), expected);

    dive.year = 2005;
    dive.start_pressure = 0;
    std::vector<uint8_t> bytes = vyper::encode(dive);
    EXPECT_EQ(bytes[9], 5);
    EXPECT_EQ(bytes[5], 0);
}

TEST(VyperEncoderTest, TheLogbookIsVaried)
{
    const std::vector<vyper::Dive> dives = vyper::builtin_logbook();
    double shallowest = 1e9, deepest = 0;
    bool gas_switch = false, gauge = false;
    std::vector<int> events;
    for (const vyper::Dive &dive : dives) {
        int feet = 0, maximum = 0;
        for (const vyper::Step &step : dive.profile) {
            if (step.kind == vyper::Step::Kind::depth) {
                feet += step.value;
                maximum = std::max(maximum, feet);
                EXPECT_GE(feet, 0);
            } else if (step.kind == vyper::Step::Kind::gas) {
                gas_switch = gas_switch || (dive.o2 != 0 && dive.o2 != step.value && step.value > 21);
            } else {
                events.push_back(step.value);
            }
        }
        EXPECT_EQ(feet, 0) << "every dive ends at the surface";
        shallowest = std::min(shallowest, maximum * FOOT);
        deepest = std::max(deepest, maximum * FOOT);
        gauge = gauge || dive.gauge;

        // The ring markers 0x80 and 0x82 appear only as the end marker.
        std::vector<uint8_t> bytes = vyper::encode(dive);
        size_t marker = bytes.size() - 5;
        EXPECT_EQ(bytes[marker], 0x80);
        for (size_t i = 0; i < bytes.size(); i++) {
            if (i != marker) {
                EXPECT_NE(bytes[i], 0x80) << "offset " << i;
                EXPECT_NE(bytes[i], 0x82) << "offset " << i;
            }
        }
    }
    EXPECT_NEAR(shallowest, 12.0, 0.5);
    EXPECT_NEAR(deepest, 40.0, 0.5);
    EXPECT_TRUE(gas_switch);
    EXPECT_TRUE(gauge);
    for (int code : {vyper::EVENT_ASCENT, vyper::EVENT_SAFETYSTOP, vyper::EVENT_BOOKMARK, vyper::EVENT_DECOSTOP})
        EXPECT_NE(std::find(events.begin(), events.end(), code), events.end()) << "event " << code;
}

} // namespace
