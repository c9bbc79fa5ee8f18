#include <libquivelmarine/context.h>
#include <libquivelmarine/iostream.h>

#include "hdlc.h"
#include "iostream-private.h"
#include "sim/memstream.h"
#include "sim/sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes sequence(uint8_t first, size_t count)
{
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

struct Logged {
    qv_loglevel_t level;
    std::string message;
};

void capture(qv_context_t *, qv_loglevel_t level, const char *, unsigned int, const char *, const char *message,
             void *userdata)
{
    static_cast<std::vector<Logged> *>(userdata)->push_back({level, message});
}

// The device end: records every wrapped write and every request passed
// down; the tests send through the link.
class Recorder : public qvsim::Device {
public:
    void on_receive(qvsim::Link &, const uint8_t *data, size_t size) override
    {
        writes.emplace_back(data, data + size);
    }
    qv_status_t on_ioctl(qvsim::Link &, unsigned int request, void *, size_t) override
    {
        requests.push_back(request);
        return QV_STATUS_SUCCESS;
    }
    void on_close(qvsim::Link &) override { ++closed; }

    Bytes wire() const
    {
        Bytes all;
        for (const auto &w : writes)
            all.insert(all.end(), w.begin(), w.end());
        return all;
    }

    std::vector<Bytes> writes;
    std::vector<unsigned int> requests;
    int closed = 0;
};

// A base stream that records every call as text, answers with a chosen
// status and accepts a limited number of written bytes.
struct FakeStream : qv_iostream_t {
    std::vector<std::string> calls;
    qv_status_t result = QV_STATUS_SUCCESS;
    size_t write_limit = SIZE_MAX;
    std::vector<size_t> writes;
    int closed = 0;
};

FakeStream *fake(qv_iostream_t *s)
{
    return static_cast<FakeStream *>(s);
}

qv_status_t fake_record(qv_iostream_t *s, const std::string &call)
{
    fake(s)->calls.push_back(call);
    return fake(s)->result;
}

const qv_iostream_vtable_t fake_vtable = {
    sizeof(FakeStream),
    [](qv_iostream_t *s, int v) { return fake_record(s, "timeout " + std::to_string(v)); },
    [](qv_iostream_t *s, unsigned int v) { return fake_record(s, "break " + std::to_string(v)); },
    [](qv_iostream_t *s, unsigned int v) { return fake_record(s, "dtr " + std::to_string(v)); },
    [](qv_iostream_t *s, unsigned int v) { return fake_record(s, "rts " + std::to_string(v)); },
    [](qv_iostream_t *s, unsigned int *v) {
        *v = QV_LINE_CD;
        return fake_record(s, "lines");
    },
    [](qv_iostream_t *s, size_t *v) {
        *v = 7;
        return fake_record(s, "available");
    },
    [](qv_iostream_t *s, unsigned int b, unsigned int d, qv_parity_t p, qv_stopbits_t st, qv_flowcontrol_t f) {
        return fake_record(s, "configure " + std::to_string(b) + " " + std::to_string(d) + " " + std::to_string(p) +
                                  " " + std::to_string(st) + " " + std::to_string(f));
    },
    [](qv_iostream_t *s, int v) { return fake_record(s, "poll " + std::to_string(v)); },
    nullptr, // read
    [](qv_iostream_t *s, const void *, size_t size, size_t *actual) {
        FakeStream *f = fake(s);
        f->writes.push_back(size);
        size_t n = std::min(size, f->write_limit);
        f->write_limit -= n;
        *actual = n;
        return n == size ? QV_STATUS_SUCCESS : QV_STATUS_TIMEOUT;
    },
    [](qv_iostream_t *s, unsigned int request, void *data, size_t size) {
        if (size != 0)
            static_cast<unsigned char *>(data)[0] = 0x42;
        return fake_record(s, "ioctl " + std::to_string(request) + " " + std::to_string(size));
    },
    [](qv_iostream_t *s) { return fake_record(s, "flush"); },
    [](qv_iostream_t *s, qv_direction_t d) { return fake_record(s, "purge " + std::to_string(d)); },
    [](qv_iostream_t *s, unsigned int v) { return fake_record(s, "sleep " + std::to_string(v)); },
    [](qv_iostream_t *s) {
        ++fake(s)->closed;
        return QV_STATUS_SUCCESS;
    },
};

class HdlcTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
        ASSERT_EQ(qv_context_set_logfunc(context, capture, &logged), QV_STATUS_SUCCESS);
    }

    void TearDown() override
    {
        EXPECT_EQ(qv_iostream_close(hdlc), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_close(base), QV_STATUS_SUCCESS);
        qv_context_free(context);
    }

    void open(qv_transport_t transport, size_t isize, size_t osize)
    {
        ASSERT_EQ(qvsim_memstream_open(&base, context, device, clock, transport), QV_STATUS_SUCCESS);
        ASSERT_EQ(qv_iostream_set_timeout(base, 1000), QV_STATUS_SUCCESS);
        ASSERT_EQ(qv_hdlc_open(&hdlc, context, base, isize, osize), QV_STATUS_SUCCESS);
        ASSERT_NE(hdlc, nullptr);
    }

    FakeStream *open_fake(size_t isize, size_t osize)
    {
        auto *f = qv_iostream_allocate<FakeStream>(context, &fake_vtable, QV_TRANSPORT_SERIAL);
        base = f;
        EXPECT_EQ(qv_hdlc_open(&hdlc, context, base, isize, osize), QV_STATUS_SUCCESS);
        return f;
    }

    void send(const Bytes &bytes) { qvsim_memstream_link(base)->send(bytes.data(), bytes.size()); }

    qv_status_t read(size_t size, Bytes *out)
    {
        Bytes buffer(size + 4, 0xEE); // room to catch an overrun
        size_t actual = 12345;
        qv_status_t status = qv_iostream_read(hdlc, buffer.data(), size, &actual);
        EXPECT_LE(actual, size);
        for (size_t i = size; i < buffer.size(); ++i)
            EXPECT_EQ(buffer[i], 0xEE) << "written beyond the request at " << i;
        buffer.resize(std::min(actual, size));
        *out = buffer;
        return status;
    }

    qv_status_t write(const Bytes &payload, size_t *actual)
    {
        return qv_iostream_write(hdlc, payload.data(), payload.size(), actual);
    }

    std::vector<std::string> errors() const
    {
        std::vector<std::string> out;
        for (const auto &l : logged) {
            if (l.level == QV_LOGLEVEL_ERROR)
                out.push_back(l.message);
        }
        return out;
    }

    qv_context_t *context = nullptr;
    std::vector<Logged> logged;
    Recorder device;
    qvsim::Clock clock;
    qv_iostream_t *base = nullptr;
    qv_iostream_t *hdlc = nullptr;
};

TEST_F(HdlcTest, OpenRejectsMissingArgumentsAndEmptyBuffers)
{
    ASSERT_EQ(qvsim_memstream_open(&base, context, device, clock, QV_TRANSPORT_BLE), QV_STATUS_SUCCESS);

    EXPECT_EQ(qv_hdlc_open(nullptr, context, base, 20, 20), QV_STATUS_INVALIDARGS);
    struct Case {
        qv_iostream_t *stream;
        size_t isize, osize;
    };
    for (const Case &c : {Case{nullptr, 20, 20}, Case{base, 0, 20}, Case{base, 20, 0}, Case{base, 0, 0}}) {
        qv_iostream_t *out = base; // must be cleared
        EXPECT_EQ(qv_hdlc_open(&out, context, c.stream, c.isize, c.osize), QV_STATUS_INVALIDARGS);
        EXPECT_EQ(out, nullptr);
    }

    ASSERT_EQ(qv_hdlc_open(&hdlc, context, base, 1, 1), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_get_transport(hdlc), QV_TRANSPORT_BLE);
    EXPECT_TRUE(device.writes.empty());
}

struct FrameCase {
    const char *name;
    Bytes payload;
    Bytes wire;
};

const FrameCase frame_cases[] = {
    {"escapes flag and escape bytes", {0x01, 0x7E, 0x7D}, {0x7E, 0x01, 0x7D, 0x5E, 0x7D, 0x5D, 0x7E}},
    {"empty payload", {}, {0x7E, 0x7E}},
    {"nothing else is escaped", {0x00, 0x20, 0x5E, 0x5D, 0x7F, 0xFF}, {0x7E, 0x00, 0x20, 0x5E, 0x5D, 0x7F, 0xFF, 0x7E}},
    {"only special bytes", {0x7E, 0x7E, 0x7D}, {0x7E, 0x7D, 0x5E, 0x7D, 0x5E, 0x7D, 0x5D, 0x7E}},
};

TEST_F(HdlcTest, WriteSendsOneStuffedFrame)
{
    open(QV_TRANSPORT_BLE, 64, 64);
    for (const auto &c : frame_cases) {
        SCOPED_TRACE(c.name);
        device.writes.clear();
        size_t actual = 99;
        ASSERT_EQ(write(c.payload, &actual), QV_STATUS_SUCCESS);
        EXPECT_EQ(actual, c.payload.size());
        ASSERT_EQ(device.writes.size(), 1u); // fits the transmit buffer: one write
        EXPECT_EQ(device.writes[0], c.wire);
    }
}

TEST_F(HdlcTest, ReadUnstuffsOneFrame)
{
    open(QV_TRANSPORT_BLE, 64, 64);
    for (const auto &c : frame_cases) {
        SCOPED_TRACE(c.name);
        send(c.wire);
        Bytes data;
        ASSERT_EQ(read(16, &data), QV_STATUS_SUCCESS);
        EXPECT_EQ(data, c.payload);
    }
    // An escaped ordinary byte is taken XOR 0x20 as well.
    send({0x7E, 0x7D, 0x21, 0x7D, 0x00, 0x7E});
    Bytes data;
    ASSERT_EQ(read(16, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x01, 0x20}));
    EXPECT_TRUE(errors().empty());
}

TEST_F(HdlcTest, AFullTransmitBufferLeavesAtOnce)
{
    open(QV_TRANSPORT_BLE, 64, 8);
    Bytes payload = sequence(0x10, 20);
    size_t actual = 0;
    ASSERT_EQ(write(payload, &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(actual, 20u);

    ASSERT_GE(device.writes.size(), 3u);
    for (const auto &w : device.writes)
        EXPECT_LE(w.size(), 8u);
    Bytes expected = {0x7E};
    expected.insert(expected.end(), payload.begin(), payload.end());
    expected.push_back(0x7E);
    EXPECT_EQ(device.wire(), expected);
}

TEST_F(HdlcTest, AnEscapeMayStraddleTwoWrappedWrites)
{
    open(QV_TRANSPORT_BLE, 64, 1);
    size_t actual = 0;
    ASSERT_EQ(write({0x7D, 0x02}, &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(actual, 2u);
    EXPECT_EQ(device.writes.size(), 5u);
    EXPECT_EQ(device.wire(), (Bytes{0x7E, 0x7D, 0x5D, 0x02, 0x7E}));
}

TEST_F(HdlcTest, AFailedWrappedWriteEndsTheFrameWithItsStatus)
{
    FakeStream *f = open_fake(16, 4);
    f->write_limit = 6;
    size_t actual = 99;
    EXPECT_EQ(write(sequence(1, 10), &actual), QV_STATUS_TIMEOUT);
    EXPECT_EQ(f->writes, (std::vector<size_t>{4, 4}));
    EXPECT_LE(actual, 10u);

    // The next frame starts afresh with its own flag.
    f->write_limit = SIZE_MAX;
    f->writes.clear();
    EXPECT_EQ(write({0x01}, &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(actual, 1u);
    EXPECT_EQ(f->writes, (std::vector<size_t>{3}));
}

TEST_F(HdlcTest, ABufferIsRequiredForData)
{
    open(QV_TRANSPORT_BLE, 20, 20);
    send({0x7E, 0x01, 0x7E});
    size_t actual = 99;
    EXPECT_EQ(qv_iostream_read(hdlc, nullptr, 4, &actual), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(actual, 0u);
    EXPECT_EQ(qv_iostream_write(hdlc, nullptr, 4, &actual), QV_STATUS_INVALIDARGS);
    EXPECT_TRUE(device.writes.empty());

    // Nothing was consumed.
    Bytes data;
    ASSERT_EQ(read(4, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x01}));
}

TEST_F(HdlcTest, BytesBeforeTheOpeningFlagAreSkipped)
{
    open(QV_TRANSPORT_BLE, 64, 64);
    send({0x55, 0x7E, 0x01, 0x02, 0x7E});
    Bytes data;
    ASSERT_EQ(read(16, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x01, 0x02}));
}

TEST_F(HdlcTest, TwoFlagsInARowAreAnEmptyFrame)
{
    open(QV_TRANSPORT_BLE, 64, 64);
    send({0x7E, 0x7E, 0x7E, 0x05, 0x7E});
    Bytes data;
    ASSERT_EQ(read(16, &data), QV_STATUS_SUCCESS);
    EXPECT_TRUE(data.empty());
    // The third flag opens the next frame.
    ASSERT_EQ(read(16, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x05}));
}

TEST_F(HdlcTest, BytesAfterTheClosingFlagStayForTheNextRead)
{
    open(QV_TRANSPORT_BLE, 64, 64);
    send({0x7E, 0x01, 0x7E, 0x7E, 0x02, 0x03, 0x7E});

    Bytes data;
    ASSERT_EQ(read(16, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x01}));
    EXPECT_EQ(qv_iostream_poll(hdlc, 0), QV_STATUS_SUCCESS);
    ASSERT_EQ(read(16, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x02, 0x03}));
}

TEST_F(HdlcTest, AFrameMaySpanSeveralPackets)
{
    open(QV_TRANSPORT_BLE, 8, 8);
    send({0x00, 0x7E, 0x01});
    send({});                 // an empty read is repeated
    send({0x02, 0x7D});       // the escape byte ends this packet...
    send({0x5E, 0x7E});       // ...and the escaped byte starts the next
    Bytes data;
    ASSERT_EQ(read(16, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x01, 0x02, 0x7E}));
}

TEST_F(HdlcTest, AFrameLongerThanTheReceiveBufferArrivesInPieces)
{
    open(QV_TRANSPORT_SERIAL, 4, 64);
    Bytes wire = {0x55, 0x7E};
    Bytes payload = sequence(0x30, 10);
    wire.insert(wire.end(), payload.begin(), payload.end());
    wire.insert(wire.end(), {0x7D, 0x5D, 0x7E, 0x7E, 0x09, 0x7E});
    send(wire);

    Bytes data;
    ASSERT_EQ(read(32, &data), QV_STATUS_SUCCESS);
    payload.push_back(0x7D);
    EXPECT_EQ(data, payload);
    ASSERT_EQ(read(32, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x09}));
}

TEST_F(HdlcTest, EscapingAFlagOrAnEscapeByteIsAnError)
{
    struct Case {
        Bytes wire;
        const char *message;
        Bytes stored; // the payload before the bad escape
    };
    const Case cases[] = {
        {{0x7E, 0x7D, 0x7E}, "HDLC frame escaped the special character 7e.", {}},
        {{0x7E, 0x01, 0x7D, 0x7D, 0x7E}, "HDLC frame escaped the special character 7d.", {0x01}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        open(QV_TRANSPORT_BLE, 64, 64);
        logged.clear();
        send(c.wire);
        send({0x7E, 0x42, 0x7E});

        Bytes data;
        EXPECT_EQ(read(16, &data), QV_STATUS_IO);
        EXPECT_EQ(errors(), std::vector<std::string>{c.message});
        EXPECT_EQ(data, c.stored);

        EXPECT_EQ(qv_iostream_close(hdlc), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_close(base), QV_STATUS_SUCCESS);
        hdlc = base = nullptr;
    }
}

TEST_F(HdlcTest, AFrameLargerThanTheReadDeliversItsStartAndFails)
{
    open(QV_TRANSPORT_BLE, 64, 64);
    Bytes wire = {0x7E};
    Bytes payload = sequence(0x40, 10);
    wire.insert(wire.end(), payload.begin(), payload.end());
    wire.push_back(0x7E);
    send(wire);
    send({0x7E, 0x01, 0x02, 0x7E});

    Bytes data;
    EXPECT_EQ(read(4, &data), QV_STATUS_IO);
    EXPECT_EQ(data, sequence(0x40, 4));
    EXPECT_EQ(errors(), std::vector<std::string>{"HDLC frame is too large (10 4)."});

    // The whole frame was consumed: the next read gets the next frame.
    ASSERT_EQ(read(4, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x01, 0x02}));
}

TEST_F(HdlcTest, AnEscapeErrorInAnOverlongFrameKeepsItsOwnStatus)
{
    open(QV_TRANSPORT_BLE, 64, 64);
    send({0x7E, 0x01, 0x02, 0x03, 0x7D, 0x7E});

    Bytes data;
    EXPECT_EQ(read(2, &data), QV_STATUS_IO);
    EXPECT_EQ(data, (Bytes{0x01, 0x02}));
    EXPECT_EQ(errors(), (std::vector<std::string>{"HDLC frame escaped the special character 7e.",
                                                  "HDLC frame is too large (3 2)."}));
}

TEST_F(HdlcTest, ATimeoutEndsTheFrameWithThePayloadSoFar)
{
    open(QV_TRANSPORT_BLE, 64, 64);
    send({0x7E, 0x01, 0x02});

    Bytes data;
    EXPECT_EQ(read(16, &data), QV_STATUS_TIMEOUT);
    EXPECT_EQ(data, (Bytes{0x01, 0x02}));

    // Nothing at all: a plain timeout.
    EXPECT_EQ(read(16, &data), QV_STATUS_TIMEOUT);
    EXPECT_TRUE(data.empty());
}

TEST_F(HdlcTest, AFrameInAByteStreamReadThatTimedOutIsStillDelivered)
{
    // Over a byte stream the receive-sized read times out when the frame is
    // shorter; the bytes that did arrive are parsed, not lost.
    open(QV_TRANSPORT_SERIAL, 64, 64);
    send({0x7E, 0x01, 0x02, 0x7E, 0x7E, 0x03});

    Bytes data;
    ASSERT_EQ(read(16, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x01, 0x02}));

    // The unfinished frame after it ends with the wrapped read's timeout.
    EXPECT_EQ(read(16, &data), QV_STATUS_TIMEOUT);
    EXPECT_EQ(data, (Bytes{0x03}));
}

TEST_F(HdlcTest, AnUnfinishedFrameInAByteStreamTimesOutAfterOneWait)
{
    open(QV_TRANSPORT_SERIAL, 64, 64);
    send({0x7E, 0x01, 0x7D});

    // The bytes of the timed-out wrapped read are parsed first; the frame
    // then ends with that read's timeout instead of waiting a second time.
    Bytes data;
    EXPECT_EQ(read(16, &data), QV_STATUS_TIMEOUT);
    EXPECT_EQ(data, (Bytes{0x01}));
    EXPECT_EQ(clock.now(), 1000u); // virtual time: one timeout of the wrapped stream
}

TEST_F(HdlcTest, PurgeOfTheInputDropsUnparsedBytesOnly)
{
    open(QV_TRANSPORT_BLE, 64, 64);
    send({0x7E, 0x01, 0x7E, 0x7E, 0x02, 0x7E});
    Bytes data;
    ASSERT_EQ(read(16, &data), QV_STATUS_SUCCESS);

    EXPECT_EQ(qv_iostream_purge(hdlc, QV_DIRECTION_OUTPUT), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_poll(hdlc, 0), QV_STATUS_SUCCESS);
    ASSERT_EQ(read(16, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x02}));

    send({0x7E, 0x03, 0x7E, 0x7E, 0x04, 0x7E});
    ASSERT_EQ(read(16, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x03}));
    EXPECT_EQ(qv_iostream_purge(hdlc, QV_DIRECTION_INPUT), QV_STATUS_SUCCESS);
    EXPECT_EQ(read(16, &data), QV_STATUS_TIMEOUT);
    EXPECT_TRUE(data.empty());
}

TEST_F(HdlcTest, LineControlsAndRequestsPassToTheWrappedStream)
{
    FakeStream *f = open_fake(16, 16);
    ASSERT_NE(hdlc, nullptr);

    unsigned int lines = 0;
    size_t available = 99;
    unsigned char request_data[4] = {};
    EXPECT_EQ(qv_iostream_set_timeout(hdlc, -1), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_break(hdlc, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_dtr(hdlc, 1), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_rts(hdlc, 1), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_get_lines(hdlc, &lines), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_get_available(hdlc, &available), QV_STATUS_SUCCESS); // no slot: 0, not asked
    EXPECT_EQ(qv_iostream_configure(hdlc, 115200, 7, QV_PARITY_ODD, QV_STOPBITS_ONE, QV_FLOWCONTROL_HARDWARE),
              QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_poll(hdlc, 100), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_ioctl(hdlc, 0x80047300, request_data, 4), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_flush(hdlc), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_purge(hdlc, QV_DIRECTION_ALL), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_sleep(hdlc, 5), QV_STATUS_SUCCESS);

    EXPECT_EQ(lines, QV_LINE_CD);
    EXPECT_EQ(available, 0u);
    EXPECT_EQ(request_data[0], 0x42);
    const std::vector<std::string> expected = {
        "timeout -1", "break 0", "dtr 1", "rts 1", "lines", "configure 115200 7 1 0 1",
        "poll 100", "ioctl " + std::to_string(0x80047300u) + " 4", "flush", "purge 3", "sleep 5",
    };
    EXPECT_EQ(f->calls, expected);

    f->result = QV_STATUS_IO;
    EXPECT_EQ(qv_iostream_set_rts(hdlc, 0), QV_STATUS_IO);
    EXPECT_EQ(qv_iostream_poll(hdlc, 0), QV_STATUS_IO);
    EXPECT_EQ(qv_iostream_sleep(hdlc, 1), QV_STATUS_IO);

    EXPECT_EQ(qv_iostream_close(hdlc), QV_STATUS_SUCCESS);
    hdlc = nullptr;
    EXPECT_EQ(f->closed, 0);
}

TEST_F(HdlcTest, ClosingLeavesTheWrappedStreamOpenAndUsable)
{
    open(QV_TRANSPORT_BLE, 20, 20);
    const unsigned int request = QV_IOCTL(QV_IOCTL_DIR_WRITE, QV_IOCTL_TYPE_BLE, 3, 0);
    unsigned char data[2] = {1, 2};
    EXPECT_EQ(qv_iostream_ioctl(hdlc, request, data, sizeof(data)), QV_STATUS_SUCCESS);
    EXPECT_EQ(device.requests, std::vector<unsigned int>{request});

    EXPECT_EQ(qv_iostream_close(hdlc), QV_STATUS_SUCCESS);
    hdlc = nullptr;
    EXPECT_EQ(device.closed, 0);

    size_t actual = 0;
    EXPECT_EQ(qv_iostream_write(base, data, sizeof(data), &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(device.writes.back(), (Bytes{1, 2}));

    EXPECT_EQ(qv_iostream_close(base), QV_STATUS_SUCCESS);
    base = nullptr;
    EXPECT_EQ(device.closed, 1);
}

} // namespace
