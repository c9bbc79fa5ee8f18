#include <libquivelmarine/buffer.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/device.h>
#include <libquivelmarine/iterator.h>

#include "device-private.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
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

// What the fake backend saw; lives outside the device, which close frees.
struct Observer {
    std::vector<std::pair<unsigned int, size_t>> reads; // address, size
    std::vector<unsigned char> fingerprint;
    int closes = 0;
    bool cancel_callback_at_close = true;
    int cancelled_at_close = -1;
    const qv_datetime_t *timesync = nullptr;
    bool foreach_callback_present = false;
    qv_status_t close_status = QV_STATUS_SUCCESS;
    size_t fail_read_at = SIZE_MAX; // index of the read that fails with QV_STATUS_IO
};

// A device with 4 KiB of memory, two "dives" and a 2-byte fingerprint.
struct FakeDevice : qv_device_t {
    Observer *observer = nullptr;
    std::vector<unsigned char> memory = std::vector<unsigned char>(4096);
    std::vector<unsigned char> fingerprint;
};

FakeDevice *fake(qv_device_t *device)
{
    return static_cast<FakeDevice *>(device);
}

qv_status_t fake_set_fingerprint(qv_device_t *device, const unsigned char *data, unsigned int size)
{
    if (size != 0 && size != 2)
        return QV_STATUS_INVALIDARGS;
    fake(device)->fingerprint.assign(data, data + size);
    fake(device)->observer->fingerprint = fake(device)->fingerprint;
    return QV_STATUS_SUCCESS;
}

qv_status_t fake_read(qv_device_t *device, unsigned int address, unsigned char *data, size_t size)
{
    FakeDevice *d = fake(device);
    if (d->observer->reads.size() == d->observer->fail_read_at)
        return QV_STATUS_IO;
    d->observer->reads.emplace_back(address, size);
    if (address > d->memory.size() || size > d->memory.size() - address)
        return QV_STATUS_INVALIDARGS;
    std::memcpy(data, d->memory.data() + address, size);
    return QV_STATUS_SUCCESS;
}

qv_status_t fake_write(qv_device_t *device, unsigned int address, const unsigned char *data, size_t size)
{
    FakeDevice *d = fake(device);
    if (address > d->memory.size() || size > d->memory.size() - address)
        return QV_STATUS_INVALIDARGS;
    std::memcpy(d->memory.data() + address, data, size);
    return QV_STATUS_SUCCESS;
}

qv_status_t fake_dump(qv_device_t *device, qv_buffer_t *buffer)
{
    FakeDevice *d = fake(device);
    return qv_buffer_append(buffer, d->memory.data(), d->memory.size()) ? QV_STATUS_SUCCESS : QV_STATUS_NOMEMORY;
}

// Two dives of 4 bytes, newest first; the first two bytes are the fingerprint.
qv_status_t fake_foreach(qv_device_t *device, qv_dive_callback_t callback, void *userdata)
{
    FakeDevice *d = fake(device);
    d->observer->foreach_callback_present = callback != nullptr;
    const unsigned char dives[2][4] = {{0x02, 0x00, 0xAA, 0xBB}, {0x01, 0x00, 0xCC, 0xDD}};
    for (const auto &dive : dives) {
        if (qv_device_is_cancelled(device))
            return QV_STATUS_CANCELLED;
        if (d->fingerprint.size() == 2 && std::memcmp(d->fingerprint.data(), dive, 2) == 0)
            break;
        if (!callback(dive, sizeof(dive), dive, 2, userdata))
            break;
    }
    return QV_STATUS_SUCCESS;
}

qv_status_t fake_timesync(qv_device_t *device, const qv_datetime_t *datetime)
{
    fake(device)->observer->timesync = datetime;
    return QV_STATUS_SUCCESS;
}

qv_status_t fake_close(qv_device_t *device)
{
    Observer *o = fake(device)->observer;
    o->closes++;
    o->cancel_callback_at_close = device->cancel_callback != nullptr;
    o->cancelled_at_close = qv_device_is_cancelled(device);
    return o->close_status;
}

const qv_device_vtable_t fake_vtable = {
    sizeof(FakeDevice), QV_FAMILY_SUUNTO_VYPER, fake_set_fingerprint, fake_read, fake_write,
    fake_dump,          fake_foreach,           fake_timesync,        fake_close,
};

// The same record with no operation at all.
const qv_device_vtable_t bare_vtable = {
    sizeof(FakeDevice), QV_FAMILY_REEFNET_SENSUS, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

int always_cancel(void *userdata)
{
    ++*static_cast<int *>(userdata);
    return 1;
}

int never_cancel(void *userdata)
{
    ++*static_cast<int *>(userdata);
    return 0;
}

struct Event {
    qv_event_type_t type;
    qv_event_progress_t progress;
    qv_event_devinfo_t devinfo;
    qv_event_clock_t clock;
};

void record_event(qv_device_t *, qv_event_type_t type, const void *data, void *userdata)
{
    Event event = {type, {}, {}, {}};
    if (type == QV_EVENT_PROGRESS)
        event.progress = *static_cast<const qv_event_progress_t *>(data);
    if (type == QV_EVENT_DEVINFO)
        event.devinfo = *static_cast<const qv_event_devinfo_t *>(data);
    if (type == QV_EVENT_CLOCK)
        event.clock = *static_cast<const qv_event_clock_t *>(data);
    static_cast<std::vector<Event> *>(userdata)->push_back(event);
}

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
        qv_context_set_loglevel(context, QV_LOGLEVEL_ALL);
        qv_context_set_logfunc(context, capture, &logged);
        device = qv_device_allocate<FakeDevice>(context, &fake_vtable);
        ASSERT_NE(device, nullptr);
        device->observer = &observer;
        for (size_t i = 0; i < device->memory.size(); i++)
            device->memory[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    void TearDown() override
    {
        qv_device_close(device);
        qv_context_free(context);
    }

    std::vector<Logged> logged;
    qv_context_t *context = nullptr;
    Observer observer;
    FakeDevice *device = nullptr;
};

TEST_F(DeviceTest, AllocationSetsVtableAndContextAndClearsTheRest)
{
    EXPECT_EQ(device->vtable, &fake_vtable);
    EXPECT_EQ(device->context, context);
    EXPECT_EQ(device->event_mask, 0u);
    EXPECT_EQ(device->event_callback, nullptr);
    EXPECT_EQ(device->event_userdata, nullptr);
    EXPECT_EQ(device->cancel_callback, nullptr);
    EXPECT_EQ(device->cancel_userdata, nullptr);
    EXPECT_EQ(device->devinfo.model, 0u);
    EXPECT_EQ(device->devinfo.firmware, 0u);
    EXPECT_EQ(device->devinfo.serial, 0u);
    EXPECT_EQ(device->clock.devtime, 0u);
    EXPECT_EQ(device->clock.systime, 0);

    EXPECT_TRUE(qv_device_isinstance(device, &fake_vtable));
    EXPECT_FALSE(qv_device_isinstance(device, &bare_vtable));
    EXPECT_FALSE(qv_device_isinstance(nullptr, &fake_vtable));
    EXPECT_EQ(qv_device_get_type(device), QV_FAMILY_SUUNTO_VYPER);
    EXPECT_EQ(qv_device_get_type(nullptr), QV_FAMILY_NULL);
}

TEST_F(DeviceTest, MissingDeviceOrSlotIsUnsupported)
{
    FakeDevice *bare = qv_device_allocate<FakeDevice>(context, &bare_vtable);
    ASSERT_NE(bare, nullptr);
    unsigned char byte = 0;
    qv_buffer_t *buffer = qv_buffer_new(0);
    qv_datetime_t datetime = {2024, 1, 2, 3, 4, 5, 0};

    for (qv_device_t *d : {static_cast<qv_device_t *>(nullptr), static_cast<qv_device_t *>(bare)}) {
        SCOPED_TRACE(d == nullptr ? "no device" : "no slots");
        EXPECT_EQ(qv_device_set_fingerprint(d, &byte, 1), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(qv_device_read(d, 0, &byte, 1), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(qv_device_write(d, 0, &byte, 1), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(qv_device_dump(d, buffer), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(qv_device_dump(d, nullptr), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(qv_device_foreach(d, nullptr, nullptr), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(qv_device_timesync(d, &datetime), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(qv_device_timesync(d, nullptr), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(qv_device_dump_read(d, 0, &byte, 1, 1), QV_STATUS_UNSUPPORTED);
    }
    EXPECT_EQ(qv_device_set_cancel(nullptr, never_cancel, nullptr), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_device_set_events(nullptr, QV_EVENT_PROGRESS, record_event, nullptr), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(qv_device_close(nullptr), QV_STATUS_SUCCESS);

    // Closing a device without a close slot frees it and succeeds.
    EXPECT_EQ(qv_device_close(bare), QV_STATUS_SUCCESS);
    qv_buffer_free(buffer);
}

TEST_F(DeviceTest, ArgumentChecks)
{
    EXPECT_EQ(qv_device_dump(device, nullptr), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_device_timesync(device, nullptr), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_device_read(device, 0, nullptr, 4), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_device_write(device, 0, nullptr, 4), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_device_set_fingerprint(device, nullptr, 2), QV_STATUS_INVALIDARGS);
    EXPECT_TRUE(observer.reads.empty());
    EXPECT_EQ(observer.timesync, nullptr);

    // The fingerprint length is the backend's to check.
    const unsigned char three[3] = {1, 2, 3};
    EXPECT_EQ(qv_device_set_fingerprint(device, three, 3), QV_STATUS_INVALIDARGS);
}

TEST_F(DeviceTest, ReadWriteAndTimesyncReachTheBackend)
{
    const unsigned char data[3] = {0xDE, 0xAD, 0x01};
    EXPECT_EQ(qv_device_write(device, 0x10, data, sizeof(data)), QV_STATUS_SUCCESS);
    unsigned char back[3] = {};
    EXPECT_EQ(qv_device_read(device, 0x10, back, sizeof(back)), QV_STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(back, data, sizeof(data)), 0);
    ASSERT_EQ(observer.reads.size(), 1u);
    EXPECT_EQ(observer.reads[0], std::make_pair(0x10u, size_t{3}));

    // The backend's refusal comes back unchanged.
    EXPECT_EQ(qv_device_read(device, 4095, back, 3), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_device_write(device, 5000, data, 1), QV_STATUS_INVALIDARGS);

    qv_datetime_t datetime = {2024, 6, 30, 12, 0, 0, 7200};
    EXPECT_EQ(qv_device_timesync(device, &datetime), QV_STATUS_SUCCESS);
    EXPECT_EQ(observer.timesync, &datetime);
}

TEST_F(DeviceTest, FingerprintIsLoggedAndHandedOn)
{
    const unsigned char fingerprint[2] = {0xAB, 0x01};
    EXPECT_EQ(qv_device_set_fingerprint(device, fingerprint, 2), QV_STATUS_SUCCESS);
    EXPECT_EQ(observer.fingerprint, std::vector<unsigned char>({0xAB, 0x01}));
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back().level, QV_LOGLEVEL_INFO);
    EXPECT_EQ(logged.back().message, "Fingerprint: size=2, data=AB01");
    EXPECT_EQ(logged.back().function, "qv_device_set_fingerprint");

    EXPECT_EQ(qv_device_set_fingerprint(device, nullptr, 0), QV_STATUS_SUCCESS);
    EXPECT_TRUE(observer.fingerprint.empty());
    EXPECT_EQ(logged.back().message, "Fingerprint: size=0, data=");
}

TEST_F(DeviceTest, DumpEmptiesTheBufferFirst)
{
    qv_buffer_t *buffer = qv_buffer_new(0);
    ASSERT_NE(buffer, nullptr);
    const unsigned char junk[5] = {9, 9, 9, 9, 9};
    ASSERT_TRUE(qv_buffer_append(buffer, junk, sizeof(junk)));

    EXPECT_EQ(qv_device_dump(device, buffer), QV_STATUS_SUCCESS);
    ASSERT_EQ(qv_buffer_get_size(buffer), device->memory.size());
    EXPECT_EQ(std::memcmp(qv_buffer_get_data(buffer), device->memory.data(), device->memory.size()), 0);
    qv_buffer_free(buffer);
}

struct Dives {
    std::vector<std::vector<unsigned char>> dives;
    int stop_after = 100;
};

int collect_dive(const unsigned char *data, unsigned int size, const unsigned char *fingerprint,
                 unsigned int fsize, void *userdata)
{
    auto *dives = static_cast<Dives *>(userdata);
    EXPECT_EQ(fsize, 2u);
    EXPECT_EQ(fingerprint, data);
    dives->dives.emplace_back(data, data + size);
    return static_cast<int>(dives->dives.size()) < dives->stop_after;
}

TEST_F(DeviceTest, ForeachDeliversUntilFingerprintOrStop)
{
    Dives all;
    EXPECT_EQ(qv_device_foreach(device, collect_dive, &all), QV_STATUS_SUCCESS);
    ASSERT_EQ(all.dives.size(), 2u);
    EXPECT_EQ(all.dives[0][0], 0x02);
    EXPECT_EQ(all.dives[1][0], 0x01);

    Dives first;
    first.stop_after = 1;
    EXPECT_EQ(qv_device_foreach(device, collect_dive, &first), QV_STATUS_SUCCESS);
    EXPECT_EQ(first.dives.size(), 1u);

    const unsigned char fingerprint[2] = {0x01, 0x00};
    ASSERT_EQ(qv_device_set_fingerprint(device, fingerprint, 2), QV_STATUS_SUCCESS);
    Dives newer;
    EXPECT_EQ(qv_device_foreach(device, collect_dive, &newer), QV_STATUS_SUCCESS);
    ASSERT_EQ(newer.dives.size(), 1u);
    EXPECT_EQ(newer.dives[0][0], 0x02);

    // Without a callback the backend still gets one to call.
    EXPECT_EQ(qv_device_foreach(device, nullptr, nullptr), QV_STATUS_SUCCESS);
    EXPECT_TRUE(observer.foreach_callback_present);
}

TEST_F(DeviceTest, EventsFollowTheMaskButDevinfoAndClockAreAlwaysStored)
{
    const qv_event_progress_t progress = {5, 10};
    const qv_event_devinfo_t devinfo = {0x0A, 0x0102, 123456};
    const qv_event_clock_t clock = {0xABCDEF, 1700000000};
    const unsigned char id[3] = {1, 2, 3};
    const qv_event_vendor_t vendor = {id, sizeof(id)};

    struct Case {
        unsigned int mask;
        std::vector<qv_event_type_t> delivered;
    };
    const Case cases[] = {
        {0, {}},
        {QV_EVENT_PROGRESS, {QV_EVENT_PROGRESS}},
        {QV_EVENT_WAITING | QV_EVENT_VENDOR, {QV_EVENT_WAITING, QV_EVENT_VENDOR}},
        {QV_EVENT_DEVINFO | QV_EVENT_CLOCK, {QV_EVENT_DEVINFO, QV_EVENT_CLOCK}},
        {0x1F, {QV_EVENT_WAITING, QV_EVENT_PROGRESS, QV_EVENT_DEVINFO, QV_EVENT_CLOCK, QV_EVENT_VENDOR}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mask);
        device->devinfo = {};
        device->clock = {};
        std::vector<Event> events;
        ASSERT_EQ(qv_device_set_events(device, c.mask, record_event, &events), QV_STATUS_SUCCESS);

        qv_device_event(device, QV_EVENT_WAITING, nullptr);
        qv_device_event(device, QV_EVENT_PROGRESS, &progress);
        qv_device_event(device, QV_EVENT_DEVINFO, &devinfo);
        qv_device_event(device, QV_EVENT_CLOCK, &clock);
        qv_device_event(device, QV_EVENT_VENDOR, &vendor);

        std::vector<qv_event_type_t> types;
        for (const Event &e : events)
            types.push_back(e.type);
        EXPECT_EQ(types, c.delivered);

        EXPECT_EQ(device->devinfo.model, 0x0Au);
        EXPECT_EQ(device->devinfo.firmware, 0x0102u);
        EXPECT_EQ(device->devinfo.serial, 123456u);
        EXPECT_EQ(device->clock.devtime, 0xABCDEFu);
        EXPECT_EQ(device->clock.systime, 1700000000);
    }

    // A missing callback delivers nothing, but still stores.
    device->devinfo = {};
    ASSERT_EQ(qv_device_set_events(device, 0x1F, nullptr, nullptr), QV_STATUS_SUCCESS);
    qv_device_event(device, QV_EVENT_DEVINFO, &devinfo);
    EXPECT_EQ(device->devinfo.serial, 123456u);

    // A missing device is accepted.
    qv_device_event(nullptr, QV_EVENT_PROGRESS, &progress);
}

TEST_F(DeviceTest, EventCallbackGetsDeviceAndUserData)
{
    struct Seen {
        qv_device_t *device = nullptr;
        const void *data = nullptr;
    } seen;
    auto callback = [](qv_device_t *d, qv_event_type_t, const void *data, void *userdata) {
        static_cast<Seen *>(userdata)->device = d;
        static_cast<Seen *>(userdata)->data = data;
    };
    qv_device_set_events(device, QV_EVENT_PROGRESS, callback, &seen);
    const qv_event_progress_t progress = {10, 10};
    qv_device_event(device, QV_EVENT_PROGRESS, &progress);
    EXPECT_EQ(seen.device, device);
    EXPECT_EQ(seen.data, &progress);
}

#ifndef NDEBUG
TEST(DeviceDeathTest, InvalidEventPayloadsStopTheProgram)
{
    const qv_event_progress_t zero = {0, 0};
    const qv_event_progress_t beyond = {11, 10};
    const qv_event_devinfo_t devinfo = {};
    EXPECT_DEATH(qv_device_event(nullptr, QV_EVENT_PROGRESS, &zero), "");
    EXPECT_DEATH(qv_device_event(nullptr, QV_EVENT_PROGRESS, &beyond), "");
    EXPECT_DEATH(qv_device_event(nullptr, QV_EVENT_PROGRESS, nullptr), "");
    EXPECT_DEATH(qv_device_event(nullptr, QV_EVENT_DEVINFO, nullptr), "");
    EXPECT_DEATH(qv_device_event(nullptr, QV_EVENT_CLOCK, nullptr), "");
    EXPECT_DEATH(qv_device_event(nullptr, QV_EVENT_WAITING, &devinfo), "");
}
#endif

TEST_F(DeviceTest, Cancellation)
{
    EXPECT_FALSE(qv_device_is_cancelled(nullptr));
    EXPECT_FALSE(qv_device_is_cancelled(device));

    int asked = 0;
    ASSERT_EQ(qv_device_set_cancel(device, never_cancel, &asked), QV_STATUS_SUCCESS);
    EXPECT_FALSE(qv_device_is_cancelled(device));
    EXPECT_EQ(asked, 1);

    ASSERT_EQ(qv_device_set_cancel(device, always_cancel, &asked), QV_STATUS_SUCCESS);
    EXPECT_TRUE(qv_device_is_cancelled(device));
    EXPECT_EQ(asked, 2);

    Dives dives;
    EXPECT_EQ(qv_device_foreach(device, collect_dive, &dives), QV_STATUS_CANCELLED);
    EXPECT_TRUE(dives.dives.empty());

    ASSERT_EQ(qv_device_set_cancel(device, nullptr, nullptr), QV_STATUS_SUCCESS);
    EXPECT_FALSE(qv_device_is_cancelled(device));
}

TEST_F(DeviceTest, CloseClearsTheCancelCallbackBeforeTheBackendCloses)
{
    int asked = 0;
    qv_device_set_cancel(device, always_cancel, &asked);
    observer.close_status = QV_STATUS_IO;

    EXPECT_EQ(qv_device_close(device), QV_STATUS_IO);
    device = nullptr; // freed
    EXPECT_EQ(observer.closes, 1);
    EXPECT_FALSE(observer.cancel_callback_at_close);
    EXPECT_EQ(observer.cancelled_at_close, 0);
    EXPECT_EQ(asked, 0);
}

TEST_F(DeviceTest, DumpReadGoesBlockByBlockWithProgress)
{
    std::vector<Event> events;
    qv_device_set_events(device, QV_EVENT_PROGRESS, record_event, &events);

    std::vector<unsigned char> data(1000);
    ASSERT_EQ(qv_device_dump_read(device, 0x100, data.data(), data.size(), 256), QV_STATUS_SUCCESS);

    const std::vector<std::pair<unsigned int, size_t>> reads = {
        {0x100, 256}, {0x200, 256}, {0x300, 256}, {0x400, 232}};
    EXPECT_EQ(observer.reads, reads);
    EXPECT_EQ(std::memcmp(data.data(), device->memory.data() + 0x100, data.size()), 0);

    std::vector<uint32_t> current;
    for (const Event &e : events) {
        EXPECT_EQ(e.progress.maximum, 1000u);
        current.push_back(e.progress.current);
    }
    EXPECT_EQ(current, std::vector<uint32_t>({0, 256, 512, 768, 1000}));
}

TEST_F(DeviceTest, DumpReadStopsAtTheFirstFailure)
{
    std::vector<Event> events;
    qv_device_set_events(device, QV_EVENT_PROGRESS, record_event, &events);
    observer.fail_read_at = 2;

    std::vector<unsigned char> data(1000);
    EXPECT_EQ(qv_device_dump_read(device, 0, data.data(), data.size(), 256), QV_STATUS_IO);
    EXPECT_EQ(observer.reads.size(), 2u);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events.back().progress.current, 512u);
}

TEST_F(DeviceTest, DumpReadEdgeCases)
{
    std::vector<Event> events;
    qv_device_set_events(device, QV_EVENT_PROGRESS, record_event, &events);
    unsigned char data[16];

    // Nothing to read: no read and no progress (a maximum of 0 is not a valid event).
    EXPECT_EQ(qv_device_dump_read(device, 0, data, 0, 8), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_device_dump_read(device, 0, nullptr, 0, 8), QV_STATUS_SUCCESS);
    // A block size of 0 would never end.
    EXPECT_EQ(qv_device_dump_read(device, 0, data, sizeof(data), 0), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_device_dump_read(device, 0, nullptr, sizeof(data), 8), QV_STATUS_INVALIDARGS);
    EXPECT_TRUE(observer.reads.empty());
    EXPECT_TRUE(events.empty());

    // A block larger than the range reads it at once.
    EXPECT_EQ(qv_device_dump_read(device, 0, data, sizeof(data), 4096), QV_STATUS_SUCCESS);
    EXPECT_EQ(observer.reads, (std::vector<std::pair<unsigned int, size_t>>{{0, 16}}));
    EXPECT_EQ(events.size(), 2u);
}

// ---------------------------------------------------------------------------
// Open dispatch

const std::set<qv_family_t> all_families = {
    0x10000, 0x10001, 0x10002, 0x10003, 0x10004, 0x10005, 0x20000, 0x20001, 0x20002,  0x30000,  0x30001,
    0x30002, 0x40000, 0x40001, 0x40002, 0x40003, 0x50000, 0x50001, 0x50002, 0x50003,  0x60000,  0x60001,
    0x60002, 0x70000, 0x70001, 0x70002, 0x80000, 0x90000, 0xA0000, 0xA0001, 0xB0000,  0xC0000,  0xD0000,
    0xE0000, 0xF0000, 0x100000, 0x110000, 0x120000, 0x130000, 0x140000, 0x150000, 0x160000, 0x170000, 0x180000,
};

TEST(DeviceDispatch, TableHoldsEveryFamilyWithItsArgument)
{
    std::set<qv_family_t> families;
    for (const qv_device_backend_t &row : qv_device_backends()) {
        families.insert(row.family);
        EXPECT_EQ(qv_device_backend_find(row.family), &row);
    }
    EXPECT_EQ(families, all_families);
    EXPECT_EQ(qv_device_backends().size(), 44u);

    const std::set<qv_family_t> with_model = {0x10004, 0x10005, 0x40000, 0x40002, 0x40003, 0x50002,
                                              0x50003, 0xA0001, 0xD0000};
    for (const qv_device_backend_t &row : qv_device_backends()) {
        SCOPED_TRACE(row.name);
        if (row.family == QV_FAMILY_HW_FROG || row.family == QV_FAMILY_HW_OSTC3) {
            EXPECT_EQ(row.extra, qv_device_extra_t::constant);
            EXPECT_EQ(row.constant, row.family == QV_FAMILY_HW_FROG ? 1u : 0u);
        } else if (with_model.count(row.family)) {
            EXPECT_EQ(row.extra, qv_device_extra_t::model);
        } else {
            EXPECT_EQ(row.extra, qv_device_extra_t::none);
        }
    }
    // Frog and OSTC 3 share one open operation.
    EXPECT_EQ(qv_device_backend_find(QV_FAMILY_HW_FROG)->open_extra,
              qv_device_backend_find(QV_FAMILY_HW_OSTC3)->open_extra);

    for (qv_family_t unknown : {0u, 0x10006u, 0x190000u, 0x20003u, 0xFFFFFFFFu})
        EXPECT_EQ(qv_device_backend_find(unknown), nullptr) << unknown;
}

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
        qv_context_set_logfunc(context, capture, &logged);
    }
    void TearDown() override { qv_context_free(context); }

    std::vector<Logged> logged;
    qv_context_t *context = nullptr;
};

TEST_F(DispatchTest, UnknownFamilyIsInvalid)
{
    qv_device_t *out = reinterpret_cast<qv_device_t *>(&logged); // anything but nullptr
    EXPECT_EQ(qv_device_open_family(&out, context, 0x00990000, 0, nullptr), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, QV_LOGLEVEL_ERROR);
    EXPECT_EQ(logged[0].message, "Unknown device family 0x00990000.");
}

TEST_F(DispatchTest, FamilyWithoutBackendIsUnsupported)
{
    for (const qv_device_backend_t &row : qv_device_backends()) {
        if (row.open != nullptr || row.open_extra != nullptr)
            continue; // landed: its own tests cover it
        SCOPED_TRACE(row.name);
        logged.clear();
        qv_device_t *out = reinterpret_cast<qv_device_t *>(&logged);
        EXPECT_EQ(qv_device_open_family(&out, context, row.family, 0, nullptr), QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(out, nullptr);
        ASSERT_EQ(logged.size(), 1u);
        EXPECT_EQ(logged[0].level, QV_LOGLEVEL_ERROR);
        char expected[128];
        std::snprintf(expected, sizeof(expected), "The %s family (0x%08X) is not supported yet.", row.name,
                      row.family);
        EXPECT_EQ(logged[0].message, expected);
    }
}

// Stand-ins for backend open operations, used through rows made by the test.
struct OpenCall {
    int calls = 0;
    unsigned int extra = 0;
    qv_context_t *context = nullptr;
    qv_iostream_t *iostream = nullptr;
    qv_status_t status = QV_STATUS_SUCCESS;
    FakeDevice *made = nullptr;
};
OpenCall open_call;

qv_status_t record_open(qv_device_t **out, qv_context_t *context, qv_iostream_t *iostream, unsigned int extra)
{
    open_call.calls++;
    open_call.extra = extra;
    open_call.context = context;
    open_call.iostream = iostream;
    if (open_call.status != QV_STATUS_SUCCESS)
        return open_call.status;
    open_call.made = qv_device_allocate<FakeDevice>(context, &bare_vtable);
    *out = open_call.made;
    return QV_STATUS_SUCCESS;
}

qv_status_t record_open_plain(qv_device_t **out, qv_context_t *context, qv_iostream_t *iostream)
{
    return record_open(out, context, iostream, 0xDEAD);
}

TEST_F(DispatchTest, RowsPassTheirArgumentAndTheBackendResult)
{
    qv_iostream_t *stream = reinterpret_cast<qv_iostream_t *>(&logged); // never dereferenced
    struct Case {
        qv_device_backend_t row;
        unsigned int expected_extra;
    };
    const Case cases[] = {
        {{0x10002, "Test plain", qv_device_extra_t::none, record_open_plain, nullptr, 0}, 0xDEAD},
        {{0x10004, "Test model", qv_device_extra_t::model, nullptr, record_open, 0}, 0x4342},
        {{0x60001, "Test constant", qv_device_extra_t::constant, nullptr, record_open, 1}, 1},
        {{0x60002, "Test constant", qv_device_extra_t::constant, nullptr, record_open, 0}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.row.name);
        open_call = OpenCall();
        qv_device_t *out = nullptr;
        EXPECT_EQ(qv_device_backend_open(&c.row, &out, context, stream, 0x4342), QV_STATUS_SUCCESS);
        EXPECT_EQ(open_call.calls, 1);
        EXPECT_EQ(open_call.extra, c.expected_extra);
        EXPECT_EQ(open_call.context, context);
        EXPECT_EQ(open_call.iostream, stream);
        EXPECT_EQ(out, open_call.made);
        EXPECT_EQ(qv_device_close(out), QV_STATUS_SUCCESS);
    }

    open_call = OpenCall();
    open_call.status = QV_STATUS_TIMEOUT;
    qv_device_t *out = reinterpret_cast<qv_device_t *>(&logged);
    const qv_device_backend_t row = {0x10004, "Test", qv_device_extra_t::model, nullptr, record_open, 0};
    EXPECT_EQ(qv_device_backend_open(&row, &out, context, stream, 1), QV_STATUS_TIMEOUT);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(logged.empty());
}

TEST_F(DispatchTest, OpenChecksItsArguments)
{
    qv_iterator_t *iterator = nullptr;
    ASSERT_EQ(qv_descriptor_iterator_new(&iterator), QV_STATUS_SUCCESS);
    qv_descriptor_t *descriptor = nullptr;
    ASSERT_EQ(qv_iterator_next(iterator, &descriptor), QV_STATUS_SUCCESS);

    EXPECT_EQ(qv_device_open(nullptr, context, descriptor, nullptr), QV_STATUS_INVALIDARGS);
    qv_device_t *out = reinterpret_cast<qv_device_t *>(&logged);
    EXPECT_EQ(qv_device_open(&out, context, nullptr, nullptr), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(out, nullptr);

    // Through a real row of the model table whose backend has not landed.
    const qv_descriptor_t *pending = nullptr;
    do {
        const qv_device_backend_t *row = qv_device_backend_find(qv_descriptor_get_type(descriptor));
        ASSERT_NE(row, nullptr) << "every row of the model table has a known family";
        if (pending == nullptr && row->open == nullptr && row->open_extra == nullptr)
            pending = descriptor;
    } while (qv_iterator_next(iterator, &descriptor) == QV_STATUS_SUCCESS);
    qv_iterator_free(iterator);
    if (pending == nullptr)
        GTEST_SKIP() << "every family has its backend";

    logged.clear();
    out = reinterpret_cast<qv_device_t *>(&logged);
    EXPECT_EQ(qv_device_open(&out, context, pending, nullptr), QV_STATUS_UNSUPPORTED);
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].message.find("is not supported yet."), std::string::npos);
}

} // namespace
