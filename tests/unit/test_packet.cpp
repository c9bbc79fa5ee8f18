#include <libquivelmarine/context.h>
#include <libquivelmarine/iostream.h>

#include "iostream-private.h"
#include "packet.h"
#include "sim/memstream.h"
#include "sim/sim.h"

#include <gtest/gtest.h>

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

// The device end: records every packet the host wrote and every request it
// passed down; answers nothing by itself (the tests send through the link).
class Recorder : public qvsim::Device {
public:
    void on_receive(qvsim::Link &, const uint8_t *data, size_t size) override
    {
        packets.emplace_back(data, data + size);
    }
    qv_status_t on_ioctl(qvsim::Link &, unsigned int request, void *data, size_t size) override
    {
        requests.push_back(request);
        if (size != 0)
            std::memset(data, 0xA5, size);
        return QV_STATUS_SUCCESS;
    }
    void on_close(qvsim::Link &) override { ++closed; }

    std::vector<Bytes> packets;
    std::vector<unsigned int> requests;
    int closed = 0;
};

// A base stream that records every call as text, answers with a chosen
// status and accepts a limited number of written bytes, for what a memory
// stream cannot show (flush, write failures, the close of the base).
struct FakeStream : qv_iostream_t {
    std::vector<std::string> calls;
    qv_status_t result = QV_STATUS_SUCCESS;
    size_t write_limit = SIZE_MAX; // bytes accepted before a write times out
    std::vector<size_t> writes;    // size of every write request
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
        *v = QV_LINE_CTS | QV_LINE_DSR;
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

class PacketTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS); }

    void TearDown() override
    {
        EXPECT_EQ(qv_iostream_close(packet), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_close(base), QV_STATUS_SUCCESS);
        qv_context_free(context);
    }

    // A packet stream over a memory stream of the given kind.
    void open(qv_transport_t transport, size_t rsize, size_t ssize)
    {
        ASSERT_EQ(qvsim_memstream_open(&base, context, device, clock, transport), QV_STATUS_SUCCESS);
        ASSERT_EQ(qv_iostream_set_timeout(base, 1000), QV_STATUS_SUCCESS);
        ASSERT_EQ(qv_packet_open(&packet, context, base, rsize, ssize), QV_STATUS_SUCCESS);
        ASSERT_NE(packet, nullptr);
    }

    void send(const Bytes &bytes) { qvsim_memstream_link(base)->send(bytes.data(), bytes.size()); }

    qv_status_t read(size_t size, Bytes *out)
    {
        Bytes buffer(size + 4, 0xEE); // room to catch an overrun
        size_t actual = 12345;
        qv_status_t status = qv_iostream_read(packet, buffer.data(), size, &actual);
        EXPECT_LE(actual, size);
        for (size_t i = size; i < buffer.size(); ++i)
            EXPECT_EQ(buffer[i], 0xEE) << "written beyond the request at " << i;
        buffer.resize(std::min(actual, size));
        *out = buffer;
        return status;
    }

    qv_context_t *context = nullptr;
    Recorder device;
    qvsim::Clock clock;
    qv_iostream_t *base = nullptr;
    qv_iostream_t *packet = nullptr;
};

TEST_F(PacketTest, OpenRejectsMissingArguments)
{
    ASSERT_EQ(qvsim_memstream_open(&base, context, device, clock, QV_TRANSPORT_BLE), QV_STATUS_SUCCESS);

    EXPECT_EQ(qv_packet_open(nullptr, context, base, 244, 20), QV_STATUS_INVALIDARGS);
    qv_iostream_t *out = base; // must be cleared
    EXPECT_EQ(qv_packet_open(&out, context, nullptr, 244, 20), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(out, nullptr);
}

TEST_F(PacketTest, OpenTakesTheTransportOfTheWrappedStreamAndExchangesNothing)
{
    open(QV_TRANSPORT_BLE, 244, 20);
    EXPECT_EQ(qv_iostream_get_transport(packet), QV_TRANSPORT_BLE);
    EXPECT_TRUE(device.packets.empty());
    EXPECT_EQ(clock.now(), 0u);

    qv_iostream_t *serial = nullptr;
    ASSERT_EQ(qv_packet_open(&serial, nullptr, base, 0, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_get_transport(serial), QV_TRANSPORT_BLE);
    EXPECT_EQ(qv_iostream_close(serial), QV_STATUS_SUCCESS);
}

TEST_F(PacketTest, PartOfAPacketStaysBufferedForTheNextRead)
{
    open(QV_TRANSPORT_BLE, 244, 20);
    send(sequence(0, 12));
    send(sequence(12, 12));

    Bytes data;
    ASSERT_EQ(read(3, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, sequence(0, 3));

    // The other 9 bytes of the first packet, then the start of the second.
    ASSERT_EQ(read(10, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, sequence(3, 10));

    size_t available = 0;
    EXPECT_EQ(qv_iostream_get_available(packet, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 11u);
    EXPECT_EQ(qv_iostream_poll(packet, 0), QV_STATUS_SUCCESS);

    ASSERT_EQ(read(11, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, sequence(13, 11));

    // Nothing buffered any more: the wrapped stream answers (a packet
    // stream cannot tell, it reports 0).
    EXPECT_EQ(qv_iostream_get_available(packet, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 0u);
}

TEST_F(PacketTest, ALargeReadGathersSeveralPacketsAndKeepsTheRest)
{
    open(QV_TRANSPORT_BLE, 20, 20);
    send(sequence(0, 12));
    send({}); // an empty packet is skipped
    send(sequence(12, 12));
    send(sequence(24, 12));

    Bytes data;
    ASSERT_EQ(read(30, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, sequence(0, 30));
    ASSERT_EQ(read(6, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, sequence(30, 6));
}

TEST_F(PacketTest, ReadingNothingTouchesNothing)
{
    open(QV_TRANSPORT_BLE, 20, 20);
    send(sequence(0, 4));

    size_t actual = 99;
    EXPECT_EQ(qv_iostream_read(packet, nullptr, 0, &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(actual, 0u);

    Bytes data;
    ASSERT_EQ(read(4, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, sequence(0, 4));
}

TEST_F(PacketTest, ABufferIsRequiredForData)
{
    open(QV_TRANSPORT_BLE, 20, 20);
    size_t actual = 99;
    EXPECT_EQ(qv_iostream_read(packet, nullptr, 4, &actual), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(actual, 0u);
    EXPECT_EQ(qv_iostream_write(packet, nullptr, 4, &actual), QV_STATUS_INVALIDARGS);
    EXPECT_TRUE(device.packets.empty());
}

TEST_F(PacketTest, ATimeoutReportsTheBytesDeliveredSoFar)
{
    open(QV_TRANSPORT_BLE, 20, 20);
    send(sequence(0, 5));

    Bytes data;
    EXPECT_EQ(read(8, &data), QV_STATUS_TIMEOUT);
    EXPECT_EQ(data, sequence(0, 5));

    // Nothing was lost or duplicated: the next packet comes next.
    send(sequence(5, 3));
    ASSERT_EQ(read(3, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, sequence(5, 3));
}

TEST_F(PacketTest, AFailedWrappedReadEndsTheRead)
{
    // The memory link drops a packet larger than the receive buffer with an
    // I/O error, as the real transport does.
    open(QV_TRANSPORT_BLE, 8, 20);
    send(sequence(0, 4));
    send(sequence(4, 12));

    Bytes data;
    EXPECT_EQ(read(10, &data), QV_STATUS_IO);
    EXPECT_EQ(data, sequence(0, 4));
}

TEST_F(PacketTest, BytesOfAByteStreamThatTimesOutHalfWayAreDelivered)
{
    // Over a byte stream, a packet-sized read that times out still carries
    // the bytes that did arrive; they are neither lost nor held back.
    open(QV_TRANSPORT_SERIAL, 8, 0);
    send({1, 2, 3});

    Bytes data;
    EXPECT_EQ(read(2, &data), QV_STATUS_TIMEOUT);
    EXPECT_EQ(data, (Bytes{1, 2}));
    ASSERT_EQ(read(1, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, (Bytes{3}));
}

struct SplitCase {
    size_t ssize;
    size_t size;
    std::vector<size_t> packets;
};

TEST_F(PacketTest, WritesAreCutIntoPacketsOfTheSendSize)
{
    const SplitCase cases[] = {
        {20, 45, {20, 20, 5}},
        {20, 40, {20, 20}},
        {20, 20, {20}},
        {20, 7, {7}},
        {1, 3, {1, 1, 1}},
        {0, 45, {45}}, // no limit
        {20, 0, {}},
    };

    open(QV_TRANSPORT_BLE, 244, 20);
    for (const auto &c : cases) {
        SCOPED_TRACE("send size " + std::to_string(c.ssize) + ", write " + std::to_string(c.size));
        qv_iostream_t *stream = nullptr;
        ASSERT_EQ(qv_packet_open(&stream, context, base, 244, c.ssize), QV_STATUS_SUCCESS);
        device.packets.clear();

        Bytes payload = sequence(0x30, c.size);
        size_t actual = 99;
        EXPECT_EQ(qv_iostream_write(stream, payload.data(), payload.size(), &actual), QV_STATUS_SUCCESS);
        EXPECT_EQ(actual, c.size);

        std::vector<size_t> sizes;
        Bytes joined;
        for (const auto &p : device.packets) {
            sizes.push_back(p.size());
            joined.insert(joined.end(), p.begin(), p.end());
        }
        EXPECT_EQ(sizes, c.packets);
        EXPECT_EQ(joined, payload);
        EXPECT_EQ(qv_iostream_close(stream), QV_STATUS_SUCCESS);
    }
}

TEST_F(PacketTest, AFailedWrappedWriteStopsAndReportsTheBytesAccepted)
{
    auto *base_fake = qv_iostream_allocate<FakeStream>(context, &fake_vtable, QV_TRANSPORT_BLE);
    ASSERT_NE(base_fake, nullptr);
    base = base_fake;
    ASSERT_EQ(qv_packet_open(&packet, context, base, 20, 20), QV_STATUS_SUCCESS);

    base_fake->write_limit = 25;
    Bytes payload(45, 0x11);
    size_t actual = 0;
    EXPECT_EQ(qv_iostream_write(packet, payload.data(), payload.size(), &actual), QV_STATUS_TIMEOUT);
    EXPECT_EQ(actual, 25u);
    EXPECT_EQ(base_fake->writes, (std::vector<size_t>{20, 20}));
}

TEST_F(PacketTest, AWrappedWriteThatTakesNothingIsAnErrorNotALoop)
{
    auto *base_fake = qv_iostream_allocate<FakeStream>(context, &fake_vtable, QV_TRANSPORT_BLE);
    ASSERT_NE(base_fake, nullptr);
    base = base_fake;
    ASSERT_EQ(qv_packet_open(&packet, context, base, 20, 20), QV_STATUS_SUCCESS);

    // Accepts the first packet, then 0 bytes while reporting success.
    static const qv_iostream_vtable_t lazy = [] {
        qv_iostream_vtable_t v = fake_vtable;
        v.write = [](qv_iostream_t *s, const void *, size_t size, size_t *actual) {
            FakeStream *f = fake(s);
            f->writes.push_back(size);
            *actual = f->writes.size() == 1 ? size : 0;
            return QV_STATUS_SUCCESS;
        };
        return v;
    }();
    base_fake->vtable = &lazy;

    Bytes payload(45, 0x11);
    size_t actual = 0;
    EXPECT_EQ(qv_iostream_write(packet, payload.data(), payload.size(), &actual), QV_STATUS_IO);
    EXPECT_EQ(actual, 20u);
    EXPECT_EQ(base_fake->writes.size(), 2u);
}

TEST_F(PacketTest, PurgeOfTheOutputKeepsTheBufferedInput)
{
    open(QV_TRANSPORT_BLE, 244, 20);
    send(sequence(0, 12));

    Bytes data;
    ASSERT_EQ(read(3, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_purge(packet, QV_DIRECTION_OUTPUT), QV_STATUS_SUCCESS);
    ASSERT_EQ(read(9, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, sequence(3, 9));
}

TEST_F(PacketTest, PurgeOfTheInputDropsTheBufferedBytes)
{
    for (qv_direction_t direction : {QV_DIRECTION_INPUT, QV_DIRECTION_ALL}) {
        SCOPED_TRACE("direction " + std::to_string(direction));
        open(QV_TRANSPORT_BLE, 244, 20);
        send(sequence(0, 12));

        Bytes data;
        ASSERT_EQ(read(3, &data), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_purge(packet, direction), QV_STATUS_SUCCESS);

        // Neither the rest of the packet nor anything queued below remains.
        EXPECT_EQ(read(1, &data), QV_STATUS_TIMEOUT);
        EXPECT_TRUE(data.empty());
        send(sequence(100, 2));
        ASSERT_EQ(read(2, &data), QV_STATUS_SUCCESS);
        EXPECT_EQ(data, sequence(100, 2));

        EXPECT_EQ(qv_iostream_close(packet), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_close(base), QV_STATUS_SUCCESS);
        packet = base = nullptr;
    }
}

TEST_F(PacketTest, WithoutAReceiveSizeOnlyWritesAreSplit)
{
    open(QV_TRANSPORT_SERIAL, 0, 20);
    send(sequence(0, 10));

    // Byte-stream reads of any size go straight through.
    Bytes data;
    ASSERT_EQ(read(4, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, sequence(0, 4));
    size_t available = 0;
    EXPECT_EQ(qv_iostream_get_available(packet, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(available, 6u); // the serial memory stream's count
    EXPECT_EQ(read(10, &data), QV_STATUS_TIMEOUT);
    EXPECT_EQ(data, sequence(4, 6));

    Bytes payload = sequence(0, 45);
    size_t actual = 0;
    ASSERT_EQ(qv_iostream_write(packet, payload.data(), payload.size(), &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(actual, 45u);
    ASSERT_EQ(device.packets.size(), 3u);
    EXPECT_EQ(device.packets[0], sequence(0, 20));
    EXPECT_EQ(device.packets[1], sequence(20, 20));
    EXPECT_EQ(device.packets[2], sequence(40, 5));
}

TEST_F(PacketTest, WithoutAReceiveSizeAReadSpansPackets)
{
    open(QV_TRANSPORT_BLE, 0, 0);
    send(sequence(0, 6));
    send({}); // an empty packet is read again
    send(sequence(6, 6));

    // Each wrapped read asks for the bytes still wanted: 12, then 6.
    Bytes data;
    ASSERT_EQ(read(12, &data), QV_STATUS_SUCCESS);
    EXPECT_EQ(data, sequence(0, 12));
}

TEST_F(PacketTest, LineControlsAndRequestsPassToTheWrappedStream)
{
    auto *base_fake = qv_iostream_allocate<FakeStream>(context, &fake_vtable, QV_TRANSPORT_SERIAL);
    ASSERT_NE(base_fake, nullptr);
    base = base_fake;
    ASSERT_EQ(qv_packet_open(&packet, context, base, 16, 8), QV_STATUS_SUCCESS);

    unsigned int lines = 0;
    size_t available = 0;
    unsigned char request_data[4] = {1, 2, 3, 4};
    EXPECT_EQ(qv_iostream_set_timeout(packet, 1500), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_break(packet, 1), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_dtr(packet, 1), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_set_rts(packet, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_get_lines(packet, &lines), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_get_available(packet, &available), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_configure(packet, 9600, 8, QV_PARITY_EVEN, QV_STOPBITS_TWO, QV_FLOWCONTROL_NONE),
              QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_poll(packet, 250), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_ioctl(packet, 0x80047300, request_data, 4), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_flush(packet), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_purge(packet, QV_DIRECTION_OUTPUT), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iostream_sleep(packet, 30), QV_STATUS_SUCCESS);

    EXPECT_EQ(lines, QV_LINE_CTS | QV_LINE_DSR);
    EXPECT_EQ(available, 7u);
    EXPECT_EQ(request_data[0], 0x42);
    const std::vector<std::string> expected = {
        "timeout 1500", "break 1", "dtr 1", "rts 0", "lines", "available", "configure 9600 8 2 2 0",
        "poll 250", "ioctl " + std::to_string(0x80047300u) + " 4", "flush", "purge 2", "sleep 30",
    };
    EXPECT_EQ(base_fake->calls, expected);

    // Their failures come back unchanged.
    base_fake->result = QV_STATUS_UNSUPPORTED;
    EXPECT_EQ(qv_iostream_set_dtr(packet, 0), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_iostream_ioctl(packet, 0x80047300, request_data, 4), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_iostream_flush(packet), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_iostream_purge(packet, QV_DIRECTION_INPUT), QV_STATUS_UNSUPPORTED);

    // Closing the packet stream leaves the wrapped stream alone.
    EXPECT_EQ(qv_iostream_close(packet), QV_STATUS_SUCCESS);
    packet = nullptr;
    EXPECT_EQ(base_fake->closed, 0);
}

TEST_F(PacketTest, RequestsReachTheDeviceThroughAMemoryStream)
{
    open(QV_TRANSPORT_BLE, 244, 20);
    unsigned char data[6] = {};
    const unsigned int request = QV_IOCTL(QV_IOCTL_DIR_READ, QV_IOCTL_TYPE_BLE, 1, 0);
    EXPECT_EQ(qv_iostream_ioctl(packet, request, data, sizeof(data)), QV_STATUS_SUCCESS);
    EXPECT_EQ(device.requests, std::vector<unsigned int>{request});
    EXPECT_EQ(data[5], 0xA5);

    EXPECT_EQ(qv_iostream_sleep(packet, 250), QV_STATUS_SUCCESS);
    EXPECT_EQ(clock.now(), 250u);
}

TEST_F(PacketTest, ClosingLeavesTheWrappedStreamOpenAndUsable)
{
    open(QV_TRANSPORT_BLE, 244, 20);
    EXPECT_EQ(qv_iostream_close(packet), QV_STATUS_SUCCESS);
    packet = nullptr;
    EXPECT_EQ(device.closed, 0);

    send({9, 8});
    unsigned char data[2] = {};
    size_t actual = 0;
    EXPECT_EQ(qv_iostream_read(base, data, sizeof(data), &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(actual, 2u);
    EXPECT_EQ(data[0], 9);

    EXPECT_EQ(qv_iostream_close(base), QV_STATUS_SUCCESS);
    base = nullptr;
    EXPECT_EQ(device.closed, 1);
}

} // namespace
