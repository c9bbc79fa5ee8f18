#include <libquivelmarine/buffer.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/device.h>
#include <libquivelmarine/iostream.h>
#include <libquivelmarine/serial.h>

#include "iostream-private.h"
#include "suunto_common.h"
#include "suunto_vyper.h"

// The simulator's header shares its name with the backend's private one,
// which comes first on the include path.
#include "sim/suunto_vyper.h"
#include "sim.h"
#include "suunto_vyper_dives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Sim = qvsim::SuuntoVyper;
using Fault = qvsim::SuuntoVyper::Fault;

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

// A Vyper record: 14 header bytes with the date (the fingerprint) at 9-13,
// profile bytes (depth changes outside the event range), the end marker and
// 4 trailer bytes.
Bytes vyper_dive(uint8_t day, size_t profile)
{
    Bytes dive = {0x00, 0x00, 0x00, 20, 0x02, 100, 32, 0x00, 24, 24, 6, day, 10, 30};
    for (size_t i = 0; i < profile; ++i)
        dive.push_back(static_cast<uint8_t>((day + i) % 0x70 + 1));
    dive.insert(dive.end(), {0x80, 18, 0x00, 90, 0x00});
    return dive;
}

// A Spyder record: 11 header bytes with the date at 6-10, profile, the end
// marker and 2 trailer bytes.
Bytes spyder_dive(uint8_t day, size_t profile)
{
    Bytes dive = {0x00, 0x00, 0x00, 30, 0x00, 100, 3, 2, day, 9, 15};
    for (size_t i = 0; i < profile; ++i)
        dive.push_back(static_cast<uint8_t>((day * 3 + i) % 0x70 + 1));
    dive.insert(dive.end(), {0x80, 20, 50});
    return dive;
}

Bytes fingerprint_of(const Bytes &dive, size_t offset)
{
    return Bytes(dive.begin() + static_cast<ptrdiff_t>(offset), dive.begin() + static_cast<ptrdiff_t>(offset) + 5);
}

// Newest first, as the device delivers them.
std::vector<Bytes> newest_first(std::vector<Bytes> dives)
{
    std::reverse(dives.begin(), dives.end());
    return dives;
}

// What a download delivered.
struct Download {
    std::vector<Bytes> dives;
    std::vector<Bytes> fingerprints;
    size_t stop_after = SIZE_MAX; // the callback returns 0 after this many dives
};

int collect(const unsigned char *data, unsigned int size, const unsigned char *fingerprint, unsigned int fsize,
            void *userdata)
{
    auto *download = static_cast<Download *>(userdata);
    download->dives.emplace_back(data, data + size);
    download->fingerprints.emplace_back(fingerprint, fingerprint + fsize);
    return download->dives.size() < download->stop_after ? 1 : 0;
}

class SuuntoVyperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
        qv_context_set_loglevel(context, QV_LOGLEVEL_WARNING);
        qv_context_set_logfunc(context, capture, &logged);
    }

    void TearDown() override
    {
        qv_device_close(device);
        qv_iostream_close(stream);
        qv_context_free(context);
    }

    // Opens the backend on a memory stream to the simulator, with the
    // simulator checking power, line settings and RTS switching.
    void start(std::unique_ptr<Sim> simulator)
    {
        sim = std::move(simulator);
        sim->set_strict(true);
        ASSERT_EQ(qvsim_memstream_open(&stream, context, *sim, clock), QV_STATUS_SUCCESS);
        ASSERT_EQ(suunto_vyper_device_open(&device, context, stream), QV_STATUS_SUCCESS);
        qv_device_set_events(device, QV_EVENT_PROGRESS | QV_EVENT_DEVINFO, on_event, this);
        qv_device_set_cancel(device, on_cancel, this);
    }

    void start(const Sim::Identity &identity, const std::vector<Bytes> &dives, unsigned int begin = 0)
    {
        start(std::make_unique<Sim>(identity, dives, begin));
    }

    static void on_event(qv_device_t *, qv_event_type_t type, const void *data, void *userdata)
    {
        auto *self = static_cast<SuuntoVyperTest *>(userdata);
        if (type == QV_EVENT_PROGRESS)
            self->progress.push_back(*static_cast<const qv_event_progress_t *>(data));
        if (type == QV_EVENT_DEVINFO)
            self->devinfo.push_back(*static_cast<const qv_event_devinfo_t *>(data));
    }

    static int on_cancel(void *userdata)
    {
        auto *self = static_cast<SuuntoVyperTest *>(userdata);
        return self->cancel && self->cancel() ? 1 : 0;
    }

    std::vector<Logged> errors() const
    {
        std::vector<Logged> result;
        for (const Logged &entry : logged) {
            if (entry.level == QV_LOGLEVEL_ERROR)
                result.push_back(entry);
        }
        return result;
    }

    // The first bytes of every command the simulator received since open.
    std::vector<uint8_t> command_bytes() const
    {
        std::vector<uint8_t> result;
        for (const auto &command : sim->commands())
            result.push_back(command.bytes[0]);
        return result;
    }

    qv_context_t *context = nullptr;
    std::vector<Logged> logged;
    qvsim::Clock clock;
    std::unique_ptr<Sim> sim;
    qv_iostream_t *stream = nullptr;
    qv_device_t *device = nullptr;
    std::vector<qv_event_progress_t> progress;
    std::vector<qv_event_devinfo_t> devinfo;
    std::function<bool()> cancel;
};

const Sim::Identity vyper_identity = {Sim::Layout::vyper, 0x0C, 0x21, 12345678, 0};
const Sim::Identity spyder_identity = {Sim::Layout::spyder, 0x01, 0x15, 20304050, 20};

// Three Vyper dives, oldest first: one packet, two packets, three packets.
const std::vector<Bytes> three_dives = {vyper_dive(1, 10), vyper_dive(2, 40), vyper_dive(3, 60)};

// ---------------------------------------------------------------------------
// Open

TEST_F(SuuntoVyperTest, OpenConfiguresTheLineAndPowersTheInterface)
{
    start(vyper_identity, three_dives);

    EXPECT_EQ(qv_device_get_type(device), QV_FAMILY_SUUNTO_VYPER);

    qvsim::Link *link = qvsim_memstream_link(stream);
    ASSERT_NE(link, nullptr);
    const qvsim::LineSettings settings = link->settings();
    EXPECT_EQ(settings.baudrate, 2400u);
    EXPECT_EQ(settings.databits, 8u);
    EXPECT_EQ(settings.parity, QV_PARITY_ODD);
    EXPECT_EQ(settings.stopbits, QV_STOPBITS_ONE);
    EXPECT_EQ(settings.flowcontrol, QV_FLOWCONTROL_NONE);
    EXPECT_TRUE(link->lines().dtr);
    EXPECT_EQ(qvsim_memstream_timeout(stream), 1000);
    EXPECT_TRUE(sim->commands().empty());
    EXPECT_TRUE(errors().empty());
}

TEST_F(SuuntoVyperTest, OpenWithoutOutPointerIsInvalid)
{
    EXPECT_EQ(suunto_vyper_device_open(nullptr, context, nullptr), QV_STATUS_INVALIDARGS);
}

TEST_F(SuuntoVyperTest, OpenThroughTheFamilyDispatch)
{
    sim = std::make_unique<Sim>(vyper_identity, three_dives);
    ASSERT_EQ(qvsim_memstream_open(&stream, context, *sim, clock), QV_STATUS_SUCCESS);
    ASSERT_EQ(qv_device_open_family(&device, context, QV_FAMILY_SUUNTO_VYPER, 0x0C, stream), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_device_get_type(device), QV_FAMILY_SUUNTO_VYPER);
}

// A stream whose configure, set_timeout or set_dtr fails.
struct FailingStream : qv_iostream_t {
    int fail_step = 0; // 0 configure, 1 set_timeout, 2 set_dtr
    int dtr_calls = 0;
};

qv_status_t failing_configure(qv_iostream_t *s, unsigned int, unsigned int, qv_parity_t, qv_stopbits_t,
                              qv_flowcontrol_t)
{
    return static_cast<FailingStream *>(s)->fail_step == 0 ? QV_STATUS_IO : QV_STATUS_SUCCESS;
}

qv_status_t failing_timeout(qv_iostream_t *s, int)
{
    return static_cast<FailingStream *>(s)->fail_step == 1 ? QV_STATUS_NOACCESS : QV_STATUS_SUCCESS;
}

qv_status_t failing_dtr(qv_iostream_t *s, unsigned int)
{
    return static_cast<FailingStream *>(s)->fail_step == 2 ? QV_STATUS_UNSUPPORTED : QV_STATUS_SUCCESS;
}

const qv_iostream_vtable_t failing_vtable = {
    sizeof(FailingStream), failing_timeout, nullptr, failing_dtr, nullptr, nullptr, nullptr, failing_configure,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

TEST_F(SuuntoVyperTest, OpenFailuresReturnTheStreamStatus)
{
    struct Case {
        int step;
        qv_status_t status;
        const char *message;
    };
    const Case cases[] = {
        {0, QV_STATUS_IO, "Failed to set the terminal attributes."},
        {1, QV_STATUS_NOACCESS, "Failed to set the timeout."},
        {2, QV_STATUS_UNSUPPORTED, "Failed to set the DTR line."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        logged.clear();
        auto *failing = qv_iostream_allocate<FailingStream>(context, &failing_vtable, QV_TRANSPORT_SERIAL);
        ASSERT_NE(failing, nullptr);
        failing->fail_step = c.step;

        qv_device_t *out = nullptr;
        EXPECT_EQ(suunto_vyper_device_open(&out, context, failing), c.status);
        EXPECT_EQ(out, nullptr);
        auto errs = errors();
        ASSERT_EQ(errs.size(), 1u);
        EXPECT_EQ(errs[0].message, c.message);
        EXPECT_EQ(errs[0].function, "suunto_vyper_device_open");
        qv_iostream_close(failing);
    }
}

// ---------------------------------------------------------------------------
// Download

TEST_F(SuuntoVyperTest, DownloadDeliversEveryDiveNewestFirst)
{
    start(vyper_identity, three_dives);

    Download download;
    ASSERT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_SUCCESS);

    EXPECT_EQ(download.dives, newest_first(three_dives));
    ASSERT_EQ(download.fingerprints.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(download.fingerprints[i], fingerprint_of(download.dives[i], 9));

    // The identification block first, then the newest dive, then the next
    // ones, and one more that finds no dive left.
    EXPECT_EQ(command_bytes(), (Bytes{0x05, 0x08, 0x09, 0x09, 0x09}));
    EXPECT_EQ(sim->commands()[0].bytes, (Bytes{0x05, 0x00, 0x16, 0x14, 0x05 ^ 0x16 ^ 0x14}));
    EXPECT_EQ(sim->commands()[1].bytes, (Bytes{0x08, 0xA5, 0xAD}));
    EXPECT_EQ(sim->commands()[2].bytes, (Bytes{0x09, 0xA5, 0xAC}));
    for (const auto &command : sim->commands()) {
        EXPECT_TRUE(command.lines.rts); // transmitting while the command goes out
        EXPECT_TRUE(command.lines.dtr);
    }

    ASSERT_EQ(devinfo.size(), 1u);
    EXPECT_EQ(devinfo[0].model, 0x0Cu);
    EXPECT_EQ(devinfo[0].firmware, 0x21u);
    EXPECT_EQ(devinfo[0].serial, 12345678u);

    // Progress: the whole memory until the model is known, then the ring
    // plus the identification block, growing with each packet.
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress[0].current, 0u);
    EXPECT_EQ(progress[0].maximum, 8192u);
    EXPECT_EQ(progress[1].current, 20u);
    EXPECT_EQ(progress[1].maximum, 8099u);
    size_t total = 0;
    for (const Bytes &dive : three_dives)
        total += dive.size();
    EXPECT_EQ(progress.back().current, 20u + total);
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_GE(progress[i].current, progress[i - 1].current);
    EXPECT_TRUE(errors().empty());
}

TEST_F(SuuntoVyperTest, DownloadOfDivesThatWrapAroundTheRingEnd)
{
    // The middle dive straddles the end of the ring.
    start(vyper_identity, three_dives, 0x2000 - 40);

    Download download;
    ASSERT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_SUCCESS);
    EXPECT_EQ(download.dives, newest_first(three_dives));
}

TEST_F(SuuntoVyperTest, BuiltinLogbookComesBackIntact)
{
    // The encoded logbook, stored so that it wraps around the ring's end.
    std::vector<Bytes> records;
    for (const auto &dive : qvsim::vyper::builtin_logbook())
        records.push_back(qvsim::vyper::encode(dive));
    ASSERT_GE(records.size(), 2u);
    start(vyper_identity, records, 0x2000 - static_cast<unsigned int>(records[0].size()) - 7);

    Download download;
    ASSERT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_SUCCESS);
    EXPECT_EQ(download.dives, newest_first(records));
    EXPECT_TRUE(errors().empty());
}

TEST_F(SuuntoVyperTest, OverwrittenOldestDiveIsDroppedAndTheDownloadSucceeds)
{
    // Five dives of about 2000 bytes do not fit the 8079-byte ring: the
    // oldest is partly overwritten, so the walk meets the end of the profile
    // inside it and the device ends with an empty packet.
    std::vector<Bytes> dives;
    for (uint8_t day = 1; day <= 5; ++day)
        dives.push_back(vyper_dive(day, 1981));
    start(vyper_identity, dives);

    Download download;
    ASSERT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_SUCCESS);
    EXPECT_EQ(download.dives, (std::vector<Bytes>{dives[4], dives[3], dives[2], dives[1]}));
    EXPECT_TRUE(errors().empty());
}

TEST_F(SuuntoVyperTest, EmptyRingEndsAtOnceWithoutCallback)
{
    start(vyper_identity, {});

    Download download;
    ASSERT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_SUCCESS);
    EXPECT_TRUE(download.dives.empty());
    EXPECT_EQ(command_bytes(), (Bytes{0x05, 0x08}));
    EXPECT_EQ(progress.back().current, 20u);
}

TEST_F(SuuntoVyperTest, FingerprintStopsTheDownload)
{
    struct Case {
        size_t known; // index (newest first) of the dive whose fingerprint is set
        size_t delivered;
    };
    for (const Case c : {Case{0, 0}, Case{1, 1}, Case{2, 2}}) {
        SCOPED_TRACE(c.known);
        TearDown();
        device = nullptr;
        stream = nullptr;
        progress.clear();
        SetUp();
        start(vyper_identity, three_dives);

        const Bytes fp = fingerprint_of(newest_first(three_dives)[c.known], 9);
        ASSERT_EQ(qv_device_set_fingerprint(device, fp.data(), 5), QV_STATUS_SUCCESS);

        Download download;
        ASSERT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_SUCCESS);
        EXPECT_EQ(download.dives.size(), c.delivered);
        // The known dive is read but not delivered; nothing older is asked for.
        EXPECT_EQ(sim->commands().size(), 2 + c.known);
    }
}

TEST_F(SuuntoVyperTest, ClearedFingerprintDeliversEverything)
{
    start(vyper_identity, three_dives);

    const Bytes fp = fingerprint_of(three_dives[2], 9);
    ASSERT_EQ(qv_device_set_fingerprint(device, fp.data(), 5), QV_STATUS_SUCCESS);
    ASSERT_EQ(qv_device_set_fingerprint(device, nullptr, 0), QV_STATUS_SUCCESS);

    Download download;
    ASSERT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_SUCCESS);
    EXPECT_EQ(download.dives.size(), 3u);
}

TEST_F(SuuntoVyperTest, FingerprintSizes)
{
    start(vyper_identity, three_dives);

    const unsigned char bytes[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(qv_device_set_fingerprint(device, bytes, 5), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_device_set_fingerprint(device, nullptr, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_device_set_fingerprint(device, bytes, 4), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_device_set_fingerprint(device, bytes, 6), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_device_set_fingerprint(device, bytes, 1), QV_STATUS_INVALIDARGS);
}

TEST_F(SuuntoVyperTest, CallbackReturningZeroEndsTheDownload)
{
    start(vyper_identity, three_dives);

    Download download;
    download.stop_after = 1;
    ASSERT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_SUCCESS);
    ASSERT_EQ(download.dives.size(), 1u);
    EXPECT_EQ(download.dives[0], three_dives[2]);
    EXPECT_EQ(command_bytes(), (Bytes{0x05, 0x08}));
}

TEST_F(SuuntoVyperTest, TimeoutAfterAPacketEndsTheDiveThere)
{
    // The device falls silent after the first packet of the newest dive:
    // that packet is the whole dive (its last 32 bytes, in forward order).
    start(vyper_identity, three_dives);
    sim->inject({Fault::silence, 0x08, 0, 1, 0});

    Download download;
    ASSERT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_SUCCESS);
    ASSERT_EQ(download.dives.size(), 3u);
    const Bytes &newest = three_dives[2];
    EXPECT_EQ(download.dives[0], Bytes(newest.end() - 32, newest.end()));
    EXPECT_EQ(download.dives[1], three_dives[1]);
    EXPECT_TRUE(errors().empty());
}

// Answers that differ only by one injected fault.
struct FaultCase {
    const char *name;
    Sim::FaultPlan plan;
    qv_status_t status;
    const char *message;
    const char *function;
    size_t delivered; // dives handed out before the end
};

void PrintTo(const FaultCase &c, std::ostream *os)
{
    *os << c.name;
}

class SuuntoVyperFaultTest : public SuuntoVyperTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SuuntoVyperFaultTest, DownloadEndsAsTheFaultDemands)
{
    const FaultCase &c = GetParam();
    start(vyper_identity, three_dives);
    sim->inject(c.plan);

    Download download;
    EXPECT_EQ(qv_device_foreach(device, collect, &download), c.status);
    EXPECT_EQ(download.dives.size(), c.delivered);
    for (size_t i = 0; i < download.dives.size(); ++i)
        EXPECT_EQ(download.dives[i], newest_first(three_dives)[i]);

    auto errs = errors();
    if (c.message == nullptr) {
        EXPECT_TRUE(errs.empty());
    } else {
        ASSERT_EQ(errs.size(), 1u);
        EXPECT_EQ(errs[0].message, c.message);
        EXPECT_EQ(errs[0].function, c.function);
    }
}

const char *const RECEIVE = "Failed to receive the answer.";
const char *const START = "Unexpected answer start byte(s).";
const char *const CHECKSUM = "Unexpected answer checksum.";
const char *const TRANSFER = "suunto_vyper_transfer";
const char *const READ_DIVE = "suunto_vyper_read_dive";

INSTANTIATE_TEST_SUITE_P(
    Faults, SuuntoVyperFaultTest,
    ::testing::Values(
        // The identification read.
        FaultCase{"info_silence", {Fault::silence, 0x05}, QV_STATUS_TIMEOUT, RECEIVE, TRANSFER, 0},
        FaultCase{"info_checksum", {Fault::bad_checksum, 0x05}, QV_STATUS_PROTOCOL, CHECKSUM, TRANSFER, 0},
        FaultCase{"info_start", {Fault::wrong_start, 0x05}, QV_STATUS_PROTOCOL, START, TRANSFER, 0},
        FaultCase{"info_dropped", {Fault::dropped_byte, 0x05}, QV_STATUS_TIMEOUT, RECEIVE, TRANSFER, 0},
        FaultCase{"info_overlong", {Fault::overlong_packet, 0x05}, QV_STATUS_PROTOCOL, CHECKSUM, TRANSFER, 0},
        // The newest dive: silence before the first packet is an error,
        // after one it ends the dive.
        FaultCase{"first_silence", {Fault::silence, 0x08, 0, 0}, QV_STATUS_TIMEOUT, RECEIVE, READ_DIVE, 0},
        FaultCase{"first_overlong", {Fault::overlong_packet, 0x08, 0, 0}, QV_STATUS_PROTOCOL, START, READ_DIVE, 0},
        FaultCase{"first_checksum", {Fault::bad_checksum, 0x08, 0, 2}, QV_STATUS_PROTOCOL, CHECKSUM, READ_DIVE, 0},
        FaultCase{"first_start", {Fault::wrong_start, 0x08, 0, 1}, QV_STATUS_PROTOCOL, START, READ_DIVE, 0},
        FaultCase{"first_dropped", {Fault::dropped_byte, 0x08, 0, 2}, QV_STATUS_TIMEOUT, RECEIVE, READ_DIVE, 0},
        // Older dives.
        FaultCase{"next_start", {Fault::wrong_start, 0x09, 0, 0}, QV_STATUS_PROTOCOL, START, READ_DIVE, 1},
        FaultCase{"next_dropped", {Fault::dropped_byte, 0x09, 0, 1}, QV_STATUS_TIMEOUT, RECEIVE, READ_DIVE, 1},
        FaultCase{"next_overlong", {Fault::overlong_packet, 0x09, 0, 1}, QV_STATUS_PROTOCOL, START, READ_DIVE, 1},
        FaultCase{"oldest_silence", {Fault::silence, 0x09, 1, 0}, QV_STATUS_TIMEOUT, RECEIVE, READ_DIVE, 2},
        FaultCase{"oldest_checksum", {Fault::bad_checksum, 0x09, 1, 0}, QV_STATUS_PROTOCOL, CHECKSUM, READ_DIVE, 2},
        // Silence in place of the empty packet that ends the walk: the
        // device never said that no dive is left.
        FaultCase{"end_silence", {Fault::silence, 0x09, 2, 0}, QV_STATUS_TIMEOUT, RECEIVE, READ_DIVE, 3}),
    [](const ::testing::TestParamInfo<FaultCase> &param) { return std::string(param.param.name); });

TEST_F(SuuntoVyperTest, DiveLargerThanTheRingIsRejectedWithProgressClamped)
{
    // A device that streams more bytes than its ring holds.
    start(vyper_identity, three_dives);
    sim->inject({Fault::runaway, 0x08, 0, 0, 8079 + 100});

    Download download;
    EXPECT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_DATAFORMAT);
    EXPECT_TRUE(download.dives.empty());
    auto errs = errors();
    ASSERT_EQ(errs.size(), 1u);
    EXPECT_EQ(errs[0].message, "Unexpected number of bytes received.");

    for (const auto &p : progress)
        EXPECT_LE(p.current, p.maximum);
    EXPECT_EQ(progress.back().current, 8099u);
    EXPECT_EQ(progress.back().maximum, 8099u);
}

TEST_F(SuuntoVyperTest, DiveLargerThanWhatRemainsOfTheRingIsRejected)
{
    // The second dive alone fits the ring, but not together with the first.
    start(vyper_identity, three_dives);
    sim->inject({Fault::runaway, 0x09, 0, 0, 8079 - 50});

    Download download;
    EXPECT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_DATAFORMAT);
    EXPECT_EQ(download.dives.size(), 1u);
    auto errs = errors();
    ASSERT_EQ(errs.size(), 1u);
    EXPECT_EQ(errs[0].message, "Unexpected number of bytes received.");
}

TEST_F(SuuntoVyperTest, DiveTooShortForItsFingerprintIsRejected)
{
    // A 6-byte record cannot hold the fingerprint at offset 9.
    start(vyper_identity, {vyper_dive(1, 5), Bytes{0x01, 0x80, 0x00, 0x00, 0x00, 0x00}});

    Download download;
    EXPECT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_DATAFORMAT);
    EXPECT_TRUE(download.dives.empty());
}

TEST_F(SuuntoVyperTest, CancelledBeforeTheFirstExchange)
{
    start(vyper_identity, three_dives);
    cancel = [] { return true; };

    Download download;
    EXPECT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_CANCELLED);
    EXPECT_TRUE(download.dives.empty());
    EXPECT_TRUE(sim->commands().empty());

    qv_buffer_t *buffer = qv_buffer_new(0);
    EXPECT_EQ(qv_device_dump(device, buffer), QV_STATUS_CANCELLED);
    qv_buffer_free(buffer);

    const unsigned char data[1] = {0};
    EXPECT_EQ(qv_device_write(device, 0x100, data, 1), QV_STATUS_CANCELLED);
    EXPECT_TRUE(sim->commands().empty());
}

TEST_F(SuuntoVyperTest, CancelledBetweenDives)
{
    start(vyper_identity, three_dives);

    Download download;
    cancel = [&download] { return download.dives.size() == 1; };
    EXPECT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_CANCELLED);
    EXPECT_EQ(download.dives.size(), 1u);
    EXPECT_EQ(command_bytes(), (Bytes{0x05, 0x08}));
}

// ---------------------------------------------------------------------------
// Spyder and Vyper layouts

TEST_F(SuuntoVyperTest, SpyderIntervalsSelectTheSpyderLayoutInDownloadAndDump)
{
    const std::vector<Bytes> dives = {spyder_dive(1, 20), spyder_dive(2, 50)};
    for (uint8_t interval : {20, 30, 60}) {
        SCOPED_TRACE(static_cast<int>(interval));
        TearDown();
        device = nullptr;
        stream = nullptr;
        progress.clear();
        devinfo.clear();
        SetUp();

        Sim::Identity identity = spyder_identity;
        identity.interval = interval;
        start(identity, dives);

        Download download;
        ASSERT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_SUCCESS);
        EXPECT_EQ(download.dives, newest_first(dives));
        ASSERT_EQ(download.fingerprints.size(), 2u);
        EXPECT_EQ(download.fingerprints[0], fingerprint_of(dives[1], 6));
        EXPECT_EQ(progress[1].maximum, 8136u);

        qv_buffer_t *buffer = qv_buffer_new(0);
        ASSERT_EQ(qv_device_dump(device, buffer), QV_STATUS_SUCCESS);
        qv_buffer_free(buffer);

        ASSERT_EQ(devinfo.size(), 2u);
        for (const auto &info : devinfo) {
            EXPECT_EQ(info.model, 0x01u);
            EXPECT_EQ(info.firmware, 0x15u);
            EXPECT_EQ(info.serial, 20304050u);
        }
    }
}

TEST_F(SuuntoVyperTest, OtherValuesAtTheModelByteSelectTheVyperLayout)
{
    for (uint8_t model : {0x0A, 0x16, 19, 21, 59, 61}) {
        SCOPED_TRACE(static_cast<int>(model));
        TearDown();
        device = nullptr;
        stream = nullptr;
        progress.clear();
        devinfo.clear();
        SetUp();

        Sim::Identity identity = vyper_identity;
        identity.model = model;
        start(identity, three_dives);

        Download download;
        ASSERT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_SUCCESS);
        EXPECT_EQ(download.dives, newest_first(three_dives));
        EXPECT_EQ(progress[1].maximum, 8099u);
        ASSERT_EQ(devinfo.size(), 1u);
        EXPECT_EQ(devinfo[0].model, model);
        EXPECT_EQ(devinfo[0].serial, 12345678u);
    }
}

// ---------------------------------------------------------------------------
// Memory access

TEST_F(SuuntoVyperTest, DumpReadsTheWholeMemoryIn32ByteBlocks)
{
    start(vyper_identity, three_dives);

    qv_buffer_t *buffer = qv_buffer_new(0);
    ASSERT_EQ(qv_device_dump(device, buffer), QV_STATUS_SUCCESS);
    ASSERT_EQ(qv_buffer_get_size(buffer), 8192u);
    const unsigned char *data = qv_buffer_get_data(buffer);
    EXPECT_EQ(Bytes(data, data + 8192), sim->memory());
    qv_buffer_free(buffer);

    ASSERT_EQ(sim->commands().size(), 256u);
    for (size_t i = 0; i < 256; ++i) {
        const Bytes &command = sim->commands()[i].bytes;
        ASSERT_EQ(command.size(), 5u);
        EXPECT_EQ(command[0], 0x05);
        EXPECT_EQ((command[1] << 8) | command[2], static_cast<int>(i * 32));
        EXPECT_EQ(command[3], 32);
    }

    ASSERT_EQ(progress.size(), 257u);
    for (size_t i = 0; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].current, i * 32);
        EXPECT_EQ(progress[i].maximum, 8192u);
    }
    ASSERT_EQ(devinfo.size(), 1u);
    EXPECT_EQ(devinfo[0].model, 0x0Cu);
    EXPECT_EQ(devinfo[0].firmware, 0x21u);
    EXPECT_EQ(devinfo[0].serial, 12345678u);
}

TEST_F(SuuntoVyperTest, DumpFailureIsPassedOn)
{
    start(vyper_identity, three_dives);
    sim->inject({Fault::bad_checksum, 0x05, 7});

    qv_buffer_t *buffer = qv_buffer_new(0);
    EXPECT_EQ(qv_device_dump(device, buffer), QV_STATUS_PROTOCOL);
    qv_buffer_free(buffer);
    EXPECT_EQ(sim->commands().size(), 8u);
    EXPECT_TRUE(devinfo.empty());
}

TEST_F(SuuntoVyperTest, WriteOf33BytesIsTwoPacketsEachWithItsPrepare)
{
    start(vyper_identity, three_dives);

    Bytes data(33);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(0x40 + i);
    ASSERT_EQ(qv_device_write(device, 0x0100, data.data(), data.size()), QV_STATUS_SUCCESS);

    const auto &commands = sim->commands();
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0].bytes, (Bytes{0x07, 0xA5, 0xA2}));
    EXPECT_EQ(commands[2].bytes, (Bytes{0x07, 0xA5, 0xA2}));

    Bytes first = {0x06, 0x01, 0x00, 0x20};
    first.insert(first.end(), data.begin(), data.begin() + 32);
    uint8_t x = 0;
    for (uint8_t b : first)
        x ^= b;
    first.push_back(x);
    EXPECT_EQ(commands[1].bytes, first);
    EXPECT_EQ(commands[3].bytes, (Bytes{0x06, 0x01, 0x20, 0x01, 0x60, 0x06 ^ 0x01 ^ 0x20 ^ 0x01 ^ 0x60}));

    ASSERT_EQ(sim->writes().size(), 2u);
    EXPECT_EQ(sim->writes()[0].address, 0x100u);
    EXPECT_EQ(sim->writes()[0].data.size(), 32u);
    EXPECT_EQ(sim->writes()[1].address, 0x120u);
    EXPECT_EQ(sim->writes()[1].data, Bytes{0x60});
    EXPECT_EQ(Bytes(sim->memory().begin() + 0x100, sim->memory().begin() + 0x121), data);

    // Reading it back takes a 32-byte and a 1-byte packet.
    Bytes back(33);
    ASSERT_EQ(qv_device_read(device, 0x0100, back.data(), back.size()), QV_STATUS_SUCCESS);
    EXPECT_EQ(back, data);
    ASSERT_EQ(commands.size(), 6u);
    EXPECT_EQ(commands[4].bytes, (Bytes{0x05, 0x01, 0x00, 0x20, 0x05 ^ 0x01 ^ 0x20}));
    EXPECT_EQ(commands[5].bytes, (Bytes{0x05, 0x01, 0x20, 0x01, 0x05 ^ 0x01 ^ 0x20 ^ 0x01}));
}

TEST_F(SuuntoVyperTest, WriteFailures)
{
    struct Case {
        Sim::FaultPlan plan;
        qv_status_t status;
        const char *message;
        size_t commands; // commands sent
        size_t writes;   // writes carried out by the device
    };
    const Case cases[] = {
        {{Fault::silence, 0x07}, QV_STATUS_TIMEOUT, RECEIVE, 1, 0},
        {{Fault::wrong_start, 0x07}, QV_STATUS_PROTOCOL, START, 1, 0},
        {{Fault::bad_checksum, 0x06}, QV_STATUS_PROTOCOL, CHECKSUM, 2, 1},
        {{Fault::silence, 0x07, 1}, QV_STATUS_TIMEOUT, RECEIVE, 3, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        TearDown();
        device = nullptr;
        stream = nullptr;
        logged.clear();
        SetUp();
        start(vyper_identity, three_dives);
        sim->inject(c.plan);

        const Bytes data(40, 0x11);
        EXPECT_EQ(qv_device_write(device, 0x200, data.data(), data.size()), c.status);
        EXPECT_EQ(sim->commands().size(), c.commands);
        EXPECT_EQ(sim->writes().size(), c.writes);
        auto errs = errors();
        ASSERT_EQ(errs.size(), 1u);
        EXPECT_EQ(errs[0].message, c.message);
    }
}

TEST_F(SuuntoVyperTest, RangesBeyondTheAddressSpaceAreRefused)
{
    start(vyper_identity, three_dives);

    unsigned char data[4] = {};
    EXPECT_EQ(qv_device_read(device, 0xFFFE, data, 4), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_device_write(device, 0x10000, data, 1), QV_STATUS_INVALIDARGS);
    EXPECT_TRUE(sim->commands().empty());
    EXPECT_EQ(qv_device_read(device, 0xFFFC, data, 4), QV_STATUS_SUCCESS);
}

// ---------------------------------------------------------------------------
// Shared dive extraction from a memory image

struct Extraction {
    const char *name;
    Sim::Identity identity;
    const suunto_common_layout_t *layout;
    std::vector<Bytes> dives; // oldest first
    unsigned int start;       // where the oldest dive starts (0: ring begin)
};

void PrintTo(const Extraction &c, std::ostream *os)
{
    *os << c.name;
}

class SuuntoCommonExtractTest : public ::testing::TestWithParam<Extraction> {};

TEST_P(SuuntoCommonExtractTest, DivesComeOutNewestFirst)
{
    const Extraction &c = GetParam();
    const Bytes image = Sim::build_image(c.identity, c.dives, c.start);

    Download download;
    ASSERT_EQ(suunto_common_extract_dives(nullptr, *c.layout, image.data(), image.size(), collect, &download),
              QV_STATUS_SUCCESS);
    EXPECT_EQ(download.dives, newest_first(c.dives));
    for (size_t i = 0; i < download.dives.size(); ++i)
        EXPECT_EQ(download.fingerprints[i], fingerprint_of(download.dives[i], c.layout->fp_offset));
}

const suunto_common_layout_t vyper_scan_layout = {0, 0x71, 0x2000, 9, 5};

INSTANTIATE_TEST_SUITE_P(
    Images, SuuntoCommonExtractTest,
    ::testing::Values(
        Extraction{"vyper", vyper_identity, &suunto_vyper_layout, three_dives, 0},
        Extraction{"vyper_wrapping_dive", vyper_identity, &suunto_vyper_layout, three_dives, 0x2000 - 100},
        Extraction{"vyper_marker_wraps", vyper_identity, &suunto_vyper_layout, three_dives, 0x71 + 2},
        Extraction{"vyper_eop_at_ring_begin", vyper_identity, &suunto_vyper_layout, three_dives,
                   static_cast<unsigned int>(0x2000 - three_dives[0].size() - three_dives[1].size() -
                                             three_dives[2].size())},
        Extraction{"vyper_searched_marker", vyper_identity, &vyper_scan_layout, three_dives, 0},
        Extraction{"vyper_empty", vyper_identity, &suunto_vyper_layout, {}, 0},
        Extraction{"spyder", spyder_identity, &suunto_spyder_layout, {spyder_dive(1, 20), spyder_dive(2, 70)}, 0},
        Extraction{"spyder_wrapping", spyder_identity, &suunto_spyder_layout,
                   {spyder_dive(1, 20), spyder_dive(2, 70), spyder_dive(3, 5)}, 0x2000 - 60}),
    [](const ::testing::TestParamInfo<Extraction> &param) { return std::string(param.param.name); });

TEST(SuuntoCommonExtract, OverwrittenOldestDiveIsNotDelivered)
{
    std::vector<Bytes> dives;
    for (uint8_t day = 1; day <= 5; ++day)
        dives.push_back(vyper_dive(day, 1981));
    const Bytes image = Sim::build_image(vyper_identity, dives);

    Download download;
    ASSERT_EQ(suunto_common_extract_dives(nullptr, suunto_vyper_layout, image.data(), image.size(), collect,
                                          &download),
              QV_STATUS_SUCCESS);
    EXPECT_EQ(download.dives, (std::vector<Bytes>{dives[4], dives[3], dives[2], dives[1]}));
}

TEST(SuuntoCommonExtract, StopsAtTheDeviceFingerprintAndAtACallbackZero)
{
    const Bytes image = Sim::build_image(vyper_identity, three_dives, 0x2000 - 50);

    suunto_common_device_t device;
    suunto_common_device_init(&device);
    const Bytes fp = fingerprint_of(three_dives[1], 9);
    ASSERT_EQ(suunto_common_device_set_fingerprint(&device, fp.data(), 5), QV_STATUS_SUCCESS);

    Download download;
    ASSERT_EQ(suunto_common_extract_dives(&device, suunto_vyper_layout, image.data(), image.size(), collect,
                                          &download),
              QV_STATUS_SUCCESS);
    EXPECT_EQ(download.dives, std::vector<Bytes>{three_dives[2]});

    // Without the device, the fingerprint plays no part.
    Download all;
    all.stop_after = 2;
    ASSERT_EQ(suunto_common_extract_dives(nullptr, suunto_vyper_layout, image.data(), image.size(), collect, &all),
              QV_STATUS_SUCCESS);
    EXPECT_EQ(all.dives, (std::vector<Bytes>{three_dives[2], three_dives[1]}));
}

TEST(SuuntoCommonExtract, SetFingerprintSizes)
{
    suunto_common_device_t device;
    suunto_common_device_init(&device);
    const unsigned char bytes[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(suunto_common_device_set_fingerprint(&device, bytes, 5), QV_STATUS_SUCCESS);
    EXPECT_EQ(Bytes(device.fingerprint.begin(), device.fingerprint.end()), Bytes(bytes, bytes + 5));
    EXPECT_EQ(suunto_common_device_set_fingerprint(&device, bytes, 4), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(Bytes(device.fingerprint.begin(), device.fingerprint.end()), Bytes(bytes, bytes + 5));
    EXPECT_EQ(suunto_common_device_set_fingerprint(&device, nullptr, 0), QV_STATUS_SUCCESS);
    EXPECT_EQ(Bytes(device.fingerprint.begin(), device.fingerprint.end()), Bytes(5, 0));
}

TEST(SuuntoCommonExtract, BadImagesAreDataFormatErrors)
{
    const Bytes good = Sim::build_image(vyper_identity, three_dives);
    const unsigned int eop = good[0x51] << 8 | good[0x52];
    ASSERT_EQ(good[eop], 0x82);

    auto with_pointer = [&good](unsigned int pointer) {
        Bytes image = good;
        image[0x51] = static_cast<uint8_t>(pointer >> 8);
        image[0x52] = static_cast<uint8_t>(pointer & 0xFF);
        return image;
    };

    Bytes no_marker = good;
    std::fill(no_marker.begin() + 0x71, no_marker.end(), 0x00);

    struct Case {
        const char *name;
        Bytes image;
        const suunto_common_layout_t *layout;
    };
    const Case cases[] = {
        {"pointer below the ring", with_pointer(0x70), &suunto_vyper_layout},
        {"pointer at the ring end", with_pointer(0x2000), &suunto_vyper_layout},
        {"pointer far beyond", with_pointer(0xFFFF), &suunto_vyper_layout},
        {"pointer not at the end marker", with_pointer(eop - 1), &suunto_vyper_layout},
        {"no end marker to search", no_marker, &vyper_scan_layout},
        {"newest dive too short", Sim::build_image(vyper_identity, {vyper_dive(1, 3), Bytes{9, 0x80, 1, 2, 3, 4}}),
         &suunto_vyper_layout},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Download download;
        EXPECT_EQ(suunto_common_extract_dives(nullptr, *c.layout, c.image.data(), c.image.size(), collect,
                                              &download),
                  QV_STATUS_DATAFORMAT);
        EXPECT_TRUE(download.dives.empty());
    }

    // An image that does not cover the ring is refused before any read.
    Download download;
    EXPECT_EQ(suunto_common_extract_dives(nullptr, suunto_vyper_layout, good.data(), 0x1000, collect, &download),
              QV_STATUS_INVALIDARGS);
}

TEST(SuuntoCommonExtract, AgreesWithTheDeviceDownload)
{
    // The same image, read dive by dive through the device and extracted
    // from memory, gives the same dives.
    const std::vector<Bytes> dives = {vyper_dive(1, 100), vyper_dive(2, 3), vyper_dive(3, 250), vyper_dive(4, 31)};
    Sim sim(vyper_identity, dives, 0x2000 - 200);

    Download extracted;
    ASSERT_EQ(suunto_common_extract_dives(nullptr, suunto_vyper_layout, sim.memory().data(), sim.memory().size(),
                                          collect, &extracted),
              QV_STATUS_SUCCESS);

    qv_context_t *context = nullptr;
    ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
    qvsim::Clock clock;
    qv_iostream_t *stream = nullptr;
    ASSERT_EQ(qvsim_memstream_open(&stream, context, sim, clock), QV_STATUS_SUCCESS);
    qv_device_t *device = nullptr;
    ASSERT_EQ(suunto_vyper_device_open(&device, context, stream), QV_STATUS_SUCCESS);
    Download downloaded;
    EXPECT_EQ(qv_device_foreach(device, collect, &downloaded), QV_STATUS_SUCCESS);
    qv_device_close(device);
    qv_iostream_close(stream);
    qv_context_free(context);

    EXPECT_EQ(downloaded.dives, newest_first(dives));
    EXPECT_EQ(extracted.dives, downloaded.dives);
    EXPECT_EQ(extracted.fingerprints, downloaded.fingerprints);
}

// ---------------------------------------------------------------------------
// The simulator's image builder

TEST(SuuntoVyperSim, ImageHoldsIdentificationPointerAndMarkers)
{
    const std::vector<Bytes> dives = {vyper_dive(1, 10), vyper_dive(2, 10)};
    const unsigned int start = 0x2000 - 30;
    const Bytes image = Sim::build_image(vyper_identity, dives, start);
    ASSERT_EQ(image.size(), 8192u);

    EXPECT_EQ(image[0x24], 0x0C);
    EXPECT_EQ(image[0x25], 0x21);
    EXPECT_EQ(Bytes(image.begin() + 0x26, image.begin() + 0x2A), (Bytes{12, 34, 56, 78}));

    // Two 29-byte dives from 0x2000 - 30: the second starts in the ring's
    // last byte and goes on at its first, up to 0x71 + 28 where the
    // end-of-profile byte follows.
    const unsigned int eop = 0x71 + 28;
    EXPECT_EQ(image[0x51] << 8 | image[0x52], static_cast<int>(eop));
    EXPECT_EQ(image[eop], 0x82);
    EXPECT_EQ(image[start - 5], 0x80); // what is left of an older dive
    EXPECT_EQ(image[start], dives[0][0]);
    EXPECT_EQ(image[0x1FFE], dives[0][28]);
    EXPECT_EQ(image[0x1FFF], dives[1][0]);
    EXPECT_EQ(image[0x71], dives[1][1]); // the second dive wrapped
    EXPECT_EQ(image[eop - 5], 0x80);

    const Bytes spyder = Sim::build_image(spyder_identity, {spyder_dive(1, 4)});
    EXPECT_EQ(spyder[0x16], 0x01);
    EXPECT_EQ(spyder[0x17], 0x15);
    EXPECT_EQ(Bytes(spyder.begin() + 0x18, spyder.begin() + 0x1C), (Bytes{20, 30, 40, 50}));
    EXPECT_EQ(spyder[0x24], 20);
    EXPECT_EQ(spyder[0x1C] << 8 | spyder[0x1D], 0x4C + 18);

    // A record without its end marker in place cannot be laid out.
    EXPECT_THROW(Sim::build_image(vyper_identity, {Bytes{1, 2, 3, 4, 5, 6}}), std::invalid_argument);
    EXPECT_THROW(Sim::build_image(vyper_identity, {}, 0x20), std::invalid_argument);
}

// ---------------------------------------------------------------------------
// Over a real pseudo-terminal, in real time.

TEST(SuuntoVyperPty, DownloadsTwoDivesOverAPseudoTerminal)
{
    const std::vector<Bytes> dives = {vyper_dive(1, 30), vyper_dive(2, 45)};
    Sim sim(vyper_identity, dives);
    qvsim::PtyServer server(sim);
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;

    qv_context_t *context = nullptr;
    ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
    std::vector<Logged> logged;
    qv_context_set_logfunc(context, capture, &logged);

    qv_iostream_t *stream = nullptr;
    ASSERT_EQ(qv_serial_open(&stream, context, server.path().c_str()), QV_STATUS_SUCCESS);
    qv_device_t *device = nullptr;
    ASSERT_EQ(suunto_vyper_device_open(&device, context, stream), QV_STATUS_SUCCESS);

    Download download;
    EXPECT_EQ(qv_device_foreach(device, collect, &download), QV_STATUS_SUCCESS);

    qv_device_close(device);
    qv_iostream_close(stream);
    qv_context_free(context);
    server.stop();
    EXPECT_EQ(server.failure(), "");

    EXPECT_EQ(download.dives, newest_first(dives));
    ASSERT_EQ(download.fingerprints.size(), 2u);
    EXPECT_EQ(download.fingerprints[0], fingerprint_of(dives[1], 9));
    for (const Logged &entry : logged)
        EXPECT_NE(entry.level, QV_LOGLEVEL_ERROR) << entry.message;

    std::vector<uint8_t> kinds;
    for (const auto &command : sim.commands())
        kinds.push_back(command.bytes[0]);
    EXPECT_EQ(kinds, (Bytes{0x05, 0x08, 0x09, 0x09}));
}

} // namespace
