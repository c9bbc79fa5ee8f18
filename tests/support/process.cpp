#include "process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace qvtest {

namespace {

// A file descriptor closed when it goes out of scope.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;

    int get() const { return fd_; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    Fd read;
    Fd write;
};

bool make_pipe(Pipe &p)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    p.read.reset(fds[0]);
    p.write.reset(fds[1]);
    return true;
}

void set_nonblocking(int fd)
{
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Writing to a program that has ended must give EPIPE, not end the test.
void ignore_sigpipe()
{
    static const bool done = [] {
        struct sigaction action = {};
        action.sa_handler = SIG_IGN;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGPIPE, &action, nullptr);
        return true;
    }();
    (void)done;
}

// Reports a failure of the child before exec through the error pipe and ends
// the child. Only async-signal-safe calls.
[[noreturn]] void child_fail(int fd, int stage)
{
    int report[2] = {stage, errno};
    ssize_t n = ::write(fd, report, sizeof(report));
    (void)n;
    ::_exit(127);
}

std::vector<std::string> build_environment(const std::vector<std::string> &extra)
{
    std::vector<std::string> env;
    for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto &e : extra) {
            if (e.substr(0, e.find('=')) == name)
                replaced = true;
        }
        if (!replaced)
            env.push_back(text);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &strings)
{
    std::vector<char *> result;
    result.reserve(strings.size() + 1);
    for (auto &s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

} // namespace

namespace {

// Forks and runs program with its standard streams on the given descriptors
// (closed in the child by O_CLOEXEC otherwise). Returns the child's pid, or
// -1 when there is none; *error describes a failure to start, also that of
// a child that was created but could not run the program (it then ends
// with exit code 127 and must still be reaped).
pid_t spawn(const std::string &program, const std::vector<std::string> &args, const ProcessOptions &options,
            int input, int output, int errors, std::string *error)
{
    // Everything the child needs is prepared before fork.
    std::vector<std::string> argv_strings;
    argv_strings.reserve(args.size() + 1);
    argv_strings.push_back(program);
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char *> argv = pointers(argv_strings);
    std::vector<std::string> env_strings = build_environment(options.environment);
    std::vector<char *> envp = pointers(env_strings);
    const char *workdir =
        options.working_directory.empty() ? nullptr : options.working_directory.c_str();

    Pipe status;
    if (!make_pipe(status)) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return -1;
    }

    pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        return -1;
    }

    if (pid == 0) {
        int report = status.write.get();
        if (::dup2(input, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 ||
            ::dup2(errors, STDERR_FILENO) < 0)
            child_fail(report, 1);

        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGPIPE, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);

        if (workdir != nullptr && ::chdir(workdir) != 0)
            child_fail(report, 2);
        ::execve(argv[0], argv.data(), envp.data());
        child_fail(report, 3);
    }

    // The exec closes the write end (O_CLOEXEC): end of file means success.
    status.write.reset();
    int report[2] = {0, 0};
    ssize_t n;
    do {
        n = ::read(status.read.get(), report, sizeof(report));
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof(report))) {
        static const char *const stages[] = {"", "dup2", "chdir", "exec"};
        *error = std::string(stages[report[0] >= 1 && report[0] <= 3 ? report[0] : 0]) + " " + program +
                 ": " + std::strerror(report[1]);
    }
    return pid;
}

// Waits for the child and fills in how it ended.
void reap(pid_t pid, ProcessResult &result)
{
    int wstatus = 0;
    pid_t waited;
    do {
        waited = ::waitpid(pid, &wstatus, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited == pid) {
        if (WIFEXITED(wstatus))
            result.exit_code = WEXITSTATUS(wstatus);
        else if (WIFSIGNALED(wstatus))
            result.term_signal = WTERMSIG(wstatus);
    }
}

} // namespace

ProcessResult run_process(const std::string &program, const std::vector<std::string> &args,
                          const ProcessOptions &options)
{
    ProcessResult result;
    ignore_sigpipe();

    Pipe in, out, err;
    if (!make_pipe(out) || !make_pipe(err) || (options.input && !make_pipe(in))) {
        result.error = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    Fd devnull;
    if (!options.input) {
        devnull.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (devnull.get() < 0) {
            result.error = std::string("/dev/null: ") + std::strerror(errno);
            return result;
        }
    }

    pid_t pid = spawn(program, args, options, options.input ? in.read.get() : devnull.get(), out.write.get(),
                      err.write.get(), &result.error);
    if (pid < 0)
        return result;

    // Parent: keep only our ends of the pipes.
    in.read.reset();
    out.write.reset();
    err.write.reset();
    devnull.reset();

    std::string_view pending = options.input ? std::string_view(*options.input) : std::string_view();
    if (options.input) {
        set_nonblocking(in.write.get());
        if (pending.empty())
            in.write.reset();
    }
    set_nonblocking(out.read.get());
    set_nonblocking(err.read.get());

    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    char buffer[65536];
    while (out.read.get() >= 0 || err.read.get() >= 0 || in.write.get() >= 0) {
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0) {
            result.timed_out = true;
            ::kill(pid, SIGKILL);
            break;
        }

        struct pollfd fds[3];
        nfds_t count = 0;
        if (out.read.get() >= 0)
            fds[count++] = {out.read.get(), POLLIN, 0};
        if (err.read.get() >= 0)
            fds[count++] = {err.read.get(), POLLIN, 0};
        if (in.write.get() >= 0)
            fds[count++] = {in.write.get(), POLLOUT, 0};

        int ready = ::poll(fds, count, static_cast<int>(std::min<long long>(remaining.count(), 1000)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;

        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == in.write.get()) {
                ssize_t w = ::write(in.write.get(), pending.data(), pending.size());
                if (w > 0)
                    pending.remove_prefix(static_cast<size_t>(w));
                if ((w < 0 && errno != EAGAIN && errno != EINTR) || pending.empty())
                    in.write.reset();
                continue;
            }
            Fd &source = fds[i].fd == out.read.get() ? out.read : err.read;
            std::string &sink = fds[i].fd == out.read.get() ? result.out : result.err;
            ssize_t r = ::read(source.get(), buffer, sizeof(buffer));
            if (r > 0)
                sink.append(buffer, static_cast<size_t>(r));
            else if (r == 0 || (errno != EAGAIN && errno != EINTR))
                source.reset();
        }
    }

    reap(pid, result);
    return result;
}

Process::~Process()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ProcessResult ignored;
        reap(pid_, ignored);
    }
    if (out_fd_ >= 0)
        ::close(out_fd_);
    if (err_fd_ >= 0)
        ::close(err_fd_);
}

bool Process::start(const std::string &program, const std::vector<std::string> &args,
                    const ProcessOptions &options)
{
    if (pid_ > 0 || out_fd_ >= 0 || err_fd_ >= 0) {
        error_ = "a program is already running";
        return false;
    }
    ignore_sigpipe();
    error_.clear();

    Pipe in, out, err;
    if (!make_pipe(out) || !make_pipe(err) || (options.input && !make_pipe(in))) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    Fd devnull;
    if (!options.input) {
        devnull.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (devnull.get() < 0) {
            error_ = std::string("/dev/null: ") + std::strerror(errno);
            return false;
        }
    }

    pid_t pid = spawn(program, args, options, options.input ? in.read.get() : devnull.get(), out.write.get(),
                      err.write.get(), &error_);
    if (pid < 0)
        return false;
    if (!error_.empty()) {
        ProcessResult ignored;
        reap(pid, ignored);
        return false;
    }
    pid_ = pid;

    if (options.input) {
        in.read.reset();
        set_nonblocking(in.write.get());
        std::string_view pending(*options.input);
        while (!pending.empty()) {
            ssize_t w = ::write(in.write.get(), pending.data(), pending.size());
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                break;
            pending.remove_prefix(static_cast<size_t>(w));
        }
    }

    set_nonblocking(out.read.get());
    set_nonblocking(err.read.get());
    // The object keeps the read ends; the Fd holders must not close them.
    out_fd_ = ::dup(out.read.get());
    err_fd_ = ::dup(err.read.get());
    if (out_fd_ >= 0)
        ::fcntl(out_fd_, F_SETFD, FD_CLOEXEC);
    if (err_fd_ >= 0)
        ::fcntl(err_fd_, F_SETFD, FD_CLOEXEC);
    if (out_fd_ < 0 || err_fd_ < 0) {
        error_ = std::string("dup: ") + std::strerror(errno);
        return false; // the destructor kills and reaps the program
    }
    return true;
}

bool Process::pump(std::chrono::milliseconds timeout)
{
    if (out_fd_ < 0 && err_fd_ < 0)
        return false;

    struct pollfd fds[2];
    nfds_t count = 0;
    if (out_fd_ >= 0)
        fds[count++] = {out_fd_, POLLIN, 0};
    if (err_fd_ >= 0)
        fds[count++] = {err_fd_, POLLIN, 0};
    int ready = ::poll(fds, count, static_cast<int>(std::max<long long>(timeout.count(), 0)));
    if (ready <= 0)
        return true;

    char buffer[65536];
    for (nfds_t i = 0; i < count; ++i) {
        if (fds[i].revents == 0)
            continue;
        int &fd = fds[i].fd == out_fd_ ? out_fd_ : err_fd_;
        std::string &sink = fds[i].fd == out_fd_ ? out_ : err_;
        for (;;) {
            ssize_t r = ::read(fd, buffer, sizeof(buffer));
            if (r > 0) {
                sink.append(buffer, static_cast<size_t>(r));
                continue;
            }
            if (r < 0 && errno == EINTR)
                continue;
            if (r == 0 || errno != EAGAIN) {
                ::close(fd);
                fd = -1;
            }
            break;
        }
    }
    return out_fd_ >= 0 || err_fd_ >= 0;
}

std::optional<std::string> Process::read_line(Stream stream, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string &text = stream == Stream::out ? out_ : err_;
    size_t &consumed = stream == Stream::out ? out_read_ : err_read_;
    for (;;) {
        size_t newline = text.find('\n', consumed);
        if (newline != std::string::npos) {
            std::string line = text.substr(consumed, newline - consumed);
            consumed = newline + 1;
            return line;
        }
        const int fd = stream == Stream::out ? out_fd_ : err_fd_;
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (fd < 0 || remaining.count() <= 0)
            return std::nullopt;
        pump(std::min(remaining, std::chrono::milliseconds(100)));
    }
}

bool Process::wait_for(Stream stream, const std::string &text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::string &all = stream == Stream::out ? out_ : err_;
    for (;;) {
        if (all.find(text) != std::string::npos)
            return true;
        const int fd = stream == Stream::out ? out_fd_ : err_fd_;
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (fd < 0 || remaining.count() <= 0)
            return false;
        pump(std::min(remaining, std::chrono::milliseconds(100)));
    }
}

bool Process::signal(int sig)
{
    if (pid_ <= 0)
        return false;
    return ::kill(pid_, sig) == 0;
}

ProcessResult Process::wait(std::chrono::milliseconds timeout)
{
    ProcessResult result;
    if (pid_ <= 0) {
        result.error = error_.empty() ? "no program is running" : error_;
        result.out = out_;
        result.err = err_;
        return result;
    }

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0) {
            result.timed_out = true;
            ::kill(pid_, SIGKILL);
            break;
        }
        // The streams end when the program (and every child that inherited
        // them) has closed them.
        if (!pump(std::min(remaining, std::chrono::milliseconds(200))))
            break;
    }
    // Collect what is left after a kill without blocking on a stuck child.
    pump(std::chrono::milliseconds(0));
    reap(pid_, result);
    pid_ = -1;
    if (out_fd_ >= 0)
        ::close(out_fd_);
    if (err_fd_ >= 0)
        ::close(err_fd_);
    out_fd_ = err_fd_ = -1;
    result.out = out_;
    result.err = err_;
    return result;
}

std::optional<std::string> read_file(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

TempDir::TempDir()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qvtest-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string &name) const
{
    return path_ + "/" + name;
}

} // namespace qvtest
