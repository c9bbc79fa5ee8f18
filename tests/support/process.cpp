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

ProcessResult run_process(const std::string &program, const std::vector<std::string> &args,
                          const ProcessOptions &options)
{
    ProcessResult result;
    ignore_sigpipe();

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

    Pipe in, out, err, status;
    if (!make_pipe(out) || !make_pipe(err) || !make_pipe(status) ||
        (options.input && !make_pipe(in))) {
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

    pid_t pid = ::fork();
    if (pid < 0) {
        result.error = std::string("fork: ") + std::strerror(errno);
        return result;
    }

    if (pid == 0) {
        int report = status.write.get();
        int input = options.input ? in.read.get() : devnull.get();
        if (::dup2(input, STDIN_FILENO) < 0 || ::dup2(out.write.get(), STDOUT_FILENO) < 0 ||
            ::dup2(err.write.get(), STDERR_FILENO) < 0)
            child_fail(report, 1);

        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGPIPE, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);

        if (workdir != nullptr && ::chdir(workdir) != 0)
            child_fail(report, 2);
        ::execve(argv[0], argv.data(), envp.data());
        child_fail(report, 3);
    }

    // Parent: keep only our ends of the pipes.
    in.read.reset();
    out.write.reset();
    err.write.reset();
    status.write.reset();
    devnull.reset();

    int report[2] = {0, 0};
    ssize_t n;
    do {
        n = ::read(status.read.get(), report, sizeof(report));
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof(report))) {
        static const char *const stages[] = {"", "dup2", "chdir", "exec"};
        result.error = std::string(stages[report[0] >= 1 && report[0] <= 3 ? report[0] : 0]) +
                       " " + program + ": " + std::strerror(report[1]);
    }

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
