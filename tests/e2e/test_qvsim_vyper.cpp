// End-to-end runs of the real qvtool download against the real qvsim
// serving the Suunto Vyper family on a pseudo-terminal: the XML output
// against the golden files (metric and imperial), raw files and their
// parse, the fingerprint cache, the dive limit, the fingerprint option,
// an interrupted download, injected device faults, other models of the
// family, a served memory image, and qvsim's own errors.
//
// The built-in logbook that qvsim serves is qvsim::vyper::builtin_logbook():
// four dives, the oldest first; the device delivers them newest first.
// Every download over the pseudo-terminal takes real time (the cable
// protocol waits about a second per exchange), so each case is a test of
// its own and ctest can run them side by side.
#include "process.h"

#include "sim/suunto_vyper.h"
#include "sim/suunto_vyper_dives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using qvtest::ProcessResult;
using qvtest::Stream;
using qvtest::TempDir;
using Bytes = std::vector<uint8_t>;
namespace vyper = qvsim::vyper;

// What qvsim puts into the information block by default.
constexpr unsigned int SERIAL = 12345678;
const char CACHE_FILE[] = "vyper-00BC614E.bin";

// ---------------------------------------------------------------------------
// Helpers

// qvsim running in the background, serving one device on its terminal.
class Qvsim {
public:
    ~Qvsim()
    {
        if (running_)
            stop();
    }

    // Starts qvsim with args and reads the terminal's path from its first
    // line of output.
    ::testing::AssertionResult start(const std::vector<std::string> &args)
    {
        if (!process_.start(QV_TEST_QVSIM, args))
            return ::testing::AssertionFailure() << "qvsim did not start: " << process_.error();
        running_ = true;
        std::optional<std::string> line = process_.read_line(Stream::out, 30s);
        if (!line || line->rfind("/dev/", 0) != 0)
            return ::testing::AssertionFailure()
                   << "qvsim printed no terminal path; stdout: " << process_.output(Stream::out)
                   << "\nstderr: " << process_.output(Stream::err);
        path_ = *line;
        return ::testing::AssertionSuccess();
    }

    const std::string &path() const { return path_; }

    // Stops qvsim with the signal and returns how it ended.
    ProcessResult stop(int sig = SIGTERM)
    {
        running_ = false;
        process_.signal(sig);
        return process_.wait(30s);
    }

private:
    qvtest::Process process_;
    std::string path_;
    bool running_ = false;
};

void expect_clean_stop(Qvsim &sim, int sig = SIGTERM)
{
    ProcessResult result = sim.stop(sig);
    EXPECT_FALSE(result.timed_out) << "qvsim did not stop on signal " << sig;
    EXPECT_EQ(result.term_signal, 0);
    EXPECT_EQ(result.exit_code, 0) << "qvsim stderr: " << result.err;
}

ProcessResult qvtool(const std::vector<std::string> &args)
{
    qvtest::ProcessOptions options;
    options.timeout = 180s;
    return qvtest::run_process(QV_TEST_QVTOOL, args, options);
}

// "qvtool -d <model> download <options...> <terminal>"
ProcessResult download(const std::string &model, const std::vector<std::string> &options, const std::string &port)
{
    std::vector<std::string> args = {"-d", model, "download"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(port);
    return qvtool(args);
}

void expect_exit(const ProcessResult &result, int code)
{
    EXPECT_EQ(result.error, "");
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.term_signal, 0);
    EXPECT_EQ(result.exit_code, code) << "stderr:\n" << result.err;
}

std::string golden(const std::string &name)
{
    std::optional<std::string> content = qvtest::read_file(std::string(QV_TEST_GOLDEN_DIR) + "/" + name);
    EXPECT_TRUE(content.has_value()) << "missing golden file " << name;
    return content.value_or("");
}

std::string file_text(const std::string &path)
{
    return qvtest::read_file(path).value_or("<missing file " + path + ">");
}

Bytes file_bytes(const std::string &path)
{
    std::string text = qvtest::read_file(path).value_or("");
    return Bytes(text.begin(), text.end());
}

bool write_bytes(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
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

size_t count_of(const std::string &text, const std::string &what)
{
    size_t count = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size()))
        ++count;
    return count;
}

// The report lines carry source line numbers; the tests compare the rest.
std::string without_line_numbers(const std::string &text)
{
    return std::regex_replace(text, std::regex(R"(\.cpp:[0-9]+ \()"), ".cpp:N (");
}

// The logbook's dive records, newest first (the order of a download).
std::vector<Bytes> records_newest_first()
{
    std::vector<Bytes> records;
    for (const vyper::Dive &dive : vyper::builtin_logbook())
        records.insert(records.begin(), vyper::encode(dive));
    return records;
}

// The download's fingerprint of a Vyper record: the five date bytes.
Bytes fingerprint_of(const Bytes &record)
{
    return Bytes(record.begin() + 9, record.begin() + 14);
}

// The <dive> elements of an XML file, each with its closing line.
std::vector<std::string> dives_of(const std::string &xml)
{
    std::vector<std::string> dives;
    for (size_t pos = xml.find("<dive>\n"); pos != std::string::npos; pos = xml.find("<dive>\n", pos)) {
        size_t end = xml.find("</dive>\n", pos);
        if (end == std::string::npos)
            break;
        end += 8;
        dives.push_back(xml.substr(pos, end - pos));
        pos = end;
    }
    return dives;
}

std::string device_of(const std::vector<std::string> &dives)
{
    std::string xml = "<device>\n";
    for (const auto &dive : dives)
        xml += dive;
    return xml + "</device>\n";
}

std::string without_fingerprints(const std::string &xml)
{
    return std::regex_replace(xml, std::regex("<fingerprint>[0-9A-F]*</fingerprint>\n"), "");
}

// The file is one <device> element whose elements all nest and close.
::testing::AssertionResult well_formed(const std::string &xml)
{
    if (xml.rfind("<device>\n", 0) != 0)
        return ::testing::AssertionFailure() << "does not start with <device>:\n" << xml.substr(0, 200);
    std::vector<std::string> open;
    const std::regex tag(R"(<(/?)([a-z0-9]+)[^>]*>)");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), tag); it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[2];
        if ((*it)[1].length() == 0) {
            if (open.empty() && !(name == "device" && it->position() == 0))
                return ::testing::AssertionFailure() << "<" << name << "> after the end of <device>";
            open.push_back(name);
        } else if (open.empty() || open.back() != name) {
            return ::testing::AssertionFailure()
                   << "</" << name << "> closes <" << (open.empty() ? "" : open.back()) << "> at "
                   << it->position();
        } else {
            open.pop_back();
        }
    }
    if (!open.empty())
        return ::testing::AssertionFailure() << "<" << open.back() << "> is never closed";
    if (xml.size() < 10 || xml.compare(xml.size() - 10, 10, "</device>\n") != 0)
        return ::testing::AssertionFailure() << "does not end with </device>";
    return ::testing::AssertionSuccess();
}

std::vector<std::string> files_in(const std::string &directory)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// ---------------------------------------------------------------------------
// The golden files

TEST(QvsimVyper, GoldenFilesHoldTheLogbook)
{
    // The golden files were checked by hand against the logbook; this keeps
    // them consistent with it: four dives, newest first, with the sizes and
    // fingerprints of the encoded records, in both unit systems.
    const std::vector<Bytes> records = records_newest_first();
    for (const char *name : {"vyper_metric.xml", "vyper_imperial.xml"}) {
        SCOPED_TRACE(name);
        const std::string xml = golden(name);
        EXPECT_TRUE(well_formed(xml));
        const std::vector<std::string> dives = dives_of(xml);
        ASSERT_EQ(dives.size(), records.size());
        for (size_t i = 0; i < dives.size(); ++i) {
            const std::string head = "<dive>\n<number>" + std::to_string(i + 1) + "</number>\n<size>" +
                                     std::to_string(records[i].size()) + "</size>\n<fingerprint>" +
                                     hex(fingerprint_of(records[i])) + "</fingerprint>\n";
            EXPECT_EQ(dives[i].substr(0, head.size()), head);
        }
    }
}

// ---------------------------------------------------------------------------
// Downloads

TEST(QvsimVyper, MetricDownloadMatchesTheGoldenFileAndFillsTheCache)
{
    TempDir dir;
    Qvsim sim;
    ASSERT_TRUE(sim.start({"-d", "Suunto Vyper"}));

    const std::string xml = dir.file("dives.xml");
    ProcessResult result = download("Suunto Vyper", {"-c", dir.path(), "-o", xml}, sim.path());
    expect_exit(result, 0);
    EXPECT_EQ(file_text(xml), golden("vyper_metric.xml"));
    EXPECT_NE(result.err.find("Event: model=10 (0x0000000a), firmware=31 (0x0000001f), serial=12345678 "
                              "(0x00bc614e)\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(count_of(result.err, "Dive: number="), 4u);

    // The cache: the newest dive's fingerprint, under the family name and
    // the simulated serial.
    const std::vector<Bytes> records = records_newest_first();
    EXPECT_EQ(files_in(dir.path()), (std::vector<std::string>{"dives.xml", CACHE_FILE}));
    EXPECT_EQ(file_bytes(dir.file(CACHE_FILE)), fingerprint_of(records[0]));
    static_assert(SERIAL == 0x00BC614E);

    // A second download with the cache stops at the newest dive: nothing new.
    const std::string again = dir.file("again.xml");
    result = download("Suunto Vyper", {"-c", dir.path(), "-o", again}, sim.path());
    expect_exit(result, 0);
    EXPECT_EQ(file_text(again), "<device>\n</device>\n");
    EXPECT_EQ(count_of(result.err, "Dive: number="), 0u) << result.err;
    EXPECT_EQ(file_bytes(dir.file(CACHE_FILE)), fingerprint_of(records[0]));

    expect_clean_stop(sim, SIGINT);
}

TEST(QvsimVyper, ImperialDownloadMatchesTheGoldenFile)
{
    TempDir dir;
    Qvsim sim;
    ASSERT_TRUE(sim.start({"-d", "Suunto Vyper"}));

    const std::string xml = dir.file("dives.xml");
    ProcessResult result = download("Suunto Vyper", {"-u", "imperial", "-o", xml}, sim.path());
    expect_exit(result, 0);
    EXPECT_EQ(file_text(xml), golden("vyper_imperial.xml"));
    // Without -c no cache file appears.
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"dives.xml"});

    expect_clean_stop(sim);
}

TEST(QvsimVyper, RawFilesHoldTheDiveBytesAndParseLikeTheDownload)
{
    TempDir dir;
    std::filesystem::create_directory(dir.file("raw"));
    Qvsim sim;
    ASSERT_TRUE(sim.start({"-d", "Suunto Vyper"}));

    ProcessResult result =
        download("Suunto Vyper", {"-f", "raw", "-o", dir.file("raw/dive-%n-%f.bin")}, sim.path());
    expect_exit(result, 0);
    expect_clean_stop(sim);

    // One file per dive, named by number and fingerprint, holding exactly
    // the dive's record.
    const std::vector<Bytes> records = records_newest_first();
    std::vector<std::string> expected_names;
    for (size_t i = 0; i < records.size(); ++i)
        expected_names.push_back("dive-000" + std::to_string(i + 1) + "-" + hex(fingerprint_of(records[i])) + ".bin");
    ASSERT_EQ(files_in(dir.file("raw")), expected_names);
    std::vector<std::string> args = {"-d", "Suunto Vyper", "parse", "-o", dir.file("parsed.xml")};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(file_bytes(dir.file("raw/" + expected_names[i])), records[i]) << expected_names[i];
        args.push_back(dir.file("raw/" + expected_names[i]));
    }

    // Parsed again, the files give the download's dives (a parse has no
    // fingerprints).
    result = qvtool(args);
    expect_exit(result, 0);
    EXPECT_EQ(file_text(dir.file("parsed.xml")), without_fingerprints(golden("vyper_metric.xml")));
}

TEST(QvsimVyper, LimitOfTwoStopsAfterTheSecondDiveAndCachesTheNewest)
{
    TempDir dir;
    Qvsim sim;
    ASSERT_TRUE(sim.start({"-d", "Suunto Vyper"}));

    const std::string xml = dir.file("dives.xml");
    ProcessResult result = download("Suunto Vyper", {"-l", "2", "-c", dir.path(), "-o", xml}, sim.path());
    expect_exit(result, 0);
    expect_clean_stop(sim);

    const std::vector<std::string> all = dives_of(golden("vyper_metric.xml"));
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(file_text(xml), device_of({all[0], all[1]}));
    EXPECT_EQ(count_of(result.err, "Dive: number="), 2u);
    EXPECT_EQ(file_bytes(dir.file(CACHE_FILE)), fingerprint_of(records_newest_first()[0]));
}

TEST(QvsimVyper, FingerprintOptionStopsAtThatDiveAndOverridesTheCache)
{
    TempDir dir;
    const std::vector<Bytes> records = records_newest_first();
    // A cache that, were it read, would stop the download after one dive.
    ASSERT_TRUE(write_bytes(dir.file(CACHE_FILE), fingerprint_of(records[1])));

    Qvsim sim;
    ASSERT_TRUE(sim.start({"-d", "Suunto Vyper"}));
    const std::string xml = dir.file("dives.xml");
    ProcessResult result = download(
        "Suunto Vyper", {"-p", hex(fingerprint_of(records[2])), "-c", dir.path(), "-o", xml}, sim.path());
    expect_exit(result, 0);
    expect_clean_stop(sim);

    // The third dive is known already: the two newer ones come.
    EXPECT_NE(result.err.find("Registering the fingerprint data.\n"), std::string::npos);
    const std::vector<std::string> all = dives_of(golden("vyper_metric.xml"));
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(file_text(xml), device_of({all[0], all[1]}));
    // The cache was not read, but written after the download.
    EXPECT_EQ(file_bytes(dir.file(CACHE_FILE)), fingerprint_of(records[0]));
}

TEST(QvsimVyper, InterruptCancelsTheDownload)
{
    TempDir dir;
    // A fingerprint that matches no dive: the whole logbook would come.
    const Bytes stored = {0x01, 0x01, 0x01, 0x00, 0x00};
    ASSERT_TRUE(write_bytes(dir.file(CACHE_FILE), stored));

    Qvsim sim;
    ASSERT_TRUE(sim.start({"-d", "Suunto Vyper"}));

    const std::string xml = dir.file("dives.xml");
    qvtest::Process tool;
    ASSERT_TRUE(tool.start(QV_TEST_QVTOOL,
                           {"-d", "Suunto Vyper", "download", "-c", dir.path(), "-o", xml, sim.path()}))
        << tool.error();
    ASSERT_TRUE(tool.wait_for(Stream::err, "Dive: number=1,", 120s)) << tool.output(Stream::err);
    ASSERT_TRUE(tool.signal(SIGINT));
    ProcessResult result = tool.wait(120s);
    expect_exit(result, 1);
    expect_clean_stop(sim);

    const std::string err = without_line_numbers(result.err);
    EXPECT_NE(err.find("ERROR: Error downloading the dives. [in examples/qvtool_download.cpp:N (download)]\n"
                       "ERROR: Cancelled\n"),
              std::string::npos)
        << result.err;

    // The dives written so far stay; the file is finished.
    const std::string text = file_text(xml);
    EXPECT_TRUE(well_formed(text)) << text;
    const std::vector<std::string> written = dives_of(text);
    const std::vector<std::string> all = dives_of(golden("vyper_metric.xml"));
    ASSERT_GE(written.size(), 1u);
    ASSERT_LT(written.size(), all.size());
    for (size_t i = 0; i < written.size(); ++i)
        EXPECT_EQ(written[i], all[i]);
    // A cancelled download leaves the cache alone.
    EXPECT_EQ(file_bytes(dir.file(CACHE_FILE)), stored);
}

TEST(QvsimVyper, DemoScriptDownloadsTheLogbookAndSummarisesIt)
{
    // scripts/demo.sh BUILD_DIR runs the build's qvsim and qvtool.
    const std::filesystem::path qvsim_path(QV_TEST_QVSIM);
    const std::filesystem::path build = qvsim_path.parent_path().parent_path();
    ASSERT_EQ(std::filesystem::path(QV_TEST_QVTOOL), build / "examples" / "qvtool");

    TempDir dir;
    qvtest::ProcessOptions options;
    options.working_directory = dir.path();
    options.timeout = 180s;
    ProcessResult result =
        qvtest::run_process("/bin/sh", {std::string(QV_TEST_SOURCE_DIR) + "/scripts/demo.sh", build.string()}, options);
    expect_exit(result, 0);

    EXPECT_EQ(file_text(dir.file("dives.xml")), golden("vyper_metric.xml"));
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"dives.xml"});
    for (const char *line : {"Device: model 10, serial 12345678\n", "Downloaded 4 dive(s) into dives.xml",
                             "   1  2024-02-03 14:30:00  27:00 min  max depth 12.19 m\n",
                             "   2  2023-06-12 08:17:00  29:00 min  max depth 39.93 m\n",
                             "   3  2023-06-10 10:05:00  35:40 min  max depth 30.48 m\n",
                             "   4  1998-08-14 09:42:00  18:20 min  max depth 18.59 m\n"})
        EXPECT_NE(result.out.find(line), std::string::npos) << line << "\nin:\n" << result.out;
}

// ---------------------------------------------------------------------------
// Injected faults

struct FaultCase {
    const char *name;
    const char *fault;       // qvsim --fault
    size_t dives;            // dives written before the fault
    const char *error;       // the library's report, line number replaced by N
    const char *status_text; // the tool's last line
};

// Test names show the case, not its bytes.
void PrintTo(const FaultCase &c, std::ostream *os)
{
    *os << c.name;
}

class QvsimVyperFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(QvsimVyperFault, EndsTheDownloadWithTheReportsAndAFinishedFile)
{
    const FaultCase &c = GetParam();
    TempDir dir;
    Qvsim sim;
    ASSERT_TRUE(sim.start({"-d", "Suunto Vyper", "--fault", c.fault}));

    const std::string xml = dir.file("dives.xml");
    ProcessResult result = download("Suunto Vyper", {"-c", dir.path(), "-o", xml}, sim.path());
    expect_exit(result, 1);
    expect_clean_stop(sim);

    const std::string expected = std::string(c.error) + "\n" +
                                 "ERROR: Error downloading the dives. [in examples/qvtool_download.cpp:N (download)]\n" +
                                 "ERROR: " + c.status_text + "\n";
    const std::string err = without_line_numbers(result.err);
    ASSERT_GE(err.size(), expected.size()) << result.err;
    EXPECT_EQ(err.substr(err.size() - expected.size()), expected) << result.err;

    const std::string text = file_text(xml);
    EXPECT_TRUE(well_formed(text)) << text;
    const std::vector<std::string> all = dives_of(golden("vyper_metric.xml"));
    EXPECT_EQ(text, device_of(std::vector<std::string>(all.begin(), all.begin() + static_cast<long>(c.dives))));
    // A failed download writes no cache.
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"dives.xml"});
}

INSTANTIATE_TEST_SUITE_P(
    Faults, QvsimVyperFault,
    ::testing::Values(
        FaultCase{"ChecksumOfTheSecondDive", "checksum:dive=2", 1,
                  "ERROR: Unexpected answer checksum. [in src/suunto_vyper.cpp:N (suunto_vyper_read_dive)]",
                  "Protocol error"},
        FaultCase{"SilenceInsteadOfTheNewestDive", "silence:dive=1", 0,
                  "ERROR: Failed to receive the answer. [in src/suunto_vyper.cpp:N (suunto_vyper_read_dive)]",
                  "Timeout"},
        FaultCase{"OverlongPacket", "overlong", 0,
                  "ERROR: Unexpected answer start byte(s). [in src/suunto_vyper.cpp:N (suunto_vyper_read_dive)]",
                  "Protocol error"},
        FaultCase{"ChecksumOfTheIdentification", "checksum:read=1", 0,
                  "ERROR: Unexpected answer checksum. [in src/suunto_vyper.cpp:N (suunto_vyper_transfer)]",
                  "Protocol error"},
        FaultCase{"WrongStartOfTheThirdDive", "wrong-start:dive=3", 2,
                  "ERROR: Unexpected answer start byte(s). [in src/suunto_vyper.cpp:N (suunto_vyper_read_dive)]",
                  "Protocol error"},
        FaultCase{"ByteDroppedFromASecondPacket", "dropped-byte:dive=2,packet=2", 1,
                  "ERROR: Unexpected answer checksum. [in src/suunto_vyper.cpp:N (suunto_vyper_read_dive)]",
                  "Protocol error"},
        // More bytes than the whole profile ring holds.
        FaultCase{"RunawayPastTheRing", "runaway:dive=1,bytes=8200", 0,
                  "ERROR: Unexpected number of bytes received. [in src/suunto_vyper.cpp:N "
                  "(suunto_vyper_device_foreach)]",
                  "Data format error"}),
    [](const ::testing::TestParamInfo<FaultCase> &param_info) { return std::string(param_info.param.name); });

// ---------------------------------------------------------------------------
// Other models and memory images

struct ModelCase {
    const char *name;
    std::vector<std::string> qvsim_args;
    const char *model; // qvtool -d
    const char *devinfo;
    const char *first_dive;
};

// Test names show the case, not its bytes.
void PrintTo(const ModelCase &c, std::ostream *os)
{
    *os << c.name;
}

class QvsimVyperModel : public ::testing::TestWithParam<ModelCase> {};

TEST_P(QvsimVyperModel, IdentifiesAndDeliversTheNewestDive)
{
    const ModelCase &c = GetParam();
    TempDir dir;
    Qvsim sim;
    ASSERT_TRUE(sim.start(c.qvsim_args));

    ProcessResult result = download(c.model, {"-l", "1", "-o", dir.file("dives.xml")}, sim.path());
    expect_exit(result, 0);
    expect_clean_stop(sim);
    EXPECT_NE(result.err.find(c.devinfo), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(c.first_dive), std::string::npos) << result.err;
    EXPECT_EQ(count_of(result.err, "Dive: number="), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Models, QvsimVyperModel,
    ::testing::Values(
        // The Spyder layout: the newest logbook dive as a Spyder record, 11
        // header bytes, the 27 profile bytes without the two bookmarks the
        // Spyder cannot log, the end marker and 2 trailer bytes.
        ModelCase{"SpyderByProductNameInAnyCase",
                  {"-d", "sPyDeR"},
                  "Suunto Spyder",
                  "Event: model=1 (0x00000001), firmware=31 (0x0000001f), serial=12345678 (0x00bc614e)\n",
                  "Dive: number=1, size=41, fingerprint=1802030E1E\n"},
        ModelCase{"CobraCodeGivenWithModel",
                  {"--device", "suunto vyper", "--model", "0x0C"},
                  "Suunto Cobra",
                  "Event: model=12 (0x0000000c), firmware=31 (0x0000001f), serial=12345678 (0x00bc614e)\n",
                  "Dive: number=1, size=48, fingerprint=1802030E1E\n"},
        ModelCase{"ZoopRow",
                  {"-d", "Suunto Zoop"},
                  "Suunto Zoop",
                  "Event: model=22 (0x00000016), firmware=31 (0x0000001f), serial=12345678 (0x00bc614e)\n",
                  "Dive: number=1, size=48, fingerprint=1802030E1E\n"}),
    [](const ::testing::TestParamInfo<ModelCase> &param_info) { return std::string(param_info.param.name); });

TEST(QvsimVyper, ServesAMemoryImage)
{
    // Two logbook dives in a Cobra's memory with another serial, the older
    // one wrapping around the end of the profile ring.
    const std::vector<vyper::Dive> logbook = vyper::builtin_logbook();
    const Bytes older = vyper::encode(logbook[0]);
    const Bytes newer = vyper::encode(logbook[1]);
    qvsim::SuuntoVyper::Identity identity;
    identity.model = 0x0C;
    identity.firmware = 0x21;
    identity.serial = 87654321;
    const Bytes image = qvsim::SuuntoVyper::build_image(identity, {older, newer}, 0x2000 - 40);

    TempDir dir;
    ASSERT_TRUE(write_bytes(dir.file("cobra.bin"), image));
    Qvsim sim;
    ASSERT_TRUE(sim.start({"-d", "Suunto Cobra", "--image", dir.file("cobra.bin")}));

    std::filesystem::create_directory(dir.file("raw"));
    ProcessResult result = download("Suunto Cobra", {"-c", dir.path(), "-f", "RAW", "-o", dir.file("raw/%n.bin")},
                                    sim.path());
    expect_exit(result, 0);
    expect_clean_stop(sim);

    EXPECT_NE(result.err.find("Event: model=12 (0x0000000c), firmware=33 (0x00000021), serial=87654321 "
                              "(0x05397fb1)\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(files_in(dir.file("raw")), (std::vector<std::string>{"0001.bin", "0002.bin"}));
    EXPECT_EQ(file_bytes(dir.file("raw/0001.bin")), newer);
    EXPECT_EQ(file_bytes(dir.file("raw/0002.bin")), older);
    EXPECT_EQ(file_bytes(dir.file("vyper-05397FB1.bin")), fingerprint_of(newer));
}

// ---------------------------------------------------------------------------
// qvsim's own errors

struct UsageCase {
    const char *name;
    std::vector<std::string> args;
    const char *message; // a part of the one line on standard error
};

// Test names show the case, not its bytes.
void PrintTo(const UsageCase &c, std::ostream *os)
{
    *os << c.name;
}

class QvsimUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(QvsimUsage, FailsWithOneClearLine)
{
    const UsageCase &c = GetParam();
    TempDir dir;
    ASSERT_TRUE(write_bytes(dir.file("short.bin"), Bytes(100, 0x00)));
    ASSERT_TRUE(write_bytes(dir.file("image.bin"), Bytes(qvsim::SuuntoVyper::MEMORY_SIZE, 0x00)));

    std::vector<std::string> args;
    for (const std::string &arg : c.args)
        args.push_back(std::regex_replace(arg, std::regex("DIR"), dir.path()));
    qvtest::ProcessOptions options;
    options.timeout = 30s;
    ProcessResult result = qvtest::run_process(QV_TEST_QVSIM, args, options);
    EXPECT_EQ(result.error, "");
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, ""); // no terminal was opened
    EXPECT_EQ(result.err.rfind("qvsim: ", 0), 0u) << result.err;
    EXPECT_EQ(count_of(result.err, "\n"), 1u) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, QvsimUsage,
    ::testing::Values(
        UsageCase{"NoDevice", {}, "no model given"},
        UsageCase{"UnknownOption", {"-d", "Suunto Vyper", "--speed", "9600"}, "unknown option --speed"},
        UsageCase{"UnknownShortOption", {"-x", "-d", "Suunto Vyper"}, "unknown option -x"},
        UsageCase{"MissingArgument", {"-d"}, "option -d needs an argument"},
        UsageCase{"ExtraArgument", {"-d", "Suunto Vyper", "/dev/ttyS0"}, "unexpected argument \"/dev/ttyS0\""},
        UsageCase{"UnknownModel", {"-d", "Suunto Nautilus 9"}, "unknown dive computer \"Suunto Nautilus 9\""},
        UsageCase{"NotSimulatedYet", {"-d", "Suunto D9"}, "the Suunto D9 is not simulated yet"},
        UsageCase{"MissingImage", {"-d", "Suunto Vyper", "--image", "DIR/none.bin"}, "cannot open the image file"},
        UsageCase{"ImageOfTheWrongSize",
                  {"-d", "Suunto Vyper", "-i", "DIR/short.bin"},
                  "holds 100 bytes; a Suunto Vyper memory image holds 8192"},
        UsageCase{"ModelWithImage",
                  {"-d", "Suunto Vyper", "-i", "DIR/image.bin", "-m", "12"},
                  "--model cannot be combined with --image"},
        UsageCase{"BadModelCode", {"-d", "Suunto Vyper", "-m", "300"}, "invalid model code \"300\""},
        UsageCase{"ModelCodeReadAsSpyderInterval", {"-d", "Suunto Vyper", "-m", "30"}, "Spyder"},
        UsageCase{"UnknownFault", {"-d", "Suunto Vyper", "-f", "garbage"}, "unknown kind \"garbage\""},
        UsageCase{"FaultPlaceUnknown", {"-d", "Suunto Vyper", "-f", "checksum:tank=2"}, "unknown place"},
        UsageCase{"FaultDiveZero", {"-d", "Suunto Vyper", "-f", "silence:dive=0"}, "needs a number"},
        UsageCase{"FaultDiveAndRead", {"-d", "Suunto Vyper", "-f", "silence:dive=1,read=1"}, "exclude each other"},
        UsageCase{"RunawayOnARead", {"-d", "Suunto Vyper", "-f", "runaway:read=2"}, "dives only"}),
    [](const ::testing::TestParamInfo<UsageCase> &param_info) { return std::string(param_info.param.name); });

TEST(QvsimUsage, HelpDescribesTheOptionsAndFaults)
{
    ProcessResult result = qvtest::run_process(QV_TEST_QVSIM, {"--help"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    for (const char *text : {"qvsim -d \"<Vendor Product>\"", "--image FILE", "--fault SPEC", "--model N", "checksum",
                             "silence", "overlong", "dropped-byte", "wrong-start", "runaway", "dive=N", "read=N",
                             "packet=N"})
        EXPECT_NE(result.out.find(text), std::string::npos) << text;
}

} // namespace
