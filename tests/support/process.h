// Running a program from a test: arguments, optional standard input, captured
// standard output and standard error, exit code. run_process runs a program
// to its end; Process keeps one running in the background while the test
// reads its output line by line and sends it signals.
#ifndef QV_TEST_SUPPORT_PROCESS_H
#define QV_TEST_SUPPORT_PROCESS_H

#include <chrono>
#include <optional>
#include <sys/types.h>
#include <string>
#include <vector>

namespace qvtest {

struct ProcessOptions {
    // Bytes written to the program's standard input, which is then closed.
    // Without it the standard input is /dev/null.
    std::optional<std::string> input;
    // Directory the program runs in; empty keeps the current one.
    std::string working_directory;
    // Extra "NAME=value" entries; they replace variables of the same name.
    std::vector<std::string> environment;
    // The program is killed (SIGKILL) when it runs longer than this.
    std::chrono::milliseconds timeout{std::chrono::seconds(120)};
};

struct ProcessResult {
    int exit_code = -1;    // exit status; -1 when the program did not exit normally
    int term_signal = 0;   // signal that ended the program; 0 when it exited
    bool timed_out = false; // killed because it ran past the time-out
    std::string error;     // why the program could not be started; empty when it ran
    std::string out;       // everything written to standard output
    std::string err;       // everything written to standard error
};

// Runs program (a path, not searched in PATH) with args (argv[1]...; argv[0]
// is the program path) and waits for it to end, reading its output while it
// runs so that large outputs cannot block it.
ProcessResult run_process(const std::string &program, const std::vector<std::string> &args,
                          const ProcessOptions &options = {});

// Which output stream of a program.
enum class Stream { out, err };

// A program running in the background. Its standard input is /dev/null (or
// ProcessOptions::input, written at the start as far as the pipe takes it);
// its standard output and standard error are collected while the test
// waits for them. The destructor kills (SIGKILL) and reaps a program that
// is still running.
class Process {
public:
    Process() = default;
    ~Process();
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    // Starts program (a path) with args. False when it could not be started
    // (error() says why) or when this object already runs a program.
    // options.timeout is not used here: every wait has its own.
    bool start(const std::string &program, const std::vector<std::string> &args,
               const ProcessOptions &options = {});
    const std::string &error() const { return error_; }
    pid_t pid() const { return pid_; }

    // The next complete line of the stream that no read_line call returned
    // yet, without its newline. Waits up to timeout for it; std::nullopt
    // when none arrives in time or the stream ends first.
    std::optional<std::string> read_line(Stream stream, std::chrono::milliseconds timeout);

    // Waits up to timeout until text appears anywhere in the stream's output
    // so far (also in lines read_line already returned). True when it did.
    bool wait_for(Stream stream, const std::string &text, std::chrono::milliseconds timeout);

    // Everything the program wrote to the stream so far.
    const std::string &output(Stream stream) const { return stream == Stream::out ? out_ : err_; }

    // Sends a signal to the program; false when it is not running.
    bool signal(int sig);

    // Waits for the program to end, reading the rest of its output. When it
    // runs longer than timeout it is killed (SIGKILL) and the result says
    // timed_out. The result holds the whole output. Without a running
    // program the result's error says so.
    ProcessResult wait(std::chrono::milliseconds timeout);

private:
    // Reads what is available, waiting up to timeout for something to
    // happen; false when both streams have ended.
    bool pump(std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::string error_;
    std::string out_;
    std::string err_;
    size_t out_read_ = 0; // how much of out_ read_line has returned
    size_t err_read_ = 0;
};

// Whole content of a file; std::nullopt when it cannot be opened.
std::optional<std::string> read_file(const std::string &path);

// A fresh, empty directory under the system's temporary directory, removed
// with its content when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string &name) const;

private:
    std::string path_;
};

} // namespace qvtest

#endif
