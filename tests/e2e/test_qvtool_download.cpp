// End-to-end tests of the qvtool download and parse commands with the real
// binary: parse of stored Suunto Vyper dives (metric and imperial), their
// error paths, the download's argument errors, and downloads from a
// simulated Vyper behind a pseudo-terminal (XML and raw output, fingerprint
// cache, dive limit, fingerprint option, interruption).
#include "process.h"

#include "sim/pty.h"
#include "sim/suunto_vyper.h"
#include "sim/suunto_vyper_dives.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using qvtest::ProcessOptions;
using qvtest::ProcessResult;
using qvtest::TempDir;
using Bytes = std::vector<uint8_t>;
namespace vyper = qvsim::vyper;

ProcessResult qvtool(const std::vector<std::string> &args, const ProcessOptions &options = {})
{
    return qvtest::run_process(QV_TEST_QVTOOL, args, options);
}

std::string join(const std::vector<std::string> &args)
{
    std::string text;
    for (const auto &arg : args)
        text += (text.empty() ? "" : " ") + arg;
    return "qvtool " + text;
}

void expect_exit(const ProcessResult &result, int code, const std::string &what)
{
    EXPECT_EQ(result.error, "") << what;
    EXPECT_FALSE(result.timed_out) << what;
    EXPECT_EQ(result.term_signal, 0) << what;
    EXPECT_EQ(result.exit_code, code) << what << "\nstderr: " << result.err.substr(0, 2000);
}

// The report lines carry the source line; the tests compare everything else.
std::string without_line_numbers(const std::string &text)
{
    return std::regex_replace(text, std::regex(R"(\.cpp:[0-9]+ \()"), ".cpp:N (");
}

bool write_bytes(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string text_of(const Bytes &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

size_t count_of(const std::string &text, const std::string &what)
{
    size_t count = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size()))
        ++count;
    return count;
}

// The download's fingerprint of a Vyper dive: the five date bytes.
Bytes fingerprint_of(const Bytes &record)
{
    return Bytes(record.begin() + 9, record.begin() + 14);
}

std::string hex(const Bytes &bytes)
{
    std::string text;
    char digits[3];
    for (uint8_t byte : bytes) {
        std::snprintf(digits, sizeof(digits), "%02X", byte);
        text += digits;
    }
    return text;
}

// Two hand-made dives whose decoding is worked out below.
vyper::Dive nitrox_dive()
{
    vyper::Dive dive;
    dive.year = 2024;
    dive.month = 3;
    dive.day = 14;
    dive.hour = 10;
    dive.minute = 5;
    dive.interval = 20;
    dive.conservatism = 2; // 2 / 3 = 0: the default, not written
    dive.start_pressure = 200;
    dive.end_pressure = 50;
    dive.o2 = 32;
    dive.surface_temperature = 22;
    dive.minimum_temperature = 18;
    dive.profile = {vyper::depth(33), vyper::event(vyper::EVENT_BOOKMARK), vyper::depth(17), vyper::gas(50),
                    vyper::depth(-50)};
    return dive;
}

vyper::Dive gauge_dive()
{
    vyper::Dive dive;
    dive.year = 1995;
    dive.month = 12;
    dive.day = 31;
    dive.hour = 23;
    dive.minute = 59;
    dive.interval = 30;
    dive.gauge = true;
    dive.conservatism = 7; // 7 / 3 = 2
    dive.surface_temperature = -2;
    dive.minimum_temperature = 4;
    dive.profile = {vyper::depth(40), vyper::event(vyper::EVENT_ASCENT), vyper::event(vyper::EVENT_SAFETYSTOP),
                    vyper::depth(-40)};
    return dive;
}

const char nitrox_metric[] = "<dive>\n"
                             "<number>1</number>\n"
                             "<size>25</size>\n"
                             "<datetime>2024-03-14 10:05:00</datetime>\n"
                             "<divetime>01:00</divetime>\n"
                             "<maxdepth>15.24</maxdepth>\n"
                             "<temperature type=\"surface\">22.0</temperature>\n"
                             "<temperature type=\"minimum\">18.0</temperature>\n"
                             "<gasmix>\n"
                             "   <he>0.0</he>\n"
                             "   <o2>32.0</o2>\n"
                             "   <n2>68.0</n2>\n"
                             "</gasmix>\n"
                             "<gasmix>\n"
                             "   <he>0.0</he>\n"
                             "   <o2>50.0</o2>\n"
                             "   <n2>50.0</n2>\n"
                             "</gasmix>\n"
                             "<tank>\n"
                             "   <gasmix>0</gasmix>\n"
                             "   <beginpressure>200.00</beginpressure>\n"
                             "   <endpressure>50.00</endpressure>\n"
                             "</tank>\n"
                             "<divemode>oc</divemode>\n"
                             "<decomodel>rgbm</decomodel>\n"
                             "<sample>\n"
                             "   <time>00:00</time>\n"
                             "   <depth>0.00</depth>\n"
                             "   <gasmix>0</gasmix>\n"
                             "</sample>\n"
                             "<sample>\n"
                             "   <time>00:20</time>\n"
                             "   <depth>10.06</depth>\n"
                             "</sample>\n"
                             "<sample>\n"
                             "   <time>00:40</time>\n"
                             "   <event type=\"8\" time=\"0\" flags=\"0\" value=\"0\">bookmark</event>\n"
                             "   <depth>15.24</depth>\n"
                             "</sample>\n"
                             "<sample>\n"
                             "   <time>01:00</time>\n"
                             "   <gasmix>1</gasmix>\n"
                             "   <depth>0.00</depth>\n"
                             "</sample>\n"
                             "<sample>\n"
                             "   <time>01:20</time>\n"
                             "   <depth>0.00</depth>\n"
                             "</sample>\n"
                             "</dive>\n";

const char gauge_metric[] = "<dive>\n"
                            "<number>2</number>\n"
                            "<size>23</size>\n"
                            "<datetime>1995-12-31 23:59:00</datetime>\n"
                            "<divetime>01:00</divetime>\n"
                            "<maxdepth>12.19</maxdepth>\n"
                            "<temperature type=\"surface\">-2.0</temperature>\n"
                            "<temperature type=\"minimum\">4.0</temperature>\n"
                            "<divemode>gauge</divemode>\n"
                            "<decomodel>rgbm</decomodel>\n"
                            "<conservatism>2</conservatism>\n"
                            "<sample>\n"
                            "   <time>00:00</time>\n"
                            "   <depth>0.00</depth>\n"
                            "</sample>\n"
                            "<sample>\n"
                            "   <time>00:30</time>\n"
                            "   <depth>12.19</depth>\n"
                            "</sample>\n"
                            "<sample>\n"
                            "   <time>01:00</time>\n"
                            "   <event type=\"3\" time=\"0\" flags=\"0\" value=\"0\">ascent</event>\n"
                            "   <event type=\"10\" time=\"0\" flags=\"0\" value=\"0\">safety stop</event>\n"
                            "   <depth>0.00</depth>\n"
                            "</sample>\n"
                            "<sample>\n"
                            "   <time>01:30</time>\n"
                            "   <depth>0.00</depth>\n"
                            "</sample>\n"
                            "</dive>\n";

const char gauge_imperial[] = "<dive>\n"
                              "<number>2</number>\n"
                              "<size>23</size>\n"
                              "<datetime>1995-12-31 23:59:00</datetime>\n"
                              "<divetime>01:00</divetime>\n"
                              "<maxdepth>40.00</maxdepth>\n"
                              "<temperature type=\"surface\">28.4</temperature>\n"
                              "<temperature type=\"minimum\">39.2</temperature>\n"
                              "<divemode>gauge</divemode>\n"
                              "<decomodel>rgbm</decomodel>\n"
                              "<conservatism>2</conservatism>\n"
                              "<sample>\n"
                              "   <time>00:00</time>\n"
                              "   <depth>0.00</depth>\n"
                              "</sample>\n"
                              "<sample>\n"
                              "   <time>00:30</time>\n"
                              "   <depth>40.00</depth>\n"
                              "</sample>\n"
                              "<sample>\n"
                              "   <time>01:00</time>\n"
                              "   <event type=\"3\" time=\"0\" flags=\"0\" value=\"0\">ascent</event>\n"
                              "   <event type=\"10\" time=\"0\" flags=\"0\" value=\"0\">safety stop</event>\n"
                              "   <depth>0.00</depth>\n"
                              "</sample>\n"
                              "<sample>\n"
                              "   <time>01:30</time>\n"
                              "   <depth>0.00</depth>\n"
                              "</sample>\n"
                              "</dive>\n";

// What a successful parse of one file prints.
const char parse_progress[] = "Creating the parser.\n"
                              "Setting the clock.\n"
                              "Parsing the dive data.\n"
                              "Parsing the datetime.\n"
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

TEST(QvtoolParse, StoredVyperDivesMetricAndImperial)
{
    TempDir dir;
    const Bytes nitrox = vyper::encode(nitrox_dive());
    const Bytes gauge = vyper::encode(gauge_dive());
    ASSERT_EQ(nitrox.size(), 25u);
    ASSERT_EQ(gauge.size(), 23u);
    ASSERT_TRUE(write_bytes(dir.file("nitrox.bin"), nitrox));
    ASSERT_TRUE(write_bytes(dir.file("gauge.bin"), gauge));

    std::vector<std::string> args = {"-d", "Suunto Vyper", "parse", "-o", dir.file("metric.xml"),
                                     dir.file("nitrox.bin"), dir.file("gauge.bin")};
    ProcessResult result = qvtool(args);
    expect_exit(result, 0, join(args));
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, std::string(parse_progress) + parse_progress);
    EXPECT_EQ(qvtest::read_file(dir.file("metric.xml")),
              std::string("<device>\n") + nitrox_metric + gauge_metric + "</device>\n");

    // Imperial: feet and degrees Fahrenheit; the clock options are accepted
    // (the Vyper format does not use the device clock).
    args = {"-f", "vyper", "parse", "--units", "imperial", "-d", "0x1000", "-s", "-5",
            "--output", dir.file("imperial.xml"), dir.file("nitrox.bin"), dir.file("gauge.bin")};
    result = qvtool(args);
    expect_exit(result, 0, join(args));
    auto imperial = qvtest::read_file(dir.file("imperial.xml"));
    ASSERT_TRUE(imperial.has_value());
    const std::string tail = std::string(gauge_imperial) + "</device>\n";
    ASSERT_GE(imperial->size(), tail.size());
    EXPECT_EQ(imperial->substr(imperial->size() - tail.size()), tail);
    EXPECT_NE(imperial->find("<maxdepth>50.00</maxdepth>\n"), std::string::npos);
    EXPECT_NE(imperial->find("<temperature type=\"surface\">71.6</temperature>\n"), std::string::npos);
    EXPECT_NE(imperial->find("   <beginpressure>2900.75</beginpressure>\n"), std::string::npos);
    EXPECT_NE(imperial->find("   <depth>33.00</depth>\n"), std::string::npos);

    // An unknown unit word leaves the units as they were.
    args = {"-f", "vyper", "parse", "-u", "imperial", "-u", "Metric", "-o", dir.file("still.xml"),
            dir.file("gauge.bin")};
    result = qvtool(args);
    expect_exit(result, 0, join(args));
    auto still = qvtest::read_file(dir.file("still.xml"));
    ASSERT_TRUE(still.has_value());
    EXPECT_NE(still->find("<maxdepth>40.00</maxdepth>\n"), std::string::npos) << *still;
}

TEST(QvtoolParse, BuiltinLogbook)
{
    TempDir dir;
    const std::vector<vyper::Dive> dives = vyper::builtin_logbook();
    ASSERT_FALSE(dives.empty());

    std::vector<std::string> metric = {"-d", "Suunto Vyper", "parse", "-o", dir.file("metric.xml")};
    std::vector<std::string> imperial = {"-d", "Suunto Vyper", "parse", "-u", "imperial", "-o",
                                         dir.file("imperial.xml")};
    for (size_t i = 0; i < dives.size(); ++i) {
        const std::string path = dir.file("dive" + std::to_string(i) + ".bin");
        ASSERT_TRUE(write_bytes(path, vyper::encode(dives[i])));
        metric.push_back(path);
        imperial.push_back(path);
    }

    for (const auto &args : {metric, imperial}) {
        ProcessResult result = qvtool(args);
        expect_exit(result, 0, join(args));
        std::string expected_err;
        for (size_t i = 0; i < dives.size(); ++i)
            expected_err += parse_progress;
        EXPECT_EQ(result.err, expected_err);
    }

    auto m = qvtest::read_file(dir.file("metric.xml"));
    auto f = qvtest::read_file(dir.file("imperial.xml"));
    ASSERT_TRUE(m.has_value() && f.has_value());
    EXPECT_EQ(count_of(*m, "<dive>\n"), dives.size());
    EXPECT_EQ(count_of(*m, "</dive>\n"), dives.size());
    EXPECT_EQ(count_of(*m, "<sample>\n"), count_of(*m, "</sample>\n"));

    // Each dive's date, and maximum depths that agree between the units.
    const std::regex maxdepth(R"(<maxdepth>([0-9.]+)</maxdepth>)");
    auto metric_depths = std::sregex_iterator(m->begin(), m->end(), maxdepth);
    auto imperial_depths = std::sregex_iterator(f->begin(), f->end(), maxdepth);
    for (size_t i = 0; i < dives.size(); ++i) {
        char datetime[64];
        std::snprintf(datetime, sizeof(datetime), "<datetime>%04d-%02d-%02d %02d:%02d:00</datetime>",
                      dives[i].year, dives[i].month, dives[i].day, dives[i].hour, dives[i].minute);
        EXPECT_NE(m->find(datetime), std::string::npos) << datetime;

        ASSERT_NE(metric_depths, std::sregex_iterator());
        ASSERT_NE(imperial_depths, std::sregex_iterator());
        double metres = std::stod((*metric_depths)[1].str());
        double feet = std::stod((*imperial_depths)[1].str());
        EXPECT_GT(metres, 10.0);
        EXPECT_NEAR(feet * 0.3048, metres, 0.01);
        // Vyper depths are whole feet.
        EXPECT_NEAR(feet, static_cast<double>(static_cast<long>(feet + 0.5)), 0.001);
        ++metric_depths;
        ++imperial_depths;
    }
}

TEST(QvtoolParse, Errors)
{
    TempDir dir;
    const Bytes nitrox = vyper::encode(nitrox_dive());
    ASSERT_TRUE(write_bytes(dir.file("nitrox.bin"), nitrox));
    ASSERT_TRUE(write_bytes(dir.file("short.bin"), Bytes(nitrox.begin(), nitrox.begin() + 17)));
    ASSERT_TRUE(write_bytes(dir.file("empty.bin"), {}));

    const std::string out = dir.file("out.xml");
    const std::string dive_lines = std::string("Creating the parser.\n"
                                               "Setting the clock.\n"
                                               "Parsing the dive data.\n");
    const std::string parse_report =
        "ERROR: Error parsing the dive data. [in examples/qvtool_parse.cpp:N (parse)]\n"
        "ERROR: Data format error\n";

    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string err;
        std::optional<std::string> xml; // nullopt: no file
    };
    const std::vector<Case> cases = {
        // No output file.
        {{"-d", "Suunto Vyper", "parse", dir.file("nitrox.bin")}, 1, "Failed to create the output.\n",
         std::nullopt},
        {{"-d", "Suunto Vyper", "parse"}, 1, "Failed to create the output.\n", std::nullopt},
        {{"-d", "Suunto Vyper", "parse", "-o", dir.file("missing/out.xml"), dir.file("nitrox.bin")}, 1,
         "Failed to create the output.\n", std::nullopt},
        // No files: an empty device element.
        {{"-d", "Suunto Vyper", "parse", "-o", out}, 0, "", "<device>\n</device>\n"},
        // An input file that cannot be read stops the command; the output
        // holds the dives before it and is finished.
        {{"-d", "Suunto Vyper", "parse", "-o", out, dir.file("missing.bin")}, 1,
         "Failed to open the input file.\n", "<device>\n</device>\n"},
        {{"-d", "Suunto Vyper", "parse", "-o", out, dir.file("nitrox.bin"), dir.path(), dir.file("nitrox.bin")},
         1, std::string(parse_progress) + "Failed to open the input file.\n",
         std::string("<device>\n") + nitrox_metric + "</device>\n"},
        // Records the parser cannot decode.
        {{"-d", "Suunto Vyper", "parse", "-o", out, dir.file("short.bin"), dir.file("nitrox.bin")}, 1,
         dive_lines +
             "Parsing the datetime.\n"
             "Parsing the divetime.\n"
             "ERROR: Error parsing the divetime. [in examples/output_xml.cpp:N (qvtool_xml_output_write)]\n" +
             parse_report,
         "<device>\n<dive>\n<number>1</number>\n<size>17</size>\n"
         "<datetime>2024-03-14 10:05:00</datetime>\n</dive>\n</device>\n"},
        {{"-d", "Suunto Vyper", "parse", "-o", out, dir.file("empty.bin")}, 1,
         dive_lines +
             "Parsing the datetime.\n"
             "ERROR: Error parsing the datetime. [in examples/output_xml.cpp:N (qvtool_xml_output_write)]\n" +
             parse_report,
         "<device>\n<dive>\n<number>1</number>\n<size>0</size>\n</dive>\n</device>\n"},
        // Options.
        {{"-d", "Suunto Vyper", "parse", "-x", "-o", out}, 1, "", std::nullopt},
        {{"-d", "Suunto Vyper", "parse", "-o"}, 1, "", std::nullopt},
    };
    for (const auto &c : cases) {
        std::remove(out.c_str());
        ProcessResult result = qvtool(c.args);
        expect_exit(result, c.exit_code, join(c.args));
        EXPECT_EQ(result.out, "") << join(c.args);
        if (!c.err.empty() || c.exit_code == 0) {
            EXPECT_EQ(without_line_numbers(result.err), c.err) << join(c.args);
        } else {
            EXPECT_NE(result.err, "") << join(c.args); // the option parser's own wording
        }
        if (c.xml) {
            EXPECT_EQ(qvtest::read_file(out), *c.xml) << join(c.args);
        } else {
            EXPECT_FALSE(qvtest::read_file(out).has_value()) << join(c.args);
        }
    }
}

TEST(QvtoolDownload, ArgumentErrors)
{
    TempDir dir;
    const std::string out = dir.file("out.xml");
    const std::string stream_report =
        "ERROR: Error opening the I/O stream. [in examples/qvtool_download.cpp:N (download)]\n";

    struct Case {
        std::vector<std::string> args;
        std::string err;
        std::optional<std::string> xml; // nullopt: no file
    };
    const std::vector<Case> cases = {
        {{"-d", "Suunto Vyper", "download", "-f", "json"}, "Unknown output format: json\n", std::nullopt},
        {{"-d", "Suunto Vyper", "download", "-f", "json", "-o", out}, "Unknown output format: json\n",
         std::nullopt},
        {{"-d", "Suunto Vyper", "download", "--format=", "-o", out}, "Unknown output format: \n", std::nullopt},
        {{"-d", "Suunto Vyper", "download", "-t", "nope", "-o", out}, "No valid transport type specified.\n",
         std::nullopt},
        {{"-d", "Suunto Vyper", "download", "-t", "Serial", "-f", "json"}, "No valid transport type specified.\n",
         std::nullopt},
        {{"-d", "Suunto Vyper", "download"}, "Failed to create the output.\n", std::nullopt},
        {{"-d", "Suunto Vyper", "download", "-f", "RAW"}, "Failed to create the output.\n", std::nullopt},
        {{"-d", "Suunto Vyper", "download", "-f", "XML", "-o", dir.file("missing/out.xml")},
         "Failed to create the output.\n", std::nullopt},
        // The stream cannot be opened: the output is still finished.
        {{"-d", "Suunto Vyper", "download", "-o", out},
         "Opening the I/O stream (serial, null).\n" + stream_report + "ERROR: Invalid arguments\n",
         "<device>\n</device>\n"},
        {{"-d", "Atomic Aquatics Cobalt", "download", "-f", "Xml", "-o", out, "anything"},
         "Opening the I/O stream (usb, anything).\n"
         "ERROR: No dive computer found. [in examples/common.cpp:N (qvtool_usb_open)]\n" +
             stream_report + "ERROR: No device found\n",
         "<device>\n</device>\n"},
        {{"-d", "Suunto Vyper", "download", "-t", "irda", "-o", out, "0"},
         "Opening the I/O stream (irda, 0).\n"
         "ERROR: No valid device address specified. [in examples/common.cpp:N (qvtool_irda_open)]\n" +
             stream_report + "ERROR: No device found\n",
         "<device>\n</device>\n"},
        {{"-d", "Suunto Vyper", "download", "-t", "usbhid", "-f", "raw", "-o", dir.file("dive-%n.bin")},
         "Opening the I/O stream (usbhid, null).\n"
         "ERROR: No dive computer found. [in examples/common.cpp:N (qvtool_usbhid_open)]\n" +
             stream_report + "ERROR: No device found\n",
         std::nullopt},
    };
    for (const auto &c : cases) {
        std::remove(out.c_str());
        ProcessResult result = qvtool(c.args);
        expect_exit(result, 1, join(c.args));
        EXPECT_EQ(result.out, "") << join(c.args);
        EXPECT_EQ(without_line_numbers(result.err), c.err) << join(c.args);
        if (c.xml) {
            EXPECT_EQ(qvtest::read_file(out), *c.xml) << join(c.args);
        } else {
            EXPECT_FALSE(qvtest::read_file(out).has_value()) << join(c.args);
        }
    }

    // A port that does not exist: the library's own error line comes first.
    ProcessResult result = qvtool({"-d", "Suunto Vyper", "download", "-o", out, dir.file("no-such-port")});
    expect_exit(result, 1, "download from a missing port");
    std::string err = without_line_numbers(result.err);
    EXPECT_EQ(err.substr(0, err.find('\n') + 1), "Opening the I/O stream (serial, " + dir.file("no-such-port") + ").\n");
    const std::string end = stream_report + "ERROR: No device found\n";
    ASSERT_GE(err.size(), end.size());
    EXPECT_EQ(err.substr(err.size() - end.size()), end);
    EXPECT_EQ(qvtest::read_file(out), "<device>\n</device>\n");

    // Help and bad options.
    result = qvtool({"-d", "Suunto Vyper", "download", "-o", out, "-h"});
    expect_exit(result, 0, "download -h");
    EXPECT_EQ(result.out.substr(0, 20), "Download the dives\n\n");
    result = qvtool({"-d", "Suunto Vyper", "download", "-l"});
    expect_exit(result, 1, "download -l");
}

// ---------------------------------------------------------------------------
// Downloads from a simulated Suunto Vyper behind a pseudo-terminal.

const qvsim::SuuntoVyper::Identity identity; // Vyper, serial 12345678
const char cache_name[] = "vyper-00BC614E.bin";

std::vector<Bytes> encoded(const std::vector<vyper::Dive> &dives)
{
    std::vector<Bytes> records;
    for (const auto &dive : dives)
        records.push_back(vyper::encode(dive));
    return records;
}

// The device with its dives (oldest first), served for the test's lifetime.
class SimulatedVyper {
public:
    explicit SimulatedVyper(const std::vector<Bytes> &dives) : device_(identity, dives), server_(device_)
    {
        std::string error;
        started_ = server_.start(&error);
        EXPECT_TRUE(started_) << error;
    }
    ~SimulatedVyper()
    {
        server_.stop();
        EXPECT_EQ(server_.failure(), "");
    }
    bool started() const { return started_; }
    const std::string &path() const { return server_.path(); }

private:
    qvsim::SuuntoVyper device_;
    qvsim::PtyServer server_;
    bool started_ = false;
};

// Standard error without the library's warnings (a pseudo-terminal has no
// modem lines, which the serial port reports once).
std::string without_warnings(const std::string &err)
{
    return std::regex_replace(err, std::regex("(^|\n)WARNING: [^\n]*"), "");
}

// The download's XML without the fingerprint lines, which parse does not write.
std::string without_fingerprints(const std::string &xml)
{
    return std::regex_replace(xml, std::regex("<fingerprint>[0-9A-F]*</fingerprint>\n"), "");
}

// What parse makes of the records, in the order given.
std::string parsed(const TempDir &dir, const std::vector<Bytes> &records)
{
    std::vector<std::string> args = {"-d", "Suunto Vyper", "parse", "-o", dir.file("parsed.xml")};
    for (size_t i = 0; i < records.size(); ++i) {
        std::string path = dir.file("parsed-" + std::to_string(i) + ".bin");
        EXPECT_TRUE(write_bytes(path, records[i]));
        args.push_back(path);
    }
    expect_exit(qvtool(args), 0, join(args));
    return qvtest::read_file(dir.file("parsed.xml")).value_or("<no file>");
}

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
    return names;
}

ino_t inode_of(const std::string &path)
{
    struct stat st = {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(QvtoolDownloadPty, XmlWithFingerprintCache)
{
    TempDir dir;
    const std::vector<Bytes> dives = encoded(vyper::builtin_logbook());
    ASSERT_GE(dives.size(), 3u);
    const std::vector<Bytes> newest_first(dives.rbegin(), dives.rend());
    SimulatedVyper device(dives);
    ASSERT_TRUE(device.started());

    const std::string cache = dir.file("cache");
    ASSERT_EQ(mkdir(cache.c_str(), 0755), 0);
    const std::string cache_file = cache + "/" + cache_name;

    // No cache file yet: every dive, newest first.
    std::vector<std::string> args = {"-d", "Suunto Vyper", "download", "-c", cache, "-o", dir.file("all.xml"),
                                     device.path()};
    ProcessResult result = qvtool(args);
    expect_exit(result, 0, join(args));
    EXPECT_EQ(result.out, "");
    result.err = without_warnings(result.err);
    EXPECT_NE(result.err.find("Opening the I/O stream (serial, " + device.path() + ").\n"
                              "Opening the device (Suunto Vyper).\n"
                              "Registering the event handler.\n"
                              "Registering the cancellation handler.\n"
                              "Downloading the dives.\n"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(std::regex_search(result.err, std::regex(R"(Event: model=10 \(0x0000000a\), firmware=[0-9]+ )"
                                                         R"(\(0x[0-9a-f]{8}\), serial=12345678 \(0x00bc614e\)\n)")))
        << result.err;
    for (size_t i = 0; i < newest_first.size(); ++i) {
        std::string line = "Dive: number=" + std::to_string(i + 1) +
                           ", size=" + std::to_string(newest_first[i].size()) +
                           ", fingerprint=" + hex(fingerprint_of(newest_first[i])) + "\n";
        EXPECT_NE(result.err.find(line + "Creating the parser.\nParsing the dive data.\n"), std::string::npos)
            << line;
    }
    EXPECT_EQ(result.err.find("ERROR"), std::string::npos) << result.err;

    auto xml = qvtest::read_file(dir.file("all.xml"));
    ASSERT_TRUE(xml.has_value());
    EXPECT_EQ(without_fingerprints(*xml), parsed(dir, newest_first));
    std::string fingerprints;
    for (const auto &dive : newest_first)
        fingerprints += "<fingerprint>" + hex(fingerprint_of(dive)) + "</fingerprint>\n";
    std::string found;
    const std::regex fingerprint_line("<fingerprint>.*</fingerprint>\n");
    for (auto it = std::sregex_iterator(xml->begin(), xml->end(), fingerprint_line); it != std::sregex_iterator();
         ++it)
        found += it->str();
    EXPECT_EQ(found, fingerprints);

    // The cache holds the newest dive's fingerprint, under the family name
    // and serial, and nothing else was left in the directory.
    EXPECT_EQ(qvtest::read_file(cache_file), text_of(fingerprint_of(newest_first[0])));
    EXPECT_EQ(files_in(cache), std::vector<std::string>{cache_name});
    ino_t inode = inode_of(cache_file);

    // The next download finds nothing new and leaves the cache alone.
    args = {"-d", "Suunto Vyper", "download", "--cache", cache, "--output", dir.file("none.xml"), device.path()};
    result = qvtool(args);
    expect_exit(result, 0, join(args));
    EXPECT_EQ(result.err.find("Dive: "), std::string::npos) << result.err;
    EXPECT_EQ(qvtest::read_file(dir.file("none.xml")), "<device>\n</device>\n");
    EXPECT_EQ(qvtest::read_file(cache_file), text_of(fingerprint_of(newest_first[0])));
    EXPECT_EQ(inode_of(cache_file), inode);
}

TEST(QvtoolDownloadPty, LimitAndFingerprintOption)
{
    TempDir dir;
    const std::vector<Bytes> dives = encoded(vyper::builtin_logbook());
    ASSERT_GE(dives.size(), 4u);
    const std::vector<Bytes> newest_first(dives.rbegin(), dives.rend());
    SimulatedVyper device(dives);
    ASSERT_TRUE(device.started());
    const std::string cache_file = dir.file(cache_name);

    // -l 2 stops after the second dive; the cache receives the first one.
    std::vector<std::string> args = {"-d", "Suunto Vyper", "download", "-l", "2", "-c", dir.path(),
                                     "-o", dir.file("two.xml"), device.path()};
    ProcessResult result = qvtool(args);
    expect_exit(result, 0, join(args));
    EXPECT_EQ(count_of(result.err, "Dive: number="), 2u) << result.err;
    auto xml = qvtest::read_file(dir.file("two.xml"));
    ASSERT_TRUE(xml.has_value());
    EXPECT_EQ(without_fingerprints(*xml), parsed(dir, {newest_first[0], newest_first[1]}));
    EXPECT_EQ(qvtest::read_file(cache_file), text_of(fingerprint_of(newest_first[0])));
    ino_t inode = inode_of(cache_file);

    // With -p the cache is not read (it would stop at once), but it is
    // written again afterwards.
    args = {"-d", "Suunto Vyper", "download", "-p", hex(fingerprint_of(newest_first[2])), "-c", dir.path(),
            "-o", dir.file("fp.xml"), device.path()};
    result = qvtool(args);
    expect_exit(result, 0, join(args));
    EXPECT_NE(result.err.find("Registering the fingerprint data.\nDownloading the dives.\n"), std::string::npos)
        << result.err;
    EXPECT_EQ(count_of(result.err, "Dive: number="), 2u) << result.err;
    xml = qvtest::read_file(dir.file("fp.xml"));
    ASSERT_TRUE(xml.has_value());
    EXPECT_EQ(without_fingerprints(*xml), parsed(dir, {newest_first[0], newest_first[1]}));
    EXPECT_EQ(qvtest::read_file(cache_file), text_of(fingerprint_of(newest_first[0])));
    EXPECT_NE(inode_of(cache_file), inode); // replaced
    for (const auto &name : files_in(dir.path()))
        EXPECT_TRUE(name == cache_name || name.find(cache_name) == std::string::npos) << name;

    // A fingerprint of the wrong size is refused by the device.
    args = {"-d", "Suunto Vyper", "download", "-p", "0102", "-o", dir.file("bad.xml"), device.path()};
    result = qvtool(args);
    expect_exit(result, 1, join(args));
    std::string err = without_line_numbers(result.err);
    const std::string end = "ERROR: Error registering the fingerprint data. [in examples/qvtool_download.cpp:N "
                            "(download)]\nERROR: Invalid arguments\n";
    ASSERT_GE(err.size(), end.size());
    EXPECT_EQ(err.substr(err.size() - end.size()), end);
    EXPECT_EQ(qvtest::read_file(dir.file("bad.xml")), "<device>\n</device>\n");
}

TEST(QvtoolDownloadPty, RawFiles)
{
    TempDir dir;
    const std::vector<vyper::Dive> logbook = vyper::builtin_logbook();
    const std::vector<Bytes> dives = encoded({logbook[0], logbook[1]});
    SimulatedVyper device(dives);
    ASSERT_TRUE(device.started());

    ProcessOptions options;
    options.working_directory = dir.path();
    std::vector<std::string> args = {"-d", "Suunto Vyper", "download", "-f", "RAW", "-o", "dive-%n-%f.bin",
                                     device.path()};
    ProcessResult result = qvtool(args, options);
    expect_exit(result, 0, join(args));
    EXPECT_EQ(result.err.find("ERROR"), std::string::npos) << result.err;

    // Newest first: the second dive of the logbook is number 1.
    for (size_t i = 0; i < 2; ++i) {
        const Bytes &dive = dives[1 - i];
        std::string name = "dive-000" + std::to_string(i + 1) + "-" + hex(fingerprint_of(dive)) + ".bin";
        EXPECT_EQ(qvtest::read_file(dir.file(name)), text_of(dive)) << name;
    }
}

TEST(QvtoolDownloadPty, OverlongCachePathIsReportedAndSkipped)
{
    TempDir dir;
    const std::vector<vyper::Dive> logbook = vyper::builtin_logbook();
    const std::vector<Bytes> dives = encoded({logbook[0]});
    SimulatedVyper device(dives);
    ASSERT_TRUE(device.started());

    // The cache file name would not fit 1024 bytes: the cache is neither
    // read nor written, and the download itself succeeds.
    const std::string cache = dir.path() + "/" + std::string(1000, 'c');
    std::vector<std::string> args = {"-d", "Suunto Vyper", "download", "-c", cache, "-o", dir.file("one.xml"),
                                     device.path()};
    ProcessResult result = qvtool(args);
    expect_exit(result, 0, join(args));
    std::string err = without_line_numbers(without_warnings(result.err));
    const std::string devinfo_report =
        "ERROR: The fingerprint cache file name is too long. [in examples/qvtool_download.cpp:N (event_cb)]\n";
    const std::string write_report =
        "ERROR: The fingerprint cache file name is too long. [in examples/qvtool_download.cpp:N (download)]\n";
    EXPECT_EQ(count_of(err, devinfo_report), 1u) << err;
    ASSERT_GE(err.size(), write_report.size());
    EXPECT_EQ(err.substr(err.size() - write_report.size()), write_report);
    EXPECT_EQ(count_of(err, "ERROR"), 2u) << err;

    auto xml = qvtest::read_file(dir.file("one.xml"));
    ASSERT_TRUE(xml.has_value());
    EXPECT_EQ(without_fingerprints(*xml), parsed(dir, dives));
    EXPECT_EQ(files_in(dir.path()).size(), 3u); // one.xml, parsed.xml, parsed-0.bin
}

// Runs qvtool in the background with its standard error in a file, and
// interrupts it once that file shows text.
struct Background {
    pid_t pid = -1;
    std::string err_path;
};

Background start_background(const std::vector<std::string> &args, const std::string &err_path)
{
    Background bg;
    bg.err_path = err_path;
    std::vector<std::string> argv_strings = {QV_TEST_QVTOOL};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &arg : argv_strings)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&bg.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        bg.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return bg;
}

TEST(QvtoolDownloadPty, InterruptKeepsTheDivesAlreadyWritten)
{
    TempDir dir;
    const std::vector<Bytes> dives = encoded(vyper::builtin_logbook());
    ASSERT_GE(dives.size(), 3u);
    const std::vector<Bytes> newest_first(dives.rbegin(), dives.rend());
    SimulatedVyper device(dives);
    ASSERT_TRUE(device.started());

    const std::string err_path = dir.file("stderr.txt");
    Background bg = start_background({"-d", "Suunto Vyper", "download", "-c", dir.path(), "-o", dir.file("cut.xml"),
                                      device.path()},
                                     err_path);
    ASSERT_GT(bg.pid, 0);

    // Interrupt once the first dive has been handed over; the device needs
    // seconds for each further dive.
    const std::string first = "Dive: number=1,";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool seen = false;
    while (!seen && std::chrono::steady_clock::now() < deadline) {
        seen = qvtest::read_file(err_path).value_or("").find("Parsing the dive data.\n") != std::string::npos;
        if (!seen)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(seen);
    kill(bg.pid, SIGINT);

    int status = 0;
    ASSERT_EQ(waitpid(bg.pid, &status, 0), bg.pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);

    std::string err = without_line_numbers(qvtest::read_file(err_path).value_or(""));
    EXPECT_NE(err.find(first), std::string::npos) << err;
    const std::string end =
        "ERROR: Error downloading the dives. [in examples/qvtool_download.cpp:N (download)]\nERROR: Cancelled\n";
    ASSERT_GE(err.size(), end.size()) << err;
    EXPECT_EQ(err.substr(err.size() - end.size()), end);

    // The dives written before the interruption stay, the file is finished,
    // and the cache is not written.
    auto xml = qvtest::read_file(dir.file("cut.xml"));
    ASSERT_TRUE(xml.has_value());
    size_t written = count_of(*xml, "<dive>\n");
    EXPECT_GE(written, 1u);
    EXPECT_LT(written, dives.size());
    EXPECT_EQ(without_fingerprints(*xml),
              parsed(dir, std::vector<Bytes>(newest_first.begin(), newest_first.begin() + written)));
    EXPECT_FALSE(qvtest::read_file(dir.file(cache_name)).has_value());
}

} // namespace
