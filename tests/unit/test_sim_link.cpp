#include <libquivelmarine/context.h>
#include <libquivelmarine/iostream.h>

#include "sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

struct Logged {
    qv_loglevel_t level;
    std::string message;
};

void capture(qv_context_t *, qv_loglevel_t level, const char *, unsigned int, const char *, const char *message,
             void *userdata)
{
    static_cast<std::vector<Logged> *>(userdata)->push_back({level, message});
}

// Sends back every byte it receives, like a half-duplex cable, and records
// what the host did to the line.
class EchoDevice : public qvsim::Device {
public:
    void on_open(qvsim::Link &link) override
    {
        ++opened;
        link.set_modem_lines(modem_lines);
    }
    void on_receive(qvsim::Link &link, const uint8_t *data, size_t size) override
    {
        received.insert(received.end(), data, data + size);
        events.push_back("receive " + std::to_string(size));
        link.send(data, size);
    }
    void on_line_change(qvsim::Link &link, const qvsim::Lines &lines) override
    {
        line_changes.push_back(lines);
        EXPECT_EQ(link.lines(), lines);
    }
    void on_configure(qvsim::Link &link, const qvsim::LineSettings &settings) override
    {
        configured.push_back(settings);
        events.push_back("configure " + std::to_string(settings.baudrate));
        EXPECT_EQ(link.settings(), settings);
    }
    void on_close(qvsim::Link &) override { ++closed; }

    unsigned int modem_lines = 0;
    int opened = 0;
    int closed = 0;
    Bytes received;
    std::vector<std::string> events;
    std::vector<qvsim::Lines> line_changes;
    std::vector<qvsim::LineSettings> configured;
};

// Answers each write after a delay, in pieces: each piece is sent at its own
// delay after the request arrived. A write starting with 0xFF cancels the
// answers still pending.
class DelayedDevice : public qvsim::Device {
public:
    struct Piece {
        uint64_t delay;
        Bytes data;
    };
    DelayedDevice(std::initializer_list<Piece> answer) : pieces(answer) {}

    void on_receive(qvsim::Link &link, const uint8_t *data, size_t size) override
    {
        received_at.push_back(link.now());
        if (data[0] == 0xFF) {
            link.cancel_pending();
            return;
        }
        for (const auto &piece : pieces) {
            link.call_after(piece.delay, [this, bytes = piece.data](qvsim::Link &l) {
                sent_at.push_back(l.now());
                l.send(bytes);
            });
        }
    }

    std::vector<Piece> pieces;
    std::vector<uint64_t> received_at;
    std::vector<uint64_t> sent_at;
};

using Answer = std::initializer_list<DelayedDevice::Piece>;

class SilentDevice : public qvsim::Device {
public:
    void on_receive(qvsim::Link &, const uint8_t *, size_t) override {}
};

class MemstreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
        qv_context_set_logfunc(context, capture, &logged);
        qv_context_set_loglevel(context, QV_LOGLEVEL_INFO);
    }
    void TearDown() override
    {
        EXPECT_EQ(qv_iostream_close(stream), QV_STATUS_SUCCESS);
        qv_context_free(context);
    }

    // The device lives in the fixture: it must outlive the stream, which
    // TearDown closes.
    template <typename T, typename... Args>
    T &make(Args &&...args)
    {
        auto device = std::make_unique<T>(std::forward<Args>(args)...);
        T &ref = *device;
        devices.push_back(std::move(device));
        return ref;
    }

    void open(qvsim::Device &device, qv_transport_t transport = QV_TRANSPORT_SERIAL)
    {
        ASSERT_EQ(qvsim_memstream_open(&stream, context, device, clock, transport), QV_STATUS_SUCCESS);
        ASSERT_NE(stream, nullptr);
    }

    qv_status_t write(const Bytes &data)
    {
        size_t actual = 0;
        qv_status_t status = qv_iostream_write(stream, data.data(), data.size(), &actual);
        EXPECT_EQ(actual, data.size());
        return status;
    }

    std::vector<std::string> messages(qv_loglevel_t level) const
    {
        std::vector<std::string> out;
        for (const auto &l : logged) {
            if (l.level == level)
                out.push_back(l.message);
        }
        return out;
    }

    qv_context_t *context = nullptr;
    std::vector<Logged> logged;
    qvsim::Clock clock;
    std::vector<std::unique_ptr<qvsim::Device>> devices;
    qv_iostream_t *stream = nullptr;
};

TEST(SimClock, AdvancesAndNeverRunsBackwards)
{
    qvsim::Clock clock(100);
    EXPECT_EQ(clock.now(), 100u);
    clock.advance(50);
    EXPECT_EQ(clock.now(), 150u);
    clock.advance_to(120);
    EXPECT_EQ(clock.now(), 150u);
    clock.advance_to(400);
    EXPECT_EQ(clock.now(), 400u);
    clock.advance(UINT64_MAX);
    EXPECT_EQ(clock.now(), UINT64_MAX);
}

TEST_F(MemstreamTest, OpenChecksItsArgumentsAndCallsOpenAndClose)
{
    auto &device = make<EchoDevice>();
    EXPECT_EQ(qvsim_memstream_open(nullptr, context, device, clock), QV_STATUS_INVALIDARGS);
    for (qv_transport_t transport : {QV_TRANSPORT_NONE, QV_TRANSPORT_SERIAL | QV_TRANSPORT_BLE, 64u}) {
        qv_iostream_t *other = reinterpret_cast<qv_iostream_t *>(1);
        EXPECT_EQ(qvsim_memstream_open(&other, context, device, clock, transport), QV_STATUS_INVALIDARGS);
        EXPECT_EQ(other, nullptr);
    }
    EXPECT_EQ(device.opened, 0);

    open(device, QV_TRANSPORT_BLUETOOTH);
    EXPECT_EQ(qv_iostream_get_transport(stream), QV_TRANSPORT_BLUETOOTH);
    EXPECT_EQ(device.opened, 1);
    EXPECT_NE(qvsim_memstream_link(stream), nullptr);
    EXPECT_EQ(qvsim_memstream_link(nullptr), nullptr);
    EXPECT_EQ(qv_iostream_close(stream), QV_STATUS_SUCCESS);
    stream = nullptr;
    EXPECT_EQ(device.closed, 1);
}

TEST_F(MemstreamTest, EchoRoundTripIsTracedAndTakesNoTime)
{
    auto &device = make<EchoDevice>();
    open(device);
    ASSERT_EQ(qv_iostream_set_timeout(stream, 3000), QV_STATUS_SUCCESS);
    EXPECT_EQ(qvsim_memstream_timeout(stream), 3000);

    EXPECT_EQ(write({'A', 'B', 'C'}), QV_STATUS_SUCCESS);
    uint8_t buffer[3] = {};
    size_t actual = 0;
    EXPECT_EQ(qv_iostream_read(stream, buffer, sizeof(buffer), &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(actual, 3u);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{'A', 'B', 'C'}));
    EXPECT_EQ(clock.now(), 0u);
    EXPECT_EQ(device.received, (Bytes{'A', 'B', 'C'}));
    EXPECT_EQ(messages(QV_LOGLEVEL_INFO), (std::vector<std::string>{
                                              "Timeout: value=3000",
                                              "Write: size=3, data=414243",
                                              "Read: size=3, data=414243",
                                          }));
}

TEST_F(MemstreamTest, TimeoutKeepsThePartialCountAndCostsOnlyVirtualTime)
{
    auto &device = make<EchoDevice>();
    open(device);
    qv_iostream_set_timeout(stream, 3000);

    EXPECT_EQ(write({0x10, 0x20}), QV_STATUS_SUCCESS);
    uint8_t buffer[5] = {};
    size_t actual = 0;
    EXPECT_EQ(qv_iostream_read(stream, buffer, sizeof(buffer), &actual), QV_STATUS_TIMEOUT);
    EXPECT_EQ(actual, 2u);
    EXPECT_EQ(buffer[0], 0x10);
    EXPECT_EQ(buffer[1], 0x20);
    EXPECT_EQ(clock.now(), 3000u);

    // Without a limit and with nothing ever coming, the read cannot block
    // forever: it gives up at once.
    qv_iostream_set_timeout(stream, -1);
    EXPECT_EQ(qv_iostream_read(stream, buffer, sizeof(buffer), &actual), QV_STATUS_TIMEOUT);
    EXPECT_EQ(actual, 0u);
    EXPECT_EQ(clock.now(), 3000u);
}

// Answer: 2 bytes 500 ms and 2 bytes 800 ms after the request.
TEST_F(MemstreamTest, DelayedAnswerAgainstTimeouts)
{
    struct Case {
        qv_transport_t transport;
        int timeout;
        size_t size;
        qv_status_t status;
        size_t actual;
        uint64_t end;
    };
    const Case cases[] = {
        {QV_TRANSPORT_SERIAL, 3000, 4, QV_STATUS_SUCCESS, 4, 800},
        {QV_TRANSPORT_SERIAL, -1, 4, QV_STATUS_SUCCESS, 4, 800},
        {QV_TRANSPORT_SERIAL, 3000, 2, QV_STATUS_SUCCESS, 2, 500},
        {QV_TRANSPORT_SERIAL, 500, 4, QV_STATUS_TIMEOUT, 2, 500}, // arrival at the deadline counts
        {QV_TRANSPORT_SERIAL, 600, 4, QV_STATUS_TIMEOUT, 2, 600},
        {QV_TRANSPORT_SERIAL, 400, 4, QV_STATUS_TIMEOUT, 0, 400},
        {QV_TRANSPORT_SERIAL, 0, 4, QV_STATUS_TIMEOUT, 0, 0},
        {QV_TRANSPORT_SERIAL, -1, 5, QV_STATUS_TIMEOUT, 4, 800},
        {QV_TRANSPORT_SERIAL, 3000, 5, QV_STATUS_TIMEOUT, 4, 3000},
        // Socket-like transports time each wait, not the whole read.
        {QV_TRANSPORT_BLUETOOTH, 500, 4, QV_STATUS_SUCCESS, 4, 800},
        {QV_TRANSPORT_IRDA, 400, 4, QV_STATUS_TIMEOUT, 0, 400},
        {QV_TRANSPORT_BLUETOOTH, 1000, 5, QV_STATUS_TIMEOUT, 4, 1800},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "transport " << c.transport << " timeout " << c.timeout << " size "
                                        << c.size);
        DelayedDevice device({{500, {0xA1, 0xA2}}, {800, {0xB1, 0xB2}}});
        qvsim::Clock local;
        qv_iostream_t *s = nullptr;
        ASSERT_EQ(qvsim_memstream_open(&s, context, device, local, c.transport), QV_STATUS_SUCCESS);
        qv_iostream_set_timeout(s, c.timeout);
        const uint8_t request = 0x01;
        ASSERT_EQ(qv_iostream_write(s, &request, 1, nullptr), QV_STATUS_SUCCESS);

        uint8_t buffer[8] = {};
        size_t actual = 99;
        EXPECT_EQ(qv_iostream_read(s, buffer, c.size, &actual), c.status);
        EXPECT_EQ(actual, c.actual);
        const uint8_t expected[4] = {0xA1, 0xA2, 0xB1, 0xB2};
        EXPECT_EQ(std::memcmp(buffer, expected, c.actual), 0);
        EXPECT_EQ(local.now(), c.end);
        EXPECT_EQ(qv_iostream_close(s), QV_STATUS_SUCCESS);
    }
}

TEST_F(MemstreamTest, PollSleepAvailableAndPurge)
{
    auto &device = make<DelayedDevice>(Answer{{500, {0xA1, 0xA2}}, {800, {0xB1, 0xB2}}});
    open(device);
    const uint8_t request = 0x01;
    ASSERT_EQ(qv_iostream_write(stream, &request, 1, nullptr), QV_STATUS_SUCCESS);

    size_t available = 99;
    EXPECT_EQ(qv_iostream_get_available(stream, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 0u);
    EXPECT_EQ(qv_iostream_poll(stream, 0), QV_STATUS_TIMEOUT);
    EXPECT_EQ(qv_iostream_poll(stream, 100), QV_STATUS_TIMEOUT);
    EXPECT_EQ(clock.now(), 100u);

    EXPECT_EQ(qv_iostream_sleep(stream, 450), QV_STATUS_SUCCESS);
    EXPECT_EQ(clock.now(), 550u);
    EXPECT_EQ(qv_iostream_get_available(stream, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 2u);
    EXPECT_EQ(qv_iostream_poll(stream, 0), QV_STATUS_SUCCESS);

    // Purging the input drops what arrived; the second piece is still on
    // its way and arrives later.
    EXPECT_EQ(qv_iostream_purge(stream, QV_DIRECTION_OUTPUT), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_get_available(stream, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 2u);
    EXPECT_EQ(qv_iostream_purge(stream, QV_DIRECTION_INPUT), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_get_available(stream, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 0u);

    // A poll without limit waits exactly until the next arrival.
    EXPECT_EQ(qv_iostream_poll(stream, -1), QV_STATUS_SUCCESS);
    EXPECT_EQ(clock.now(), 800u);
    uint8_t buffer[2] = {};
    size_t actual = 0;
    EXPECT_EQ(qv_iostream_read(stream, buffer, sizeof(buffer), &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(Bytes(buffer, buffer + actual), (Bytes{0xB1, 0xB2}));
    EXPECT_EQ(device.sent_at, (std::vector<uint64_t>{500, 800}));

    EXPECT_EQ(qv_iostream_purge(stream, 0), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_iostream_purge(stream, 4), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_iostream_flush(stream), QV_STATUS_SUCCESS);
}

TEST_F(MemstreamTest, CancelledAnswerNeverArrives)
{
    auto &device = make<DelayedDevice>(Answer{{500, {0xA1}}});
    open(device);
    qv_iostream_set_timeout(stream, 1000);
    ASSERT_EQ(write({0x01}), QV_STATUS_SUCCESS);
    ASSERT_EQ(qv_iostream_sleep(stream, 200), QV_STATUS_SUCCESS);
    ASSERT_EQ(write({0xFF}), QV_STATUS_SUCCESS);
    uint8_t byte = 0;
    size_t actual = 9;
    EXPECT_EQ(qv_iostream_read(stream, &byte, 1, &actual), QV_STATUS_TIMEOUT);
    EXPECT_EQ(actual, 0u);
    EXPECT_EQ(clock.now(), 1200u);
    EXPECT_EQ(device.received_at, (std::vector<uint64_t>{0, 200}));
    EXPECT_TRUE(device.sent_at.empty());
}

TEST_F(MemstreamTest, SerialLineControlsReachTheDevice)
{
    auto &device = make<EchoDevice>();
    device.modem_lines = QV_LINE_CTS | QV_LINE_DSR;
    open(device);

    EXPECT_EQ(qv_iostream_set_dtr(stream, 1), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_break(stream, 1), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_break(stream, 0), QV_STATUS_SUCCESS);
    ASSERT_EQ(device.line_changes.size(), 3u);
    EXPECT_EQ(device.line_changes[0], (qvsim::Lines{true, false, false}));
    EXPECT_EQ(device.line_changes[1], (qvsim::Lines{true, false, true}));
    EXPECT_EQ(device.line_changes[2], (qvsim::Lines{true, false, false}));

    // Configuring without hardware flow control raises DTR and RTS.
    EXPECT_EQ(qv_iostream_configure(stream, 9600, 8, QV_PARITY_EVEN, QV_STOPBITS_TWO, QV_FLOWCONTROL_NONE),
              QV_STATUS_SUCCESS);
    ASSERT_EQ(device.configured.size(), 1u);
    EXPECT_EQ(device.configured[0],
              (qvsim::LineSettings{9600, 8, QV_PARITY_EVEN, QV_STOPBITS_TWO, QV_FLOWCONTROL_NONE}));
    ASSERT_EQ(device.line_changes.size(), 4u);
    EXPECT_EQ(device.line_changes[3], (qvsim::Lines{true, true, false}));

    EXPECT_EQ(qv_iostream_set_rts(stream, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_configure(stream, 19200, 7, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_HARDWARE),
              QV_STATUS_SUCCESS);
    EXPECT_EQ(device.line_changes.size(), 5u); // only the RTS request
    EXPECT_EQ(qvsim_memstream_link(stream)->lines(), (qvsim::Lines{true, false, false}));

    // Invalid settings change nothing.
    struct Bad {
        unsigned int databits;
        qv_parity_t parity;
        qv_stopbits_t stopbits;
        qv_flowcontrol_t flowcontrol;
    };
    const Bad bad[] = {{9, 0, 0, 0}, {4, 0, 0, 0}, {8, 5, 0, 0}, {8, 0, 3, 0}, {8, 0, 0, 3}};
    for (const auto &b : bad)
        EXPECT_EQ(qv_iostream_configure(stream, 9600, b.databits, b.parity, b.stopbits, b.flowcontrol),
                  QV_STATUS_INVALIDARGS);
    EXPECT_EQ(device.configured.size(), 2u);
    EXPECT_EQ(qvsim_memstream_link(stream)->settings().baudrate, 19200u);

    unsigned int lines = 0;
    EXPECT_EQ(qv_iostream_get_lines(stream, &lines), QV_STATUS_SUCCESS);
    EXPECT_EQ(lines, QV_LINE_CTS | QV_LINE_DSR);

    uint8_t data[4] = {};
    EXPECT_EQ(qv_iostream_ioctl(stream, 0x80047300, data, 4), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_ioctl(stream, QV_USB_IOCTL_CONTROL, data, 4), QV_STATUS_UNSUPPORTED);
}

TEST_F(MemstreamTest, SocketTransportHasNoLineControls)
{
    auto &device = make<EchoDevice>();
    device.modem_lines = QV_LINE_CD;
    open(device, QV_TRANSPORT_IRDA);
    unsigned int lines = 99;
    EXPECT_EQ(qv_iostream_set_dtr(stream, 1), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_configure(stream, 9600, 8, 0, 0, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_get_lines(stream, &lines), QV_STATUS_SUCCESS);
    EXPECT_EQ(lines, 0u);
    EXPECT_TRUE(device.line_changes.empty());
    EXPECT_TRUE(device.configured.empty());
    uint8_t data[4] = {};
    EXPECT_EQ(qv_iostream_ioctl(stream, 0x80047300, data, 4), QV_STATUS_UNSUPPORTED);
}

// Sends two packets per request; answers ioctl requests with a name.
class PacketDevice : public qvsim::Device {
public:
    void on_receive(qvsim::Link &link, const uint8_t *, size_t) override
    {
        link.send({0x01, 0x02, 0x03});
        link.send_after(10, Bytes(30, 0xEE));
        link.send_after(20, {0x04});
    }
    qv_status_t on_ioctl(qvsim::Link &, unsigned int request, void *data, size_t size) override
    {
        if (request != 0x40006200)
            return QV_STATUS_UNSUPPORTED;
        std::memcpy(data, "Sim", std::min<size_t>(size, 3));
        return QV_STATUS_SUCCESS;
    }
};

TEST_F(MemstreamTest, PacketTransportReadsOnePacketAtATime)
{
    auto &device = make<PacketDevice>();
    open(device, QV_TRANSPORT_BLE);
    qv_iostream_set_timeout(stream, 1000);
    ASSERT_EQ(write({0x00}), QV_STATUS_SUCCESS);

    uint8_t buffer[20] = {};
    size_t actual = 0;
    EXPECT_EQ(qv_iostream_read(stream, buffer, sizeof(buffer), &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(Bytes(buffer, buffer + actual), (Bytes{0x01, 0x02, 0x03}));
    // The 30-byte packet does not fit: it is lost.
    EXPECT_EQ(qv_iostream_read(stream, buffer, sizeof(buffer), &actual), QV_STATUS_IO);
    EXPECT_EQ(actual, 0u);
    EXPECT_EQ(qv_iostream_read(stream, buffer, sizeof(buffer), &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(Bytes(buffer, buffer + actual), (Bytes{0x04}));
    EXPECT_EQ(clock.now(), 20u);
    EXPECT_EQ(qv_iostream_read(stream, buffer, sizeof(buffer), &actual), QV_STATUS_TIMEOUT);
    EXPECT_EQ(actual, 0u);
    EXPECT_EQ(clock.now(), 1020u);

    size_t available = 99;
    EXPECT_EQ(qv_iostream_get_available(stream, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 0u);
    EXPECT_EQ(qv_iostream_poll(stream, 1000), QV_STATUS_SUCCESS);

    // Purge empties the queue whatever the direction.
    ASSERT_EQ(write({0x00}), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_purge(stream, QV_DIRECTION_OUTPUT), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_read(stream, buffer, sizeof(buffer), &actual), QV_STATUS_IO); // the 30 bytes

    char name[8] = {};
    EXPECT_EQ(qv_iostream_ioctl(stream, 0x40006200, name, sizeof(name)), QV_STATUS_SUCCESS);
    EXPECT_STREQ(name, "Sim");
    EXPECT_EQ(qv_iostream_ioctl(stream, 0x40006201, name, sizeof(name)), QV_STATUS_UNSUPPORTED);
}

TEST_F(MemstreamTest, UnsolicitedBytesThroughTheLink)
{
    auto &device = make<SilentDevice>();
    open(device);
    qvsim::Link *link = qvsim_memstream_link(stream);
    ASSERT_NE(link, nullptr);
    link->send_after(250, {0x55});
    qv_iostream_set_timeout(stream, 1000);
    uint8_t byte = 0;
    size_t actual = 0;
    EXPECT_EQ(qv_iostream_read(stream, &byte, 1, &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(byte, 0x55);
    EXPECT_EQ(clock.now(), 250u);
}

class ThrowingDevice : public qvsim::Device {
public:
    void on_receive(qvsim::Link &, const uint8_t *, size_t) override { throw std::runtime_error("boom"); }
};

TEST_F(MemstreamTest, DeviceExceptionBecomesAnError)
{
    auto &device = make<ThrowingDevice>();
    open(device);
    size_t actual = 9;
    const uint8_t byte = 0;
    EXPECT_EQ(qv_iostream_write(stream, &byte, 1, &actual), QV_STATUS_IO);
    EXPECT_EQ(messages(QV_LOGLEVEL_ERROR), std::vector<std::string>{"Simulated device failed (boom)."});
}

// Pseudo-terminal server.

// Reads exactly size bytes from fd, waiting at most 10 s for each piece.
Bytes read_exactly(int fd, size_t size)
{
    Bytes out;
    while (out.size() < size) {
        pollfd p = {fd, POLLIN, 0};
        int rc = ::poll(&p, 1, 10000);
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            break;
        uint8_t buffer[256];
        ssize_t n = ::read(fd, buffer, std::min(sizeof(buffer), size - out.size()));
        if (n <= 0)
            break;
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

class PtyTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (fd >= 0)
            ::close(fd);
    }

    // Starts the server and opens its slave like a host program would.
    void start(qvsim::PtyServer &server)
    {
        std::string error;
        if (!server.start(&error))
            GTEST_SKIP() << "no pseudo-terminals here: " << error;
        ASSERT_EQ(server.path().rfind("/dev/", 0), 0u) << server.path();
        fd = ::open(server.path().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0) << std::strerror(errno);
    }

    void write_all(const Bytes &data)
    {
        ASSERT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    }

    int fd = -1;
};

TEST_F(PtyTest, EchoThroughTheSlave)
{
    EchoDevice device;
    {
        qvsim::PtyServer server(device);
        start(server);
        if (IsSkipped())
            return;
        // Every byte value passes unchanged: the terminal is raw.
        Bytes data;
        for (int i = 0; i < 256; ++i)
            data.push_back(static_cast<uint8_t>(i));
        write_all(data);
        EXPECT_EQ(read_exactly(fd, data.size()), data);
        write_all({'\r', '\n', 0x03});
        EXPECT_EQ(read_exactly(fd, 3), (Bytes{'\r', '\n', 0x03}));
        server.stop();
        EXPECT_TRUE(server.failure().empty());
    }
    EXPECT_EQ(device.opened, 1);
    EXPECT_EQ(device.closed, 1);
    EXPECT_EQ(device.received.size(), 259u);
    EXPECT_TRUE(device.line_changes.empty());
}

TEST_F(PtyTest, DelayedAnswerArrivesAfterItsDelay)
{
    DelayedDevice device({{150, {0xA1, 0xA2}}, {300, {0xB1}}});
    qvsim::PtyServer server(device);
    start(server);
    if (IsSkipped())
        return;
    write_all({0x01});
    EXPECT_EQ(read_exactly(fd, 3), (Bytes{0xA1, 0xA2, 0xB1}));
    server.stop();
    ASSERT_EQ(device.received_at.size(), 1u);
    ASSERT_EQ(device.sent_at.size(), 2u);
    EXPECT_GE(device.sent_at[0], device.received_at[0] + 150);
    EXPECT_GE(device.sent_at[1], device.received_at[0] + 300);
}

TEST_F(PtyTest, HostLineSettingsAreSeenBeforeTheData)
{
    EchoDevice device;
    qvsim::PtyServer server(device);
    start(server);
    if (IsSkipped())
        return;

    termios tio;
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    cfsetispeed(&tio, B19200);
    cfsetospeed(&tio, B19200);
    // Data bits and parity cannot be seen: the kernel keeps a
    // pseudo-terminal at 8 bits without parity.
    tio.c_cflag |= CSTOPB;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
    write_all({0x42});
    EXPECT_EQ(read_exactly(fd, 1), (Bytes{0x42}));
    server.stop();

    ASSERT_EQ(device.configured.size(), 1u);
    EXPECT_EQ(device.configured[0],
              (qvsim::LineSettings{19200, 8, QV_PARITY_NONE, QV_STOPBITS_TWO, QV_FLOWCONTROL_NONE}));
    EXPECT_EQ(device.events, (std::vector<std::string>{"configure 19200", "receive 1"}));
}

TEST_F(PtyTest, PostedWorkRunsOnTheServerAndStopHangsUp)
{
    SilentDevice device;
    qvsim::PtyServer server(device);
    start(server);
    if (IsSkipped())
        return;
    server.post([](qvsim::Link &link) { link.send({0x10, 0x20}); });
    EXPECT_EQ(read_exactly(fd, 2), (Bytes{0x10, 0x20}));

    server.stop();
    server.stop(); // harmless
    // The host sees the other end gone instead of waiting forever.
    pollfd p = {fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    uint8_t byte;
    EXPECT_LE(::read(fd, &byte, 1), 0);
}

TEST_F(PtyTest, ThrowingDeviceEndsServingWithAMessage)
{
    ThrowingDevice device;
    qvsim::PtyServer server(device);
    start(server);
    if (IsSkipped())
        return;
    write_all({0x00});
    // The byte reaches the device at some point; wait (bounded) for the
    // failure to be recorded.
    for (int i = 0; i < 1000 && server.failure().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(server.failure(), "boom");
    server.stop();
}

} // namespace
