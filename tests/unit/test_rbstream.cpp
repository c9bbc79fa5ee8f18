#include <libquivelmarine/context.h>
#include <libquivelmarine/device.h>

#include "device-private.h"
#include "rbstream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
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

// A device whose memory can only be read; it records every fetch.
struct MemoryDevice : qv_device_t {
    std::vector<unsigned char> memory;
    std::vector<std::pair<unsigned int, size_t>> reads;
    int failures = 0; // the next reads that fail with QV_STATUS_IO
};

qv_status_t memory_read(qv_device_t *device, unsigned int address, unsigned char *data, size_t size)
{
    auto *d = static_cast<MemoryDevice *>(device);
    if (d->failures > 0) {
        d->failures--;
        return QV_STATUS_IO;
    }
    d->reads.emplace_back(address, size);
    if (address > d->memory.size() || size > d->memory.size() - address)
        return QV_STATUS_PROTOCOL;
    std::memcpy(data, d->memory.data() + address, size);
    return QV_STATUS_SUCCESS;
}

const qv_device_vtable_t memory_vtable = {
    sizeof(MemoryDevice), QV_FAMILY_SUUNTO_VYPER, nullptr, memory_read, nullptr, nullptr, nullptr, nullptr, nullptr,
};

void record_progress(qv_device_t *, qv_event_type_t type, const void *data, void *userdata)
{
    if (type == QV_EVENT_PROGRESS)
        static_cast<std::vector<qv_event_progress_t> *>(userdata)->push_back(
            *static_cast<const qv_event_progress_t *>(data));
}

// The bytes a reader should hand out: from address, going backward (the
// byte below first) or forward, wrapping around [begin, end), in chunks
// that each come in ascending address order.
std::vector<unsigned char> expected_bytes(const std::vector<unsigned char> &memory, unsigned int begin,
                                          unsigned int end, unsigned int address, qv_rbstream_direction_t direction,
                                          const std::vector<size_t> &chunks)
{
    std::vector<unsigned char> out;
    unsigned int position = address;
    for (size_t chunk : chunks) {
        std::vector<unsigned char> part;
        for (size_t i = 0; i < chunk; i++) {
            if (direction == QV_RBSTREAM_BACKWARD) {
                position = position == begin ? end - 1 : position - 1;
                part.push_back(memory[position]);
            } else {
                if (position == end)
                    position = begin;
                part.push_back(memory[position++]);
            }
        }
        if (direction == QV_RBSTREAM_BACKWARD)
            std::reverse(part.begin(), part.end());
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

class RbstreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
        qv_context_set_logfunc(context, capture, &logged);
        device = qv_device_allocate<MemoryDevice>(context, &memory_vtable);
        ASSERT_NE(device, nullptr);
        device->memory.resize(0x400);
        for (size_t i = 0; i < device->memory.size(); i++)
            device->memory[i] = static_cast<unsigned char>(i * 151 + (i >> 8) * 17 + 5);
    }
    void TearDown() override
    {
        qv_device_close(device);
        qv_context_free(context);
    }

    // Reads the chunks through a fresh reader; checks the bytes against the
    // memory and returns the fetches made.
    std::vector<std::pair<unsigned int, size_t>> read_chunks(unsigned int pagesize, unsigned int packetsize,
                                                             unsigned int begin, unsigned int end, unsigned int address,
                                                             qv_rbstream_direction_t direction,
                                                             const std::vector<size_t> &chunks)
    {
        device->reads.clear();
        qv_rbstream_t *rbstream = nullptr;
        EXPECT_EQ(qv_rbstream_new(&rbstream, device, pagesize, packetsize, begin, end, address, direction),
                  QV_STATUS_SUCCESS);
        if (rbstream == nullptr)
            return {};
        std::vector<unsigned char> got;
        for (size_t chunk : chunks) {
            std::vector<unsigned char> buffer(chunk);
            EXPECT_EQ(qv_rbstream_read(rbstream, nullptr, buffer.data(), buffer.size()), QV_STATUS_SUCCESS);
            got.insert(got.end(), buffer.begin(), buffer.end());
        }
        qv_rbstream_free(rbstream);
        EXPECT_EQ(got, expected_bytes(device->memory, begin, end, address, direction, chunks));
        for (const auto &[at, size] : device->reads) {
            EXPECT_EQ(size, packetsize);
            EXPECT_EQ(at % pagesize, 0u);
            EXPECT_GE(at, begin);
            EXPECT_LE(at + size, end);
        }
        return device->reads;
    }

    std::vector<Logged> logged;
    qv_context_t *context = nullptr;
    MemoryDevice *device = nullptr;
};

TEST_F(RbstreamTest, CreationChecks)
{
    struct Case {
        unsigned int pagesize, packetsize, begin, end, address;
        const char *message;
    };
    const Case cases[] = {
        {0, 64, 0x100, 0x200, 0x100, "Zero length page or packet size!"},
        {16, 0, 0x100, 0x200, 0x100, "Zero length page or packet size!"},
        {16, 40, 0x100, 0x200, 0x100, "Packet size not a multiple of the page size!"},
        {16, 64, 0x108, 0x200, 0x110, "Ringbuffer not aligned to the page size!"},
        {16, 64, 0x100, 0x1F8, 0x110, "Ringbuffer not aligned to the page size!"},
        {16, 64, 0x200, 0x100, 0x180, "Ringbuffer boundaries reversed!"},
        {16, 64, 0x100, 0x130, 0x110, "Packet size larger than the ringbuffer size!"},
        {16, 64, 0x100, 0x100, 0x100, "Packet size larger than the ringbuffer size!"},
        {16, 64, 0x100, 0x200, 0x201, "Address outside the ringbuffer!"},
        {16, 64, 0x100, 0x200, 0xFF, "Address outside the ringbuffer!"},
    };
    for (const Case &c : cases) {
        for (auto direction : {QV_RBSTREAM_FORWARD, QV_RBSTREAM_BACKWARD}) {
            SCOPED_TRACE(c.message);
            logged.clear();
            qv_rbstream_t *rbstream = reinterpret_cast<qv_rbstream_t *>(&logged);
            EXPECT_EQ(qv_rbstream_new(&rbstream, device, c.pagesize, c.packetsize, c.begin, c.end, c.address,
                                      direction),
                      QV_STATUS_INVALIDARGS);
            EXPECT_EQ(rbstream, nullptr);
            ASSERT_EQ(logged.size(), 1u);
            EXPECT_EQ(logged[0].level, QV_LOGLEVEL_ERROR);
            EXPECT_EQ(logged[0].message, c.message);
            EXPECT_EQ(logged[0].function, "qv_rbstream_new");
        }
    }

    logged.clear();
    qv_rbstream_t *rbstream = nullptr;
    EXPECT_EQ(qv_rbstream_new(nullptr, device, 16, 64, 0x100, 0x200, 0x100, QV_RBSTREAM_BACKWARD),
              QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_rbstream_new(&rbstream, nullptr, 16, 64, 0x100, 0x200, 0x100, QV_RBSTREAM_BACKWARD),
              QV_STATUS_INVALIDARGS);
    EXPECT_TRUE(logged.empty());

    // Both ends of the region are valid start addresses; a packet may fill the region.
    for (unsigned int address : {0x100u, 0x200u}) {
        EXPECT_EQ(qv_rbstream_new(&rbstream, device, 16, 64, 0x100, 0x200, address, QV_RBSTREAM_BACKWARD),
                  QV_STATUS_SUCCESS);
        qv_rbstream_free(rbstream);
    }
    EXPECT_EQ(qv_rbstream_new(&rbstream, device, 16, 64, 0x100, 0x140, 0x120, QV_RBSTREAM_FORWARD),
              QV_STATUS_SUCCESS);
    qv_rbstream_free(rbstream);
    EXPECT_TRUE(logged.empty());
    EXPECT_EQ(qv_rbstream_free(nullptr), QV_STATUS_SUCCESS);
}

TEST_F(RbstreamTest, BackwardStartInsideAPageClippedAtBegin)
{
    qv_rbstream_t *rbstream = nullptr;
    ASSERT_EQ(qv_rbstream_new(&rbstream, device, 16, 64, 0x100, 0x200, 0x118, QV_RBSTREAM_BACKWARD),
              QV_STATUS_SUCCESS);
    EXPECT_EQ(rbstream->address, 0x120u);
    EXPECT_EQ(rbstream->skip, 8u);
    EXPECT_TRUE(device->reads.empty());

    // The first packet is read from begin; only [0x100, 0x118) is handed out.
    unsigned char first[24];
    ASSERT_EQ(qv_rbstream_read(rbstream, nullptr, first, sizeof(first)), QV_STATUS_SUCCESS);
    ASSERT_EQ(device->reads.size(), 1u);
    EXPECT_EQ(device->reads[0], std::make_pair(0x100u, size_t{64}));
    EXPECT_EQ(std::memcmp(first, device->memory.data() + 0x100, sizeof(first)), 0);

    // The next packet wraps to the end of the region.
    unsigned char second[64];
    ASSERT_EQ(qv_rbstream_read(rbstream, nullptr, second, sizeof(second)), QV_STATUS_SUCCESS);
    ASSERT_EQ(device->reads.size(), 2u);
    EXPECT_EQ(device->reads[1], std::make_pair(0x1C0u, size_t{64}));
    EXPECT_EQ(std::memcmp(second, device->memory.data() + 0x1C0, sizeof(second)), 0);

    // Reading nothing fetches nothing.
    EXPECT_EQ(qv_rbstream_read(rbstream, nullptr, nullptr, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(device->reads.size(), 2u);
    qv_rbstream_free(rbstream);
}

TEST_F(RbstreamTest, BackwardAcrossTheRingEndInOneRead)
{
    // 40 bytes from 0x118 down: [0x100, 0x118) then [0x1F0, 0x200) before it.
    auto reads = read_chunks(16, 64, 0x100, 0x200, 0x118, QV_RBSTREAM_BACKWARD, {40});
    EXPECT_EQ(reads, (std::vector<std::pair<unsigned int, size_t>>{{0x100, 64}, {0x1C0, 64}}));
}

TEST_F(RbstreamTest, ForwardStartInsideAPageClippedAtEnd)
{
    qv_rbstream_t *rbstream = nullptr;
    ASSERT_EQ(qv_rbstream_new(&rbstream, device, 16, 64, 0x100, 0x200, 0x1E8, QV_RBSTREAM_FORWARD),
              QV_STATUS_SUCCESS);
    EXPECT_EQ(rbstream->address, 0x1E0u);
    EXPECT_EQ(rbstream->skip, 8u);
    qv_rbstream_free(rbstream);

    // [0x1E8, 0x200) comes from the region's last packet, then [0x100, ...).
    auto reads = read_chunks(16, 64, 0x100, 0x200, 0x1E8, QV_RBSTREAM_FORWARD, {10, 30, 40});
    EXPECT_EQ(reads, (std::vector<std::pair<unsigned int, size_t>>{{0x1C0, 64}, {0x100, 64}}));
}

TEST_F(RbstreamTest, StartAtTheRegionBoundsWraps)
{
    // Backward from begin is backward from end; forward from end is forward from begin.
    EXPECT_EQ(read_chunks(16, 32, 0x100, 0x200, 0x100, QV_RBSTREAM_BACKWARD, {8}),
              (std::vector<std::pair<unsigned int, size_t>>{{0x1E0, 32}}));
    EXPECT_EQ(read_chunks(16, 32, 0x100, 0x200, 0x200, QV_RBSTREAM_BACKWARD, {8}),
              (std::vector<std::pair<unsigned int, size_t>>{{0x1E0, 32}}));
    EXPECT_EQ(read_chunks(16, 32, 0x100, 0x200, 0x200, QV_RBSTREAM_FORWARD, {8}),
              (std::vector<std::pair<unsigned int, size_t>>{{0x100, 32}}));
    EXPECT_EQ(read_chunks(16, 32, 0x100, 0x200, 0x100, QV_RBSTREAM_FORWARD, {8}),
              (std::vector<std::pair<unsigned int, size_t>>{{0x100, 32}}));
}

TEST_F(RbstreamTest, ChunkingNeverFetchesAPacketTwice)
{
    struct Geometry {
        unsigned int pagesize, packetsize, begin, end, address;
    };
    const Geometry geometries[] = {
        {16, 64, 0x100, 0x200, 0x118}, {16, 64, 0x100, 0x200, 0x1FF}, {16, 64, 0x100, 0x200, 0x140},
        {8, 24, 0x0, 0x60, 0x35},      {1, 1, 0x10, 0x20, 0x17},      {32, 32, 0x40, 0x3E0, 0x3DF},
        {16, 256, 0x100, 0x200, 0x1A3}, {4, 12, 0x4, 0x28, 0x5},      {16, 48, 0x100, 0x200, 0x150},
    };
    const std::vector<std::vector<size_t>> chunkings = {
        {}, {1}, {300}, {7, 13, 1, 64, 29, 100, 3}, {64, 64, 64, 64, 64}, {1, 1, 1, 1, 1, 1, 1, 1, 1, 250},
    };
    for (auto direction : {QV_RBSTREAM_BACKWARD, QV_RBSTREAM_FORWARD}) {
        for (const Geometry &g : geometries) {
            // Reading the same bytes in one call gives the fetches to expect.
            for (const auto &chunks : chunkings) {
                SCOPED_TRACE(::testing::Message() << "direction " << direction << " page " << g.pagesize << " packet "
                                                  << g.packetsize << " region [" << g.begin << ", " << g.end
                                                  << ") address " << g.address << " chunks " << chunks.size());
                size_t total = 0;
                for (size_t c : chunks)
                    total += c;
                auto chunked = read_chunks(g.pagesize, g.packetsize, g.begin, g.end, g.address, direction, chunks);
                auto whole = read_chunks(g.pagesize, g.packetsize, g.begin, g.end, g.address, direction, {total});
                EXPECT_EQ(chunked, whole);
                // No more fetches than the packets the bytes span (plus the
                // partial ones at the start and at the region's bound).
                EXPECT_LE(whole.size(), total / g.packetsize + 3);
            }
        }
    }
}

TEST_F(RbstreamTest, ProgressCountsTheBytesHandedOut)
{
    std::vector<qv_event_progress_t> events;
    qv_device_set_events(device, QV_EVENT_PROGRESS, record_progress, &events);

    qv_rbstream_t *rbstream = nullptr;
    ASSERT_EQ(qv_rbstream_new(&rbstream, device, 16, 64, 0x100, 0x200, 0x118, QV_RBSTREAM_BACKWARD),
              QV_STATUS_SUCCESS);
    qv_event_progress_t progress = {100, 1000};
    unsigned char buffer[100];
    ASSERT_EQ(qv_rbstream_read(rbstream, &progress, buffer, sizeof(buffer)), QV_STATUS_SUCCESS);
    EXPECT_EQ(progress.current, 200u);
    // One event per packet share: 24, 64 and 12 bytes.
    std::vector<uint32_t> current;
    for (const auto &e : events)
        current.push_back(e.current);
    EXPECT_EQ(current, (std::vector<uint32_t>{124, 188, 200}));

    // Without a progress record nothing is reported.
    events.clear();
    ASSERT_EQ(qv_rbstream_read(rbstream, nullptr, buffer, sizeof(buffer)), QV_STATUS_SUCCESS);
    EXPECT_TRUE(events.empty());
    qv_rbstream_free(rbstream);

    ASSERT_EQ(qv_rbstream_new(&rbstream, device, 16, 64, 0x100, 0x200, 0x100, QV_RBSTREAM_FORWARD),
              QV_STATUS_SUCCESS);
    progress = {0, 80};
    unsigned char forward[80];
    ASSERT_EQ(qv_rbstream_read(rbstream, &progress, forward, sizeof(forward)), QV_STATUS_SUCCESS);
    current.clear();
    for (const auto &e : events)
        current.push_back(e.current);
    EXPECT_EQ(current, (std::vector<uint32_t>{64, 80}));
    qv_rbstream_free(rbstream);
}

TEST_F(RbstreamTest, FailedFetchIsReturnedAndCanBeRetried)
{
    for (auto direction : {QV_RBSTREAM_BACKWARD, QV_RBSTREAM_FORWARD}) {
        SCOPED_TRACE(direction);
        qv_rbstream_t *rbstream = nullptr;
        ASSERT_EQ(qv_rbstream_new(&rbstream, device, 16, 64, 0x100, 0x200, 0x130, direction), QV_STATUS_SUCCESS);
        unsigned char buffer[16];
        device->failures = 1;
        EXPECT_EQ(qv_rbstream_read(rbstream, nullptr, buffer, sizeof(buffer)), QV_STATUS_IO);
        ASSERT_EQ(qv_rbstream_read(rbstream, nullptr, buffer, sizeof(buffer)), QV_STATUS_SUCCESS);
        unsigned int start = direction == QV_RBSTREAM_BACKWARD ? 0x120 : 0x130;
        EXPECT_EQ(std::memcmp(buffer, device->memory.data() + start, sizeof(buffer)), 0);
        qv_rbstream_free(rbstream);
    }
}

TEST_F(RbstreamTest, ReadChecksItsArguments)
{
    unsigned char buffer[4];
    EXPECT_EQ(qv_rbstream_read(nullptr, nullptr, buffer, sizeof(buffer)), QV_STATUS_INVALIDARGS);
    qv_rbstream_t *rbstream = nullptr;
    ASSERT_EQ(qv_rbstream_new(&rbstream, device, 16, 64, 0x100, 0x200, 0x130, QV_RBSTREAM_FORWARD),
              QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_rbstream_read(rbstream, nullptr, nullptr, 4), QV_STATUS_INVALIDARGS);
    EXPECT_TRUE(device->reads.empty());
    qv_rbstream_free(rbstream);
}

TEST_F(RbstreamTest, DeviceWithoutReadIsUnsupported)
{
    const qv_device_vtable_t bare = {
        sizeof(MemoryDevice), QV_FAMILY_SUUNTO_VYPER, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    MemoryDevice *other = qv_device_allocate<MemoryDevice>(context, &bare);
    ASSERT_NE(other, nullptr);
    qv_rbstream_t *rbstream = nullptr;
    ASSERT_EQ(qv_rbstream_new(&rbstream, other, 16, 64, 0x100, 0x200, 0x130, QV_RBSTREAM_BACKWARD),
              QV_STATUS_SUCCESS);
    unsigned char buffer[4];
    EXPECT_EQ(qv_rbstream_read(rbstream, nullptr, buffer, sizeof(buffer)), QV_STATUS_UNSUPPORTED);
    qv_rbstream_free(rbstream);
    qv_device_close(other);
}

} // namespace
