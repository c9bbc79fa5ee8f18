#include "pty.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace qvsim {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Longest delay honoured by call_after; anything longer means "not while
// this server runs" and must not overflow the clock's arithmetic.
constexpr uint64_t MAX_DELAY_MS = 1000ull * 60 * 60 * 24 * 365 * 10;

// While the master reports a hang-up without data, it is left out of the
// wait for this long instead of spinning on it.
constexpr auto HANGUP_BACKOFF = std::chrono::milliseconds(20);

unsigned int baudrate_of(speed_t speed)
{
    struct Entry {
        speed_t speed;
        unsigned int baudrate;
    };
    static const Entry table[] = {
        {B0, 0},           {B50, 50},         {B75, 75},           {B110, 110},         {B134, 134},
        {B150, 150},       {B200, 200},       {B300, 300},         {B600, 600},         {B1200, 1200},
        {B1800, 1800},     {B2400, 2400},     {B4800, 4800},       {B9600, 9600},       {B19200, 19200},
        {B38400, 38400},   {B57600, 57600},   {B115200, 115200},   {B230400, 230400},   {B460800, 460800},
        {B500000, 500000}, {B576000, 576000}, {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
        {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
        {B3500000, 3500000}, {B4000000, 4000000},
    };
    for (const auto &entry : table) {
        if (entry.speed == speed)
            return entry.baudrate;
    }
    return 0;
}

LineSettings settings_of(const termios &tio)
{
    LineSettings settings;
    settings.baudrate = baudrate_of(cfgetospeed(&tio));

    switch (tio.c_cflag & CSIZE) {
    case CS5:
        settings.databits = 5;
        break;
    case CS6:
        settings.databits = 6;
        break;
    case CS7:
        settings.databits = 7;
        break;
    default:
        settings.databits = 8;
        break;
    }

    if (!(tio.c_cflag & PARENB))
        settings.parity = QV_PARITY_NONE;
    else if (tio.c_cflag & CMSPAR)
        settings.parity = (tio.c_cflag & PARODD) ? QV_PARITY_MARK : QV_PARITY_SPACE;
    else
        settings.parity = (tio.c_cflag & PARODD) ? QV_PARITY_ODD : QV_PARITY_EVEN;

    settings.stopbits = (tio.c_cflag & CSTOPB) ? QV_STOPBITS_TWO : QV_STOPBITS_ONE;

    if (tio.c_cflag & CRTSCTS)
        settings.flowcontrol = QV_FLOWCONTROL_HARDWARE;
    else if (tio.c_iflag & (IXON | IXOFF))
        settings.flowcontrol = QV_FLOWCONTROL_SOFTWARE;
    else
        settings.flowcontrol = QV_FLOWCONTROL_NONE;

    return settings;
}

std::string describe(const char *what, int errcode)
{
    return std::string(what) + ": " + std::strerror(errcode);
}

void close_fd(int &fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

struct PtyServer::Impl final : Link {
    explicit Impl(Device &d) : device(d) {}

    Device &device;
    int master = -1;
    int slave = -1; // kept open so the master never sees a hang-up
    int wake[2] = {-1, -1};
    std::string path;
    std::thread thread;
    std::atomic<bool> stopping{false};

    mutable std::mutex mutex; // guards posted and failure
    std::vector<std::function<void(Link &)>> posted;
    std::string failure;

    // Owned by the server thread once it runs.
    SteadyClock::time_point start{};
    std::multimap<SteadyClock::time_point, std::function<void(Link &)>> pending;
    std::vector<uint8_t> output;
    LineSettings current;
    SteadyClock::time_point hangup_until{};

    // Link, on the server thread.
    void send(const uint8_t *data, size_t size) override
    {
        output.insert(output.end(), data, data + size);
        flush_output();
    }
    void call_after(uint64_t delay_ms, std::function<void(Link &)> fn) override
    {
        auto due = SteadyClock::now() + std::chrono::milliseconds(std::min(delay_ms, MAX_DELAY_MS));
        pending.emplace(due, std::move(fn));
    }
    void cancel_pending() override { pending.clear(); }
    uint64_t now() const override
    {
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start);
        return static_cast<uint64_t>(elapsed.count());
    }
    Lines lines() const override { return {}; }
    LineSettings settings() const override { return current; }
    void set_modem_lines(unsigned int) override {}
    qv_transport_t transport() const override { return QV_TRANSPORT_SERIAL; }
    using Link::send;

    void close_all()
    {
        close_fd(master);
        close_fd(slave);
        close_fd(wake[0]);
        close_fd(wake[1]);
    }

    void wake_up()
    {
        const char byte = 1;
        // A full pipe already guarantees a wake-up.
        [[maybe_unused]] ssize_t n = ::write(wake[1], &byte, 1);
    }

    void flush_output()
    {
        size_t done = 0;
        while (done < output.size()) {
            ssize_t n = ::write(master, output.data() + done, output.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                break; // EAGAIN: the rest goes when the terminal has room
            }
        }
        output.erase(output.begin(), output.begin() + static_cast<ptrdiff_t>(done));
    }

    // Reports changed terminal settings before the data that follows them.
    void check_settings()
    {
        termios tio;
        if (tcgetattr(slave, &tio) != 0)
            return;
        LineSettings now_settings = settings_of(tio);
        if (!(now_settings == current)) {
            current = now_settings;
            device.on_configure(*this, current);
        }
    }

    void run_posted()
    {
        std::vector<std::function<void(Link &)>> work;
        {
            std::lock_guard<std::mutex> lock(mutex);
            work.swap(posted);
        }
        for (auto &fn : work)
            fn(*this);
    }

    void run_due()
    {
        auto t = SteadyClock::now();
        while (!pending.empty() && pending.begin()->first <= t) {
            auto fn = std::move(pending.begin()->second);
            pending.erase(pending.begin());
            fn(*this);
        }
    }

    void receive()
    {
        uint8_t buffer[4096];
        for (;;) {
            ssize_t n = ::read(master, buffer, sizeof(buffer));
            if (n > 0) {
                check_settings();
                device.on_receive(*this, buffer, static_cast<size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                    hangup_until = SteadyClock::now() + HANGUP_BACKOFF;
                return;
            }
        }
    }

    int wait_timeout(SteadyClock::time_point t) const
    {
        int timeout = -1;
        if (!pending.empty()) {
            auto left = pending.begin()->first - t;
            // Round up: waking early would only spin until the call is due.
            auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            timeout = static_cast<int>(std::clamp<decltype(ms)>(ms, 0, INT_MAX));
        }
        if (t < hangup_until) {
            auto ms = std::chrono::ceil<std::chrono::milliseconds>(hangup_until - t).count();
            int backoff = static_cast<int>(std::clamp<decltype(ms)>(ms, 1, INT_MAX));
            timeout = timeout < 0 ? backoff : std::min(timeout, backoff);
        }
        return timeout;
    }

    void serve()
    {
        device.on_open(*this);
        while (!stopping.load()) {
            run_posted();
            run_due();

            auto t = SteadyClock::now();
            bool watch_master = t >= hangup_until;
            pollfd fds[2] = {};
            fds[0].fd = watch_master ? master : -1;
            fds[0].events = static_cast<short>(POLLIN | (output.empty() ? 0 : POLLOUT));
            fds[1].fd = wake[0];
            fds[1].events = POLLIN;

            int rc = ::poll(fds, 2, wait_timeout(t));
            if (rc < 0) {
                if (errno == EINTR)
                    continue;
                throw std::runtime_error(describe("poll", errno));
            }

            if (fds[1].revents & POLLIN) {
                char drain[64];
                while (::read(wake[0], drain, sizeof(drain)) > 0) {
                }
            }
            if (fds[0].revents & POLLIN)
                receive();
            if (fds[0].revents & POLLOUT)
                flush_output();
            if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[0].revents & POLLIN))
                hangup_until = SteadyClock::now() + HANGUP_BACKOFF;
        }
        device.on_close(*this);
    }

    void thread_main()
    {
        try {
            serve();
        } catch (const std::exception &e) {
            std::lock_guard<std::mutex> lock(mutex);
            failure = e.what();
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            failure = "unknown exception";
        }
    }

    bool open_terminal(std::string *error)
    {
        auto fail = [&](const char *what) {
            if (error != nullptr)
                *error = describe(what, errno);
            close_all();
            path.clear();
            return false;
        };

        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0)
            return fail("posix_openpt");
        if (grantpt(master) != 0)
            return fail("grantpt");
        if (unlockpt(master) != 0)
            return fail("unlockpt");

        char name[128];
        if (ptsname_r(master, name, sizeof(name)) != 0)
            return fail("ptsname_r");
        path = name;

        int flags = fcntl(master, F_GETFL);
        if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0)
            return fail("fcntl");

        slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0)
            return fail("open");

        // Raw bytes both ways: no echo, no line editing, no translation.
        termios tio;
        if (tcgetattr(slave, &tio) != 0)
            return fail("tcgetattr");
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        if (tcsetattr(slave, TCSANOW, &tio) != 0)
            return fail("tcsetattr");
        current = settings_of(tio);

        if (pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0)
            return fail("pipe2");
        return true;
    }
};

PtyServer::PtyServer(Device &device) : impl_(std::make_unique<Impl>(device)) {}

PtyServer::~PtyServer()
{
    stop();
}

bool PtyServer::start(std::string *error)
{
    if (impl_->master >= 0 || impl_->thread.joinable()) {
        if (error != nullptr)
            *error = "the server is already running";
        return false;
    }

    if (!impl_->open_terminal(error))
        return false;

    impl_->stopping.store(false);
    impl_->start = SteadyClock::now();
    try {
        impl_->thread = std::thread([impl = impl_.get()] { impl->thread_main(); });
    } catch (const std::exception &e) {
        if (error != nullptr)
            *error = std::string("thread: ") + e.what();
        impl_->close_all();
        impl_->path.clear();
        return false;
    }
    return true;
}

void PtyServer::stop()
{
    if (impl_->thread.joinable()) {
        impl_->stopping.store(true);
        impl_->wake_up();
        impl_->thread.join();
    }
    impl_->close_all();
    impl_->pending.clear();
    impl_->output.clear();
}

const std::string &PtyServer::path() const
{
    return impl_->path;
}

void PtyServer::post(std::function<void(Link &)> fn)
{
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->posted.push_back(std::move(fn));
    }
    if (impl_->wake[1] >= 0)
        impl_->wake_up();
}

std::string PtyServer::failure() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->failure;
}

} // namespace qvsim
