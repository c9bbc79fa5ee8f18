// The serial port transport, exercised on real pseudo-terminals: the test
// holds the master side and opens the slave through qv_serial_open.
#include <libquivelmarine/context.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/iostream.h>
#include <libquivelmarine/iterator.h>
#include <libquivelmarine/serial.h>

#include "platform/serial_posix.h"
#include "platform/serial_termios2.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Logged {
    qv_loglevel_t level;
    std::string message;
};

void capture(qv_context_t *, qv_loglevel_t level, const char *, unsigned int, const char *, const char *message,
             void *userdata)
{
    static_cast<std::vector<Logged> *>(userdata)->push_back({level, message});
}

// A pseudo-terminal pair; the master stays with the test.
class Pty {
public:
    Pty()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        char name[128] = {};
        if (ptsname_r(master_, name, sizeof name) != 0)
            return;
        slave_ = name;
    }
    ~Pty() { close_master(); }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    int master() const { return master_; }
    const std::string &slave() const { return slave_; }

    void close_master()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    void send(const std::string &bytes) const
    {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Reads exactly n bytes from the master, waiting at most 5 s in total.
    std::string receive(size_t n) const
    {
        std::string out;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
            struct pollfd pfd = {master_, POLLIN, 0};
            if (::poll(&pfd, 1, 100) <= 0)
                continue;
            char buffer[256];
            ssize_t k = ::read(master_, buffer, std::min(sizeof buffer, n - out.size()));
            if (k > 0)
                out.append(buffer, static_cast<size_t>(k));
        }
        return out;
    }

private:
    int master_ = -1;
    std::string slave_;
};

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok()) << "no pseudo-terminal: " << std::strerror(errno);
        ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
        qv_context_set_loglevel(context, QV_LOGLEVEL_WARNING);
        qv_context_set_logfunc(context, capture, &logged);
    }

    void TearDown() override
    {
        qv_iostream_close(stream);
        qv_context_free(context);
    }

    void open_slave()
    {
        ASSERT_EQ(qv_serial_open(&stream, context, pty.slave().c_str()), QV_STATUS_SUCCESS);
        ASSERT_NE(stream, nullptr);
    }

    // Waits (at most 5 s) until the stream has n bytes buffered; the pty
    // hands data over asynchronously.
    void wait_available(size_t n)
    {
        size_t available = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            ASSERT_EQ(qv_iostream_get_available(stream, &available), QV_STATUS_SUCCESS);
            if (available >= n)
                break;
            qv_iostream_poll(stream, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(available, n);
    }

    size_t count(qv_loglevel_t level) const
    {
        size_t n = 0;
        for (const auto &entry : logged)
            n += entry.level == level;
        return n;
    }

    bool logged_containing(const std::string &text) const
    {
        for (const auto &entry : logged) {
            if (entry.message.find(text) != std::string::npos)
                return true;
        }
        return false;
    }

    Pty pty;
    qv_context_t *context = nullptr;
    qv_iostream_t *stream = nullptr;
    std::vector<Logged> logged;
};

// Terminal settings compared field by field (the C library's record also
// holds padding and speed fields that need not match).
void expect_same_settings(const struct termios &a, const struct termios &b)
{
    EXPECT_EQ(a.c_iflag, b.c_iflag);
    EXPECT_EQ(a.c_oflag, b.c_oflag);
    EXPECT_EQ(a.c_cflag, b.c_cflag);
    EXPECT_EQ(a.c_lflag, b.c_lflag);
    EXPECT_EQ(0, std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc));
    EXPECT_EQ(cfgetospeed(&a), cfgetospeed(&b));
    EXPECT_EQ(cfgetispeed(&a), cfgetispeed(&b));
}

TEST_F(SerialTest, OpenGivesASerialStream)
{
    open_slave();
    EXPECT_EQ(qv_iostream_get_transport(stream), QV_TRANSPORT_SERIAL);
    EXPECT_TRUE(logged.empty());
}

TEST_F(SerialTest, OpenArgumentsAndMissingPorts)
{
    qv_iostream_t *out = nullptr;
    EXPECT_EQ(qv_serial_open(nullptr, context, pty.slave().c_str()), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_serial_open(&out, context, nullptr), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_serial_open(&out, context, ""), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(out, nullptr);

    logged.clear();
    EXPECT_EQ(qv_serial_open(&out, context, "/dev/qv-no-such-port"), QV_STATUS_NODEVICE);
    EXPECT_EQ(qv_serial_open(&out, context, "qv-no-such-port"), QV_STATUS_NODEVICE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(count(QV_LOGLEVEL_ERROR), 2u); // the system's text, once each
    EXPECT_TRUE(logged_containing("No such file or directory (2)"));

    // A file that is not a terminal cannot serve as a port.
    EXPECT_EQ(qv_serial_open(&out, context, "/dev/null"), QV_STATUS_IO);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(logged_containing("/dev/null is not a serial port."));
}

TEST_F(SerialTest, BareNameIsLookedUpUnderDev)
{
    ASSERT_EQ(pty.slave().rfind("/dev/", 0), 0u);
    std::string relative = pty.slave().substr(5); // "pts/N"
    ASSERT_EQ(qv_serial_open(&stream, context, relative.c_str()), QV_STATUS_SUCCESS);

    ASSERT_EQ(qv_iostream_write(stream, "x", 1, nullptr), QV_STATUS_SUCCESS);
    EXPECT_EQ(pty.receive(1), "x");
}

TEST_F(SerialTest, SecondOpenIsRefusedUntilTheFirstCloses)
{
    open_slave();

    qv_iostream_t *second = nullptr;
    logged.clear();
    EXPECT_EQ(qv_serial_open(&second, context, pty.slave().c_str()), QV_STATUS_NOACCESS);
    EXPECT_EQ(second, nullptr);
    EXPECT_TRUE(logged_containing("is in use by another program."));

    EXPECT_EQ(qv_iostream_close(stream), QV_STATUS_SUCCESS);
    stream = nullptr;
    ASSERT_EQ(qv_serial_open(&second, context, pty.slave().c_str()), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_close(second), QV_STATUS_SUCCESS);
}

TEST_F(SerialTest, ReadTimeoutBoundsTheWholeReadAndReportsThePartialCount)
{
    open_slave();
    ASSERT_EQ(qv_iostream_set_timeout(stream, 200), QV_STATUS_SUCCESS);
    pty.send("abc");

    unsigned char buffer[10] = {};
    size_t actual = 99;
    EXPECT_EQ(qv_iostream_read(stream, buffer, sizeof buffer, &actual), QV_STATUS_TIMEOUT);
    EXPECT_EQ(actual, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 3), "abc");
}

TEST_F(SerialTest, ReadWithTimeoutZeroReturnsWhatIsBuffered)
{
    open_slave();
    ASSERT_EQ(qv_iostream_set_timeout(stream, 0), QV_STATUS_SUCCESS);

    unsigned char buffer[8] = {};
    size_t actual = 99;
    EXPECT_EQ(qv_iostream_read(stream, buffer, 1, &actual), QV_STATUS_TIMEOUT);
    EXPECT_EQ(actual, 0u);

    pty.send("12345");
    wait_available(5);

    EXPECT_EQ(qv_iostream_read(stream, buffer, 3, &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(actual, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 3), "123");

    EXPECT_EQ(qv_iostream_read(stream, buffer, sizeof buffer, &actual), QV_STATUS_TIMEOUT);
    EXPECT_EQ(actual, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 2), "45");

    EXPECT_EQ(qv_iostream_read(stream, buffer, 0, &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(actual, 0u);
}

TEST_F(SerialTest, NegativeTimeoutWaitsUntilEveryByteArrived)
{
    open_slave();
    ASSERT_EQ(qv_iostream_set_timeout(stream, -1), QV_STATUS_SUCCESS);

    std::thread writer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.send("hel");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.send("lo!");
    });

    unsigned char buffer[6] = {};
    size_t actual = 0;
    qv_status_t status = qv_iostream_read(stream, buffer, sizeof buffer, &actual);
    writer.join();

    EXPECT_EQ(status, QV_STATUS_SUCCESS);
    EXPECT_EQ(actual, 6u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 6), "hello!");
}

TEST_F(SerialTest, ReadOnAHungUpLineFailsInsteadOfWaiting)
{
    open_slave();
    ASSERT_EQ(qv_iostream_set_timeout(stream, -1), QV_STATUS_SUCCESS);
    pty.close_master();

    unsigned char buffer[4] = {};
    size_t actual = 99;
    EXPECT_EQ(qv_iostream_read(stream, buffer, sizeof buffer, &actual), QV_STATUS_IO);
    EXPECT_EQ(actual, 0u);
    EXPECT_GE(count(QV_LOGLEVEL_ERROR), 1u);
}

TEST_F(SerialTest, PollBeforeAndAfterData)
{
    open_slave();
    EXPECT_EQ(qv_iostream_poll(stream, 0), QV_STATUS_TIMEOUT);
    EXPECT_EQ(qv_iostream_poll(stream, 20), QV_STATUS_TIMEOUT);

    pty.send("z");
    EXPECT_EQ(qv_iostream_poll(stream, 5000), QV_STATUS_SUCCESS);
    // Polling does not consume the data.
    EXPECT_EQ(qv_iostream_poll(stream, 0), QV_STATUS_SUCCESS);

    unsigned char byte = 0;
    ASSERT_EQ(qv_iostream_read(stream, &byte, 1, nullptr), QV_STATUS_SUCCESS);
    EXPECT_EQ(byte, 'z');
    EXPECT_EQ(qv_iostream_poll(stream, 0), QV_STATUS_TIMEOUT);
}

TEST_F(SerialTest, WriteSendsEveryByteUnchanged)
{
    open_slave();
    // Raw mode: no newline translation on the way out.
    const std::string message("AT\r\n\x00\xFF", 6);
    size_t actual = 0;
    EXPECT_EQ(qv_iostream_write(stream, message.data(), message.size(), &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(actual, message.size());
    EXPECT_EQ(pty.receive(message.size()), message);
    EXPECT_EQ(qv_iostream_flush(stream), QV_STATUS_SUCCESS);
}

TEST_F(SerialTest, WriteThatCannotProceedTimesOutWithThePartialCount)
{
    open_slave();
    ASSERT_EQ(qv_iostream_set_timeout(stream, 100), QV_STATUS_SUCCESS);

    // Nobody reads the master: the pseudo-terminal's queues fill up.
    std::vector<unsigned char> data(8 * 1024 * 1024, 0x5A);
    size_t actual = 0;
    EXPECT_EQ(qv_iostream_write(stream, data.data(), data.size(), &actual), QV_STATUS_TIMEOUT);
    EXPECT_GT(actual, 0u);
    EXPECT_LT(actual, data.size());
}

TEST_F(SerialTest, ReceivedBytesAreNotEchoedOrTranslated)
{
    open_slave();
    ASSERT_EQ(qv_iostream_set_timeout(stream, 2000), QV_STATUS_SUCCESS);
    pty.send(std::string("\r\x03\x11\n", 4));

    unsigned char buffer[4] = {};
    size_t actual = 0;
    ASSERT_EQ(qv_iostream_read(stream, buffer, sizeof buffer, &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 4), std::string("\r\x03\x11\n", 4));

    struct pollfd pfd = {pty.master(), POLLIN, 0};
    EXPECT_EQ(::poll(&pfd, 1, 50), 0) << "the port echoed what it received";
}

TEST_F(SerialTest, AvailableAndPurgeByDirection)
{
    open_slave();
    pty.send("abcd");
    wait_available(4);

    EXPECT_EQ(qv_iostream_purge(stream, QV_DIRECTION_OUTPUT), QV_STATUS_SUCCESS);
    size_t available = 0;
    EXPECT_EQ(qv_iostream_get_available(stream, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 4u);

    EXPECT_EQ(qv_iostream_purge(stream, QV_DIRECTION_INPUT), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_get_available(stream, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 0u);

    pty.send("ef");
    wait_available(2);
    EXPECT_EQ(qv_iostream_purge(stream, QV_DIRECTION_ALL), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_get_available(stream, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 0u);

    logged.clear();
    for (qv_direction_t direction : {0u, 4u, 0xFFFFFFFFu})
        EXPECT_EQ(qv_iostream_purge(stream, direction), QV_STATUS_INVALIDARGS) << direction;
    EXPECT_TRUE(logged.empty());
}

TEST_F(SerialTest, ConfigureAcceptsValidAndRejectsInvalidSettings)
{
    open_slave();

    struct Case {
        unsigned int baudrate;
        unsigned int databits;
        qv_parity_t parity;
        qv_stopbits_t stopbits;
        qv_flowcontrol_t flowcontrol;
        qv_status_t expected;
    };
    const Case cases[] = {
        {9600, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, QV_STATUS_SUCCESS},
        {19200, 7, QV_PARITY_EVEN, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, QV_STATUS_SUCCESS},
        {2400, 8, QV_PARITY_ODD, QV_STOPBITS_TWO, QV_FLOWCONTROL_NONE, QV_STATUS_SUCCESS},
        {115200, 8, QV_PARITY_MARK, QV_STOPBITS_ONE, QV_FLOWCONTROL_HARDWARE, QV_STATUS_SUCCESS},
        {57600, 5, QV_PARITY_SPACE, QV_STOPBITS_ONE, QV_FLOWCONTROL_SOFTWARE, QV_STATUS_SUCCESS},
        {12345, 6, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, QV_STATUS_SUCCESS},
        {0, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, QV_STATUS_INVALIDARGS},
        {9600, 4, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, QV_STATUS_INVALIDARGS},
        {9600, 9, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, QV_STATUS_INVALIDARGS},
        {9600, 8, 5, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, QV_STATUS_INVALIDARGS},
        {9600, 8, QV_PARITY_NONE, 3, QV_FLOWCONTROL_NONE, QV_STATUS_INVALIDARGS},
        {9600, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, 3, QV_STATUS_INVALIDARGS},
        {9600, 8, QV_PARITY_NONE, QV_STOPBITS_ONEPOINTFIVE, QV_FLOWCONTROL_NONE, QV_STATUS_UNSUPPORTED},
    };

    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.baudrate << " " << c.databits << " parity " << c.parity << " stop "
                                        << c.stopbits << " flow " << c.flowcontrol);
        struct termios before {};
        ASSERT_EQ(tcgetattr(pty.master(), &before), 0);
        uint32_t out_before = 0, in_before = 0;
        ASSERT_EQ(qv_serial_get_rates(pty.master(), &out_before, &in_before), 0);

        logged.clear();
        EXPECT_EQ(qv_iostream_configure(stream, c.baudrate, c.databits, c.parity, c.stopbits, c.flowcontrol),
                  c.expected);

        if (c.expected == QV_STATUS_SUCCESS) {
            uint32_t out = 0, in = 0;
            ASSERT_EQ(qv_serial_get_rates(pty.master(), &out, &in), 0);
            EXPECT_EQ(out, c.baudrate);
            EXPECT_EQ(in, c.baudrate);
            continue;
        }

        // A refused configuration leaves the port as it was.
        struct termios after {};
        ASSERT_EQ(tcgetattr(pty.master(), &after), 0);
        expect_same_settings(before, after);
        uint32_t out_after = 0, in_after = 0;
        ASSERT_EQ(qv_serial_get_rates(pty.master(), &out_after, &in_after), 0);
        EXPECT_EQ(out_after, out_before);
        EXPECT_EQ(in_after, in_before);
        if (c.expected == QV_STATUS_INVALIDARGS) {
            EXPECT_EQ(count(QV_LOGLEVEL_ERROR), 0u); // invalid arguments are not logged
        }
    }
}

TEST_F(SerialTest, StandardRateAfterAnArbitraryRateSetsBothDirections)
{
    open_slave();
    ASSERT_EQ(qv_iostream_configure(stream, 250000 + 7, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE),
              QV_STATUS_SUCCESS);
    ASSERT_EQ(qv_iostream_configure(stream, 4800, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE),
              QV_STATUS_SUCCESS);

    uint32_t out = 0, in = 0;
    ASSERT_EQ(qv_serial_get_rates(pty.master(), &out, &in), 0);
    EXPECT_EQ(out, 4800u);
    EXPECT_EQ(in, 4800u);
}

TEST_F(SerialTest, CloseRestoresTheSettingsFoundAtOpen)
{
    struct termios before {};
    ASSERT_EQ(tcgetattr(pty.master(), &before), 0);
    uint32_t out_before = 0, in_before = 0;
    ASSERT_EQ(qv_serial_get_rates(pty.master(), &out_before, &in_before), 0);

    for (unsigned int baudrate : {19200u, 31250u}) {
        SCOPED_TRACE(baudrate);
        open_slave();
        ASSERT_EQ(qv_iostream_configure(stream, baudrate, 7, QV_PARITY_EVEN, QV_STOPBITS_TWO,
                                        QV_FLOWCONTROL_SOFTWARE),
                  QV_STATUS_SUCCESS);
        struct termios during {};
        ASSERT_EQ(tcgetattr(pty.master(), &during), 0);
        EXPECT_EQ(during.c_lflag & ICANON, 0u); // the port really changed

        EXPECT_EQ(qv_iostream_close(stream), QV_STATUS_SUCCESS);
        stream = nullptr;

        struct termios after {};
        ASSERT_EQ(tcgetattr(pty.master(), &after), 0);
        expect_same_settings(before, after);
        uint32_t out_after = 0, in_after = 0;
        ASSERT_EQ(qv_serial_get_rates(pty.master(), &out_after, &in_after), 0);
        EXPECT_EQ(out_after, out_before);
        EXPECT_EQ(in_after, in_before);
    }
}

TEST_F(SerialTest, PortWithoutModemLinesWarnsOnceAndSucceeds)
{
    open_slave();
    logged.clear();

    EXPECT_EQ(qv_iostream_configure(stream, 9600, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE),
              QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_dtr(stream, 1), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_dtr(stream, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_rts(stream, 1), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_rts(stream, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_break(stream, 1), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_break(stream, 0), QV_STATUS_SUCCESS);
    unsigned int lines = 0xFF;
    EXPECT_EQ(qv_iostream_get_lines(stream, &lines), QV_STATUS_SUCCESS);
    EXPECT_EQ(lines, 0u);

    EXPECT_EQ(count(QV_LOGLEVEL_WARNING), 1u);
    EXPECT_EQ(count(QV_LOGLEVEL_ERROR), 0u);
    EXPECT_TRUE(logged_containing("no modem control lines"));
}

TEST_F(SerialTest, IoctlAcceptsOnlyTheSerialNoOperation)
{
    open_slave();
    uint32_t value = 0;
    EXPECT_EQ(qv_iostream_ioctl(stream, 0x80047300u, &value, sizeof value), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_ioctl(stream, 0x80047301u, &value, sizeof value), QV_STATUS_UNSUPPORTED);
    unsigned char setup[8] = {};
    EXPECT_EQ(qv_iostream_ioctl(stream, QV_USB_IOCTL_CONTROL, setup, sizeof setup), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_iostream_sleep(stream, 1), QV_STATUS_SUCCESS);
}

// A stand-in for the modem-control requests of a port with real lines.
struct ModemRequest {
    unsigned long request;
    int bits;
};
std::vector<ModemRequest> modem_requests;
int modem_lines = 0;    // what TIOCMGET reports
int modem_failure = 0;  // errno to fail every request with, 0 for success

int fake_modem_ioctl(int, unsigned long request, void *argument)
{
    int bits = argument != nullptr ? *static_cast<int *>(argument) : 0;
    modem_requests.push_back({request, bits});
    if (modem_failure != 0) {
        errno = modem_failure;
        return -1;
    }
    if (request == TIOCMGET)
        *static_cast<int *>(argument) = modem_lines;
    return 0;
}

class SerialModemTest : public SerialTest {
protected:
    void SetUp() override
    {
        SerialTest::SetUp();
        open_slave();
        ASSERT_EQ(qv_serial_set_modem_ioctl(stream, fake_modem_ioctl), QV_STATUS_SUCCESS);
        modem_requests.clear();
        modem_lines = 0;
        modem_failure = 0;
        logged.clear();
    }
};

TEST_F(SerialModemTest, ConfigureRaisesDtrAndRtsUnlessHardwareFlowControl)
{
    struct Case {
        qv_flowcontrol_t flowcontrol;
        bool raises;
    };
    for (const Case c : {Case{QV_FLOWCONTROL_NONE, true}, Case{QV_FLOWCONTROL_SOFTWARE, true},
                         Case{QV_FLOWCONTROL_HARDWARE, false}}) {
        SCOPED_TRACE(c.flowcontrol);
        modem_requests.clear();
        ASSERT_EQ(qv_iostream_configure(stream, 9600, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, c.flowcontrol),
                  QV_STATUS_SUCCESS);
        if (c.raises) {
            ASSERT_EQ(modem_requests.size(), 1u);
            EXPECT_EQ(modem_requests[0].request, static_cast<unsigned long>(TIOCMBIS));
            EXPECT_EQ(modem_requests[0].bits, TIOCM_DTR | TIOCM_RTS);
        } else {
            EXPECT_TRUE(modem_requests.empty());
        }
    }

    // An invalid configuration touches no line.
    modem_requests.clear();
    EXPECT_EQ(qv_iostream_configure(stream, 9600, 9, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE),
              QV_STATUS_INVALIDARGS);
    EXPECT_TRUE(modem_requests.empty());
}

TEST_F(SerialModemTest, LineRequests)
{
    struct Case {
        qv_status_t (*call)(qv_iostream_t *, unsigned int);
        unsigned int value;
        unsigned long request;
        int bits;
    };
    const Case cases[] = {
        {qv_iostream_set_dtr, 1, TIOCMBIS, TIOCM_DTR}, {qv_iostream_set_dtr, 0, TIOCMBIC, TIOCM_DTR},
        {qv_iostream_set_rts, 1, TIOCMBIS, TIOCM_RTS}, {qv_iostream_set_rts, 0, TIOCMBIC, TIOCM_RTS},
        {qv_iostream_set_break, 1, TIOCSBRK, 0},      {qv_iostream_set_break, 0, TIOCCBRK, 0},
    };
    for (const auto &c : cases) {
        modem_requests.clear();
        EXPECT_EQ(c.call(stream, c.value), QV_STATUS_SUCCESS);
        ASSERT_EQ(modem_requests.size(), 1u);
        EXPECT_EQ(modem_requests[0].request, c.request);
        EXPECT_EQ(modem_requests[0].bits, c.bits);
    }
    EXPECT_TRUE(logged.empty());
}

TEST_F(SerialModemTest, LinesMapToTheLineBits)
{
    struct Case {
        int modem;
        unsigned int expected;
    };
    const Case cases[] = {
        {0, 0},
        {TIOCM_CAR, QV_LINE_CD},
        {TIOCM_CTS | TIOCM_DSR, QV_LINE_CTS | QV_LINE_DSR},
        {TIOCM_RNG | TIOCM_DTR | TIOCM_RTS, QV_LINE_RNG},
        {TIOCM_CAR | TIOCM_CTS | TIOCM_DSR | TIOCM_RNG, QV_LINE_CD | QV_LINE_CTS | QV_LINE_DSR | QV_LINE_RNG},
    };
    for (const auto &c : cases) {
        modem_lines = c.modem;
        unsigned int lines = 0xFF;
        EXPECT_EQ(qv_iostream_get_lines(stream, &lines), QV_STATUS_SUCCESS);
        EXPECT_EQ(lines, c.expected) << c.modem;
    }
}

TEST_F(SerialModemTest, FailuresAreErrorsUnlessTheLinesAreMissing)
{
    modem_failure = EIO;
    EXPECT_EQ(qv_iostream_set_dtr(stream, 1), QV_STATUS_IO);
    EXPECT_EQ(qv_iostream_set_break(stream, 1), QV_STATUS_IO);
    unsigned int lines = 0;
    EXPECT_EQ(qv_iostream_get_lines(stream, &lines), QV_STATUS_IO);
    EXPECT_EQ(qv_iostream_configure(stream, 9600, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE),
              QV_STATUS_IO);
    EXPECT_EQ(count(QV_LOGLEVEL_ERROR), 4u);
    EXPECT_EQ(count(QV_LOGLEVEL_WARNING), 0u);

    logged.clear();
    modem_failure = EINVAL; // a driver without modem control
    EXPECT_EQ(qv_iostream_set_rts(stream, 1), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_get_lines(stream, &lines), QV_STATUS_SUCCESS);
    EXPECT_EQ(lines, 0u);
    EXPECT_EQ(count(QV_LOGLEVEL_WARNING), 1u);
    EXPECT_EQ(count(QV_LOGLEVEL_ERROR), 0u);
}

TEST(SerialErrors, StatusMapping)
{
    struct Case {
        int errcode;
        qv_status_t expected;
    };
    const Case cases[] = {
        {ENOENT, QV_STATUS_NODEVICE}, {ENODEV, QV_STATUS_NODEVICE},    {ENXIO, QV_STATUS_NODEVICE},
        {EACCES, QV_STATUS_NOACCESS}, {EPERM, QV_STATUS_NOACCESS},     {EBUSY, QV_STATUS_NOACCESS},
        {ENOMEM, QV_STATUS_NOMEMORY}, {EINVAL, QV_STATUS_INVALIDARGS}, {EIO, QV_STATUS_IO},
        {ENOTTY, QV_STATUS_IO},       {EAGAIN, QV_STATUS_IO},
    };
    for (const auto &c : cases)
        EXPECT_EQ(qv_serial_status_from_errno(c.errcode), c.expected) << c.errcode;
}

TEST(SerialErrors, NonSerialStreamIsRejectedBySerialInternals)
{
    EXPECT_EQ(qv_serial_set_modem_ioctl(nullptr, fake_modem_ioctl), QV_STATUS_INVALIDARGS);
}

// The mode computation, on a starting point that has everything set that a
// configure must clear.
struct termios cooked_modes()
{
    struct termios t {};
    t.c_iflag = ICRNL | IXON | IXANY | ISTRIP | INPCK | IGNBRK | BRKINT | INLCR | IGNCR | PARMRK | IMAXBEL;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS8 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL;
    t.c_lflag = ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 5;
    cfsetospeed(&t, B38400);
    cfsetispeed(&t, B38400);
    return t;
}

TEST(SerialModes, ComputedFlags)
{
    struct Case {
        unsigned int baudrate;
        unsigned int databits;
        qv_parity_t parity;
        qv_stopbits_t stopbits;
        qv_flowcontrol_t flowcontrol;
        tcflag_t cflags;  // of CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS
        tcflag_t iflow;   // of IXON | IXOFF | IXANY
        speed_t speed;    // 0: an arbitrary rate
    };
    const Case cases[] = {
        {9600, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, CS8, 0, B9600},
        {19200, 7, QV_PARITY_EVEN, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, CS7 | PARENB, 0, B19200},
        {2400, 8, QV_PARITY_ODD, QV_STOPBITS_TWO, QV_FLOWCONTROL_NONE, CS8 | PARENB | PARODD | CSTOPB, 0, B2400},
        {1200, 7, QV_PARITY_MARK, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, CS7 | PARENB | CMSPAR | PARODD, 0, B1200},
        {300, 6, QV_PARITY_SPACE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, CS6 | PARENB | CMSPAR, 0, B300},
        {115200, 5, QV_PARITY_NONE, QV_STOPBITS_TWO, QV_FLOWCONTROL_HARDWARE, CS5 | CSTOPB | CRTSCTS, 0, B115200},
        {57600, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_SOFTWARE, CS8, IXON | IXOFF, B57600},
        {460800, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, CS8, 0, B460800},
        {10400, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, CS8, 0, 0},
    };
    const tcflag_t format = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

    for (const auto &c : cases) {
        SCOPED_TRACE(c.baudrate);
        struct termios t = cooked_modes();
        bool custom = true;
        ASSERT_EQ(qv_serial_compute_modes(&t, c.baudrate, c.databits, c.parity, c.stopbits, c.flowcontrol, &custom),
                  QV_STATUS_SUCCESS);

        EXPECT_EQ(t.c_cflag & format, c.cflags);
        EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
        EXPECT_EQ(t.c_cflag & HUPCL, static_cast<tcflag_t>(HUPCL)); // untouched
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), c.iflow);
        EXPECT_EQ(t.c_iflag & (ICRNL | ISTRIP | INPCK | IGNBRK | BRKINT | INLCR | IGNCR | PARMRK | IMAXBEL), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_cc[VMIN], 1);
        EXPECT_EQ(t.c_cc[VTIME], 0);
        if (c.iflow != 0) {
            EXPECT_EQ(t.c_cc[VSTART], 0x11);
            EXPECT_EQ(t.c_cc[VSTOP], 0x13);
        }

        if (c.speed != 0) {
            EXPECT_FALSE(custom);
            EXPECT_EQ(cfgetospeed(&t), c.speed);
            EXPECT_EQ(cfgetispeed(&t), c.speed);
            EXPECT_EQ(t.c_cflag & CIBAUD, 0u);
        } else {
            EXPECT_TRUE(custom);
            EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400)); // left for the arbitrary-rate request
        }
    }
}

TEST(SerialModes, InvalidValuesLeaveTheModesUnchanged)
{
    struct Case {
        unsigned int baudrate;
        unsigned int databits;
        qv_parity_t parity;
        qv_stopbits_t stopbits;
        qv_flowcontrol_t flowcontrol;
        qv_status_t expected;
    };
    const Case cases[] = {
        {0, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, QV_STATUS_INVALIDARGS},
        {9600, 0, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, QV_STATUS_INVALIDARGS},
        {9600, 4, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, QV_STATUS_INVALIDARGS},
        {9600, 9, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, QV_STATUS_INVALIDARGS},
        {9600, 8, 5, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE, QV_STATUS_INVALIDARGS},
        {9600, 8, QV_PARITY_NONE, 3, QV_FLOWCONTROL_NONE, QV_STATUS_INVALIDARGS},
        {9600, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, 3, QV_STATUS_INVALIDARGS},
        {9600, 8, QV_PARITY_NONE, QV_STOPBITS_ONEPOINTFIVE, QV_FLOWCONTROL_NONE, QV_STATUS_UNSUPPORTED},
    };
    for (const auto &c : cases) {
        struct termios t = cooked_modes();
        const struct termios original = t;
        bool custom = false;
        EXPECT_EQ(qv_serial_compute_modes(&t, c.baudrate, c.databits, c.parity, c.stopbits, c.flowcontrol, &custom),
                  c.expected);
        EXPECT_EQ(0, std::memcmp(&t, &original, sizeof t));
    }
}

// A fake sysfs tty class and /dev in a temporary directory.
class SerialEnumerationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qv-serial-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        tty = root / "class" / "tty";
        dev = root / "dev";
        fs::create_directories(tty);
        fs::create_directories(dev);
        ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
        qv_context_set_logfunc(context, capture, &logged);
    }

    void TearDown() override
    {
        qv_context_free(context);
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // A tty entry: with a device link when it has hardware, a serial-core
    // type when given, and a device node unless told otherwise.
    void add(const std::string &name, bool device, const char *type = nullptr, bool node = true)
    {
        fs::path entry = tty / name;
        fs::create_directories(entry);
        if (device) {
            fs::create_directories(root / "devices" / name);
            fs::create_directory_symlink(root / "devices" / name, entry / "device");
        }
        if (type != nullptr)
            std::ofstream(entry / "type") << type << "\n";
        if (node)
            std::ofstream(dev / name).put('\0');
    }

    std::vector<std::string> list(const qv_descriptor_t *descriptor, qv_status_t *last = nullptr)
    {
        std::vector<std::string> names;
        qv_iterator_t *iterator = nullptr;
        EXPECT_EQ(qv_serial_iterator_new_at(&iterator, context, descriptor, tty.c_str(), dev.c_str()),
                  QV_STATUS_SUCCESS);
        if (iterator == nullptr)
            return names;

        qv_serial_device_t *device = nullptr;
        qv_status_t status;
        while ((status = qv_iterator_next(iterator, &device)) == QV_STATUS_SUCCESS) {
            const char *name = qv_serial_device_get_name(device);
            names.push_back(name != nullptr ? name : "(null)");
            qv_serial_device_free(device);
        }
        if (last != nullptr) {
            *last = status;
        } else {
            EXPECT_EQ(status, QV_STATUS_DONE);
            EXPECT_EQ(qv_iterator_next(iterator, &device), QV_STATUS_DONE); // stays exhausted
        }
        qv_iterator_free(iterator);
        return names;
    }

    // The first row of the model table whose transports do (or do not)
    // include serial.
    static const qv_descriptor_t *find_descriptor(bool serial)
    {
        qv_iterator_t *iterator = nullptr;
        if (qv_descriptor_iterator_new(&iterator) != QV_STATUS_SUCCESS)
            return nullptr;
        const qv_descriptor_t *found = nullptr;
        qv_descriptor_t *descriptor = nullptr;
        while (found == nullptr && qv_iterator_next(iterator, &descriptor) == QV_STATUS_SUCCESS) {
            bool has_serial = (qv_descriptor_get_transports(descriptor) & QV_TRANSPORT_SERIAL) != 0;
            if (has_serial == serial)
                found = descriptor;
        }
        qv_iterator_free(iterator);
        return found;
    }

    fs::path root, tty, dev;
    qv_context_t *context = nullptr;
    std::vector<Logged> logged;
};

TEST_F(SerialEnumerationTest, ListsPortsWithHardwareInNaturalOrder)
{
    add("ttyUSB10", true);
    add("ttyS1", true, "0"); // a legacy slot without a UART
    add("ttyS0", true, "4");
    add("ttyUSB2", true);
    add("tty0", false);     // virtual console
    add("ptmx", false);
    add("console", false);
    add("ttyACM0", true);
    add("rfcomm0", false);  // not connected yet: no device link
    add("ttyUSB3", true, nullptr, false); // no device node

    // sysfs entries are usually symbolic links into the device tree.
    fs::create_directories(root / "devices" / "usb1" / "ttyAMA0" / "device");
    fs::create_directory_symlink(root / "devices" / "usb1" / "ttyAMA0", tty / "ttyAMA0");
    std::ofstream(dev / "ttyAMA0").put('\0');

    const std::string d = dev.string() + "/";
    const std::vector<std::string> expected = {d + "rfcomm0", d + "ttyACM0", d + "ttyAMA0",
                                               d + "ttyS0",   d + "ttyUSB2", d + "ttyUSB10"};
    EXPECT_EQ(list(nullptr), expected);
    EXPECT_TRUE(logged.empty());
}

TEST_F(SerialEnumerationTest, DescriptorFiltersTheList)
{
    add("ttyUSB0", true);
    add("ttyACM1", true);

    const qv_descriptor_t *serial = find_descriptor(true);
    const qv_descriptor_t *other = find_descriptor(false);
    ASSERT_NE(serial, nullptr);
    ASSERT_NE(other, nullptr);

    const std::string d = dev.string() + "/";
    EXPECT_EQ(list(serial), (std::vector<std::string>{d + "ttyACM1", d + "ttyUSB0"}));
    EXPECT_TRUE(list(other).empty()); // not reached over a serial port
}

TEST_F(SerialEnumerationTest, NoPortsGivesDoneAtOnce)
{
    EXPECT_TRUE(list(nullptr).empty());

    add("tty1", false);
    add("ttyS3", true, "0");
    EXPECT_TRUE(list(nullptr).empty());

    // A machine without a tty class at all.
    qv_iterator_t *iterator = nullptr;
    std::string missing = (root / "nothing").string();
    ASSERT_EQ(qv_serial_iterator_new_at(&iterator, context, nullptr, missing.c_str(), dev.c_str()),
              QV_STATUS_SUCCESS);
    qv_serial_device_t *device = nullptr;
    EXPECT_EQ(qv_iterator_next(iterator, &device), QV_STATUS_DONE);
    qv_iterator_free(iterator);
}

TEST_F(SerialEnumerationTest, OverlongNameIsAnError)
{
    fs::path deep = dev / std::string(250, 'd');
    fs::create_directories(deep);
    dev = deep;
    add("ttyUSB0", true);

    qv_status_t last = QV_STATUS_SUCCESS;
    EXPECT_TRUE(list(nullptr, &last).empty());
    EXPECT_EQ(last, QV_STATUS_NOMEMORY);
}

TEST(SerialEnumeration, Arguments)
{
    EXPECT_EQ(qv_serial_iterator_new(nullptr, nullptr, nullptr), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_serial_device_get_name(nullptr), nullptr);
    qv_serial_device_free(nullptr);
}

TEST(SerialEnumeration, ThisMachineGivesDevicePaths)
{
    qv_iterator_t *iterator = nullptr;
    ASSERT_EQ(qv_serial_iterator_new(&iterator, nullptr, nullptr), QV_STATUS_SUCCESS);
    qv_serial_device_t *device = nullptr;
    qv_status_t status;
    while ((status = qv_iterator_next(iterator, &device)) == QV_STATUS_SUCCESS) {
        const char *name = qv_serial_device_get_name(device);
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(std::string(name).rfind("/dev/", 0), 0u) << name;
        qv_serial_device_free(device);
    }
    EXPECT_EQ(status, QV_STATUS_DONE);
    qv_iterator_free(iterator);
}

} // namespace
