// The infrared transport: its behaviour on this machine's kernel (which has
// no IrDA sockets since Linux 4.17), the connection address, and the
// discovery run against scripted answers of the kernel's discovery log.
#include <libquivelmarine/context.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/iostream.h>
#include <libquivelmarine/irda.h>
#include <libquivelmarine/iterator.h>

#include "platform/irda_linux.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

namespace kernel = qv_irda_kernel;

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

std::string syserror_text(int errcode)
{
    return std::string(std::strerror(errcode)) + " (" + std::to_string(errcode) + ")";
}

const qv_descriptor_t *find_descriptor(const char *vendor, const char *product)
{
    qv_iterator_t *iterator = nullptr;
    if (qv_descriptor_iterator_new(&iterator) != QV_STATUS_SUCCESS)
        return nullptr;
    const qv_descriptor_t *found = nullptr;
    qv_descriptor_t *descriptor = nullptr;
    while (found == nullptr && qv_iterator_next(iterator, &descriptor) == QV_STATUS_SUCCESS) {
        if (std::strcmp(qv_descriptor_get_vendor(descriptor), vendor) == 0 &&
            std::strcmp(qv_descriptor_get_product(descriptor), product) == 0)
            found = descriptor;
    }
    qv_iterator_free(iterator);
    return found;
}

class IrdaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
        qv_context_set_loglevel(context, QV_LOGLEVEL_INFO);
        qv_context_set_logfunc(context, capture, &logged);
    }

    void TearDown() override { qv_context_free(context); }

    const Logged *find_logged(qv_loglevel_t level, const std::string &message) const
    {
        for (const auto &entry : logged)
            if (entry.level == level && entry.message == message)
                return &entry;
        return nullptr;
    }

    size_t count_logged(qv_loglevel_t level) const
    {
        size_t n = 0;
        for (const auto &entry : logged)
            n += entry.level == level;
        return n;
    }

    qv_context_t *context = nullptr;
    std::vector<Logged> logged;
};

// Whether this kernel still creates IrDA sockets (errno tells why not).
bool kernel_has_irda(int *errcode)
{
    int fd = ::socket(kernel::address_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *errcode = errno;
        return false;
    }
    ::close(fd);
    *errcode = 0;
    return true;
}

TEST_F(IrdaTest, DiscoveryOnThisKernelEndsCleanly)
{
    int errcode = 0;
    const bool available = kernel_has_irda(&errcode);

    qv_iterator_t *iterator = reinterpret_cast<qv_iterator_t *>(0x1);
    qv_status_t status = qv_irda_iterator_new(&iterator, context, nullptr);
    if (!available && errcode == EAFNOSUPPORT) {
        EXPECT_EQ(status, QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(iterator, reinterpret_cast<qv_iterator_t *>(0x1));
        const Logged *entry = find_logged(QV_LOGLEVEL_ERROR, syserror_text(EAFNOSUPPORT));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->function, "qv_irda_iterator_new");
        EXPECT_EQ(count_logged(QV_LOGLEVEL_ERROR), 1u);
    } else if (status == QV_STATUS_SUCCESS) {
        // A kernel with IrDA: an empty neighbourhood or some devices.
        qv_irda_device_t *device = nullptr;
        while (qv_iterator_next(iterator, &device) == QV_STATUS_SUCCESS)
            qv_irda_device_free(device);
        EXPECT_EQ(qv_iterator_next(iterator, &device), QV_STATUS_DONE);
        qv_iterator_free(iterator);
    } else {
        EXPECT_LT(status, 0);
        EXPECT_GE(count_logged(QV_LOGLEVEL_ERROR), 1u);
    }
}

TEST_F(IrdaTest, OpenOnThisKernelEndsCleanly)
{
    int errcode = 0;
    const bool available = kernel_has_irda(&errcode);

    qv_iostream_t *stream = reinterpret_cast<qv_iostream_t *>(0x1);
    qv_status_t status = qv_irda_open(&stream, context, 0xA1B2C3D4, 1);
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged[0].level, QV_LOGLEVEL_INFO);
    EXPECT_EQ(logged[0].message, "Open: address=a1b2c3d4, lsap=1");
    EXPECT_EQ(logged[0].function, "qv_irda_open");

    if (!available && errcode == EAFNOSUPPORT) {
        EXPECT_EQ(status, QV_STATUS_UNSUPPORTED);
        EXPECT_EQ(stream, reinterpret_cast<qv_iostream_t *>(0x1));
        const Logged *entry = find_logged(QV_LOGLEVEL_ERROR, syserror_text(EAFNOSUPPORT));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->function, "qv_socket_open");
        EXPECT_EQ(count_logged(QV_LOGLEVEL_ERROR), 1u);
    } else if (status == QV_STATUS_SUCCESS) {
        // Someone answers at that address after all.
        EXPECT_EQ(qv_iostream_get_transport(stream), QV_TRANSPORT_IRDA);
        qv_iostream_close(stream);
    } else {
        // No device there: a logged, mapped failure and no stream.
        EXPECT_LT(status, 0);
        EXPECT_EQ(stream, reinterpret_cast<qv_iostream_t *>(0x1));
        EXPECT_GE(count_logged(QV_LOGLEVEL_ERROR), 1u);
    }
}

TEST_F(IrdaTest, Arguments)
{
    qv_iostream_t *stream = nullptr;
    EXPECT_EQ(qv_irda_open(nullptr, context, 0x1234, 1), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_irda_iterator_new(nullptr, context, nullptr), QV_STATUS_INVALIDARGS);
    EXPECT_TRUE(logged.empty());

    // Selectors above 0x6F cannot be connected to by number.
    EXPECT_EQ(qv_irda_open(&stream, context, 0x1234, 0x70), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(stream, nullptr);
    EXPECT_NE(find_logged(QV_LOGLEVEL_ERROR, "Invalid LSAP selector 112."), nullptr);
}

TEST(IrdaDevice, AccessorsOfAMissingDevice)
{
    EXPECT_EQ(qv_irda_device_get_address(nullptr), 0u);
    EXPECT_EQ(qv_irda_device_get_name(nullptr), nullptr);
    qv_irda_device_free(nullptr);
}

TEST(IrdaAddress, ConnectsToTheLsapByNumber)
{
    const struct {
        unsigned int address, lsap;
    } cases[] = {{0xA1B2C3D4, 1}, {0x00000001, 0x6F}, {0xFFFFFFFE, 0}};
    for (const auto &c : cases) {
        kernel::sockaddr_irda peer = qv_irda_make_address(c.address, c.lsap);
        EXPECT_EQ(peer.sir_family, 23);
        EXPECT_EQ(peer.sir_addr, c.address);
        EXPECT_EQ(peer.sir_lsap_sel, c.lsap);
        // An empty service name: the kernel takes the LSAP as given instead
        // of looking a service up by name.
        const char empty[sizeof peer.sir_name] = {};
        EXPECT_EQ(std::memcmp(peer.sir_name, empty, sizeof empty), 0);
    }
}

// A scripted kernel: each query of the discovery log takes the next answer.
struct Answer {
    int errcode = 0;                                  // the query fails with this errno
    std::vector<kernel::irda_device_info> devices;    // else these entries
    int count = -1;                                   // the log's count (-1: the number of entries)
};

struct Script {
    std::vector<Answer> answers;
    size_t queries = 0;
    int socket_errcode = 0; // socket() fails with this errno
    int fd = -1;            // the socket handed out
    bool closed = false;
    int domain = 0, type = 0, level = 0, name = 0;
    socklen_t offered = 0;
};

Script *script = nullptr;

int fake_socket(int domain, int type, int protocol)
{
    script->domain = domain;
    script->type = type;
    if (script->socket_errcode != 0) {
        errno = script->socket_errcode;
        return -1;
    }
    script->fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return script->fd;
}

int fake_getsockopt(int fd, int level, int name, void *value, socklen_t *length)
{
    EXPECT_EQ(fd, script->fd);
    script->level = level;
    script->name = name;
    script->offered = *length;

    if (script->queries >= script->answers.size()) {
        ADD_FAILURE() << "more queries than scripted answers";
        errno = EIO;
        return -1;
    }
    const Answer &answer = script->answers[script->queries++];
    if (answer.errcode != 0) {
        errno = answer.errcode;
        return -1;
    }

    // What the kernel does: the count of the whole log, then as many
    // entries as fit, and the number of bytes used.
    unsigned char *out = static_cast<unsigned char *>(value);
    uint32_t count = answer.count >= 0 ? static_cast<uint32_t>(answer.count)
                                       : static_cast<uint32_t>(answer.devices.size());
    std::memcpy(out, &count, sizeof count);
    size_t used = kernel::list_header_size;
    for (const auto &entry : answer.devices) {
        if (used + sizeof entry > *length)
            break;
        std::memcpy(out + used, &entry, sizeof entry);
        used += sizeof entry;
    }
    *length = static_cast<socklen_t>(used);
    return 0;
}

int fake_close(int fd)
{
    EXPECT_EQ(fd, script->fd);
    script->closed = true;
    return ::close(fd);
}

const qv_irda_discovery_t fake_system = {fake_socket, fake_getsockopt, fake_close, 0};

kernel::irda_device_info entry(uint32_t address, const char *name, uint8_t charset = 0, uint8_t hint0 = 0,
                               uint8_t hint1 = 0)
{
    kernel::irda_device_info info{};
    info.saddr = 0x11111111;
    info.daddr = address;
    std::memcpy(info.info, name, std::min(std::strlen(name), sizeof info.info));
    info.charset = charset;
    info.hints[0] = hint0;
    info.hints[1] = hint1;
    return info;
}

struct Found {
    unsigned int address;
    std::string name; // "(none)" for a NULL name
};

class IrdaDiscoveryTest : public IrdaTest {
protected:
    void SetUp() override
    {
        IrdaTest::SetUp();
        script = &state;
    }
    void TearDown() override
    {
        script = nullptr;
        IrdaTest::TearDown();
    }

    // Runs a discovery; returns its status and collects the devices.
    qv_status_t discover(const qv_descriptor_t *descriptor, std::vector<Found> *found)
    {
        qv_iterator_t *iterator = nullptr;
        qv_status_t status = qv_irda_iterator_new(&iterator, context, descriptor, &fake_system);
        if (status != QV_STATUS_SUCCESS)
            return status;

        qv_irda_device_t *device = nullptr;
        while (qv_iterator_next(iterator, &device) == QV_STATUS_SUCCESS) {
            const char *name = qv_irda_device_get_name(device);
            found->push_back({qv_irda_device_get_address(device), name != nullptr ? name : "(none)"});
            qv_irda_device_free(device);
        }
        EXPECT_EQ(qv_iterator_next(iterator, &device), QV_STATUS_DONE);
        qv_iterator_free(iterator);
        return status;
    }

    Script state;
};

TEST_F(IrdaDiscoveryTest, AsksAgainUntilTheLogHoldsDevices)
{
    state.answers = {{EAGAIN, {}, -1}, {EAGAIN, {}, -1}, {0, {entry(0xA1B2C3D4, "Aladin Smart Pro", 0, 0x82, 0x04),
                                                            entry(0x00000042, "UWATEC Galileo", 0xFF)},
                                                         -1}};
    std::vector<Found> found;
    ASSERT_EQ(discover(nullptr, &found), QV_STATUS_SUCCESS);

    EXPECT_EQ(state.queries, 3u);
    EXPECT_EQ(state.domain, 23);
    EXPECT_EQ(state.type & 0xF, SOCK_STREAM);
    EXPECT_TRUE(state.type & SOCK_CLOEXEC);
    EXPECT_EQ(state.level, 266);
    EXPECT_EQ(state.name, 1);
    EXPECT_GE(state.offered, kernel::list_buffer_size);
    EXPECT_TRUE(state.closed);

    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].address, 0xA1B2C3D4u);
    EXPECT_EQ(found[0].name, "Aladin Smart Pro");
    EXPECT_EQ(found[1].address, 0x42u);
    EXPECT_EQ(found[1].name, "UWATEC Galileo");

    EXPECT_NE(find_logged(QV_LOGLEVEL_INFO,
                          "Discover: address=a1b2c3d4, name=Aladin Smart Pro, charset=00, hints=8204"),
              nullptr);
    EXPECT_NE(find_logged(QV_LOGLEVEL_INFO, "Discover: address=00000042, name=UWATEC Galileo, charset=ff, hints=0000"),
              nullptr);
    EXPECT_EQ(count_logged(QV_LOGLEVEL_ERROR), 0u);
}

TEST_F(IrdaDiscoveryTest, NoDeviceWithinFiveQueriesIsAnEmptyList)
{
    const struct {
        const char *what;
        std::vector<Answer> answers;
    } cases[] = {
        {"nothing discovered", std::vector<Answer>(5, Answer{EAGAIN, {}, -1})},
        {"empty logs", {{0, {}, 0}, {EAGAIN, {}, -1}, {0, {}, 0}, {0, {}, 0}, {0, {}, 0}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        state = Script{};
        state.answers = c.answers;
        std::vector<Found> found;
        EXPECT_EQ(discover(nullptr, &found), QV_STATUS_SUCCESS);
        EXPECT_EQ(state.queries, 5u);
        EXPECT_TRUE(found.empty());
        EXPECT_TRUE(state.closed);
    }
    EXPECT_EQ(count_logged(QV_LOGLEVEL_ERROR), 0u);
}

TEST_F(IrdaDiscoveryTest, FailuresAreLoggedAndMapped)
{
    const struct {
        const char *what;
        int socket_errcode;
        int query_errcode;
        qv_status_t status;
    } cases[] = {
        {"no IrDA in the kernel", EAFNOSUPPORT, 0, QV_STATUS_UNSUPPORTED},
        {"no permission", EPERM, 0, QV_STATUS_NOACCESS},
        {"query refused", 0, ENOPROTOOPT, QV_STATUS_IO},
        {"query without memory", 0, ENOMEM, QV_STATUS_NOMEMORY},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        state = Script{};
        state.socket_errcode = c.socket_errcode;
        state.answers = {Answer{c.query_errcode, {entry(1, "never seen")}, -1}};
        logged.clear();

        qv_iterator_t *iterator = reinterpret_cast<qv_iterator_t *>(0x1);
        EXPECT_EQ(qv_irda_iterator_new(&iterator, context, nullptr, &fake_system), c.status);
        EXPECT_EQ(iterator, reinterpret_cast<qv_iterator_t *>(0x1));
        EXPECT_EQ(state.queries, c.socket_errcode != 0 ? 0u : 1u); // a failure is not retried
        EXPECT_EQ(state.closed, c.socket_errcode == 0);
        const int errcode = c.socket_errcode != 0 ? c.socket_errcode : c.query_errcode;
        ASSERT_EQ(count_logged(QV_LOGLEVEL_ERROR), 1u);
        EXPECT_NE(find_logged(QV_LOGLEVEL_ERROR, syserror_text(errcode)), nullptr);
    }
}

TEST_F(IrdaDiscoveryTest, DescriptorFilterHidesOtherDevices)
{
    const qv_descriptor_t *smart_pro = find_descriptor("Uwatec", "Smart Pro");
    ASSERT_NE(smart_pro, nullptr);
    ASSERT_TRUE(qv_descriptor_get_transports(smart_pro) & QV_TRANSPORT_IRDA);

    state.answers = {{0,
                      {entry(0x10, "Phone"), entry(0x20, "Aladin Smart Pro"), entry(0x30, "UWATEC Galileo"),
                       entry(0x40, "")},
                      -1}};
    std::vector<Found> found;
    ASSERT_EQ(discover(smart_pro, &found), QV_STATUS_SUCCESS);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].address, 0x20u);
    EXPECT_EQ(found[1].address, 0x30u);

    // Every device found is logged, kept or not.
    EXPECT_NE(find_logged(QV_LOGLEVEL_INFO, "Discover: address=00000010, name=Phone, charset=00, hints=0000"),
              nullptr);
}

TEST_F(IrdaDiscoveryTest, NamesAreCutAndTerminated)
{
    // A name that fills the kernel's whole field comes without terminator.
    state.answers = {{0, {entry(1, "ABCDEFGHIJKLMNOPQRSTUVWXYZ"), entry(2, "")}, -1}};
    std::vector<Found> found;
    ASSERT_EQ(discover(nullptr, &found), QV_STATUS_SUCCESS);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].name, "ABCDEFGHIJKLMNOPQRSTU"); // 21 characters
    EXPECT_EQ(found[1].name, "(none)");                // an empty name reads as none
    EXPECT_EQ(found[1].address, 2u);
}

TEST_F(IrdaDiscoveryTest, OnlyTheEntriesTheKernelFilledAreRead)
{
    std::vector<kernel::irda_device_info> many;
    for (uint32_t i = 1; i <= 20; ++i)
        many.push_back(entry(i, ("dev" + std::to_string(i)).c_str()));

    const struct {
        const char *what;
        std::vector<kernel::irda_device_info> devices;
        int count;
        size_t expected;
    } cases[] = {
        // A log of 20 devices: the buffer has room for 16.
        {"more devices than room", many, 20, 16},
        // A count larger than the entries delivered.
        {"count beyond the entries", {entry(1, "a"), entry(2, "b")}, 9, 2},
        // Fewer counted than delivered.
        {"count below the entries", {entry(1, "a"), entry(2, "b"), entry(3, "c")}, 1, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        state = Script{};
        state.answers = {{0, c.devices, c.count}};
        std::vector<Found> found;
        ASSERT_EQ(discover(nullptr, &found), QV_STATUS_SUCCESS);
        ASSERT_EQ(found.size(), c.expected);
        for (size_t i = 0; i < found.size(); ++i)
            EXPECT_EQ(found[i].address, i + 1);
    }
}

} // namespace
