// Unit tests of the qvtool output writers: the writer base, the XML writer
// driven by a scripted parser (whole outputs compared with the expected
// text, metric and imperial), and the raw writer's file-name templates.
#include "common.h"
#include "output.h"
#include "process.h"

#include "parser-private.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <dirent.h>

namespace {

// ---------------------------------------------------------------------------
// A parser whose answers the test chooses.

using FieldFn = std::function<qv_status_t(unsigned int index, void *value)>;

struct Sample {
    qv_sample_type_t type;
    qv_sample_value_t value;
};

struct Script {
    qv_status_t datetime_status = QV_STATUS_UNSUPPORTED;
    qv_datetime_t datetime = {};
    std::map<qv_field_type_t, FieldFn> fields; // absent: unsupported
    // Without samples the iteration is unsupported.
    std::optional<std::vector<Sample>> samples;
    qv_status_t samples_status = QV_STATUS_SUCCESS; // returned after the samples
};

struct FakeParser : qv_parser_t {
    const Script *script = nullptr;
};

qv_status_t fake_get_datetime(qv_parser_t *parser, qv_datetime_t *datetime)
{
    const Script &script = *static_cast<FakeParser *>(parser)->script;
    if (script.datetime_status == QV_STATUS_SUCCESS)
        *datetime = script.datetime;
    return script.datetime_status;
}

qv_status_t fake_get_field(qv_parser_t *parser, qv_field_type_t type, unsigned int index, void *value)
{
    const Script &script = *static_cast<FakeParser *>(parser)->script;
    auto it = script.fields.find(type);
    if (it == script.fields.end())
        return QV_STATUS_UNSUPPORTED;
    return it->second(index, value);
}

qv_status_t fake_samples_foreach(qv_parser_t *parser, qv_sample_callback_t callback, void *userdata)
{
    const Script &script = *static_cast<FakeParser *>(parser)->script;
    if (!script.samples)
        return QV_STATUS_UNSUPPORTED;
    for (const auto &sample : *script.samples)
        callback(sample.type, &sample.value, userdata);
    return script.samples_status;
}

const qv_parser_vtable_t fake_vtable = {
    sizeof(FakeParser),
    QV_FAMILY_NULL,
    nullptr,
    nullptr,
    nullptr,
    fake_get_datetime,
    fake_get_field,
    fake_samples_foreach,
    nullptr,
};

template <typename T>
FieldFn value(T v)
{
    return [v](unsigned int, void *out) {
        *static_cast<T *>(out) = v;
        return QV_STATUS_SUCCESS;
    };
}

template <typename T>
FieldFn indexed(std::vector<T> values)
{
    return [values](unsigned int index, void *out) {
        if (index >= values.size())
            return QV_STATUS_INVALIDARGS;
        *static_cast<T *>(out) = values[index];
        return QV_STATUS_SUCCESS;
    };
}

FieldFn fail(qv_status_t status)
{
    return [status](unsigned int, void *) { return status; };
}

Sample time(uint32_t ms)
{
    Sample s{QV_SAMPLE_TIME, {}};
    s.value.time = ms;
    return s;
}

Sample depth(double metres)
{
    Sample s{QV_SAMPLE_DEPTH, {}};
    s.value.depth = metres;
    return s;
}

Sample temperature(double celsius)
{
    Sample s{QV_SAMPLE_TEMPERATURE, {}};
    s.value.temperature = celsius;
    return s;
}

Sample event(qv_sample_event_t type, uint32_t time = 0, uint32_t flags = 0, uint32_t val = 0)
{
    Sample s{QV_SAMPLE_EVENT, {}};
    s.value.event.type = type;
    s.value.event.time = time;
    s.value.event.flags = flags;
    s.value.event.value = val;
    return s;
}

Sample gasmix_sample(uint32_t index)
{
    Sample s{QV_SAMPLE_GASMIX, {}};
    s.value.gasmix = index;
    return s;
}

const unsigned char vendor_bytes[] = {0x01, 0xAB, 0x00};

// Every sample kind once, after a first time sample.
std::vector<Sample> every_sample()
{
    std::vector<Sample> samples = {time(20000), depth(30.48)};
    Sample s{QV_SAMPLE_PRESSURE, {}};
    s.value.pressure.tank = 1;
    s.value.pressure.value = 200.0;
    samples.push_back(s);
    samples.push_back(temperature(20.0));
    samples.push_back(event(QV_SAMPLE_EVENT_ASCENT, 3, QV_SAMPLE_EVENT_FLAG_BEGIN, 7));
    s = {QV_SAMPLE_RBT, {}};
    s.value.rbt = 42;
    samples.push_back(s);
    s = {QV_SAMPLE_HEARTBEAT, {}};
    s.value.heartbeat = 88;
    samples.push_back(s);
    s = {QV_SAMPLE_BEARING, {}};
    s.value.bearing = 270;
    samples.push_back(s);
    s = {QV_SAMPLE_VENDOR, {}};
    s.value.vendor.type = QV_VENDOR_OCEANIC_ATOM2;
    s.value.vendor.size = sizeof(vendor_bytes);
    s.value.vendor.data = vendor_bytes;
    samples.push_back(s);
    s = {QV_SAMPLE_SETPOINT, {}};
    s.value.setpoint = 1.3;
    samples.push_back(s);
    s = {QV_SAMPLE_PPO2, {}};
    s.value.ppo2.sensor = QV_SENSOR_NONE;
    s.value.ppo2.value = 1.21;
    samples.push_back(s);
    s.value.ppo2.sensor = 2;
    s.value.ppo2.value = 1.19;
    samples.push_back(s);
    s = {QV_SAMPLE_CNS, {}};
    s.value.cns = 0.125;
    samples.push_back(s);
    s = {QV_SAMPLE_DECO, {}};
    s.value.deco.type = QV_DECO_DECOSTOP;
    s.value.deco.time = 120;
    s.value.deco.depth = 3.048;
    s.value.deco.tts = 600;
    samples.push_back(s);
    s.value.deco.type = QV_DECO_NDL;
    s.value.deco.time = 99;
    s.value.deco.depth = 0.0;
    s.value.deco.tts = 0;
    samples.push_back(s);
    samples.push_back(gasmix_sample(1));
    s = {QV_SAMPLE_LOCATION, {}};
    s.value.location = {59.329323, 18.068581, 12.5};
    samples.push_back(s);
    samples.push_back(time(65500));
    samples.push_back(depth(0.0));
    return samples;
}

// A dive with every summary field and every sample kind.
Script full_dive()
{
    Script script;
    script.datetime_status = QV_STATUS_SUCCESS;
    script.datetime = {2024, 3, 14, 10, 5, 9, 3600};
    script.fields[QV_FIELD_DIVETIME] = value<unsigned int>(3725);
    script.fields[QV_FIELD_MAXDEPTH] = value<double>(30.48);
    script.fields[QV_FIELD_AVGDEPTH] = value<double>(12.3);
    script.fields[QV_FIELD_TEMPERATURE_SURFACE] = value<double>(22.5);
    script.fields[QV_FIELD_TEMPERATURE_MINIMUM] = value<double>(20.0);
    script.fields[QV_FIELD_TEMPERATURE_MAXIMUM] = value<double>(-1.5);
    script.fields[QV_FIELD_GASMIX_COUNT] = value<unsigned int>(2);
    script.fields[QV_FIELD_GASMIX] = indexed<qv_gasmix_t>({
        {0.0, 0.32, 0.68, QV_USAGE_NONE},
        {0.35, 0.21, 0.44, QV_USAGE_DILUENT},
    });
    script.fields[QV_FIELD_TANK_COUNT] = value<unsigned int>(2);
    script.fields[QV_FIELD_TANK] = indexed<qv_tank_t>({
        {0, QV_TANKVOLUME_METRIC, 11.1, 232.0, 200.0, 50.0, QV_USAGE_NONE},
        {QV_GASMIX_UNKNOWN, QV_TANKVOLUME_NONE, 0.0, 0.0, 200.0, 50.0, QV_USAGE_OXYGEN},
    });
    script.fields[QV_FIELD_DIVEMODE] = value<qv_divemode_t>(QV_DIVEMODE_CCR);
    qv_decomodel_t decomodel = {};
    decomodel.type = QV_DECOMODEL_BUHLMANN;
    decomodel.conservatism = -1;
    decomodel.params.gf.high = 85;
    decomodel.params.gf.low = 30;
    script.fields[QV_FIELD_DECOMODEL] = value<qv_decomodel_t>(decomodel);
    script.fields[QV_FIELD_SALINITY] = value<qv_salinity_t>({QV_WATER_SALT, 1025.0});
    script.fields[QV_FIELD_ATMOSPHERIC] = value<double>(1.01325);
    script.fields[QV_FIELD_LOCATION] = value<qv_location_t>({-33.856784, 151.215297, 304.8});
    script.samples = every_sample();
    return script;
}

// ---------------------------------------------------------------------------

struct Written {
    std::vector<qv_status_t> statuses; // one per dive
    std::string xml;                   // the whole file
    std::string err;                   // what went to standard error
};

// The report lines carry the source line; the tests compare everything else.
std::string without_line_numbers(const std::string &text)
{
    return std::regex_replace(text, std::regex(R"(\.cpp:[0-9]+ \()"), ".cpp:N (");
}

// Writes the dives through a fresh XML writer and returns the file.
Written write_xml(const std::vector<Script> &dives, qvtool_units_t units,
                  const std::vector<unsigned char> &fingerprint = {})
{
    qvtest::TempDir dir;
    const std::string path = dir.file("dives.xml");
    Written written;

    testing::internal::CaptureStderr();
    qvtool_output_t *output = qvtool_xml_output_new(path.c_str(), units);
    if (output != nullptr) {
        const unsigned char data[] = {0x10, 0x20, 0x30};
        for (const auto &script : dives) {
            FakeParser *parser = qv_parser_allocate<FakeParser>(nullptr, &fake_vtable, data, sizeof(data));
            parser->script = &script;
            written.statuses.push_back(qvtool_output_write(
                output, parser, data, sizeof(data), fingerprint.empty() ? nullptr : fingerprint.data(),
                static_cast<unsigned int>(fingerprint.size())));
            qv_parser_destroy(parser);
        }
        EXPECT_EQ(qvtool_output_free(output), QV_STATUS_SUCCESS);
    }
    written.err = without_line_numbers(testing::internal::GetCapturedStderr());
    EXPECT_NE(output, nullptr);
    written.xml = qvtest::read_file(path).value_or("<no file>");
    return written;
}

const char progress_messages[] = "Parsing the datetime.\n"
                                 "Parsing the divetime.\n"
                                 "Parsing the maxdepth.\n"
                                 "Parsing the avgdepth.\n"
                                 "Parsing the temperature.\n"
                                 "Parsing the gas mixes.\n"
                                 "Parsing the tanks.\n"
                                 "Parsing the dive mode.\n"
                                 "Parsing the deco model.\n"
                                 "Parsing the salinity.\n"
                                 "Parsing the atmospheric pressure.\n"
                                 "Parsing the GPS location.\n"
                                 "Parsing the sample data.\n";

std::string report(const std::string &text)
{
    return "ERROR: " + text + " [in examples/output_xml.cpp:N (qvtool_xml_output_write)]\n";
}

TEST(QvtoolXmlOutput, NothingSupported)
{
    Written w = write_xml({Script{}}, QVTOOL_UNITS_METRIC, {0x0A, 0xFF});
    EXPECT_EQ(w.xml, "<device>\n"
                     "<dive>\n"
                     "<number>1</number>\n"
                     "<size>3</size>\n"
                     "<fingerprint>0AFF</fingerprint>\n"
                     "<datetime>0000-00-00 00:00:00 +00:00</datetime>\n"
                     "<divetime>00:00</divetime>\n"
                     "<maxdepth>0.00</maxdepth>\n"
                     "</dive>\n"
                     "</device>\n");
    // An unsupported sample iteration is a failure of the dive.
    EXPECT_EQ(w.statuses, std::vector<qv_status_t>{QV_STATUS_UNSUPPORTED});
    EXPECT_EQ(w.err, progress_messages + report("Error parsing the sample data."));
}

TEST(QvtoolXmlOutput, EveryFieldAndSampleMetric)
{
    Written w = write_xml({full_dive(), full_dive()}, QVTOOL_UNITS_METRIC);
    const std::string dive_body = "<size>3</size>\n"
                                  "<datetime>2024-03-14 10:05:09 +01:00</datetime>\n"
                                  "<divetime>62:05</divetime>\n"
                                  "<maxdepth>30.48</maxdepth>\n"
                                  "<avgdepth>12.30</avgdepth>\n"
                                  "<temperature type=\"surface\">22.5</temperature>\n"
                                  "<temperature type=\"minimum\">20.0</temperature>\n"
                                  "<temperature type=\"maximum\">-1.5</temperature>\n"
                                  "<gasmix>\n"
                                  "   <he>0.0</he>\n"
                                  "   <o2>32.0</o2>\n"
                                  "   <n2>68.0</n2>\n"
                                  "</gasmix>\n"
                                  "<gasmix>\n"
                                  "   <he>35.0</he>\n"
                                  "   <o2>21.0</o2>\n"
                                  "   <n2>44.0</n2>\n"
                                  "   <usage>diluent</usage>\n"
                                  "</gasmix>\n"
                                  "<tank>\n"
                                  "   <gasmix>0</gasmix>\n"
                                  "   <type>metric</type>\n"
                                  "   <volume>11.1</volume>\n"
                                  "   <workpressure>232.00</workpressure>\n"
                                  "   <beginpressure>200.00</beginpressure>\n"
                                  "   <endpressure>50.00</endpressure>\n"
                                  "</tank>\n"
                                  "<tank>\n"
                                  "   <usage>oxygen</usage>\n"
                                  "   <beginpressure>200.00</beginpressure>\n"
                                  "   <endpressure>50.00</endpressure>\n"
                                  "</tank>\n"
                                  "<divemode>ccr</divemode>\n"
                                  "<decomodel>buhlmann</decomodel>\n"
                                  "<gf>30/85</gf>\n"
                                  "<conservatism>-1</conservatism>\n"
                                  "<salinity density=\"1025.0\">salt</salinity>\n"
                                  "<atmospheric>1.01325</atmospheric>\n"
                                  "<location>\n"
                                  "   <latitude>-33.856784</latitude>\n"
                                  "   <longitude>151.215297</longitude>\n"
                                  "   <altitude>304.80</altitude>\n"
                                  "</location>\n"
                                  "<sample>\n"
                                  "   <time>00:20</time>\n"
                                  "   <depth>30.48</depth>\n"
                                  "   <pressure tank=\"1\">200.00</pressure>\n"
                                  "   <temperature>20.00</temperature>\n"
                                  "   <event type=\"3\" time=\"3\" flags=\"1\" value=\"7\">ascent</event>\n"
                                  "   <rbt>42</rbt>\n"
                                  "   <heartbeat>88</heartbeat>\n"
                                  "   <bearing>270</bearing>\n"
                                  "   <vendor type=\"5\" size=\"3\">01AB00</vendor>\n"
                                  "   <setpoint>1.30</setpoint>\n"
                                  "   <ppo2>1.21</ppo2>\n"
                                  "   <ppo2 sensor=\"2\">1.19</ppo2>\n"
                                  "   <cns>12.5</cns>\n"
                                  "   <deco time=\"120\" depth=\"3.05\">deco</deco>\n"
                                  "   <tts>600</tts>\n"
                                  "   <deco time=\"99\" depth=\"0.00\">ndl</deco>\n"
                                  "   <gasmix>1</gasmix>\n"
                                  "   <location>\n"
                                  "      <latitude>59.329323</latitude>\n"
                                  "      <longitude>18.068581</longitude>\n"
                                  "      <altitude>12.500</altitude>\n"
                                  "   </location>\n"
                                  "</sample>\n"
                                  "<sample>\n"
                                  "   <time>01:05.500</time>\n"
                                  "   <depth>0.00</depth>\n"
                                  "</sample>\n"
                                  "</dive>\n";
    EXPECT_EQ(w.xml, "<device>\n"
                     "<dive>\n"
                     "<number>1</number>\n" +
                         dive_body +
                         "<dive>\n"
                         "<number>2</number>\n" +
                         dive_body + "</device>\n");
    EXPECT_EQ(w.statuses, (std::vector<qv_status_t>{QV_STATUS_SUCCESS, QV_STATUS_SUCCESS}));
    EXPECT_EQ(w.err, std::string(progress_messages) + progress_messages);
}

TEST(QvtoolXmlOutput, EveryFieldAndSampleImperial)
{
    Written w = write_xml({full_dive()}, QVTOOL_UNITS_IMPERIAL);
    EXPECT_EQ(w.xml, "<device>\n"
                     "<dive>\n"
                     "<number>1</number>\n"
                     "<size>3</size>\n"
                     "<datetime>2024-03-14 10:05:09 +01:00</datetime>\n"
                     "<divetime>62:05</divetime>\n"
                     "<maxdepth>100.00</maxdepth>\n"
                     "<avgdepth>40.35</avgdepth>\n"
                     "<temperature type=\"surface\">72.5</temperature>\n"
                     "<temperature type=\"minimum\">68.0</temperature>\n"
                     "<temperature type=\"maximum\">29.3</temperature>\n"
                     "<gasmix>\n"
                     "   <he>0.0</he>\n"
                     "   <o2>32.0</o2>\n"
                     "   <n2>68.0</n2>\n"
                     "</gasmix>\n"
                     "<gasmix>\n"
                     "   <he>35.0</he>\n"
                     "   <o2>21.0</o2>\n"
                     "   <n2>44.0</n2>\n"
                     "   <usage>diluent</usage>\n"
                     "</gasmix>\n"
                     "<tank>\n"
                     "   <gasmix>0</gasmix>\n"
                     "   <type>metric</type>\n"
                     "   <volume>0.4</volume>\n"
                     "   <workpressure>3364.88</workpressure>\n"
                     "   <beginpressure>2900.75</beginpressure>\n"
                     "   <endpressure>725.19</endpressure>\n"
                     "</tank>\n"
                     "<tank>\n"
                     "   <usage>oxygen</usage>\n"
                     "   <beginpressure>2900.75</beginpressure>\n"
                     "   <endpressure>725.19</endpressure>\n"
                     "</tank>\n"
                     "<divemode>ccr</divemode>\n"
                     "<decomodel>buhlmann</decomodel>\n"
                     "<gf>30/85</gf>\n"
                     "<conservatism>-1</conservatism>\n"
                     "<salinity density=\"1025.0\">salt</salinity>\n"
                     "<atmospheric>14.69595</atmospheric>\n"
                     "<location>\n"
                     "   <latitude>-33.856784</latitude>\n"
                     "   <longitude>151.215297</longitude>\n"
                     "   <altitude>1000.00</altitude>\n"
                     "</location>\n"
                     "<sample>\n"
                     "   <time>00:20</time>\n"
                     "   <depth>100.00</depth>\n"
                     "   <pressure tank=\"1\">2900.75</pressure>\n"
                     "   <temperature>68.00</temperature>\n"
                     "   <event type=\"3\" time=\"3\" flags=\"1\" value=\"7\">ascent</event>\n"
                     "   <rbt>42</rbt>\n"
                     "   <heartbeat>88</heartbeat>\n"
                     "   <bearing>270</bearing>\n"
                     "   <vendor type=\"5\" size=\"3\">01AB00</vendor>\n"
                     "   <setpoint>1.30</setpoint>\n"
                     "   <ppo2>1.21</ppo2>\n"
                     "   <ppo2 sensor=\"2\">1.19</ppo2>\n"
                     "   <cns>12.5</cns>\n"
                     "   <deco time=\"120\" depth=\"10.00\">deco</deco>\n"
                     "   <tts>600</tts>\n"
                     "   <deco time=\"99\" depth=\"0.00\">ndl</deco>\n"
                     "   <gasmix>1</gasmix>\n"
                     "   <location>\n"
                     "      <latitude>59.329323</latitude>\n"
                     "      <longitude>18.068581</longitude>\n"
                     "      <altitude>12.500</altitude>\n"
                     "   </location>\n"
                     "</sample>\n"
                     "<sample>\n"
                     "   <time>01:05.500</time>\n"
                     "   <depth>0.00</depth>\n"
                     "</sample>\n"
                     "</dive>\n"
                     "</device>\n");
    EXPECT_EQ(w.statuses, std::vector<qv_status_t>{QV_STATUS_SUCCESS});
}

// The part of the output between the size line and the first sample or the
// closing element, for dives that differ in one summary field.
std::string summary_of(const Script &script, qvtool_units_t units = QVTOOL_UNITS_METRIC)
{
    Written w = write_xml({script}, units);
    const std::string head = "<device>\n<dive>\n<number>1</number>\n<size>3</size>\n";
    const std::string tail = "</dive>\n</device>\n";
    EXPECT_EQ(w.xml.substr(0, head.size()), head);
    EXPECT_GE(w.xml.size(), head.size() + tail.size());
    EXPECT_EQ(w.xml.substr(w.xml.size() - tail.size()), tail);
    return w.xml.substr(head.size(), w.xml.size() - head.size() - tail.size());
}

Script supported_but_empty()
{
    Script script;
    script.datetime_status = QV_STATUS_SUCCESS;
    script.datetime = {2023, 12, 31, 23, 59, 58, QV_TIMEZONE_NONE};
    script.samples = std::vector<Sample>{};
    return script;
}

TEST(QvtoolXmlOutput, TimeZones)
{
    const struct {
        int32_t zone;
        const char *text;
    } cases[] = {
        {QV_TIMEZONE_NONE, "2023-12-31 23:59:58"},
        {0, "2023-12-31 23:59:58 +00:00"},
        {-12600, "2023-12-31 23:59:58 -03:30"},
        {19800, "2023-12-31 23:59:58 +05:30"},
        {-1800, "2023-12-31 23:59:58 -00:30"},
        {1800, "2023-12-31 23:59:58 +00:30"},
        {-36000, "2023-12-31 23:59:58 -10:00"},
        {50400, "2023-12-31 23:59:58 +14:00"},
        {-59, "2023-12-31 23:59:58 -00:00"},
        {INT32_MAX, "2023-12-31 23:59:58 +596523:14"},
        {INT32_MIN + 1, "2023-12-31 23:59:58 -596523:14"},
    };
    for (const auto &c : cases) {
        Script script = supported_but_empty();
        script.datetime.timezone = c.zone;
        EXPECT_EQ(summary_of(script), std::string("<datetime>") + c.text +
                                          "</datetime>\n"
                                          "<divetime>00:00</divetime>\n"
                                          "<maxdepth>0.00</maxdepth>\n")
            << c.zone;
    }
}

TEST(QvtoolXmlOutput, SampleTimes)
{
    const struct {
        uint32_t ms;
        const char *text;
    } cases[] = {
        {0, "00:00"},          {60000, "01:00"},         {65500, "01:05.500"},
        {999, "00:00.999"},    {1, "00:00.001"},         {59999, "00:59.999"},
        {6000000, "100:00"},   {4294967295u, "71582:47.295"},
    };
    for (const auto &c : cases) {
        Script script = supported_but_empty();
        script.samples = std::vector<Sample>{time(c.ms)};
        EXPECT_EQ(summary_of(script), std::string("<datetime>2023-12-31 23:59:58</datetime>\n"
                                                  "<divetime>00:00</divetime>\n"
                                                  "<maxdepth>0.00</maxdepth>\n"
                                                  "<sample>\n"
                                                  "   <time>") +
                                          c.text +
                                          "</time>\n"
                                          "</sample>\n")
            << c.ms;
    }
}

TEST(QvtoolXmlOutput, EventsAndSamplesOutsideGroups)
{
    Script script = supported_but_empty();
    Sample odd_deco{QV_SAMPLE_DECO, {}};
    odd_deco.value.deco.type = 7;
    odd_deco.value.deco.time = 5;
    Sample unknown_kind{99, {}};
    script.samples = std::vector<Sample>{
        // Before the first time sample: no group is open.
        depth(1.5),
        event(QV_SAMPLE_EVENT_GASCHANGE, 0, 0, 32),
        event(QV_SAMPLE_EVENT_BOOKMARK, 0, 0, 1),
        time(10000),
        event(QV_SAMPLE_EVENT_GASCHANGE2, 0, 0, 0x00230015),
        event(QV_SAMPLE_EVENT_SAFETYSTOP_VOLUNTARY, 0, QV_SAMPLE_EVENT_FLAG_END, 0),
        event(QV_SAMPLE_EVENT_TISSUELEVEL),
        event(QV_SAMPLE_EVENT_NONE),
        event(26),
        odd_deco,
        unknown_kind,
        gasmix_sample(0),
    };
    EXPECT_EQ(summary_of(script),
              "<datetime>2023-12-31 23:59:58</datetime>\n"
              "<divetime>00:00</divetime>\n"
              "<maxdepth>0.00</maxdepth>\n"
              "   <depth>1.50</depth>\n"
              "   <event type=\"8\" time=\"0\" flags=\"0\" value=\"1\">bookmark</event>\n"
              "<sample>\n"
              "   <time>00:10</time>\n"
              "   <event type=\"12\" time=\"0\" flags=\"2\" value=\"0\">safety stop (voluntary)</event>\n"
              "   <event type=\"24\" time=\"0\" flags=\"0\" value=\"0\">tissue level warning</event>\n"
              "   <event type=\"0\" time=\"0\" flags=\"0\" value=\"0\">none</event>\n"
              "   <event type=\"26\" time=\"0\" flags=\"0\" value=\"0\">unknown</event>\n"
              "   <deco time=\"5\" depth=\"0.00\">unknown</deco>\n"
              "   <gasmix>0</gasmix>\n"
              "</sample>\n");
}

TEST(QvtoolXmlOutput, OptionalElementVariants)
{
    // Unsupported optional fields leave no element; a Buhlmann model without
    // gradient factors and default conservatism is the name alone; salinity
    // without a density has no attribute; a gas mix count of 0 and a tank
    // count of 0 write nothing.
    Script script = supported_but_empty();
    script.fields[QV_FIELD_GASMIX_COUNT] = value<unsigned int>(0);
    script.fields[QV_FIELD_TANK_COUNT] = value<unsigned int>(0);
    qv_decomodel_t decomodel = {};
    decomodel.type = QV_DECOMODEL_BUHLMANN;
    script.fields[QV_FIELD_DECOMODEL] = value<qv_decomodel_t>(decomodel);
    script.fields[QV_FIELD_SALINITY] = value<qv_salinity_t>({QV_WATER_FRESH, 0.0});
    script.fields[QV_FIELD_DIVEMODE] = value<qv_divemode_t>(QV_DIVEMODE_FREEDIVE);
    EXPECT_EQ(summary_of(script), "<datetime>2023-12-31 23:59:58</datetime>\n"
                                  "<divetime>00:00</divetime>\n"
                                  "<maxdepth>0.00</maxdepth>\n"
                                  "<divemode>freedive</divemode>\n"
                                  "<decomodel>buhlmann</decomodel>\n"
                                  "<salinity>fresh</salinity>\n");

    // Gradient factors belong to Buhlmann only; conservatism to every model.
    decomodel.type = QV_DECOMODEL_VPM;
    decomodel.conservatism = 2;
    decomodel.params.gf.high = 90;
    decomodel.params.gf.low = 40;
    script.fields[QV_FIELD_DECOMODEL] = value<qv_decomodel_t>(decomodel);
    script.fields.erase(QV_FIELD_SALINITY);
    script.fields[QV_FIELD_DIVEMODE] = value<qv_divemode_t>(QV_DIVEMODE_SCR);
    EXPECT_EQ(summary_of(script), "<datetime>2023-12-31 23:59:58</datetime>\n"
                                  "<divetime>00:00</divetime>\n"
                                  "<maxdepth>0.00</maxdepth>\n"
                                  "<divemode>scr</divemode>\n"
                                  "<decomodel>vpm</decomodel>\n"
                                  "<conservatism>2</conservatism>\n");

    // One gradient factor is enough.
    decomodel.type = QV_DECOMODEL_BUHLMANN;
    decomodel.conservatism = 0;
    decomodel.params.gf.high = 0;
    decomodel.params.gf.low = 45;
    script.fields[QV_FIELD_DECOMODEL] = value<qv_decomodel_t>(decomodel);
    script.fields.erase(QV_FIELD_DIVEMODE);
    EXPECT_EQ(summary_of(script), "<datetime>2023-12-31 23:59:58</datetime>\n"
                                  "<divetime>00:00</divetime>\n"
                                  "<maxdepth>0.00</maxdepth>\n"
                                  "<decomodel>buhlmann</decomodel>\n"
                                  "<gf>45/0</gf>\n");
}

TEST(QvtoolXmlOutput, FailedFieldStopsTheDiveButKeepsItBalanced)
{
    const std::string datetime = "<datetime>2023-12-31 23:59:58</datetime>\n";
    const std::string divetime = "<divetime>00:00</divetime>\n";
    const std::string maxdepth = "<maxdepth>0.00</maxdepth>\n";
    const std::string first_gasmix = "<gasmix>\n   <he>0.0</he>\n   <o2>21.0</o2>\n   <n2>79.0</n2>\n</gasmix>\n";
    const std::string first_tank =
        "<tank>\n   <beginpressure>0.00</beginpressure>\n   <endpressure>0.00</endpressure>\n</tank>\n";

    struct Case {
        const char *name;
        std::function<void(Script &)> spoil;
        qv_status_t status;
        std::string message;
        std::string written; // the summary before the failure
        int progress;        // progress messages printed
    };
    const std::vector<Case> cases = {
        {"datetime", [](Script &s) { s.datetime_status = QV_STATUS_DATAFORMAT; }, QV_STATUS_DATAFORMAT,
         "Error parsing the datetime.", "", 1},
        {"divetime", [](Script &s) { s.fields[QV_FIELD_DIVETIME] = fail(QV_STATUS_IO); }, QV_STATUS_IO,
         "Error parsing the divetime.", datetime, 2},
        {"maxdepth", [](Script &s) { s.fields[QV_FIELD_MAXDEPTH] = fail(QV_STATUS_DATAFORMAT); },
         QV_STATUS_DATAFORMAT, "Error parsing the maxdepth.", datetime + divetime, 3},
        {"avgdepth", [](Script &s) { s.fields[QV_FIELD_AVGDEPTH] = fail(QV_STATUS_DATAFORMAT); },
         QV_STATUS_DATAFORMAT, "Error parsing the avgdepth.", datetime + divetime + maxdepth, 4},
        {"maximum temperature",
         [](Script &s) {
             s.fields[QV_FIELD_TEMPERATURE_SURFACE] = value<double>(25.0);
             s.fields[QV_FIELD_TEMPERATURE_MAXIMUM] = fail(QV_STATUS_NOMEMORY);
         },
         QV_STATUS_NOMEMORY, "Error parsing the temperature.",
         datetime + divetime + maxdepth + "<temperature type=\"surface\">25.0</temperature>\n", 5},
        {"gas mix count", [](Script &s) { s.fields[QV_FIELD_GASMIX_COUNT] = fail(QV_STATUS_DATAFORMAT); },
         QV_STATUS_DATAFORMAT, "Error parsing the gas mix count.", datetime + divetime + maxdepth, 6},
        {"second gas mix",
         [](Script &s) {
             s.fields[QV_FIELD_GASMIX_COUNT] = value<unsigned int>(2);
             s.fields[QV_FIELD_GASMIX] = indexed<qv_gasmix_t>({{0.0, 0.21, 0.79, QV_USAGE_NONE}});
         },
         QV_STATUS_INVALIDARGS, "Error parsing the gas mix.", datetime + divetime + maxdepth + first_gasmix, 6},
        {"tank count", [](Script &s) { s.fields[QV_FIELD_TANK_COUNT] = fail(QV_STATUS_DATAFORMAT); },
         QV_STATUS_DATAFORMAT, "Error parsing the tank count.", datetime + divetime + maxdepth, 7},
        {"second tank",
         [](Script &s) {
             s.fields[QV_FIELD_TANK_COUNT] = value<unsigned int>(2);
             s.fields[QV_FIELD_TANK] =
                 indexed<qv_tank_t>({{QV_GASMIX_UNKNOWN, QV_TANKVOLUME_NONE, 0, 0, 0, 0, QV_USAGE_NONE}});
         },
         QV_STATUS_INVALIDARGS, "Error parsing the tank.", datetime + divetime + maxdepth + first_tank, 7},
        {"dive mode", [](Script &s) { s.fields[QV_FIELD_DIVEMODE] = fail(QV_STATUS_DATAFORMAT); },
         QV_STATUS_DATAFORMAT, "Error parsing the dive mode.", datetime + divetime + maxdepth, 8},
        {"deco model", [](Script &s) { s.fields[QV_FIELD_DECOMODEL] = fail(QV_STATUS_DATAFORMAT); },
         QV_STATUS_DATAFORMAT, "Error parsing the deco model.", datetime + divetime + maxdepth, 9},
        {"salinity", [](Script &s) { s.fields[QV_FIELD_SALINITY] = fail(QV_STATUS_DATAFORMAT); },
         QV_STATUS_DATAFORMAT, "Error parsing the salinity.", datetime + divetime + maxdepth, 10},
        {"atmospheric", [](Script &s) { s.fields[QV_FIELD_ATMOSPHERIC] = fail(QV_STATUS_DATAFORMAT); },
         QV_STATUS_DATAFORMAT, "Error parsing the atmospheric pressure.", datetime + divetime + maxdepth, 11},
        {"location", [](Script &s) { s.fields[QV_FIELD_LOCATION] = fail(QV_STATUS_DATAFORMAT); },
         QV_STATUS_DATAFORMAT, "Error parsing the GPS location.", datetime + divetime + maxdepth, 12},
        {"samples",
         [](Script &s) {
             s.samples = std::vector<Sample>{time(0), depth(2.0)};
             s.samples_status = QV_STATUS_DATAFORMAT;
         },
         QV_STATUS_DATAFORMAT, "Error parsing the sample data.",
         datetime + divetime + maxdepth + "<sample>\n   <time>00:00</time>\n   <depth>2.00</depth>\n</sample>\n",
         13},
    };

    for (const auto &c : cases) {
        Script script = supported_but_empty();
        c.spoil(script);
        Written w = write_xml({script, supported_but_empty()}, QVTOOL_UNITS_METRIC);
        // The failed dive is closed, and the next dive follows normally.
        EXPECT_EQ(w.xml, "<device>\n<dive>\n<number>1</number>\n<size>3</size>\n" + c.written +
                             "</dive>\n<dive>\n<number>2</number>\n<size>3</size>\n" + datetime + divetime +
                             maxdepth + "</dive>\n</device>\n")
            << c.name;
        EXPECT_EQ(w.statuses, (std::vector<qv_status_t>{c.status, QV_STATUS_SUCCESS})) << c.name;

        std::string progress;
        size_t pos = 0;
        for (int i = 0; i < c.progress; ++i) {
            size_t end = std::string(progress_messages).find('\n', pos);
            progress += std::string(progress_messages).substr(pos, end + 1 - pos);
            pos = end + 1;
        }
        EXPECT_EQ(w.err, progress + report(c.message) + progress_messages) << c.name;
    }
}

TEST(QvtoolXmlOutput, CreationFailures)
{
    EXPECT_EQ(qvtool_xml_output_new(nullptr, QVTOOL_UNITS_METRIC), nullptr);

    qvtest::TempDir dir;
    EXPECT_EQ(qvtool_xml_output_new(dir.file("missing/dives.xml").c_str(), QVTOOL_UNITS_METRIC), nullptr);
    EXPECT_EQ(qvtool_xml_output_new(dir.path().c_str(), QVTOOL_UNITS_METRIC), nullptr);

    // A writer with no dives is an empty device element; an existing file
    // is replaced.
    const std::string path = dir.file("empty.xml");
    FILE *fp = std::fopen(path.c_str(), "w");
    ASSERT_NE(fp, nullptr);
    std::fputs("old content that must go\n", fp);
    std::fclose(fp);
    qvtool_output_t *output = qvtool_xml_output_new(path.c_str(), QVTOOL_UNITS_IMPERIAL);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->number, 0u);
    EXPECT_EQ(qvtool_output_free(output), QV_STATUS_SUCCESS);
    EXPECT_EQ(qvtest::read_file(path), "<device>\n</device>\n");
}

// ---------------------------------------------------------------------------
// The writer base.

struct CountingOutput : qvtool_output_t {
    std::vector<std::string> *calls = nullptr;
    ~CountingOutput() override { calls->push_back("destroyed"); }
};

qv_status_t counting_write(qvtool_output_t *output, qv_parser_t *, const unsigned char *, unsigned int size,
                           const unsigned char *, unsigned int fsize)
{
    auto *counting = static_cast<CountingOutput *>(output);
    counting->calls->push_back("write " + std::to_string(output->number) + " " + std::to_string(size) + " " +
                               std::to_string(fsize));
    return size == 0 ? QV_STATUS_DATAFORMAT : QV_STATUS_SUCCESS;
}

qv_status_t counting_free(qvtool_output_t *output)
{
    static_cast<CountingOutput *>(output)->calls->push_back("free");
    return QV_STATUS_IO;
}

const qvtool_output_vtable_t counting_vtable = {sizeof(CountingOutput), counting_write, counting_free};
const qvtool_output_vtable_t empty_vtable = {sizeof(CountingOutput), nullptr, nullptr};

TEST(QvtoolOutputBase, DispatchAndCounting)
{
    std::vector<std::string> calls;
    CountingOutput *output = qvtool_output_allocate<CountingOutput>(&counting_vtable);
    ASSERT_NE(output, nullptr);
    output->calls = &calls;
    EXPECT_EQ(output->number, 0u);

    const unsigned char data[4] = {};
    EXPECT_EQ(qvtool_output_write(output, nullptr, data, 4, data, 2), QV_STATUS_SUCCESS);
    // A failed write still counts: the number is the dive's position.
    EXPECT_EQ(qvtool_output_write(output, nullptr, data, 0, nullptr, 0), QV_STATUS_DATAFORMAT);
    EXPECT_EQ(qvtool_output_write(output, nullptr, data, 4, nullptr, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(output->number, 3u);
    EXPECT_EQ(qvtool_output_free(output), QV_STATUS_IO);
    EXPECT_EQ(calls, (std::vector<std::string>{"write 1 4 2", "write 2 0 0", "write 3 4 0", "free", "destroyed"}));

    // Without operations: writes are no-ops that do not count.
    calls.clear();
    output = qvtool_output_allocate<CountingOutput>(&empty_vtable);
    ASSERT_NE(output, nullptr);
    output->calls = &calls;
    EXPECT_EQ(qvtool_output_write(output, nullptr, data, 4, nullptr, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(output->number, 0u);
    EXPECT_EQ(qvtool_output_free(output), QV_STATUS_SUCCESS);
    EXPECT_EQ(calls, std::vector<std::string>{"destroyed"});

    EXPECT_EQ(qvtool_output_write(nullptr, nullptr, data, 4, nullptr, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(qvtool_output_free(nullptr), QV_STATUS_SUCCESS);
}

// ---------------------------------------------------------------------------
// The raw writer.

std::vector<std::string> files_in(const std::string &path)
{
    std::vector<std::string> names;
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr)
        return names;
    while (struct dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

struct RawRun {
    std::vector<qv_status_t> statuses;
    std::string err;
};

// Writes count dives (data "dive N", fingerprint fp) through a raw writer
// with the template.
RawRun write_raw(const std::string &template_, const Script &script, unsigned int count,
                 const std::vector<unsigned char> &fp)
{
    RawRun run;
    qvtool_output_t *output = qvtool_raw_output_new(template_.c_str());
    EXPECT_NE(output, nullptr);
    testing::internal::CaptureStderr();
    for (unsigned int i = 1; i <= count; ++i) {
        std::string data = "dive " + std::to_string(i);
        FakeParser *parser = qv_parser_allocate<FakeParser>(
            nullptr, &fake_vtable, reinterpret_cast<const unsigned char *>(data.data()), data.size());
        parser->script = &script;
        run.statuses.push_back(qvtool_output_write(output, parser,
                                                   reinterpret_cast<const unsigned char *>(data.data()),
                                                   static_cast<unsigned int>(data.size()),
                                                   fp.empty() ? nullptr : fp.data(),
                                                   static_cast<unsigned int>(fp.size())));
        qv_parser_destroy(parser);
    }
    run.err = without_line_numbers(testing::internal::GetCapturedStderr());
    EXPECT_EQ(qvtool_output_free(output), QV_STATUS_SUCCESS);
    return run;
}

const char raw_template_error[] =
    "ERROR: Failed to generate filename from template. [in examples/output_raw.cpp:N (qvtool_raw_output_write)]\n";
const char raw_open_error[] =
    "ERROR: Failed to open the output file. [in examples/output_raw.cpp:N (qvtool_raw_output_write)]\n";

TEST(QvtoolRawOutput, TemplatePlaceholders)
{
    Script dated;
    dated.datetime_status = QV_STATUS_SUCCESS;
    dated.datetime = {2024, 3, 4, 5, 6, 7, -1800};
    Script undated; // the start time is unsupported: the zeroed time is used

    const struct {
        std::string template_;
        const Script *script;
        std::vector<unsigned char> fp;
        std::vector<std::string> files; // after two dives
    } cases[] = {
        {"dive-%n-%f.bin", &dated, {0x0A, 0xFF}, {"dive-0001-0AFF.bin", "dive-0002-0AFF.bin"}},
        {"%t.bin", &dated, {}, {"20240304T050607.bin"}},
        {"%t-%n", &undated, {}, {"00000000T000000-0001", "00000000T000000-0002"}},
        {"100%%-%n%%", &dated, {0x01}, {"100%-0001%", "100%-0002%"}},
        {"fp%f", &dated, {}, {"fp"}},
        {"%f", &dated, {0x00, 0x12, 0xab, 0xCD}, {"0012ABCD"}},
        {"plain", &dated, {0x01}, {"plain"}},
    };
    for (const auto &c : cases) {
        qvtest::TempDir dir;
        RawRun run = write_raw(dir.path() + "/" + c.template_, *c.script, 2, c.fp);
        EXPECT_EQ(run.statuses, (std::vector<qv_status_t>{QV_STATUS_SUCCESS, QV_STATUS_SUCCESS}))
            << c.template_;
        EXPECT_EQ(run.err, "") << c.template_;
        EXPECT_EQ(files_in(dir.path()), c.files) << c.template_;
        // A name used twice holds the last dive.
        EXPECT_EQ(qvtest::read_file(dir.path() + "/" + c.files.back()), "dive 2") << c.template_;
        if (c.files.size() == 2) {
            EXPECT_EQ(qvtest::read_file(dir.path() + "/" + c.files.front()), "dive 1") << c.template_;
        }
    }
}

TEST(QvtoolRawOutput, BadTemplatesWriteNothing)
{
    Script failing;
    failing.datetime_status = QV_STATUS_DATAFORMAT;
    Script dated;
    dated.datetime_status = QV_STATUS_SUCCESS;
    dated.datetime = {2024, 3, 4, 5, 6, 7, 0};

    const struct {
        std::string template_;
        const Script *script;
    } cases[] = {
        {"x%", &dated},
        {"%x", &dated},
        {"dive-%n-%", &dated},
        {"%N", &dated},
        {"%", &dated},
        {"%t.bin", &failing},
    };
    for (const auto &c : cases) {
        qvtest::TempDir dir;
        RawRun run = write_raw(dir.path() + "/" + c.template_, *c.script, 2, {0x0A});
        EXPECT_EQ(run.statuses, (std::vector<qv_status_t>{QV_STATUS_SUCCESS, QV_STATUS_SUCCESS}))
            << c.template_;
        EXPECT_EQ(run.err, std::string(raw_template_error) + raw_template_error) << c.template_;
        EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{}) << c.template_;
    }
}

TEST(QvtoolRawOutput, NameLengthLimit)
{
    Script dated;
    dated.datetime_status = QV_STATUS_SUCCESS;
    dated.datetime = {2024, 3, 4, 5, 6, 7, 0};

    // A name of 1023 characters fits (the file system then refuses a
    // component that long); one of 1024 does not.
    const struct {
        std::string template_;
        const char *err;
    } cases[] = {
        {std::string(1019, 'a') + "%n", raw_open_error},
        {std::string(1020, 'a') + "%n", raw_template_error},
        {std::string(1021, 'a') + "%f", raw_open_error},  // 1021 + 2 digits
        {std::string(1022, 'a') + "%f", raw_template_error},
        {std::string(1023, 'a'), raw_open_error},
        {std::string(1024, 'a'), raw_template_error},
        {std::string(2046, '%'), raw_open_error},     // 1023 percent signs
        {std::string(2048, '%'), raw_template_error}, // 1024 percent signs
        {std::string(100000, '%'), raw_template_error},
        {std::string(5000, 'b') + "%t", raw_template_error},
    };
    for (const auto &c : cases) {
        RawRun run = write_raw(c.template_, dated, 1, {0x0A});
        EXPECT_EQ(run.statuses, std::vector<qv_status_t>{QV_STATUS_SUCCESS}) << c.template_.size();
        EXPECT_EQ(run.err, c.err) << c.template_.size();
    }
}

TEST(QvtoolRawOutput, UnwritableFileIsReported)
{
    qvtest::TempDir dir;
    Script undated;
    RawRun run = write_raw(dir.file("missing/dive-%n.bin"), undated, 1, {});
    EXPECT_EQ(run.statuses, std::vector<qv_status_t>{QV_STATUS_SUCCESS});
    EXPECT_EQ(run.err, raw_open_error);

    EXPECT_EQ(qvtool_raw_output_new(nullptr), nullptr);
}

} // namespace
