// Running a program from a test: arguments, optional standard input, captured
// standard output and standard error, exit code.
#ifndef QV_TEST_SUPPORT_PROCESS_H
#define QV_TEST_SUPPORT_PROCESS_H

#include <chrono>
#include <optional>
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
