// The socket stream, exercised on real sockets of this machine: a connected
// Unix-domain pair stands in for the link to a device (the stream holds one
// end, the test the other), and a listening Unix socket for connect.
#include <libquivelmarine/context.h>
#include <libquivelmarine/iostream.h>

#include "socket.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Logged {
    qv_loglevel_t level;
    std::string function;
    std::string message;
};

void capture(qv_context_t *, qv_loglevel_t level, const char *, unsigned int, const char *function,
             const char *message, void *userdata)
{
    static_cast<std::vector<Logged> *>(userdata)->push_back({level, function, message});
}

// Bytes 0, 1, ... 250, 0, 1, ...: a pattern whose shifts do not repeat
// within a pipe buffer, so that lost or reordered blocks show.
std::vector<unsigned char> pattern(size_t size)
{
    std::vector<unsigned char> data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<unsigned char>(i % 251);
    return data;
}

// Reads from fd until n bytes arrived or nothing came for 5 s.
std::vector<unsigned char> receive_all(int fd, size_t n)
{
    std::vector<unsigned char> out;
    out.reserve(n);
    std::vector<unsigned char> chunk(65536);
    while (out.size() < n) {
        struct pollfd pfd = {fd, POLLIN, 0};
        if (::poll(&pfd, 1, 5000) <= 0)
            break;
        ssize_t k = ::recv(fd, chunk.data(), std::min(chunk.size(), n - out.size()), 0);
        if (k <= 0)
            break;
        out.insert(out.end(), chunk.begin(), chunk.begin() + k);
    }
    return out;
}

// Everything that is waiting on fd, without waiting.
std::vector<unsigned char> drain(int fd)
{
    std::vector<unsigned char> out;
    std::vector<unsigned char> chunk(65536);
    for (;;) {
        ssize_t k = ::recv(fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
        if (k <= 0)
            break;
        out.insert(out.end(), chunk.begin(), chunk.begin() + k);
    }
    return out;
}

bool is_cloexec(int fd)
{
    int flags = fcntl(fd, F_GETFD);
    return flags >= 0 && (flags & FD_CLOEXEC) != 0;
}

class SocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
        qv_context_set_loglevel(context, QV_LOGLEVEL_WARNING);
        qv_context_set_logfunc(context, capture, &logged);
    }

    void TearDown() override
    {
        qv_iostream_close(stream);
        if (peer >= 0)
            ::close(peer);
        qv_context_free(context);
    }

    // A stream on one end of a connected pair; the other end is peer. The
    // pair is made without close-on-exec: the stream must set it.
    void open_pair(int type = SOCK_STREAM)
    {
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, type, 0, fds), 0) << std::strerror(errno);
        peer = fds[1];
        qv_socket_t *sock = qv_socket_allocate(context, QV_TRANSPORT_BLUETOOTH);
        ASSERT_NE(sock, nullptr);
        qv_status_t status = qv_socket_adopt(sock, fds[0]);
        if (status != QV_STATUS_SUCCESS) {
            qv_iostream_deallocate(sock);
            FAIL() << "adopt failed: " << status;
        }
        stream = sock;
    }

    int stream_fd() const { return static_cast<qv_socket_t *>(stream)->fd; }

    void send_peer(const std::string &bytes)
    {
        ASSERT_EQ(::send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }

    std::string read_stream(size_t size, qv_status_t expected)
    {
        std::string buffer(size, '\0');
        size_t actual = 12345;
        EXPECT_EQ(qv_iostream_read(stream, buffer.data(), size, &actual), expected);
        EXPECT_LE(actual, size);
        buffer.resize(std::min(actual, size));
        return buffer;
    }

    size_t count_logged(qv_loglevel_t level) const
    {
        size_t n = 0;
        for (const auto &entry : logged)
            n += entry.level == level;
        return n;
    }

    bool logged_containing(qv_loglevel_t level, const std::string &text) const
    {
        for (const auto &entry : logged)
            if (entry.level == level && entry.message.find(text) != std::string::npos)
                return true;
        return false;
    }

    qv_context_t *context = nullptr;
    std::vector<Logged> logged;
    qv_iostream_t *stream = nullptr;
    int peer = -1;
};

TEST_F(SocketTest, AdoptedSocketIsAStreamOfItsTransportAndCloseOnExec)
{
    open_pair();
    EXPECT_EQ(qv_iostream_get_transport(stream), QV_TRANSPORT_BLUETOOTH);
    EXPECT_TRUE(qv_iostream_isinstance(stream, &qv_socket_vtable));
    EXPECT_TRUE(is_cloexec(stream_fd()));
    EXPECT_EQ(static_cast<qv_socket_t *>(stream)->timeout, -1);

    send_peer("hello");
    EXPECT_EQ(read_stream(5, QV_STATUS_SUCCESS), "hello");

    size_t actual = 0;
    ASSERT_EQ(qv_iostream_write(stream, "world", 5, &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(actual, 5u);
    auto received = receive_all(peer, 5);
    EXPECT_EQ(std::string(received.begin(), received.end()), "world");
    EXPECT_TRUE(logged.empty());
}

TEST_F(SocketTest, ReadOfZeroBytesReturnsAtOnce)
{
    open_pair();
    // The timeout is still "without limit": a wait would never end.
    char byte = 0;
    size_t actual = 99;
    EXPECT_EQ(qv_iostream_read(stream, &byte, 0, &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(actual, 0u);
}

TEST_F(SocketTest, ReadThatRunsOutOfTimeReportsThePartialCount)
{
    open_pair();
    ASSERT_EQ(qv_iostream_set_timeout(stream, 100), QV_STATUS_SUCCESS);
    send_peer("abc");
    EXPECT_EQ(read_stream(10, QV_STATUS_TIMEOUT), "abc");

    // Nothing at all: a timeout with nothing read.
    EXPECT_EQ(read_stream(4, QV_STATUS_TIMEOUT), "");
    EXPECT_EQ(count_logged(QV_LOGLEVEL_ERROR), 0u);
}

TEST_F(SocketTest, TimeoutZeroReturnsWhatIsWaiting)
{
    open_pair();
    ASSERT_EQ(qv_iostream_set_timeout(stream, 0), QV_STATUS_SUCCESS);

    send_peer("wxyz");
    EXPECT_EQ(read_stream(4, QV_STATUS_SUCCESS), "wxyz");

    send_peer("12");
    EXPECT_EQ(read_stream(5, QV_STATUS_TIMEOUT), "12");

    EXPECT_EQ(read_stream(1, QV_STATUS_TIMEOUT), "");
}

TEST_F(SocketTest, TimeoutAppliesToEachWaitNotToTheWholeRead)
{
    open_pair();
    // Three bytes 600 ms apart take longer than the timeout in total, but
    // no single wait comes near it.
    ASSERT_EQ(qv_iostream_set_timeout(stream, 1500), QV_STATUS_SUCCESS);
    std::thread sender([this] {
        for (char c : std::string("xyz")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            ::send(peer, &c, 1, MSG_NOSIGNAL);
        }
    });
    std::string got = read_stream(3, QV_STATUS_SUCCESS);
    sender.join();
    EXPECT_EQ(got, "xyz");
}

TEST_F(SocketTest, PeerClosingMidReadGivesTimeoutWithThePartialCount)
{
    open_pair();
    // No timeout at all: only the closed connection can end this read.
    std::thread closer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        send_peer("abc");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::close(peer);
        peer = -1;
    });
    std::string got = read_stream(10, QV_STATUS_TIMEOUT);
    closer.join();
    EXPECT_EQ(got, "abc");
    EXPECT_TRUE(logged_containing(QV_LOGLEVEL_WARNING, "The connection was closed by the device."));

    // Later reads end at once the same way; the closed connection is
    // reported once per stream.
    EXPECT_EQ(read_stream(2, QV_STATUS_TIMEOUT), "");
    EXPECT_EQ(count_logged(QV_LOGLEVEL_WARNING), 1u);
    EXPECT_EQ(count_logged(QV_LOGLEVEL_ERROR), 0u);

    // A poll sees the end of the connection as something to read.
    EXPECT_EQ(qv_iostream_poll(stream, -1), QV_STATUS_SUCCESS);
}

TEST_F(SocketTest, WriteToAClosedConnectionFailsWithoutASignal)
{
    open_pair();
    ::close(peer);
    peer = -1;

    // The default action of SIGPIPE would end this test program.
    size_t actual = 99;
    EXPECT_EQ(qv_iostream_write(stream, "abcde", 5, &actual), QV_STATUS_IO);
    EXPECT_EQ(actual, 0u);
    ASSERT_EQ(count_logged(QV_LOGLEVEL_ERROR), 1u);
    EXPECT_EQ(logged.back().message, std::string(std::strerror(EPIPE)) + " (" + std::to_string(EPIPE) + ")");
    EXPECT_EQ(logged.back().function, "qv_socket_write");
}

TEST_F(SocketTest, LargeWriteArrivesCompleteAndInOrder)
{
    open_pair();
    const auto data = pattern(8u << 20);

    std::vector<unsigned char> received;
    std::thread reader([&] { received = receive_all(peer, data.size()); });

    size_t actual = 0;
    EXPECT_EQ(qv_iostream_write(stream, data.data(), data.size(), &actual), QV_STATUS_SUCCESS);
    reader.join();
    EXPECT_EQ(actual, data.size());
    EXPECT_TRUE(received == data);
}

TEST_F(SocketTest, LargeReadCollectsEveryByte)
{
    open_pair();
    ASSERT_EQ(qv_iostream_set_timeout(stream, 5000), QV_STATUS_SUCCESS);
    const auto data = pattern(6u << 20);

    std::thread writer([&] {
        size_t sent = 0;
        while (sent < data.size()) {
            ssize_t k = ::send(peer, data.data() + sent, std::min<size_t>(100000, data.size() - sent), MSG_NOSIGNAL);
            if (k <= 0)
                break;
            sent += static_cast<size_t>(k);
        }
    });

    std::vector<unsigned char> buffer(data.size());
    size_t actual = 0;
    EXPECT_EQ(qv_iostream_read(stream, buffer.data(), buffer.size(), &actual), QV_STATUS_SUCCESS);
    writer.join();
    EXPECT_EQ(actual, data.size());
    EXPECT_TRUE(buffer == data);
}

TEST_F(SocketTest, WriteThatCannotProceedTimesOutWithTheExactCount)
{
    open_pair();
    ASSERT_EQ(qv_iostream_set_timeout(stream, 100), QV_STATUS_SUCCESS);

    // The peer reads nothing: the socket buffers fill and the write stops.
    const auto data = pattern(32u << 20);
    size_t actual = 0;
    EXPECT_EQ(qv_iostream_write(stream, data.data(), data.size(), &actual), QV_STATUS_TIMEOUT);
    EXPECT_GT(actual, 0u);
    EXPECT_LT(actual, data.size());

    // Exactly the bytes reported went out.
    auto received = drain(peer);
    ASSERT_EQ(received.size(), actual);
    EXPECT_TRUE(std::equal(received.begin(), received.end(), data.begin()));
}

// Interruptions by a signal whose handler does not ask for restarted calls.
std::atomic<int> signals_caught{0};

void count_signal(int)
{
    signals_caught.fetch_add(1);
}

class SocketSignalTest : public SocketTest {
protected:
    void SetUp() override
    {
        SocketTest::SetUp();
        struct sigaction action {};
        action.sa_handler = count_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: blocked calls fail with EINTR
        ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
        signals_caught = 0;
    }

    void TearDown() override
    {
        sigaction(SIGUSR1, &previous, nullptr);
        SocketTest::TearDown();
    }

    // Interrupts the target thread a few times, then runs then().
    template <typename F>
    std::thread interrupter(pthread_t target, F then)
    {
        return std::thread([target, then] {
            for (int i = 0; i < 5; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
                pthread_kill(target, SIGUSR1);
            }
            then();
        });
    }

    struct sigaction previous {};
};

TEST_F(SocketSignalTest, InterruptedWaitsDoNotEndARead)
{
    open_pair();
    const pthread_t self = pthread_self();

    // Without a timeout.
    std::thread helper = interrupter(self, [this] { send_peer("0123456789"); });
    std::string got = read_stream(10, QV_STATUS_SUCCESS);
    helper.join();
    EXPECT_EQ(got, "0123456789");
    EXPECT_GT(signals_caught.load(), 0);

    // With a timeout that the data arrives well within.
    ASSERT_EQ(qv_iostream_set_timeout(stream, 10000), QV_STATUS_SUCCESS);
    helper = interrupter(self, [this] { send_peer("abc"); });
    got = read_stream(3, QV_STATUS_SUCCESS);
    helper.join();
    EXPECT_EQ(got, "abc");

    // With a timeout and no data: the interruptions neither end the wait
    // with an error nor keep it going for ever.
    ASSERT_EQ(qv_iostream_set_timeout(stream, 100), QV_STATUS_SUCCESS);
    helper = interrupter(self, [] {});
    got = read_stream(3, QV_STATUS_TIMEOUT);
    helper.join();
    EXPECT_EQ(got, "");
    EXPECT_EQ(count_logged(QV_LOGLEVEL_ERROR), 0u);
}

TEST_F(SocketSignalTest, InterruptedPollKeepsWaiting)
{
    open_pair();
    std::thread helper = interrupter(pthread_self(), [this] { send_peer("x"); });
    EXPECT_EQ(qv_iostream_poll(stream, -1), QV_STATUS_SUCCESS);
    helper.join();
    EXPECT_GT(signals_caught.load(), 0);
    EXPECT_EQ(count_logged(QV_LOGLEVEL_ERROR), 0u);
}

TEST_F(SocketTest, PollBeforeAndAfterData)
{
    open_pair();
    EXPECT_EQ(qv_iostream_poll(stream, 0), QV_STATUS_TIMEOUT);
    EXPECT_EQ(qv_iostream_poll(stream, 50), QV_STATUS_TIMEOUT);

    send_peer("q");
    EXPECT_EQ(qv_iostream_poll(stream, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_poll(stream, -1), QV_STATUS_SUCCESS);
    // Polling does not consume the data.
    EXPECT_EQ(read_stream(1, QV_STATUS_SUCCESS), "q");
}

TEST_F(SocketTest, AvailableCountsTheBytesWaiting)
{
    open_pair();
    size_t available = 99;
    EXPECT_EQ(qv_iostream_get_available(stream, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 0u);

    send_peer("1234567");
    EXPECT_EQ(qv_iostream_get_available(stream, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 7u);

    EXPECT_EQ(read_stream(3, QV_STATUS_SUCCESS), "123");
    EXPECT_EQ(qv_iostream_get_available(stream, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 4u);
}

TEST_F(SocketTest, LineControlsFlushAndPurgeDoNothing)
{
    open_pair();
    send_peer("keep");

    // A socket has no line, no output queue to wait for and no queues to
    // empty: these succeed without touching the connection.
    EXPECT_EQ(qv_iostream_purge(stream, QV_DIRECTION_ALL), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_purge(stream, QV_DIRECTION_INPUT), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_flush(stream), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_configure(stream, 9600, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE),
              QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_dtr(stream, 1), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_rts(stream, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_break(stream, 1), QV_STATUS_SUCCESS);
    unsigned int lines = 99;
    EXPECT_EQ(qv_iostream_get_lines(stream, &lines), QV_STATUS_SUCCESS);
    EXPECT_EQ(lines, 0u);

    // The received bytes are still there, and nothing went out.
    size_t available = 0;
    EXPECT_EQ(qv_iostream_get_available(stream, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 4u);
    EXPECT_EQ(read_stream(4, QV_STATUS_SUCCESS), "keep");
    EXPECT_TRUE(drain(peer).empty());
}

TEST_F(SocketTest, IoctlIsUnsupportedAndSleepSucceeds)
{
    open_pair();
    unsigned char data[4] = {};
    EXPECT_EQ(qv_iostream_ioctl(stream, QV_IOCTL(QV_IOCTL_DIR_WRITE, QV_IOCTL_TYPE_SERIAL, 0, 4), data, 4),
              QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_iostream_ioctl(stream, QV_IOCTL(QV_IOCTL_DIR_READ, QV_IOCTL_TYPE_BLE, 1, 0), data, 2),
              QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_iostream_sleep(stream, 1), QV_STATUS_SUCCESS);
}

TEST_F(SocketTest, CloseReleasesTheSocket)
{
    open_pair();
    const int fd = stream_fd();
    EXPECT_EQ(qv_iostream_close(stream), QV_STATUS_SUCCESS);
    stream = nullptr;
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    // The peer sees the connection end.
    char byte;
    EXPECT_EQ(::recv(peer, &byte, 1, 0), 0);
    EXPECT_TRUE(logged.empty());
}

TEST_F(SocketTest, CloseRunsEveryStepAndReportsTheFirstFailure)
{
    open_pair();
    // Put something that is not a socket behind the stream's descriptor:
    // shutting the connection down fails, closing still releases it.
    const int fd = stream_fd();
    int devnull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(devnull, 0);
    ASSERT_EQ(dup2(devnull, fd), fd);
    ::close(devnull);

    EXPECT_EQ(qv_iostream_close(stream), QV_STATUS_IO);
    stream = nullptr;
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    ASSERT_EQ(count_logged(QV_LOGLEVEL_ERROR), 1u);
    EXPECT_EQ(logged[0].message, std::string(std::strerror(ENOTSOCK)) + " (" + std::to_string(ENOTSOCK) + ")");
    EXPECT_EQ(logged[0].function, "qv_socket_close");
}

TEST_F(SocketTest, AdoptRejectsWhatIsNotAConnectedStreamSocket)
{
    struct Case {
        const char *what;
        int fd; // -2: make a datagram pair, -3: make a pipe
        qv_status_t status;
        const char *message;
    };
    const Case cases[] = {
        {"negative descriptor", -1, QV_STATUS_INVALIDARGS, "Invalid socket descriptor -1."},
        {"datagram socket", -2, QV_STATUS_INVALIDARGS, "The socket is not a stream socket."},
        {"pipe", -3, QV_STATUS_IO, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        logged.clear();
        int fd = c.fd, other = -1;
        if (c.fd == -2) {
            int fds[2];
            ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, fds), 0);
            fd = fds[0];
            other = fds[1];
        } else if (c.fd == -3) {
            int fds[2];
            ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
            fd = fds[0];
            other = fds[1];
        }

        qv_socket_t *sock = qv_socket_allocate(context, QV_TRANSPORT_BLUETOOTH);
        ASSERT_NE(sock, nullptr);
        EXPECT_EQ(qv_socket_adopt(sock, fd), c.status);
        qv_iostream_deallocate(sock);

        ASSERT_EQ(count_logged(QV_LOGLEVEL_ERROR), 1u);
        if (c.message != nullptr)
            EXPECT_EQ(logged[0].message, c.message);
        else
            EXPECT_EQ(logged[0].message, std::string(std::strerror(ENOTSOCK)) + " (" + std::to_string(ENOTSOCK) + ")");

        // The stream took the descriptor over: it is gone with the stream.
        if (fd >= 0) {
            EXPECT_EQ(fcntl(fd, F_GETFD), -1);
        }
        if (other >= 0)
            ::close(other);
    }
}

// A listening Unix socket at a fresh path.
class Listener {
public:
    Listener()
    {
        char dir[] = "/tmp/qv-socket-XXXXXX";
        if (mkdtemp(dir) == nullptr)
            return;
        dir_ = dir;
        path_ = dir_ + "/link";
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address = this->address();
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(fd_, 1) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Listener()
    {
        if (fd_ >= 0)
            ::close(fd_);
        ::unlink(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    sockaddr_un address() const { return address_of(path_); }

    static sockaddr_un address_of(const std::string &path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        return address;
    }

private:
    std::string dir_, path_;
    int fd_ = -1;
};

TEST_F(SocketTest, OpenAndConnectGiveAWorkingStream)
{
    Listener listener;
    ASSERT_TRUE(listener.ok()) << std::strerror(errno);

    qv_socket_t *sock = qv_socket_allocate(context, QV_TRANSPORT_IRDA);
    ASSERT_NE(sock, nullptr);
    stream = sock;
    ASSERT_EQ(qv_socket_open(sock, AF_UNIX, SOCK_STREAM, 0), QV_STATUS_SUCCESS);
    EXPECT_TRUE(is_cloexec(sock->fd));
    EXPECT_EQ(sock->timeout, -1);

    sockaddr_un address = listener.address();
    ASSERT_EQ(qv_socket_connect(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), QV_STATUS_SUCCESS);
    peer = ::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(peer, 0);

    size_t actual = 0;
    ASSERT_EQ(qv_iostream_write(stream, "ping", 4, &actual), QV_STATUS_SUCCESS);
    auto received = receive_all(peer, 4);
    EXPECT_EQ(std::string(received.begin(), received.end()), "ping");
    send_peer("pong");
    EXPECT_EQ(read_stream(4, QV_STATUS_SUCCESS), "pong");
    EXPECT_EQ(qv_iostream_get_transport(stream), QV_TRANSPORT_IRDA);
    EXPECT_TRUE(logged.empty());
}

TEST_F(SocketTest, ConnectFailureIsLoggedAndTheStreamClosesCleanly)
{
    Listener listener; // only for a fresh directory name
    ASSERT_TRUE(listener.ok());
    qv_socket_t *sock = qv_socket_allocate(context, QV_TRANSPORT_IRDA);
    ASSERT_NE(sock, nullptr);
    stream = sock;
    ASSERT_EQ(qv_socket_open(sock, AF_UNIX, SOCK_STREAM, 0), QV_STATUS_SUCCESS);

    sockaddr_un address = Listener::address_of("/nonexistent-qv-dir/link");
    EXPECT_EQ(qv_socket_connect(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), QV_STATUS_IO);
    ASSERT_EQ(count_logged(QV_LOGLEVEL_ERROR), 1u);
    EXPECT_EQ(logged[0].message, std::string(std::strerror(ENOENT)) + " (" + std::to_string(ENOENT) + ")");
    EXPECT_EQ(logged[0].function, "qv_socket_connect");

    // Closing a socket that never connected is not an error.
    logged.clear();
    EXPECT_EQ(qv_iostream_close(stream), QV_STATUS_SUCCESS);
    stream = nullptr;
    EXPECT_TRUE(logged.empty());
}

TEST_F(SocketTest, OpenFailuresAreLoggedAndMapped)
{
    struct Case {
        int family, type;
        int errcode;
        qv_status_t status;
    };
    const Case cases[] = {
        {1000, SOCK_STREAM, EAFNOSUPPORT, QV_STATUS_UNSUPPORTED},             // no such family
        {AF_UNIX, SOCK_STREAM | 0x100, EINVAL, QV_STATUS_INVALIDARGS},        // unknown type flag
        {AF_UNIX, SOCK_DCCP, ESOCKTNOSUPPORT, QV_STATUS_IO},                  // type the family lacks
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.family);
        SCOPED_TRACE(c.type);
        logged.clear();
        qv_socket_t *sock = qv_socket_allocate(context, QV_TRANSPORT_IRDA);
        ASSERT_NE(sock, nullptr);
        EXPECT_EQ(qv_socket_open(sock, c.family, c.type, 0), c.status);
        EXPECT_EQ(sock->fd, -1);
        qv_iostream_deallocate(sock);
        ASSERT_EQ(logged.size(), 1u);
        EXPECT_EQ(logged[0].level, QV_LOGLEVEL_ERROR);
        EXPECT_EQ(logged[0].message, std::string(std::strerror(c.errcode)) + " (" + std::to_string(c.errcode) + ")");
        EXPECT_EQ(logged[0].function, "qv_socket_open");
    }
}

TEST(SocketErrors, StatusMapping)
{
    const struct {
        int errcode;
        qv_status_t status;
    } cases[] = {
        {EINVAL, QV_STATUS_INVALIDARGS}, {EAFNOSUPPORT, QV_STATUS_UNSUPPORTED}, {ENOMEM, QV_STATUS_NOMEMORY},
        {ENOBUFS, QV_STATUS_NOMEMORY},   {EACCES, QV_STATUS_NOACCESS},          {EPERM, QV_STATUS_NOACCESS},
        {ECONNRESET, QV_STATUS_IO},      {EPIPE, QV_STATUS_IO},                 {ETIMEDOUT, QV_STATUS_IO},
        {EHOSTUNREACH, QV_STATUS_IO},    {ENOTSOCK, QV_STATUS_IO},              {0, QV_STATUS_IO},
    };
    for (const auto &c : cases)
        EXPECT_EQ(qv_socket_status_from_errno(c.errcode), c.status) << "errno " << c.errcode;
}

} // namespace
