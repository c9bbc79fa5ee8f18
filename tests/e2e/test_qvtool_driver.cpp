// End-to-end tests of the qvtool driver: global options, command choice,
// help, version and list output, error messages and exit codes, log file.
#include "process.h"

#include <libquivelmarine/version.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using qvtest::ProcessOptions;
using qvtest::ProcessResult;
using qvtest::TempDir;

const std::vector<std::string> device_commands = {"download", "dump",     "parse",   "read",
                                                  "write",    "timesync", "fwupdate"};
const std::vector<std::string> all_commands = {"help", "version", "list",  "scan",
                                               "download", "dump", "parse", "read",
                                               "write", "timesync", "fwupdate"};

ProcessResult qvtool(const std::vector<std::string> &args, const ProcessOptions &options = {})
{
    return qvtest::run_process(QV_TEST_QVTOOL, args, options);
}

std::string golden(const std::string &name)
{
    auto content = qvtest::read_file(std::string(QV_TEST_GOLDEN_DIR) + "/" + name);
    EXPECT_TRUE(content.has_value()) << "missing golden file " << name;
    return content.value_or("");
}

std::string join(const std::vector<std::string> &args)
{
    std::string text;
    for (const auto &arg : args)
        text += (text.empty() ? "" : " ") + (arg.size() > 40 ? arg.substr(0, 40) + "..." : arg);
    return "qvtool " + text;
}

// The run ended by itself, with the expected exit code.
void expect_exit(const ProcessResult &result, int code, const std::string &what)
{
    EXPECT_EQ(result.error, "") << what;
    EXPECT_FALSE(result.timed_out) << what;
    EXPECT_EQ(result.term_signal, 0) << what;
    EXPECT_EQ(result.exit_code, code) << what << "\nstderr: " << result.err.substr(0, 500);
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line))
        lines.push_back(line);
    return lines;
}

TEST(QvtoolHelp, GeneralHelpAndCommandHelp)
{
    struct Case {
        std::vector<std::string> args;
        std::string golden;
    };
    std::vector<Case> cases = {
        {{}, "help.txt"},
        {{"help"}, "help.txt"},
        {{"-h"}, "help.txt"},
        {{"--help"}, "help.txt"},
        {{"-q", "-v", "help"}, "help.txt"},
        {{"--", "help"}, "help.txt"},
        {{"help", "download"}, "help_download.txt"},
        {{"-h", "download"}, "help_download.txt"},
        {{"--help", "download", "--transport"}, "help_download.txt"},
        {{"-h", "help"}, "help_help.txt"},
        {{"help", "-h"}, "help_help.txt"},
        {{"help", "--help", "download"}, "help_help.txt"},
    };
    for (const auto &command : all_commands) {
        std::string file = "help_" + command + ".txt";
        cases.push_back({{"help", command}, file});
        cases.push_back({{"-h", command}, file});
        bool needs_device = command != "help" && command != "version" && command != "list" &&
                            command != "scan";
        if (needs_device) {
            cases.push_back({{"-f", "vyper", command, "-h"}, file});
            cases.push_back({{"-d", "Suunto Vyper", command, "--help"}, file});
        } else {
            cases.push_back({{command, "-h"}, file});
            cases.push_back({{command, "--help"}, file});
        }
    }

    for (const auto &c : cases) {
        ProcessResult result = qvtool(c.args);
        expect_exit(result, 0, join(c.args));
        EXPECT_EQ(result.out, golden(c.golden)) << join(c.args);
        EXPECT_EQ(result.err, "") << join(c.args);
    }
}

TEST(QvtoolVersion, PrintsTheLibraryVersion)
{
    ProcessResult result = qvtool({"version"});
    expect_exit(result, 0, "version");
    const std::string head = "libquivelmarine version 0.10.0-devel (";
    ASSERT_GT(result.out.size(), head.size() + 2);
    EXPECT_EQ(result.out.substr(0, head.size()), head);
    EXPECT_EQ(result.out.substr(result.out.size() - 2), ")\n");
    EXPECT_EQ(result.out.find('\n'), result.out.size() - 1);
    EXPECT_EQ(result.out, std::string("libquivelmarine version ") + qv_version(nullptr) + "\n");
    EXPECT_EQ(result.err, "");
}

TEST(QvtoolList, ListsEveryModelInTableOrder)
{
    ProcessResult result = qvtool({"list"});
    expect_exit(result, 0, "list");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(lines_of(result.out).size(), 358u);
    EXPECT_EQ(result.out, golden("list.txt"));
}

TEST(QvtoolErrors, ExitCodesAndMessages)
{
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        const char *err; // exact standard error; nullptr: the option parser's own wording
    };
    const Case cases[] = {
        // Unknown commands, also through help.
        {{"nope"}, 1, "Unknown command nope.\n"},
        {{"-v", "Help"}, 1, "Unknown command Help.\n"},
        {{"help", "nope"}, 1, "Unknown command nope.\n"},
        {{"-h", "nope"}, 1, "Unknown command nope.\n"},
        // Option parser failures.
        {{"-x"}, 1, nullptr},
        {{"--bogus", "list"}, 1, nullptr},
        {{"-d"}, 1, nullptr},
        {{"--device"}, 1, nullptr},
        {{"-f"}, 1, nullptr},
        {{"-m"}, 1, nullptr},
        {{"-l"}, 1, nullptr},
        {{"help", "-x"}, 1, nullptr},
        {{"version", "--bogus"}, 1, nullptr},
        {{"list", "-q"}, 1, nullptr},
        // A device command needs a device name or a known family.
        {{"download"}, 1, "No device name or family type specified.\n"},
        {{"-m", "10", "dump"}, 1, "No device name or family type specified.\n"},
        {{"-f", "nope", "download"}, 1, "No device name or family type specified.\n"},
        {{"-f", "Vyper", "read"}, 1, "No device name or family type specified.\n"},
        {{"--family=nope", "timesync"}, 1, "No device name or family type specified.\n"},
        // A device name is searched whatever the command.
        {{"-d", "nope", "download"}, 1, "No supported device found: nope\n"},
        {{"-d", "nope", "list"}, 1, "No supported device found: nope\n"},
        {{"--device", "Suunto  Vyper", "version"}, 1, "No supported device found: Suunto  Vyper\n"},
        {{"-d", "Suunto", "list"}, 1, "No supported device found: Suunto\n"},
        {{"-d", "iX3M GPS Pro", "list"}, 1, "No supported device found: iX3M GPS Pro\n"},
        // Found descriptors let the command run.
        {{"-d", "shearwater petrel", "list"}, 0, ""},
        {{"-d", "PETREL 2", "list"}, 0, ""},
        {{"-d", "Ratio iX3M GPS Pro ", "list"}, 0, ""},
        {{"-f", "vyper", "-m", "99", "list"}, 0, ""},
        {{"-f", "vyper", "-m", "0x0C", "list"}, 0, ""},
        {{"--family", "symbios", "--model=0", "list"}, 0, ""},
        {{"-f", "nope", "list"}, 0, ""},
    };
    for (const auto &c : cases) {
        ProcessResult result = qvtool(c.args);
        expect_exit(result, c.exit_code, join(c.args));
        if (c.err != nullptr) {
            EXPECT_EQ(result.err, c.err) << join(c.args);
        } else {
            EXPECT_NE(result.err, "") << join(c.args);
        }
        if (c.exit_code != 0) {
            EXPECT_EQ(result.out, "") << join(c.args);
        }
    }
}

// Every command parses its own options: an unknown option or a missing
// option argument ends it with exit code 1 before anything else happens.
TEST(QvtoolDeviceCommands, RejectInvalidOptions)
{
    std::vector<std::vector<std::string>> runs = {{"scan", "--bogus"}, {"scan", "-t"}, {"scan", "-x"}};
    for (const auto &command : device_commands) {
        runs.push_back({"-f", "vyper", command, "--bogus", "COM1"});
        runs.push_back({"-d", "Suunto Vyper", command, "-Z"});
    }
    // The options that take an argument, given without one.
    runs.push_back({"-f", "vyper", "dump", "-o"});
    runs.push_back({"-f", "vyper", "dump", "--fingerprint"});
    runs.push_back({"-f", "vyper", "read", "-a"});
    runs.push_back({"-f", "vyper", "read", "-a", "0", "--count"});
    runs.push_back({"-f", "vyper", "write", "-a", "0", "-i"});
    runs.push_back({"-f", "vyper", "timesync", "--transport"});
    runs.push_back({"-f", "vyper", "fwupdate", "-f"});
    for (const auto &args : runs) {
        ProcessResult result = qvtool(args);
        expect_exit(result, 1, join(args));
        EXPECT_EQ(result.out, "") << join(args);
        EXPECT_NE(result.err, "") << join(args);
        EXPECT_EQ(result.err.find("Opening"), std::string::npos) << join(args);
    }
}

TEST(QvtoolLogFile, UnknownCommandIsReportedBeforeTheLogFileIsOpened)
{
    TempDir dir;
    ProcessResult result = qvtool({"-l", dir.file("qvtool.log"), "nope"});
    expect_exit(result, 1, "unknown command with -l");
    EXPECT_EQ(result.err, "Unknown command nope.\n");
    EXPECT_FALSE(qvtest::read_file(dir.file("qvtool.log")).has_value());
}

TEST(QvtoolLogFile, HeaderAndTimeStampedLines)
{
    TempDir dir;
    const std::string path = dir.file("qvtool.log");
    ASSERT_TRUE(static_cast<bool>(std::ofstream(path) << "old content that must go\n"));

    ProcessResult result = qvtool({"-l", path, "-d", "nope", "list"});
    expect_exit(result, 1, "-l with a failing search");

    auto log = qvtest::read_file(path);
    ASSERT_TRUE(log.has_value());
    std::vector<std::string> lines = lines_of(*log);
    ASSERT_EQ(lines.size(), 3u) << *log;
    EXPECT_EQ(log->back(), '\n');

    // Every line starts with "[seconds.microseconds] "; the text after it is
    // what went to standard error.
    const std::regex stamped(R"(^\[([0-9]+)\.([0-9]{6})\] (.*)$)");
    std::string without_stamps;
    double previous = 0.0;
    for (const auto &line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, stamped)) << line;
        double stamp = std::stod(m[1].str() + "." + m[2].str());
        EXPECT_GE(stamp, previous);
        previous = stamp;
        without_stamps += m[3].str() + "\n";
    }
    EXPECT_EQ(result.err, without_stamps);

    const std::regex datetime(
        R"(^\[[0-9.]+\] DATETIME ([0-9]+-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2})Z \(([0-9]+)\)$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, datetime)) << lines[0];
    // The calendar time and the seconds since 1970 are the same instant.
    std::time_t seconds = static_cast<std::time_t>(std::stoll(m[2].str()));
    struct tm utc = {};
    ASSERT_NE(gmtime_r(&seconds, &utc), nullptr);
    char expected[32];
    std::strftime(expected, sizeof(expected), "%Y-%m-%dT%H:%M:%S", &utc);
    EXPECT_EQ(m[1].str(), expected);
    EXPECT_LE(std::llabs(static_cast<long long>(seconds - std::time(nullptr))), 3600);

    EXPECT_EQ(lines[1].substr(lines[1].find("] ") + 2),
              std::string("VERSION ") + qv_version(nullptr));
    EXPECT_EQ(lines[2].substr(lines[2].find("] ") + 2), "No supported device found: nope");
}

TEST(QvtoolLogFile, OutputOfTheCommandsStaysOnStandardOutput)
{
    TempDir dir;
    const std::string path = dir.file("qvtool.log");
    ProcessResult result = qvtool({"--logfile", path, "help"});
    expect_exit(result, 0, "help with a log file");
    EXPECT_EQ(result.out, golden("help.txt"));

    auto log = qvtest::read_file(path);
    ASSERT_TRUE(log.has_value());
    std::vector<std::string> lines = lines_of(*log);
    ASSERT_EQ(lines.size(), 2u) << *log;
    EXPECT_NE(lines[0].find("] DATETIME "), std::string::npos);
    EXPECT_NE(lines[1].find("] VERSION "), std::string::npos);
}

TEST(QvtoolLogFile, UnwritableLogFileIsIgnored)
{
    TempDir dir;
    for (const std::string &path : {dir.file("missing/qvtool.log"), std::string()}) {
        ProcessResult result = qvtool({"-l", path, "version"});
        expect_exit(result, 0, "log file " + path);
        EXPECT_EQ(result.out, std::string("libquivelmarine version ") + qv_version(nullptr) + "\n");
        EXPECT_EQ(result.err, "");
    }
}

TEST(QvtoolRobustness, LongAndOddCommandLines)
{
    const std::string huge(100000, 'x');
    const std::string huge_digits(100000, '9');

    std::vector<std::string> many_verbose(10000, "-v");
    many_verbose.push_back("version");
    std::vector<std::string> many_args = {"list"};
    many_args.insert(many_args.end(), 10000, "extra");
    std::vector<std::string> many_unknown(10000, "nope");

    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string err;
    };
    const Case cases[] = {
        {many_verbose, 0, ""},
        {many_args, 0, ""},
        {many_unknown, 1, "Unknown command nope.\n"},
        {{huge}, 1, "Unknown command " + huge + ".\n"},
        {{"help", huge}, 1, "Unknown command " + huge + ".\n"},
        {{"-d", huge, "list"}, 1, "No supported device found: " + huge + "\n"},
        {{"-f", huge, "download"}, 1, "No device name or family type specified.\n"},
        {{"-f", "vyper", "-m", huge_digits, "list"}, 0, ""},
        {{"-m", huge, "-f", "vyper", "list"}, 0, ""},
        {{"-l", "/" + huge, "list"}, 0, ""},
        {{""}, 1, "Unknown command .\n"},
        {{"help", ""}, 1, "Unknown command .\n"},
        {{"-d", "", "list"}, 1, "No supported device found: \n"},
        {{"-f", "", "download"}, 1, "No device name or family type specified.\n"},
        {{"-m", "", "-f", "vyper", "list"}, 0, ""},
        {{"-m", "-1", "-f", "atom2", "list"}, 0, ""},
    };
    for (const auto &c : cases) {
        ProcessResult result = qvtool(c.args);
        expect_exit(result, c.exit_code, join(c.args));
        EXPECT_EQ(result.err, c.err) << join(c.args);
    }
}

TEST(QvtoolRobustness, UnreadStandardInputIsHarmless)
{
    ProcessOptions options;
    options.input = std::string(1 << 20, '\n');
    ProcessResult result = qvtool({"help"}, options);
    expect_exit(result, 0, "help with input");
    EXPECT_EQ(result.out, golden("help.txt"));
}

} // namespace
