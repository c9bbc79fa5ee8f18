#include <libquivelmarine/context.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/iterator.h>
#include <libquivelmarine/parser.h>

#include "device-private.h"
#include "parser-private.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

struct Logged {
    qv_loglevel_t level;
    std::string message;
};

void capture(qv_context_t *, qv_loglevel_t level, const char *, unsigned int, const char *, const char *message,
             void *userdata)
{
    static_cast<std::vector<Logged> *>(userdata)->push_back({level, message});
}

// What the fake parser saw; outlives the parser.
struct Observer {
    int destroys = 0;
    bool data_intact_at_destroy = false;
    qv_status_t destroy_status = QV_STATUS_SUCCESS;
    qv_status_t clock_status = QV_STATUS_SUCCESS;
    int clock_calls = 0;
    unsigned int devtime = 0;
    qv_ticks_t systime = 0;
    double atmospheric = 0.0;
    double density = 0.0;
    bool sample_callback_present = false;
};
Observer observer;

// A tiny dive format: byte 0 the number of gas mixes, then one oxygen
// percentage per mix, then samples of 3 bytes: seconds since the start
// (one byte, scaled by 10) and the depth in centimetres (16-bit little
// endian). A dive of fewer than 1 byte, or with a truncated sample, is
// malformed.
struct FakeParser : qv_parser_t {
    unsigned int model = 0;
};

qv_status_t fake_set_clock(qv_parser_t *, unsigned int devtime, qv_ticks_t systime)
{
    observer.clock_calls++;
    observer.devtime = devtime;
    observer.systime = systime;
    return observer.clock_status;
}

qv_status_t fake_set_atmospheric(qv_parser_t *, double atmospheric)
{
    observer.atmospheric = atmospheric;
    return QV_STATUS_SUCCESS;
}

qv_status_t fake_set_density(qv_parser_t *, double density)
{
    observer.density = density;
    return QV_STATUS_SUCCESS;
}

qv_status_t fake_get_datetime(qv_parser_t *, qv_datetime_t *datetime)
{
    *datetime = {2023, 8, 14, 10, 30, 0, QV_TIMEZONE_NONE};
    return QV_STATUS_SUCCESS;
}

qv_status_t fake_samples_foreach(qv_parser_t *parser, qv_sample_callback_t callback, void *userdata)
{
    observer.sample_callback_present = callback != nullptr;
    if (parser->size < 1 || parser->size < 1u + parser->data[0])
        return QV_STATUS_DATAFORMAT;
    size_t offset = 1u + parser->data[0];
    if ((parser->size - offset) % 3 != 0)
        return QV_STATUS_DATAFORMAT;
    for (; offset < parser->size; offset += 3) {
        qv_sample_value_t value;
        value.time = parser->data[offset] * 10000u;
        callback(QV_SAMPLE_TIME, &value, userdata);
        value.depth = (parser->data[offset + 1] | parser->data[offset + 2] << 8) / 100.0;
        callback(QV_SAMPLE_DEPTH, &value, userdata);
        value.temperature = 20.0;
        callback(QV_SAMPLE_TEMPERATURE, &value, userdata);
    }
    return QV_STATUS_SUCCESS;
}

qv_status_t fake_get_field(qv_parser_t *parser, qv_field_type_t type, unsigned int index, void *value)
{
    if (parser->size < 1 || parser->size < 1u + parser->data[0])
        return QV_STATUS_DATAFORMAT;
    unsigned int ngasmixes = parser->data[0];

    switch (type) {
    case QV_FIELD_DIVETIME:
    case QV_FIELD_MAXDEPTH: {
        // Derived from the samples, as backends without summary bytes do.
        qv_sample_statistics_t statistics;
        qv_status_t status = fake_samples_foreach(parser, qv_sample_statistics_cb, &statistics);
        if (status != QV_STATUS_SUCCESS)
            return status;
        if (type == QV_FIELD_DIVETIME)
            *static_cast<unsigned int *>(value) = statistics.divetime;
        else
            *static_cast<double *>(value) = statistics.maxdepth;
        return QV_STATUS_SUCCESS;
    }
    case QV_FIELD_GASMIX_COUNT:
        *static_cast<unsigned int *>(value) = ngasmixes;
        return QV_STATUS_SUCCESS;
    case QV_FIELD_GASMIX: {
        if (index >= ngasmixes)
            return QV_STATUS_INVALIDARGS;
        auto *gasmix = static_cast<qv_gasmix_t *>(value);
        gasmix->helium = 0.0;
        gasmix->oxygen = parser->data[1 + index] / 100.0;
        gasmix->nitrogen = 1.0 - gasmix->oxygen;
        gasmix->usage = QV_USAGE_NONE;
        return QV_STATUS_SUCCESS;
    }
    case QV_FIELD_DIVEMODE:
        *static_cast<qv_divemode_t *>(value) = QV_DIVEMODE_OC;
        return QV_STATUS_SUCCESS;
    default:
        return QV_STATUS_UNSUPPORTED;
    }
}

qv_status_t fake_destroy(qv_parser_t *parser)
{
    observer.destroys++;
    observer.data_intact_at_destroy = parser->size >= 1 && parser->data != nullptr && parser->data[0] <= parser->size;
    return observer.destroy_status;
}

const qv_parser_vtable_t fake_vtable = {
    sizeof(FakeParser), QV_FAMILY_SUUNTO_VYPER, fake_set_clock,       fake_set_atmospheric, fake_set_density,
    fake_get_datetime,  fake_get_field,         fake_samples_foreach, fake_destroy,
};

const qv_parser_vtable_t bare_vtable = {
    sizeof(FakeParser), QV_FAMILY_CRESSI_GOA, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Two mixes (air, EAN32), samples at 0 s, 10 s and 20 s (3.0, 12.5, 7.0 m).
const std::vector<unsigned char> dive = {2, 21, 32, 0, 0x2C, 0x01, 1, 0xE2, 0x04, 2, 0xBC, 0x02};

class ParserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        observer = Observer();
        ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
        qv_context_set_logfunc(context, capture, &logged);
    }
    void TearDown() override { qv_context_free(context); }

    std::vector<Logged> logged;
    qv_context_t *context = nullptr;
};

TEST_F(ParserTest, AllocationKeepsItsOwnCopy)
{
    std::vector<unsigned char> bytes = dive;
    FakeParser *parser = qv_parser_allocate<FakeParser>(context, &fake_vtable, bytes.data(), bytes.size());
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(parser->vtable, &fake_vtable);
    EXPECT_EQ(parser->context, context);
    ASSERT_EQ(parser->size, bytes.size());
    EXPECT_NE(parser->data, bytes.data());
    bytes.assign(bytes.size(), 0xFF);
    EXPECT_EQ(std::vector<unsigned char>(parser->data, parser->data + parser->size), dive);

    EXPECT_TRUE(qv_parser_isinstance(parser, &fake_vtable));
    EXPECT_FALSE(qv_parser_isinstance(parser, &bare_vtable));
    EXPECT_FALSE(qv_parser_isinstance(nullptr, &fake_vtable));
    EXPECT_EQ(qv_parser_get_type(parser), QV_FAMILY_SUUNTO_VYPER);
    EXPECT_EQ(qv_parser_get_type(nullptr), QV_FAMILY_NULL);

    // Deallocation does not call destroy.
    qv_parser_deallocate(parser);
    EXPECT_EQ(observer.destroys, 0);

    FakeParser *empty = qv_parser_allocate<FakeParser>(context, &fake_vtable, nullptr, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->data, nullptr);
    EXPECT_EQ(empty->size, 0u);
    qv_parser_deallocate(empty);
}

TEST_F(ParserTest, MissingParserOrSlotIsUnsupported)
{
    FakeParser *bare = qv_parser_allocate<FakeParser>(context, &bare_vtable, dive.data(), dive.size());
    ASSERT_NE(bare, nullptr);
    qv_datetime_t datetime;
    unsigned int value = 0;
    for (qv_parser_t *p : {static_cast<qv_parser_t *>(nullptr), static_cast<qv_parser_t *>(bare)}) {
        SCOPED_TRACE(p == nullptr ? "no parser" : "no slots");
        EXPECT_EQ(qv_parser_set_clock(p, 1, 2), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(qv_parser_set_atmospheric(p, 101325.0), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(qv_parser_set_density(p, 1025.0), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(qv_parser_get_datetime(p, &datetime), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(qv_parser_get_datetime(p, nullptr), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(qv_parser_get_field(p, QV_FIELD_DIVETIME, 0, &value), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(qv_parser_samples_foreach(p, nullptr, nullptr), QV_STATUS_UNSUPPORTED);
    }
    EXPECT_EQ(qv_parser_destroy(nullptr), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_parser_destroy(bare), QV_STATUS_SUCCESS);
}

TEST_F(ParserTest, OperationsReachTheBackend)
{
    FakeParser *parser = qv_parser_allocate<FakeParser>(context, &fake_vtable, dive.data(), dive.size());
    ASSERT_NE(parser, nullptr);

    EXPECT_EQ(qv_parser_set_clock(parser, 0x1234, 1700000000), QV_STATUS_SUCCESS);
    EXPECT_EQ(observer.devtime, 0x1234u);
    EXPECT_EQ(observer.systime, 1700000000);
    EXPECT_EQ(qv_parser_set_atmospheric(parser, 95000.0), QV_STATUS_SUCCESS);
    EXPECT_EQ(observer.atmospheric, 95000.0);
    EXPECT_EQ(qv_parser_set_density(parser, 1000.0), QV_STATUS_SUCCESS);
    EXPECT_EQ(observer.density, 1000.0);

    qv_datetime_t datetime = {};
    EXPECT_EQ(qv_parser_get_datetime(parser, &datetime), QV_STATUS_SUCCESS);
    EXPECT_EQ(datetime.year, 2023);
    EXPECT_EQ(datetime.timezone, QV_TIMEZONE_NONE);
    EXPECT_EQ(qv_parser_get_datetime(parser, nullptr), QV_STATUS_INVALIDARGS);

    observer.destroy_status = QV_STATUS_IO;
    EXPECT_EQ(qv_parser_destroy(parser), QV_STATUS_IO);
    EXPECT_EQ(observer.destroys, 1);
    EXPECT_TRUE(observer.data_intact_at_destroy);
}

TEST_F(ParserTest, FieldsAndSamples)
{
    FakeParser *parser = qv_parser_allocate<FakeParser>(context, &fake_vtable, dive.data(), dive.size());
    ASSERT_NE(parser, nullptr);

    unsigned int divetime = 0, count = 0;
    double maxdepth = 0.0;
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_DIVETIME, 0, &divetime), QV_STATUS_SUCCESS);
    EXPECT_EQ(divetime, 20u);
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_MAXDEPTH, 0, &maxdepth), QV_STATUS_SUCCESS);
    EXPECT_DOUBLE_EQ(maxdepth, 12.5);
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_GASMIX_COUNT, 0, &count), QV_STATUS_SUCCESS);
    EXPECT_EQ(count, 2u);

    qv_gasmix_t gasmix = {};
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_GASMIX, 1, &gasmix), QV_STATUS_SUCCESS);
    EXPECT_DOUBLE_EQ(gasmix.oxygen, 0.32);
    EXPECT_DOUBLE_EQ(gasmix.nitrogen, 0.68);
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_GASMIX, 2, &gasmix), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_GASMIX, 0, nullptr), QV_STATUS_INVALIDARGS);

    // A field the format does not carry is absent, not an error of the record.
    qv_salinity_t salinity;
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_SALINITY, 0, &salinity), QV_STATUS_UNSUPPORTED);
    qv_location_t location;
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_LOCATION, 0, &location), QV_STATUS_UNSUPPORTED);

    struct Sample {
        qv_sample_type_t type;
        double value;
    };
    std::vector<Sample> samples;
    auto collect = [](qv_sample_type_t type, const qv_sample_value_t *value, void *userdata) {
        double v = type == QV_SAMPLE_TIME ? value->time : type == QV_SAMPLE_DEPTH ? value->depth : value->temperature;
        static_cast<std::vector<Sample> *>(userdata)->push_back({type, v});
    };
    ASSERT_EQ(qv_parser_samples_foreach(parser, collect, &samples), QV_STATUS_SUCCESS);
    ASSERT_EQ(samples.size(), 9u);
    // Each group begins with its time, and times do not decrease.
    double last = -1;
    for (size_t i = 0; i < samples.size(); i += 3) {
        EXPECT_EQ(samples[i].type, QV_SAMPLE_TIME);
        EXPECT_GE(samples[i].value, last);
        last = samples[i].value;
    }
    EXPECT_EQ(samples[3].value, 10000.0);
    EXPECT_DOUBLE_EQ(samples[4].value, 12.5);

    // The samples may be iterated again, and without a callback.
    samples.clear();
    ASSERT_EQ(qv_parser_samples_foreach(parser, collect, &samples), QV_STATUS_SUCCESS);
    EXPECT_EQ(samples.size(), 9u);
    EXPECT_EQ(qv_parser_samples_foreach(parser, nullptr, nullptr), QV_STATUS_SUCCESS);
    EXPECT_TRUE(observer.sample_callback_present);

    qv_parser_destroy(parser);
}

TEST_F(ParserTest, MalformedRecordIsADataFormatError)
{
    const unsigned char truncated[] = {3, 21, 32};
    FakeParser *parser = qv_parser_allocate<FakeParser>(context, &fake_vtable, truncated, sizeof(truncated));
    ASSERT_NE(parser, nullptr);
    unsigned int divetime = 0;
    EXPECT_EQ(qv_parser_get_field(parser, QV_FIELD_DIVETIME, 0, &divetime), QV_STATUS_DATAFORMAT);
    EXPECT_EQ(qv_parser_samples_foreach(parser, nullptr, nullptr), QV_STATUS_DATAFORMAT);
    qv_parser_destroy(parser);
}

TEST(SampleStatistics, KeepsTheLastTimeInSecondsAndTheDeepestDepth)
{
    qv_sample_statistics_t statistics;
    EXPECT_EQ(statistics.divetime, 0u);
    EXPECT_EQ(statistics.maxdepth, 0.0);

    const unsigned int times[] = {0, 10000, 20500};
    const double depths[] = {3.0, 12.5, 7.0};
    for (int i = 0; i < 3; i++) {
        qv_sample_value_t value;
        value.time = times[i];
        qv_sample_statistics_cb(QV_SAMPLE_TIME, &value, &statistics);
        value.depth = depths[i];
        qv_sample_statistics_cb(QV_SAMPLE_DEPTH, &value, &statistics);
        value.temperature = 99.0; // ignored
        qv_sample_statistics_cb(QV_SAMPLE_TEMPERATURE, &value, &statistics);
        value.ppo2 = {QV_SENSOR_NONE, 50.0};
        qv_sample_statistics_cb(QV_SAMPLE_PPO2, &value, &statistics);
    }
    EXPECT_EQ(statistics.divetime, 20u);
    EXPECT_DOUBLE_EQ(statistics.maxdepth, 12.5);
}

TEST(DiveModel, ValuesOfTheConstants)
{
    static_assert(QV_FIELD_DIVETIME == 0 && QV_FIELD_TANK == 11 && QV_FIELD_LOCATION == 14);
    static_assert(QV_SAMPLE_TIME == 0 && QV_SAMPLE_VENDOR == 8 && QV_SAMPLE_LOCATION == 14);
    static_assert(QV_SAMPLE_EVENT_NONE == 0 && QV_SAMPLE_EVENT_GASCHANGE == 11 &&
                  QV_SAMPLE_EVENT_TISSUELEVEL == 24 && QV_SAMPLE_EVENT_GASCHANGE2 == 25);
    static_assert(QV_SAMPLE_EVENT_FLAG_BEGIN == 1 && QV_SAMPLE_EVENT_FLAG_END == 2);
    static_assert(QV_GASMIX_UNKNOWN == 0xFFFFFFFFu && QV_SENSOR_NONE == 0xFFFFFFFFu);
    static_assert(QV_DIVEMODE_FREEDIVE == 0 && QV_DIVEMODE_SCR == 4);
    static_assert(QV_DECOMODEL_BUHLMANN == 1 && QV_DECOMODEL_DCIEM == 4);
    static_assert(QV_TANKVOLUME_IMPERIAL == 2 && QV_WATER_SALT == 1 && QV_USAGE_SIDEMOUNT == 3);
    static_assert(QV_DECO_NDL == 0 && QV_DECO_DEEPSTOP == 3 && QV_VENDOR_OCEANIC_ATOM2 == 5);

    // The Buhlmann gradient factors follow the conservatism, high before low.
    qv_decomodel_t decomodel = {QV_DECOMODEL_BUHLMANN, -1, {{85, 30}}};
    EXPECT_EQ(decomodel.params.gf.high, 85u);
    EXPECT_EQ(decomodel.params.gf.low, 30u);
    qv_tank_t tank = {QV_GASMIX_UNKNOWN, QV_TANKVOLUME_METRIC, 12.0, 232.0, 200.0, 50.0, QV_USAGE_NONE};
    EXPECT_EQ(tank.gasmix, QV_GASMIX_UNKNOWN);
}

// ---------------------------------------------------------------------------
// Family dispatch

TEST(ParserDispatch, TableCoversEveryFamilyAndPicksByModel)
{
    std::set<qv_family_t> families;
    for (const qv_parser_backend_t &row : qv_parser_backends())
        families.insert(row.family);
    const std::set<qv_family_t> expected = {
        0x10000, 0x10001, 0x10002, 0x10003, 0x10004, 0x10005, 0x20000, 0x20001, 0x20002,  0x30000,  0x30001,
        0x30002, 0x40000, 0x40001, 0x40002, 0x40003, 0x50000, 0x50001, 0x50002, 0x50003,  0x60000,  0x60001,
        0x60002, 0x70000, 0x70001, 0x70002, 0x80000, 0x90000, 0xA0000, 0xA0001, 0xB0000,  0xC0000,  0xD0000,
        0xE0000, 0xF0000, 0x100000, 0x110000, 0x120000, 0x130000, 0x140000, 0x150000, 0x160000, 0x170000, 0x180000,
    };
    EXPECT_EQ(families, expected);
    for (qv_family_t family : expected) {
        // Every model of a known family finds a row.
        EXPECT_NE(qv_parser_backend_find(family, 0), nullptr) << family;
        EXPECT_NE(qv_parser_backend_find(family, 0x12345), nullptr) << family;
    }
    for (qv_family_t unknown : {0u, 0x10006u, 0x190000u})
        EXPECT_EQ(qv_parser_backend_find(unknown, 0), nullptr) << unknown;

    struct Case {
        qv_family_t family;
        unsigned int model;
        const char *name;
        qv_parser_extra_t extra;
        unsigned int constant;
    };
    const Case cases[] = {
        {0x10001, 0, "Suunto Eon", qv_parser_extra_t::constant, 0},
        {0x10002, 1, "Suunto Eon", qv_parser_extra_t::constant, 1},
        {0x10002, 10, "Suunto Vyper", qv_parser_extra_t::none, 0},
        {0x10003, 0x10, "Suunto D9", qv_parser_extra_t::model, 0},
        {0x30000, 0x3F, "Uwatec Memomouse", qv_parser_extra_t::none, 0},
        {0x40002, 0x4354, "Oceanic Veo 250", qv_parser_extra_t::model, 0},
        {0x40002, 0x4342, "Oceanic Atom 2", qv_parser_extra_t::model, 0},
        {0x40003, 0x4354, "Oceanic Veo 250", qv_parser_extra_t::model, 0},
        {0x40003, 0x4744, "Oceanic Atom 2", qv_parser_extra_t::model, 0},
        {0x50001, 7, "Mares Nemo", qv_parser_extra_t::model, 0},
        {0x60000, 0, "Heinrichs Weikamp OSTC", qv_parser_extra_t::none, 0},
        {0x60001, 0, "Heinrichs Weikamp OSTC 3", qv_parser_extra_t::model, 0},
        {0x80000, 0, "Cressi Edy", qv_parser_extra_t::model, 0},
        {0xA0000, 2, "Shearwater Predator", qv_parser_extra_t::model, 0},
        {0x180000, 1, "Halcyon Symbios", qv_parser_extra_t::none, 0},
    };
    for (const Case &c : cases) {
        const qv_parser_backend_t *row = qv_parser_backend_find(c.family, c.model);
        ASSERT_NE(row, nullptr);
        EXPECT_STREQ(row->name, c.name) << std::hex << c.family << " " << c.model;
        EXPECT_EQ(row->extra, c.extra) << c.name;
        EXPECT_EQ(row->constant, c.constant) << c.name;
    }

    // Families that share a parser share its create operation.
    const std::pair<qv_family_t, qv_family_t> shared[] = {
        {0x30000, 0x30001}, {0x50000, 0x50001}, {0x70000, 0x80000}, {0x60001, 0x60002}, {0x10003, 0x10004}};
    for (auto [a, b] : shared) {
        EXPECT_EQ(qv_parser_backend_find(a, 0)->create, qv_parser_backend_find(b, 0)->create);
        EXPECT_EQ(qv_parser_backend_find(a, 0)->create_extra, qv_parser_backend_find(b, 0)->create_extra);
    }
    EXPECT_EQ(qv_parser_backend_find(0x10002, 1)->create_extra, qv_parser_backend_find(0x10001, 0)->create_extra);
    EXPECT_EQ(qv_parser_backend_find(0x40002, 0x4354)->create_extra,
              qv_parser_backend_find(0x40001, 0)->create_extra);
}

TEST_F(ParserTest, UnknownFamilyIsInvalid)
{
    qv_parser_t *out = reinterpret_cast<qv_parser_t *>(&logged);
    EXPECT_EQ(qv_parser_create_family(&out, context, 0x00990000, 0, dive.data(), dive.size()), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, QV_LOGLEVEL_ERROR);
    EXPECT_EQ(logged[0].message, "Unknown device family 0x00990000.");
}

TEST_F(ParserTest, ParserNotLandedIsUnsupported)
{
    for (const qv_parser_backend_t &row : qv_parser_backends()) {
        if (row.create != nullptr || row.create_extra != nullptr)
            continue;
        SCOPED_TRACE(row.name);
        logged.clear();
        qv_parser_t *out = reinterpret_cast<qv_parser_t *>(&logged);
        EXPECT_EQ(qv_parser_backend_create(&row, &out, context, 0, dive.data(), dive.size()), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(out, nullptr);
        ASSERT_EQ(logged.size(), 1u);
        char expected[128];
        std::snprintf(expected, sizeof(expected), "The %s parser (family 0x%08X) is not supported yet.", row.name,
                      row.family);
        EXPECT_EQ(logged[0].message, expected);
    }
}

// Stand-in for a backend's create operation, used through rows made by the test.
struct CreateCall {
    int calls = 0;
    unsigned int extra = 0;
    qv_context_t *context = nullptr;
    std::vector<unsigned char> data;
    qv_status_t status = QV_STATUS_SUCCESS;
    const qv_parser_vtable_t *vtable = &fake_vtable;
};
CreateCall create_call;

qv_status_t record_create(qv_parser_t **out, qv_context_t *context, const unsigned char *data, size_t size,
                          unsigned int extra)
{
    create_call.calls++;
    create_call.extra = extra;
    create_call.context = context;
    create_call.data.assign(data, data + size);
    if (create_call.status != QV_STATUS_SUCCESS)
        return create_call.status;
    FakeParser *parser = qv_parser_allocate<FakeParser>(context, create_call.vtable, data, size);
    if (parser == nullptr)
        return QV_STATUS_NOMEMORY;
    parser->model = extra;
    *out = parser;
    return QV_STATUS_SUCCESS;
}

qv_status_t record_create_plain(qv_parser_t **out, qv_context_t *context, const unsigned char *data, size_t size)
{
    return record_create(out, context, data, size, 0xBEEF);
}

const qv_device_vtable_t device_vtable = {
    sizeof(qv_device_t), QV_FAMILY_SUUNTO_VYPER, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

TEST_F(ParserTest, RowsPassTheirArgument)
{
    struct Case {
        qv_parser_backend_t row;
        unsigned int expected;
    };
    const Case cases[] = {
        {{0x10002, QV_PARSER_ANY_MODEL, "plain", qv_parser_extra_t::none, record_create_plain, nullptr, 0}, 0xBEEF},
        {{0x10002, QV_PARSER_ANY_MODEL, "model", qv_parser_extra_t::model, nullptr, record_create, 0}, 10},
        {{0x10002, 1, "constant", qv_parser_extra_t::constant, nullptr, record_create, 1}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.row.name);
        create_call = CreateCall();
        qv_parser_t *parser = nullptr;
        ASSERT_EQ(qv_parser_backend_create(&c.row, &parser, context, 10, dive.data(), dive.size()), QV_STATUS_SUCCESS);
        ASSERT_NE(parser, nullptr);
        EXPECT_EQ(static_cast<FakeParser *>(parser)->model, c.expected);
        EXPECT_EQ(create_call.context, context);
        EXPECT_EQ(create_call.data, dive);
        qv_parser_destroy(parser);
    }

    create_call = CreateCall();
    create_call.status = QV_STATUS_DATAFORMAT;
    qv_parser_t *out = reinterpret_cast<qv_parser_t *>(&logged);
    EXPECT_EQ(qv_parser_backend_create(&cases[1].row, &out, context, 10, dive.data(), dive.size()),
              QV_STATUS_DATAFORMAT);
    EXPECT_EQ(out, nullptr);
}

TEST_F(ParserTest, ParserFromDeviceUsesItsDevinfoModelAndClock)
{
    qv_device_t *device = qv_device_allocate<qv_device_t>(context, &device_vtable);
    ASSERT_NE(device, nullptr);
    const qv_parser_backend_t row = {0x10002, QV_PARSER_ANY_MODEL, "model", qv_parser_extra_t::model, nullptr,
                                     record_create, 0};

    // Nothing reported yet: model 0 and a zero clock.
    create_call = CreateCall();
    qv_parser_t *parser = nullptr;
    ASSERT_EQ(qv_parser_backend_new(&row, &parser, device, dive.data(), dive.size()), QV_STATUS_SUCCESS);
    EXPECT_EQ(static_cast<FakeParser *>(parser)->model, 0u);
    EXPECT_EQ(observer.clock_calls, 1);
    EXPECT_EQ(observer.devtime, 0u);
    EXPECT_EQ(observer.systime, 0);
    qv_parser_destroy(parser);

    // Reported while masked out: still used.
    qv_device_set_events(device, 0, nullptr, nullptr);
    const qv_event_devinfo_t devinfo = {0x0C, 3, 777};
    const qv_event_clock_t clock = {86400, 1600000000};
    qv_device_event(device, QV_EVENT_DEVINFO, &devinfo);
    qv_device_event(device, QV_EVENT_CLOCK, &clock);

    create_call = CreateCall();
    observer = Observer();
    ASSERT_EQ(qv_parser_backend_new(&row, &parser, device, dive.data(), dive.size()), QV_STATUS_SUCCESS);
    EXPECT_EQ(static_cast<FakeParser *>(parser)->model, 0x0Cu);
    EXPECT_EQ(create_call.context, context);
    EXPECT_EQ(observer.devtime, 86400u);
    EXPECT_EQ(observer.systime, 1600000000);
    qv_parser_destroy(parser);

    // A parser that does not use the clock may say so.
    observer = Observer();
    observer.clock_status = QV_STATUS_UNSUPPORTED;
    ASSERT_EQ(qv_parser_backend_new(&row, &parser, device, dive.data(), dive.size()), QV_STATUS_SUCCESS);
    qv_parser_destroy(parser);

    // Any other failure releases the parser and is returned.
    observer = Observer();
    observer.clock_status = QV_STATUS_DATAFORMAT;
    parser = reinterpret_cast<qv_parser_t *>(&logged);
    EXPECT_EQ(qv_parser_backend_new(&row, &parser, device, dive.data(), dive.size()), QV_STATUS_DATAFORMAT);
    EXPECT_EQ(parser, nullptr);
    EXPECT_EQ(observer.destroys, 1);

    // A parser without a clock slot is not asked.
    observer = Observer();
    create_call = CreateCall();
    create_call.vtable = &bare_vtable;
    ASSERT_EQ(qv_parser_backend_new(&row, &parser, device, dive.data(), dive.size()), QV_STATUS_SUCCESS);
    EXPECT_EQ(observer.clock_calls, 0);
    qv_parser_destroy(parser);

    qv_device_close(device);
}

TEST_F(ParserTest, CreationChecksItsArguments)
{
    qv_device_t *device = qv_device_allocate<qv_device_t>(context, &device_vtable);
    ASSERT_NE(device, nullptr);
    qv_iterator_t *iterator = nullptr;
    ASSERT_EQ(qv_descriptor_iterator_new(&iterator), QV_STATUS_SUCCESS);
    qv_descriptor_t *descriptor = nullptr;
    ASSERT_EQ(qv_iterator_next(iterator, &descriptor), QV_STATUS_SUCCESS);

    qv_parser_t *out = reinterpret_cast<qv_parser_t *>(&logged);
    EXPECT_EQ(qv_parser_new(nullptr, device, dive.data(), dive.size()), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_parser_new(&out, nullptr, dive.data(), dive.size()), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<qv_parser_t *>(&logged);
    EXPECT_EQ(qv_parser_new(&out, device, nullptr, 4), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(qv_parser_new2(nullptr, context, descriptor, dive.data(), dive.size()), QV_STATUS_INVALIDARGS);
    out = reinterpret_cast<qv_parser_t *>(&logged);
    EXPECT_EQ(qv_parser_new2(&out, context, nullptr, dive.data(), dive.size()), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(qv_parser_new2(&out, context, descriptor, nullptr, 4), QV_STATUS_INVALIDARGS);

    // Through a real row of the model table whose parser has not landed.
    const qv_descriptor_t *pending = nullptr;
    do {
        const qv_parser_backend_t *row =
            qv_parser_backend_find(qv_descriptor_get_type(descriptor), qv_descriptor_get_model(descriptor));
        ASSERT_NE(row, nullptr);
        if (pending == nullptr && row->create == nullptr && row->create_extra == nullptr)
            pending = descriptor;
    } while (qv_iterator_next(iterator, &descriptor) == QV_STATUS_SUCCESS);
    qv_iterator_free(iterator);
    qv_device_close(device);
    if (pending == nullptr)
        GTEST_SKIP() << "every family has its parser";

    logged.clear();
    out = reinterpret_cast<qv_parser_t *>(&logged);
    EXPECT_EQ(qv_parser_new2(&out, context, pending, dive.data(), dive.size()), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].message.find("is not supported yet."), std::string::npos);
}

} // namespace
