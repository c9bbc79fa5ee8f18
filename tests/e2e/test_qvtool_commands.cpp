// End-to-end tests of the qvtool commands scan, dump, read, write, timesync
// and fwupdate with the real binary: their argument errors, the transports
// that find nothing, the failure reports with their routine names, and the
// memory commands against a simulated Suunto Vyper (qvsim serving a memory
// image on a pseudo-terminal).
#include "process.h"

#include "sim/pty.h"
#include "sim/suunto_vyper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using qvtest::Process;
using qvtest::ProcessOptions;
using qvtest::ProcessResult;
using qvtest::Stream;
using qvtest::TempDir;
using Bytes = std::vector<uint8_t>;

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

// Standard error without the library's warnings (a pseudo-terminal has no
// modem lines, which the serial port reports once) and without line numbers.
std::string diagnostics(const std::string &err)
{
    return without_line_numbers(std::regex_replace(err, std::regex("(^|\n)WARNING: [^\n]*"), ""));
}

std::string golden(const std::string &name)
{
    auto content = qvtest::read_file(std::string(QV_TEST_GOLDEN_DIR) + "/" + name);
    EXPECT_TRUE(content.has_value()) << "missing golden file " << name;
    return content.value_or("");
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

std::string report(const std::string &text, const std::string &file, const std::string &routine)
{
    return "ERROR: " + text + " [in examples/" + file + ".cpp:N (" + routine + ")]\n";
}

// What the connection sequence prints up to the command's own step.
std::string connected(const std::string &path)
{
    return "Opening the I/O stream (serial, " + path + ").\n"
           "Opening the device (Suunto Vyper).\n"
           "Registering the event handler.\n"
           "Registering the cancellation handler.\n";
}

// A Vyper memory image: every byte value occurs, including the ones a text
// stream would alter (0x00, 0x0A, 0x0D, 0x1A, 0xFF), and the information
// block says Cobra (model 0x0C), firmware 42, serial 01 02 03 04.
Bytes vyper_image()
{
    Bytes image(qvsim::SuuntoVyper::MEMORY_SIZE);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 37 + i / 256 + 11);
    const Bytes identity = {0x0C, 42, 1, 2, 3, 4};
    std::copy(identity.begin(), identity.end(), image.begin() + 0x24);
    return image;
}

const char image_devinfo[] = "Event: model=12 (0x0000000c), firmware=42 (0x0000002a), serial=1020304 (0x000f9190)\n";

Bytes slice(const Bytes &bytes, size_t offset, size_t size)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + size));
}

// qvsim serving a Suunto Vyper with the memory image, for the test's
// lifetime. The simulator must end cleanly when asked to.
class Qvsim {
public:
    Qvsim(const TempDir &dir, const Bytes &image)
    {
        const std::string file = dir.file("image.bin");
        EXPECT_TRUE(write_bytes(file, image));
        if (!process_.start(QV_TEST_QVSIM, {"-d", "Suunto Vyper", "-i", file})) {
            ADD_FAILURE() << "qvsim did not start: " << process_.error();
            return;
        }
        std::optional<std::string> line = process_.read_line(Stream::out, 30s);
        if (!line || line->empty()) {
            ADD_FAILURE() << "qvsim printed no terminal path: " << process_.output(Stream::err);
            return;
        }
        path_ = *line;
    }
    ~Qvsim()
    {
        if (path_.empty())
            return;
        process_.signal(SIGTERM);
        ProcessResult result = process_.wait(30s);
        EXPECT_EQ(result.exit_code, 0) << "qvsim: " << result.err;
    }
    bool started() const { return !path_.empty(); }
    const std::string &path() const { return path_; }

private:
    Process process_;
    std::string path_;
};

// How creating an infrared socket fails on this machine; 0 when it works.
int irda_socket_errno()
{
    const int af_irda = 26;
    int fd = socket(af_irda, SOCK_STREAM, 0);
    if (fd < 0)
        return errno;
    close(fd);
    return 0;
}

// ---------------------------------------------------------------------------
// Arguments

TEST(QvtoolCommands, ArgumentErrorsEndBeforeTheStreamIsOpened)
{
    TempDir dir;
    const std::string fifteen = dir.file("fifteen.bin");
    ASSERT_TRUE(write_bytes(fifteen, Bytes(15, 0xA5)));
    const std::string missing = dir.file("missing.bin");
    const std::string vyper[] = {"-d", "Suunto Vyper"};

    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"read", "-a", "0x100", "COM1"}, "No memory address or byte count specified.\n"},
        {{"read", "-c", "20", "COM1"}, "No memory address or byte count specified.\n"},
        {{"read", "-o", dir.file("out.bin"), "COM1"}, "No memory address or byte count specified.\n"},
        {{"write", "-c", "15", "-i", fifteen, "COM1"}, "No memory address specified.\n"},
        {{"write", "-a", "0x100", "-c", "16", "-i", fifteen, "COM1"}, "Number of bytes doesn't match file length.\n"},
        {{"write", "-a", "0x100", "-c", "0", "-i", fifteen, "COM1"}, "Number of bytes doesn't match file length.\n"},
        {{"write", "-a", "0x100", "-i", missing, "COM1"}, "Failed to read the input file.\n"},
        {{"write", "-a", "0x100", "-i", dir.path(), "COM1"}, "Failed to read the input file.\n"},
        {{"fwupdate", "COM1"}, "No firmware file specified.\n"},
        {{"fwupdate", "-t", "serial"}, "No firmware file specified.\n"},
        // An unknown transport name gives no transport.
        {{"dump", "-t", "Serial", "COM1"}, "No valid transport type specified.\n"},
        {{"read", "-t", "nope", "-a", "0", "-c", "1", "COM1"}, "No valid transport type specified.\n"},
        {{"write", "--transport=", "-a", "0", "-i", fifteen}, "No valid transport type specified.\n"},
        {{"timesync", "-t", "bt", "COM1"}, "No valid transport type specified.\n"},
        {{"fwupdate", "-t", "x", "-f", missing, "COM1"}, "No valid transport type specified.\n"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args(std::begin(vyper), std::end(vyper));
        args.insert(args.end(), c.args.begin(), c.args.end());
        ProcessResult result = qvtool(args);
        expect_exit(result, 1, join(args));
        EXPECT_EQ(result.err, c.err) << join(args);
        EXPECT_EQ(result.out, "") << join(args);
    }
    EXPECT_FALSE(qvtest::read_file(dir.file("out.bin")).has_value());

    // Scan without a model has no default transport.
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{"scan"}, {"scan", "-t", "USB"}, {"-f", "nope", "scan"}}) {
        ProcessResult result = qvtool(args);
        expect_exit(result, 1, join(args));
        EXPECT_EQ(result.err, "No valid transport type specified.\n") << join(args);
        EXPECT_EQ(result.out, "") << join(args);
    }
}

TEST(QvtoolCommands, HelpWinsOverTheOtherOptions)
{
    struct Case {
        std::vector<std::string> args;
        std::string golden;
    };
    const Case cases[] = {
        {{"scan", "-t", "usb", "-h"}, "help_scan.txt"},
        {{"scan", "--help", "-t", "nope"}, "help_scan.txt"},
        {{"-f", "vyper", "dump", "-o", "/nonexistent/dir/x.bin", "-h", "COM1"}, "help_dump.txt"},
        {{"-f", "vyper", "read", "-a", "1", "-h"}, "help_read.txt"},
        {{"-f", "vyper", "write", "-h", "-i", "/nonexistent/input.bin"}, "help_write.txt"},
        {{"-d", "Suunto Vyper", "timesync", "--help", "-t", "nope"}, "help_timesync.txt"},
        {{"-d", "Suunto Vyper", "fwupdate", "-t", "irda", "-h"}, "help_fwupdate.txt"},
    };
    for (const auto &c : cases) {
        ProcessResult result = qvtool(c.args);
        expect_exit(result, 0, join(c.args));
        EXPECT_EQ(result.out, golden(c.golden)) << join(c.args);
        EXPECT_EQ(result.err, "") << join(c.args);
    }
}

// ---------------------------------------------------------------------------
// Transports that find nothing, and the routine names of the reports

TEST(QvtoolCommands, StreamOpenFailuresNameTheCommandsRoutine)
{
    TempDir dir;
    const std::string input = dir.file("input.bin");
    ASSERT_TRUE(write_bytes(input, Bytes{1, 2, 3}));
    const std::string output = dir.file("output.bin");

    struct Case {
        std::vector<std::string> args; // after -d "Suunto Vyper"
        std::string file;
        std::string routine;
    };
    const Case cases[] = {
        {{"dump", "-o", output}, "qvtool_dump", "dump"},
        {{"read", "-a", "0", "-c", "1", "-o", output}, "qvtool_read", "doread"},
        {{"write", "-a", "0", "-i", input}, "qvtool_write", "dowrite"},
        {{"timesync"}, "qvtool_timesync", "do_timesync"},
        {{"fwupdate", "-f", dir.file("firmware.hex")}, "qvtool_fwupdate", "fwupdate"},
    };
    for (const auto &c : cases) {
        // An infrared address of 0 names no device.
        std::vector<std::string> args = {"-d", "Suunto Vyper"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"-t", "irda", "0"});
        ProcessResult result = qvtool(args);
        expect_exit(result, 1, join(args));
        EXPECT_EQ(without_line_numbers(result.err),
                  "Opening the I/O stream (irda, 0).\n" +
                      report("No valid device address specified.", "common", "qvtool_irda_open") +
                      report("Error opening the I/O stream.", c.file, c.routine) + "ERROR: No device found\n")
            << join(args);
        EXPECT_EQ(result.out, "") << join(args);

        // USB finds no dive computer in this system.
        args = {"-d", "Suunto Vyper"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"--transport", "usb"});
        result = qvtool(args);
        expect_exit(result, 1, join(args));
        EXPECT_EQ(without_line_numbers(result.err),
                  "Opening the I/O stream (usb, null).\n" +
                      report("No dive computer found.", "common", "qvtool_usb_open") +
                      report("Error opening the I/O stream.", c.file, c.routine) + "ERROR: No device found\n")
            << join(args);
        EXPECT_EQ(result.out, "") << join(args);
    }

    // Nothing was written for the failed dump and read.
    EXPECT_FALSE(qvtest::read_file(output).has_value());
}

TEST(QvtoolCommands, MissingSerialPortLeavesTheOutputFileAlone)
{
    TempDir dir;
    const std::string output = dir.file("dump.bin");
    ASSERT_TRUE(write_bytes(output, Bytes{'o', 'l', 'd'}));
    const std::string port = dir.file("no-such-port");

    for (const std::string command : {"dump", "read"}) {
        std::vector<std::string> args = {"-q", "-d", "Suunto Vyper", command, "-o", output};
        if (command == "read")
            args.insert(args.end(), {"-a", "0x16", "-c", "20"});
        args.push_back(port);
        ProcessResult result = qvtool(args);
        expect_exit(result, 1, join(args));
        const std::string routine = command == "dump" ? "dump" : "doread";
        EXPECT_EQ(without_line_numbers(result.err), "Opening the I/O stream (serial, " + port + ").\n" +
                                                        report("Error opening the I/O stream.", "qvtool_" + command,
                                                               routine) +
                                                        "ERROR: No device found\n")
            << join(args);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(qvtest::read_file(output).value_or(""), "old") << join(args);
    }
}

TEST(QvtoolScan, TransportsWithoutAnEnumerator)
{
    // USB and USB HID have none in this system; Bluetooth and BLE discovery
    // are not part of this build.
    for (const std::string transport : {"usb", "usbhid", "bluetooth", "ble"}) {
        for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
                 {"scan", "-t", transport}, {"-d", "Suunto Vyper", "scan", "--transport", transport}}) {
            ProcessResult result = qvtool(args);
            expect_exit(result, 1, join(args));
            EXPECT_EQ(without_line_numbers(result.err),
                      report("Failed to create the device iterator.", "qvtool_scan", "scan") +
                          "ERROR: Unsupported operation\n")
                << join(args);
            EXPECT_EQ(result.out, "") << join(args);
        }
    }
}

TEST(QvtoolScan, SerialListsThePortsOfThisMachine)
{
    // Whatever ports the machine has (maybe none): one device path a line.
    ProcessResult all = qvtool({"scan", "-t", "serial"});
    expect_exit(all, 0, "scan -t serial");
    EXPECT_EQ(all.err, "");
    std::vector<std::string> ports;
    std::istringstream lines(all.out);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.rfind("/dev/", 0), 0u) << line;
        ports.push_back(line);
    }
    if (!all.out.empty()) {
        EXPECT_EQ(all.out.back(), '\n');
    }

    // A model's default transport is used, and its filter only removes ports.
    ProcessResult vyper = qvtool({"-d", "Suunto Vyper", "scan"});
    expect_exit(vyper, 0, "-d \"Suunto Vyper\" scan");
    EXPECT_EQ(vyper.err, "");
    std::istringstream filtered(vyper.out);
    for (std::string line; std::getline(filtered, line);)
        EXPECT_NE(std::find(ports.begin(), ports.end(), line), ports.end()) << line;
}

TEST(QvtoolScan, InfraredFailsCleanlyWithoutKernelSupport)
{
    ProcessResult result = qvtool({"-q", "scan", "-t", "irda"});
    if (irda_socket_errno() == EAFNOSUPPORT) {
        expect_exit(result, 1, "scan -t irda");
        EXPECT_EQ(without_line_numbers(result.err),
                  report("Failed to create the device iterator.", "qvtool_scan", "scan") +
                      "ERROR: Unsupported operation\n");
        EXPECT_EQ(result.out, "");
    } else {
        // A kernel with infrared sockets: a device list ("%08x\t%s") or a
        // reported failure, never anything else.
        EXPECT_FALSE(result.timed_out);
        EXPECT_TRUE(result.exit_code == 0 || result.exit_code == 1) << result.exit_code;
        if (result.exit_code == 0) {
            EXPECT_TRUE(std::regex_match(result.out, std::regex("([0-9a-f]{8}\t[^\n]*\n)*"))) << result.out;
        } else {
            EXPECT_NE(result.err.find("ERROR: Failed to create the device iterator."), std::string::npos);
        }
    }
}

TEST(QvtoolCommands, InfraredOpenFailsCleanlyWithoutKernelSupport)
{
    for (const char *name : {static_cast<const char *>(nullptr), "0x12345678"}) {
        std::vector<std::string> args = {"-q", "-d", "Suunto Vyper", "read", "-t", "irda", "-a", "0", "-c", "1"};
        if (name != nullptr)
            args.push_back(name);
        ProcessResult result = qvtool(args);
        expect_exit(result, 1, join(args));
        EXPECT_EQ(result.out, "") << join(args);
        const std::string opening = std::string("Opening the I/O stream (irda, ") + (name ? name : "null") + ").\n";
        if (irda_socket_errno() == EAFNOSUPPORT) {
            EXPECT_EQ(without_line_numbers(result.err),
                      opening + report("Failed to open the irda socket.", "common", "qvtool_irda_open") +
                          report("Error opening the I/O stream.", "qvtool_read", "doread") +
                          "ERROR: Unsupported operation\n")
                << join(args);
        } else {
            // Nothing answers in a test machine's infrared range.
            EXPECT_EQ(result.err.rfind(opening, 0), 0u) << result.err;
            EXPECT_NE(result.err.find("ERROR: Error opening the I/O stream."), std::string::npos) << result.err;
        }
    }
}

// ---------------------------------------------------------------------------
// Against the simulated Vyper

TEST(QvtoolVyper, ReadOfTheIdentificationBlock)
{
    TempDir dir;
    const Bytes image = vyper_image();
    Qvsim sim(dir, image);
    ASSERT_TRUE(sim.started());

    const Bytes expected = slice(image, 0x16, 20);
    const std::string output = dir.file("id.bin");
    std::vector<std::string> args = {"-d", "Suunto Vyper", "read", "-a", "0x16", "-c", "20", "-o", output, sim.path()};
    ProcessResult result = qvtool(args);
    expect_exit(result, 0, join(args));
    EXPECT_EQ(diagnostics(result.err), connected(sim.path()) + "Reading data from the internal memory.\n");
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(qvtest::read_file(output).value_or("<none>"), text_of(expected));

    // Without -o the bytes go to standard output; decimal numbers work too.
    args = {"-d", "Suunto Vyper", "read", "--address=22", "--count=20", sim.path()};
    result = qvtool(args);
    expect_exit(result, 0, join(args));
    EXPECT_EQ(result.out, text_of(expected));
    EXPECT_EQ(diagnostics(result.err), connected(sim.path()) + "Reading data from the internal memory.\n");

    // An output file that cannot be created is a failure, not a success
    // without data.
    args = {"-d", "Suunto Vyper", "read", "-a", "0x16", "-c", "20", "-o", dir.file("missing/id.bin"), sim.path()};
    result = qvtool(args);
    expect_exit(result, 1, join(args));
    EXPECT_EQ(diagnostics(result.err), connected(sim.path()) + "Reading data from the internal memory.\n" +
                                           report("Failed to write the output file.", "qvtool_read", "doread") +
                                           "ERROR: Input/output error\n");
    EXPECT_EQ(result.out, "");
}

TEST(QvtoolVyper, WriteFromAFileAndFromStandardInputThenReadBack)
{
    TempDir dir;
    Qvsim sim(dir, vyper_image());
    ASSERT_TRUE(sim.started());

    const Bytes first = {0x00, 0x0A, 0x0D, 0x1A, 0xFF, 0x80, 0x82, 0x7F, 1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes second = {0xFF, 0x0D, 0x0A, 0x00, 0x1A, 0x1A, 0xC3, 0x3C};
    const std::string input = dir.file("input.bin");
    ASSERT_TRUE(write_bytes(input, first));

    auto read_back = [&]() {
        std::vector<std::string> args = {"-d", "Suunto Vyper", "read", "-a", "0x1F00", "-c", "16", sim.path()};
        ProcessResult result = qvtool(args);
        expect_exit(result, 0, join(args));
        return result.out;
    };

    std::vector<std::string> args = {"-d", "Suunto Vyper", "write", "-a", "0x1F00", "-c", "16", "-i", input,
                                     sim.path()};
    ProcessResult result = qvtool(args);
    expect_exit(result, 0, join(args));
    EXPECT_EQ(diagnostics(result.err), connected(sim.path()) + "Writing data to the internal memory.\n");
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(read_back(), text_of(first));

    // Without -i the data come from standard input, in binary.
    ProcessOptions options;
    options.input = text_of(second);
    args = {"-d", "Suunto Vyper", "write", "-a", "0x1F08", sim.path()};
    result = qvtool(args, options);
    expect_exit(result, 0, join(args));
    EXPECT_EQ(diagnostics(result.err), connected(sim.path()) + "Writing data to the internal memory.\n");

    Bytes expected = slice(first, 0, 8);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(read_back(), text_of(expected));
}

TEST(QvtoolVyper, OperationsTheVyperDoesNotHaveFailAfterConnecting)
{
    TempDir dir;
    Qvsim sim(dir, vyper_image());
    ASSERT_TRUE(sim.started());

    std::vector<std::string> args = {"-d", "Suunto Vyper", "timesync", sim.path()};
    ProcessResult result = qvtool(args);
    expect_exit(result, 1, join(args));
    EXPECT_EQ(diagnostics(result.err),
              connected(sim.path()) + "Synchronize the device clock.\n" +
                  report("Error synchronizing the device clock.", "qvtool_timesync", "do_timesync") +
                  "ERROR: Unsupported operation\n");
    EXPECT_EQ(result.out, "");

    // The firmware file is the backend's business: the Vyper has no update.
    args = {"-d", "Suunto Vyper", "fwupdate", "-f", dir.file("missing.hex"), sim.path()};
    result = qvtool(args);
    expect_exit(result, 1, join(args));
    EXPECT_EQ(diagnostics(result.err), connected(sim.path()) + "Updating the firmware.\n" +
                                           report("Error updating the firmware.", "qvtool_fwupdate", "fwupdate") +
                                           "ERROR: Unsupported operation\n");
    EXPECT_EQ(result.out, "");

    // A fingerprint of the wrong size is refused before the dump starts; the
    // output file is left as it was.
    const std::string output = dir.file("dump.bin");
    ASSERT_TRUE(write_bytes(output, Bytes{'o', 'l', 'd'}));
    args = {"-d", "Suunto Vyper", "dump", "-p", "0102", "-o", output, sim.path()};
    result = qvtool(args);
    expect_exit(result, 1, join(args));
    EXPECT_EQ(diagnostics(result.err),
              connected(sim.path()) + "Registering the fingerprint data.\n" +
                  report("Error registering the fingerprint data.", "qvtool_dump", "dump") +
                  "ERROR: Invalid arguments\n");
    EXPECT_EQ(qvtest::read_file(output).value_or(""), "old");
}

// A whole dump reads the 8 KiB in 256 exchanges of over half a second each
// (the backend waits 500 ms before every command and 200 ms for the echo).
// The simulators run in this process with a shorter answer delay than
// qvsim's, and both dumps run at the same time, to keep the test's time in
// bounds.
class FastVyper {
public:
    explicit FastVyper(const Bytes &image) : device_(image), server_(device_)
    {
        device_.set_reply_delay(400);
        std::string error;
        started_ = server_.start(&error);
        EXPECT_TRUE(started_) << error;
    }
    ~FastVyper()
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

std::string progress_lines(unsigned int total, unsigned int step)
{
    std::string text;
    char line[100];
    for (unsigned int current = 0; current <= total; current += step) {
        std::snprintf(line, sizeof(line), "Event: progress %3.2f%% (%u/%u)\n", current * 100.0 / total, current,
                      total);
        text += line;
    }
    return text;
}

TEST(QvtoolVyper, DumpToAFileAndToStandardOutput)
{
    TempDir dir;
    const Bytes image = vyper_image();
    FastVyper to_file(image);
    FastVyper to_stdout(image);
    ASSERT_TRUE(to_file.started());
    ASSERT_TRUE(to_stdout.started());

    const std::string output = dir.file("dump.bin");
    const std::vector<std::string> file_args = {"-d", "Suunto Vyper", "dump", "-p", "0102030405",
                                                "-o", output, to_file.path()};
    const std::vector<std::string> stdout_args = {"-d", "Suunto Vyper", "dump", to_stdout.path()};
    Process file_dump;
    Process stdout_dump;
    ASSERT_TRUE(file_dump.start(QV_TEST_QVTOOL, file_args)) << file_dump.error();
    ASSERT_TRUE(stdout_dump.start(QV_TEST_QVTOOL, stdout_args)) << stdout_dump.error();
    ProcessResult file_result = file_dump.wait(280s);
    ProcessResult stdout_result = stdout_dump.wait(280s);

    // Progress in bytes, one event per 32-byte packet, then the
    // identification from the image.
    const std::string events = progress_lines(8192, 32) + image_devinfo;

    expect_exit(file_result, 0, join(file_args));
    EXPECT_EQ(diagnostics(file_result.err), connected(to_file.path()) + "Registering the fingerprint data.\n" +
                                                "Downloading the memory dump.\n" + events);
    EXPECT_EQ(file_result.out, "");
    EXPECT_EQ(qvtest::read_file(output).value_or("<none>"), text_of(image));

    expect_exit(stdout_result, 0, join(stdout_args));
    EXPECT_EQ(diagnostics(stdout_result.err),
              connected(to_stdout.path()) + "Downloading the memory dump.\n" + events);
    EXPECT_EQ(stdout_result.out.size(), image.size());
    EXPECT_EQ(stdout_result.out, text_of(image));
}

} // namespace
