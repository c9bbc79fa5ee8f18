#include <libquivelmarine/context.h>
#include <libquivelmarine/iostream.h>

#include "iostream-private.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
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

// A transport that records every call and answers as the test tells it.
struct TestStream : qv_iostream_t {
    std::vector<std::string> calls;
    qv_status_t result = QV_STATUS_SUCCESS;
    size_t transfer_limit = SIZE_MAX; // bytes read/written before a timeout
    unsigned int lines = 0;
    size_t available = 0;
    std::vector<unsigned char> written;
    std::vector<unsigned char> incoming;
    std::shared_ptr<int> alive = std::make_shared<int>(0); // observes destruction
};

TestStream *self(qv_iostream_t *iostream)
{
    return static_cast<TestStream *>(iostream);
}

qv_status_t record(qv_iostream_t *iostream, std::string call)
{
    self(iostream)->calls.push_back(std::move(call));
    return self(iostream)->result;
}

qv_status_t test_set_timeout(qv_iostream_t *s, int timeout)
{
    return record(s, "timeout " + std::to_string(timeout));
}
qv_status_t test_set_break(qv_iostream_t *s, unsigned int value)
{
    return record(s, "break " + std::to_string(value));
}
qv_status_t test_set_dtr(qv_iostream_t *s, unsigned int value)
{
    return record(s, "dtr " + std::to_string(value));
}
qv_status_t test_set_rts(qv_iostream_t *s, unsigned int value)
{
    return record(s, "rts " + std::to_string(value));
}
qv_status_t test_get_lines(qv_iostream_t *s, unsigned int *value)
{
    *value = self(s)->lines;
    return record(s, "lines");
}
qv_status_t test_get_available(qv_iostream_t *s, size_t *value)
{
    *value = self(s)->available;
    return record(s, "available");
}
qv_status_t test_configure(qv_iostream_t *s, unsigned int baudrate, unsigned int databits, qv_parity_t parity,
                           qv_stopbits_t stopbits, qv_flowcontrol_t flowcontrol)
{
    return record(s, "configure " + std::to_string(baudrate) + " " + std::to_string(databits) + " " +
                         std::to_string(parity) + " " + std::to_string(stopbits) + " " +
                         std::to_string(flowcontrol));
}
qv_status_t test_poll(qv_iostream_t *s, int timeout)
{
    return record(s, "poll " + std::to_string(timeout));
}
qv_status_t test_read(qv_iostream_t *s, void *data, size_t size, size_t *actual)
{
    TestStream *t = self(s);
    size_t n = std::min({size, t->transfer_limit, t->incoming.size()});
    std::memcpy(data, t->incoming.data(), n);
    *actual = n;
    record(s, "read " + std::to_string(size));
    return n < size ? QV_STATUS_TIMEOUT : t->result;
}
qv_status_t test_write(qv_iostream_t *s, const void *data, size_t size, size_t *actual)
{
    TestStream *t = self(s);
    size_t n = std::min(size, t->transfer_limit);
    const auto *bytes = static_cast<const unsigned char *>(data);
    t->written.insert(t->written.end(), bytes, bytes + n);
    *actual = n;
    record(s, "write " + std::to_string(size));
    return n < size ? QV_STATUS_TIMEOUT : t->result;
}
qv_status_t test_ioctl(qv_iostream_t *s, unsigned int request, void *data, size_t size)
{
    // Read requests get their buffer filled with 0xA5.
    if ((QV_IOCTL_DIR(request) & QV_IOCTL_DIR_READ) && data != nullptr)
        std::memset(data, 0xA5, size);
    char text[64];
    std::snprintf(text, sizeof(text), "ioctl 0x%08x %zu", request, size);
    return record(s, text);
}
qv_status_t test_flush(qv_iostream_t *s)
{
    return record(s, "flush");
}
qv_status_t test_purge(qv_iostream_t *s, qv_direction_t direction)
{
    return record(s, "purge " + std::to_string(direction));
}
qv_status_t test_sleep(qv_iostream_t *s, unsigned int milliseconds)
{
    return record(s, "sleep " + std::to_string(milliseconds));
}
qv_status_t test_close(qv_iostream_t *s)
{
    // Report through the shared counter, as the record is gone afterwards.
    *self(s)->alive = 1;
    return self(s)->result;
}

const qv_iostream_vtable_t full_vtable = {
    sizeof(TestStream), test_set_timeout, test_set_break, test_set_dtr,   test_set_rts,
    test_get_lines,     test_get_available, test_configure, test_poll,    test_read,
    test_write,         test_ioctl,         test_flush,     test_purge,   test_sleep,
    test_close,
};

const qv_iostream_vtable_t empty_vtable = {
    sizeof(TestStream), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr,            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

class IostreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
        ASSERT_EQ(qv_context_set_logfunc(context, capture, &logged), QV_STATUS_SUCCESS);
        ASSERT_EQ(qv_context_set_loglevel(context, QV_LOGLEVEL_INFO), QV_STATUS_SUCCESS);
    }
    void TearDown() override
    {
        qv_iostream_close(stream);
        qv_context_free(context);
    }

    TestStream *open(const qv_iostream_vtable_t *vtable)
    {
        stream = qv_iostream_allocate<TestStream>(context, vtable, QV_TRANSPORT_SERIAL);
        return stream;
    }

    std::vector<std::string> messages() const
    {
        std::vector<std::string> out;
        for (const auto &l : logged)
            out.push_back(l.message);
        return out;
    }

    qv_context_t *context = nullptr;
    std::vector<Logged> logged;
    TestStream *stream = nullptr;
};

TEST_F(IostreamTest, AllocationSetsTheBaseFields)
{
    TestStream *s = open(&full_vtable);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->vtable, &full_vtable);
    EXPECT_EQ(s->context, context);
    EXPECT_EQ(qv_iostream_get_transport(s), QV_TRANSPORT_SERIAL);
    EXPECT_EQ(qv_iostream_get_transport(nullptr), QV_TRANSPORT_NONE);
    EXPECT_TRUE(qv_iostream_isinstance(s, &full_vtable));
    EXPECT_FALSE(qv_iostream_isinstance(s, &empty_vtable));
    EXPECT_FALSE(qv_iostream_isinstance(nullptr, &full_vtable));
}

TEST_F(IostreamTest, CloseCallsTheSlotFreesTheRecordAndReturnsItsStatus)
{
    TestStream *s = open(&full_vtable);
    ASSERT_NE(s, nullptr);
    std::shared_ptr<int> closed = s->alive;
    s->result = QV_STATUS_IO;
    stream = nullptr;
    EXPECT_EQ(qv_iostream_close(s), QV_STATUS_IO);
    EXPECT_EQ(*closed, 1);
    EXPECT_EQ(closed.use_count(), 1); // the record's members were destroyed
}

TEST_F(IostreamTest, CloseWithoutSlotSucceedsAndDeallocateSkipsClose)
{
    TestStream *s = open(&empty_vtable);
    ASSERT_NE(s, nullptr);
    std::shared_ptr<int> alive = s->alive;
    stream = nullptr;
    EXPECT_EQ(qv_iostream_close(s), QV_STATUS_SUCCESS);
    EXPECT_EQ(alive.use_count(), 1);

    s = qv_iostream_allocate<TestStream>(context, &full_vtable, QV_TRANSPORT_BLE);
    ASSERT_NE(s, nullptr);
    alive = s->alive;
    qv_iostream_deallocate(s);
    EXPECT_EQ(*alive, 0); // close was not called
    EXPECT_EQ(alive.use_count(), 1);
    qv_iostream_deallocate(nullptr);
}

TEST(Iostream, CloseOfNullSucceeds)
{
    EXPECT_EQ(qv_iostream_close(nullptr), QV_STATUS_SUCCESS);
}

// Every wrapper on a missing stream or an absent slot: success, nothing
// called, nothing logged, out values 0.
TEST_F(IostreamTest, AbsentSlotsAreSilentSuccess)
{
    ASSERT_NE(open(&empty_vtable), nullptr);
    for (qv_iostream_t *s : {static_cast<qv_iostream_t *>(stream), static_cast<qv_iostream_t *>(nullptr)}) {
        unsigned char buffer[4] = {1, 2, 3, 4};
        unsigned int lines = 77;
        size_t available = 77, actual = 77;
        EXPECT_EQ(qv_iostream_set_timeout(s, 1000), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_set_break(s, 1), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_set_dtr(s, 1), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_set_rts(s, 1), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_get_lines(s, &lines), QV_STATUS_SUCCESS);
        EXPECT_EQ(lines, 0u);
        EXPECT_EQ(qv_iostream_get_available(s, &available), QV_STATUS_SUCCESS);
        EXPECT_EQ(available, 0u);
        EXPECT_EQ(qv_iostream_configure(s, 9600, 8, QV_PARITY_NONE, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE),
                  QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_poll(s, 100), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_read(s, buffer, sizeof(buffer), &actual), QV_STATUS_SUCCESS);
        EXPECT_EQ(actual, 0u);
        actual = 77;
        EXPECT_EQ(qv_iostream_write(s, buffer, sizeof(buffer), &actual), QV_STATUS_SUCCESS);
        EXPECT_EQ(actual, 0u);
        // Even a size that would not match the request: the check needs a slot.
        EXPECT_EQ(qv_iostream_ioctl(s, 0x80047300, buffer, 2), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_flush(s), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_purge(s, QV_DIRECTION_ALL), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_sleep(s, 10), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_read(s, buffer, sizeof(buffer), nullptr), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_get_lines(s, nullptr), QV_STATUS_SUCCESS);
        EXPECT_EQ(qv_iostream_get_available(s, nullptr), QV_STATUS_SUCCESS);
        const unsigned char expected[4] = {1, 2, 3, 4};
        EXPECT_EQ(std::memcmp(buffer, expected, sizeof(buffer)), 0);
    }
    EXPECT_TRUE(stream->calls.empty());
    EXPECT_TRUE(logged.empty());
}

// Each wrapper calls its slot with its arguments and traces at INFO in the
// fixed format.
TEST_F(IostreamTest, WrappersCallTheSlotAndTraceAtInfo)
{
    ASSERT_NE(open(&full_vtable), nullptr);
    stream->lines = QV_LINE_CTS | QV_LINE_DSR;
    stream->available = 12;
    stream->incoming = {0x00, 0xFF, 0x10};

    unsigned int lines = 0;
    size_t available = 0, actual = 0;
    unsigned char buffer[3] = {};
    const unsigned char out[2] = {0xAB, 0x01};

    struct Case {
        std::function<qv_status_t()> call;
        std::string slot;
        std::string trace;
    };
    const Case cases[] = {
        {[&] { return qv_iostream_set_timeout(stream, -1); }, "timeout -1", "Timeout: value=-1"},
        {[&] { return qv_iostream_set_break(stream, 1); }, "break 1", "Break: value=1"},
        {[&] { return qv_iostream_set_dtr(stream, 0); }, "dtr 0", "DTR: value=0"},
        {[&] { return qv_iostream_set_rts(stream, 1); }, "rts 1", "RTS: value=1"},
        {[&] { return qv_iostream_get_lines(stream, &lines); }, "lines", "Lines: value=6"},
        {[&] { return qv_iostream_get_available(stream, &available); }, "available", "Available: value=12"},
        {[&] {
             return qv_iostream_configure(stream, 115200, 7, QV_PARITY_EVEN, QV_STOPBITS_TWO,
                                          QV_FLOWCONTROL_HARDWARE);
         },
         "configure 115200 7 2 2 1",
         "Configure: baudrate=115200, databits=7, parity=2, stopbits=2, flowcontrol=1"},
        {[&] { return qv_iostream_poll(stream, 250); }, "poll 250", "Poll: value=250"},
        {[&] { return qv_iostream_read(stream, buffer, sizeof(buffer), &actual); }, "read 3",
         "Read: size=3, data=00FF10"},
        {[&] { return qv_iostream_write(stream, out, sizeof(out), &actual); }, "write 2",
         "Write: size=2, data=AB01"},
        {[&] { return qv_iostream_flush(stream); }, "flush", "Flush: none"},
        {[&] { return qv_iostream_purge(stream, QV_DIRECTION_INPUT); }, "purge 1", "Purge: direction=1"},
        {[&] { return qv_iostream_sleep(stream, 300); }, "sleep 300", "Sleep: value=300"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.trace);
        stream->calls.clear();
        logged.clear();
        EXPECT_EQ(c.call(), QV_STATUS_SUCCESS);
        EXPECT_EQ(stream->calls, std::vector<std::string>{c.slot});
        ASSERT_EQ(logged.size(), 1u);
        EXPECT_EQ(logged[0].level, QV_LOGLEVEL_INFO);
        EXPECT_EQ(logged[0].message, c.trace);
    }
    EXPECT_EQ(lines, QV_LINE_CTS | QV_LINE_DSR);
    EXPECT_EQ(available, 12u);
    EXPECT_EQ(stream->written, (std::vector<unsigned char>{0xAB, 0x01}));

    // A failing slot's status is passed up unchanged.
    stream->result = QV_STATUS_IO;
    EXPECT_EQ(qv_iostream_set_dtr(stream, 1), QV_STATUS_IO);
    EXPECT_EQ(qv_iostream_purge(stream, QV_DIRECTION_ALL), QV_STATUS_IO);

    // Below INFO nothing is traced.
    stream->result = QV_STATUS_SUCCESS;
    logged.clear();
    qv_context_set_loglevel(context, QV_LOGLEVEL_WARNING);
    for (const auto &c : cases)
        EXPECT_EQ(c.call(), QV_STATUS_SUCCESS);
    unsigned char data[4] = {};
    EXPECT_EQ(qv_iostream_ioctl(stream, 0x40006200, data, sizeof(data)), QV_STATUS_SUCCESS);
    EXPECT_TRUE(logged.empty());
}

TEST_F(IostreamTest, WriteTimingOutReportsAndDumpsThePartialCount)
{
    ASSERT_NE(open(&full_vtable), nullptr);
    stream->transfer_limit = 3;
    const unsigned char data[10] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA};
    size_t actual = 0;
    EXPECT_EQ(qv_iostream_write(stream, data, sizeof(data), &actual), QV_STATUS_TIMEOUT);
    EXPECT_EQ(actual, 3u);
    EXPECT_EQ(messages(), std::vector<std::string>{"Write: size=3, data=112233"});

    // Without an out-pointer the status is the same.
    logged.clear();
    EXPECT_EQ(qv_iostream_write(stream, data, sizeof(data), nullptr), QV_STATUS_TIMEOUT);
    EXPECT_EQ(messages(), std::vector<std::string>{"Write: size=3, data=112233"});
}

TEST_F(IostreamTest, ReadTimingOutKeepsTheBytesReceived)
{
    ASSERT_NE(open(&full_vtable), nullptr);
    stream->incoming = {0xDE, 0xAD};
    unsigned char buffer[5] = {};
    size_t actual = 99;
    EXPECT_EQ(qv_iostream_read(stream, buffer, sizeof(buffer), &actual), QV_STATUS_TIMEOUT);
    EXPECT_EQ(actual, 2u);
    EXPECT_EQ(buffer[0], 0xDE);
    EXPECT_EQ(buffer[1], 0xAD);
    EXPECT_EQ(messages(), std::vector<std::string>{"Read: size=2, data=DEAD"});
}

TEST(IoctlEncoding, FieldsAndKnownRequests)
{
    EXPECT_EQ(QV_USB_IOCTL_CONTROL, 0x80007500u);
    EXPECT_EQ(QV_IOCTL(QV_IOCTL_DIR_WRITE, QV_IOCTL_TYPE_SERIAL, 0, 4), 0x80047300u);
    EXPECT_EQ(QV_IOCTL(QV_IOCTL_DIR_READ, QV_IOCTL_TYPE_BLE, 3, 0), 0x40006203u);
    const uint32_t r = QV_IOCTL(QV_IOCTL_DIR_READ | QV_IOCTL_DIR_WRITE, 'x', 0x7F, 0x3FFF);
    EXPECT_EQ(QV_IOCTL_DIR(r), 3u);
    EXPECT_EQ(QV_IOCTL_TYPE(r), static_cast<uint32_t>('x'));
    EXPECT_EQ(QV_IOCTL_NR(r), 0x7Fu);
    EXPECT_EQ(QV_IOCTL_SIZE(r), 0x3FFFu);
}

TEST_F(IostreamTest, IoctlSizeRules)
{
    ASSERT_NE(open(&full_vtable), nullptr);
    struct Case {
        unsigned int request;
        size_t size;
        qv_status_t expected;
    };
    const Case cases[] = {
        {0x40006200, 0, QV_STATUS_SUCCESS},  // read, variable size: any size
        {0x40006200, 1, QV_STATUS_SUCCESS},
        {0x40006200, 300, QV_STATUS_SUCCESS},
        {0x80007500, 8, QV_STATUS_SUCCESS},  // write, variable size
        {0x80047300, 4, QV_STATUS_SUCCESS},  // write, 4 bytes
        {0x80047300, 2, QV_STATUS_INVALIDARGS},
        {0x80047300, 0, QV_STATUS_INVALIDARGS},
        {0x80047300, 5, QV_STATUS_INVALIDARGS},
        {0x00007301, 0, QV_STATUS_SUCCESS},  // no direction, size field 0: only 0
        {0x00007301, 1, QV_STATUS_INVALIDARGS},
        {0x00027301, 2, QV_STATUS_SUCCESS},  // no direction, fixed size
        {0x00027301, 3, QV_STATUS_INVALIDARGS},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.request << " size " << std::dec << c.size);
        std::vector<unsigned char> data(c.size + 1);
        stream->calls.clear();
        logged.clear();
        EXPECT_EQ(qv_iostream_ioctl(stream, c.request, data.data(), c.size), c.expected);
        if (c.expected == QV_STATUS_SUCCESS) {
            EXPECT_EQ(stream->calls.size(), 1u);
        } else {
            EXPECT_TRUE(stream->calls.empty());
            ASSERT_EQ(logged.size(), 1u);
            EXPECT_EQ(logged[0].level, QV_LOGLEVEL_ERROR);
            char expected[80];
            std::snprintf(expected, sizeof(expected), "Invalid size for ioctl request 0x%08x (%zu).", c.request,
                          c.size);
            EXPECT_EQ(logged[0].message, expected);
            EXPECT_EQ(logged[0].function, "qv_iostream_ioctl");
        }
    }
}

TEST_F(IostreamTest, IoctlTracesRequestAndData)
{
    ASSERT_NE(open(&full_vtable), nullptr);

    unsigned char in[3] = {0x01, 0x02, 0x03};
    EXPECT_EQ(qv_iostream_ioctl(stream, 0x80006202, in, sizeof(in)), QV_STATUS_SUCCESS);
    EXPECT_EQ(messages(), (std::vector<std::string>{
                              "Ioctl: request=0x80006202 (dir=2, type=98, nr=2, size=0)",
                              "Ioctl write: size=3, data=010203",
                          }));

    logged.clear();
    unsigned char out[2] = {};
    EXPECT_EQ(qv_iostream_ioctl(stream, 0x40026203, out, sizeof(out)), QV_STATUS_SUCCESS);
    EXPECT_EQ(messages(), (std::vector<std::string>{
                              "Ioctl: request=0x40026203 (dir=1, type=98, nr=3, size=2)",
                              "Ioctl read: size=2, data=A5A5",
                          }));

    // The read dump follows the call whatever its result.
    logged.clear();
    stream->result = QV_STATUS_UNSUPPORTED;
    EXPECT_EQ(qv_iostream_ioctl(stream, 0x40006200, out, sizeof(out)), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(messages(), (std::vector<std::string>{
                              "Ioctl: request=0x40006200 (dir=1, type=98, nr=0, size=0)",
                              "Ioctl read: size=2, data=A5A5",
                          }));
    for (const auto &l : logged)
        EXPECT_EQ(l.level, QV_LOGLEVEL_INFO);
}

} // namespace
