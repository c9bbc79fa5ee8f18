// The infrared transport on Linux: discovery through the IrLMP discovery log
// of an AF_IRDA socket, and a socket stream connected to a device's LSAP.
#include "irda_linux.h"

#include "context-private.h"
#include "iterator-private.h"
#include "platform.h"
#include "socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <new>

// A device found by the discovery.
struct qv_irda_device_t {
    unsigned int address = 0;
    unsigned int charset = 0;
    unsigned int hints = 0; // first hint byte in the high half
    char name[qv_irda_kernel::name_size] = {};
};

namespace {

namespace kernel = qv_irda_kernel;

// How often the discovery log is read before an empty neighbourhood is
// accepted.
constexpr unsigned int discovery_attempts = 5;

struct qv_irda_iterator_t final : qv_iterator_t {
    std::array<qv_irda_device_t, kernel::max_devices> devices;
    size_t count = 0;
    size_t index = 0;
};

qv_status_t qv_irda_iterator_next(qv_iterator_t *iterator, void *item);

const qv_iterator_vtable_t qv_irda_iterator_vtable = {
    sizeof(qv_irda_iterator_t),
    qv_irda_iterator_next,
    nullptr,
};

int system_getsockopt(int fd, int level, int name, void *value, socklen_t *length)
{
    return ::getsockopt(fd, level, name, value, length);
}

// The device record of one entry of the discovery log.
qv_irda_device_t device_from_entry(const kernel::irda_device_info &entry)
{
    qv_irda_device_t device;
    device.address = entry.daddr;
    device.charset = entry.charset;
    device.hints = (static_cast<unsigned int>(entry.hints[0]) << 8) | entry.hints[1];

    // The kernel fills the whole field for a long name, without terminator.
    size_t length = strnlen(entry.info, sizeof entry.info);
    if (length > sizeof device.name - 1)
        length = sizeof device.name - 1;
    std::memcpy(device.name, entry.info, length);
    device.name[length] = '\0';
    return device;
}

// Keeps the devices of the discovery log (length bytes filled by the
// kernel) that the descriptor accepts.
void collect_devices(qv_irda_iterator_t *iterator, const qv_descriptor_t *descriptor, const unsigned char *buffer,
                     socklen_t length)
{
    if (length < kernel::list_header_size)
        return;

    // The count is that of the whole log; only the entries that fit in the
    // buffer (and that the kernel said it filled) are there.
    uint32_t count = 0;
    std::memcpy(&count, buffer + offsetof(kernel::irda_device_list, len), sizeof count);
    size_t filled = (length - kernel::list_header_size) / sizeof(kernel::irda_device_info);
    size_t entries = count < filled ? count : filled;
    if (entries > kernel::max_devices)
        entries = kernel::max_devices;

    for (size_t i = 0; i < entries; ++i) {
        kernel::irda_device_info entry;
        std::memcpy(&entry, buffer + kernel::list_header_size + i * sizeof entry, sizeof entry);

        qv_irda_device_t device = device_from_entry(entry);
        QV_INFO(iterator->context, "Discover: address=%08x, name=%s, charset=%02x, hints=%04x", device.address,
                device.name, device.charset, device.hints);

        if (!qv_descriptor_filter(descriptor, QV_TRANSPORT_IRDA, device.name))
            continue;

        iterator->devices[iterator->count++] = device;
    }
}

qv_status_t qv_irda_iterator_next(qv_iterator_t *abstract, void *out)
{
    qv_irda_iterator_t *iterator = static_cast<qv_irda_iterator_t *>(abstract);

    if (iterator->index >= iterator->count)
        return QV_STATUS_DONE;

    qv_irda_device_t *device = new (std::nothrow) qv_irda_device_t(iterator->devices[iterator->index]);
    if (device == nullptr) {
        QV_ERROR(iterator->context, "Failed to allocate memory.");
        return QV_STATUS_NOMEMORY;
    }
    iterator->index++;

    *static_cast<qv_irda_device_t **>(out) = device;
    return QV_STATUS_SUCCESS;
}

} // namespace

const qv_irda_discovery_t qv_irda_system_discovery = {
    ::socket,
    system_getsockopt,
    ::close,
    1000,
};

qv_irda_kernel::sockaddr_irda qv_irda_make_address(unsigned int address, unsigned int lsap)
{
    kernel::sockaddr_irda peer;
    std::memset(&peer, 0, sizeof peer);
    peer.sir_family = kernel::address_family;
    peer.sir_lsap_sel = static_cast<uint8_t>(lsap);
    peer.sir_addr = address;
    return peer;
}

qv_status_t qv_irda_iterator_new(qv_iterator_t **out, qv_context_t *context, const qv_descriptor_t *descriptor,
                                 const qv_irda_discovery_t *system)
{
    if (out == nullptr || system == nullptr)
        return QV_STATUS_INVALIDARGS;

    qv_irda_iterator_t *iterator = qv_iterator_allocate<qv_irda_iterator_t>(context, &qv_irda_iterator_vtable);
    if (iterator == nullptr)
        return QV_STATUS_NOMEMORY;

    qv_status_t status = qv_socket_init(context);
    if (status != QV_STATUS_SUCCESS) {
        qv_iterator_deallocate(iterator);
        return status;
    }

    int fd = system->socket(kernel::address_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        status = QV_SOCKET_SYSERROR(context, errno);
        qv_socket_exit(context);
        qv_iterator_deallocate(iterator);
        return status;
    }

    // The kernel discovers in the background: an empty log (EAGAIN) may
    // fill a moment later.
    alignas(kernel::irda_device_list) unsigned char buffer[kernel::list_buffer_size] = {};
    socklen_t length = 0;
    for (unsigned int attempt = 1; attempt <= discovery_attempts; ++attempt) {
        socklen_t size = sizeof buffer;
        if (system->getsockopt(fd, kernel::sol_irlmp, kernel::irlmp_enumdevices, buffer, &size) == 0) {
            uint32_t count = 0;
            if (size >= kernel::list_header_size)
                std::memcpy(&count, buffer + offsetof(kernel::irda_device_list, len), sizeof count);
            if (count != 0) {
                length = size;
                break;
            }
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
            status = QV_SOCKET_SYSERROR(context, errno);
            break;
        }

        if (attempt < discovery_attempts) {
            status = qv_platform_sleep(system->retry_delay);
            if (status != QV_STATUS_SUCCESS) {
                QV_ERROR(context, "Failed to sleep.");
                break;
            }
        }
    }

    if (system->close(fd) != 0 && errno != EINTR)
        qv_status_set_error(&status, QV_SOCKET_SYSERROR(context, errno));
    qv_status_set_error(&status, qv_socket_exit(context));

    if (status != QV_STATUS_SUCCESS) {
        qv_iterator_deallocate(iterator);
        return status;
    }

    collect_devices(iterator, descriptor, buffer, length);

    *out = iterator;
    return QV_STATUS_SUCCESS;
}

extern "C" {

qv_status_t qv_irda_iterator_new(qv_iterator_t **out, qv_context_t *context, const qv_descriptor_t *descriptor)
{
    return qv_irda_iterator_new(out, context, descriptor, &qv_irda_system_discovery);
}

unsigned int qv_irda_device_get_address(const qv_irda_device_t *device)
{
    if (device == nullptr)
        return 0;

    return device->address;
}

const char *qv_irda_device_get_name(const qv_irda_device_t *device)
{
    if (device == nullptr || device->name[0] == '\0')
        return nullptr;

    return device->name;
}

void qv_irda_device_free(qv_irda_device_t *device)
{
    delete device;
}

qv_status_t qv_irda_open(qv_iostream_t **out, qv_context_t *context, unsigned int address, unsigned int lsap)
{
    if (out == nullptr)
        return QV_STATUS_INVALIDARGS;

    QV_INFO(context, "Open: address=%08x, lsap=%u", address, lsap);

    // Higher selectors are taken by the kernel as a request to look the
    // service up by name, which a connection by number does not have.
    if (lsap > kernel::lsap_max) {
        QV_ERROR(context, "Invalid LSAP selector %u.", lsap);
        return QV_STATUS_INVALIDARGS;
    }

    qv_socket_t *sock = qv_socket_allocate(context, QV_TRANSPORT_IRDA);
    if (sock == nullptr)
        return QV_STATUS_NOMEMORY;

    qv_status_t status = qv_socket_open(sock, kernel::address_family, SOCK_STREAM, 0);
    if (status != QV_STATUS_SUCCESS) {
        qv_iostream_deallocate(sock);
        return status;
    }

    const kernel::sockaddr_irda peer = qv_irda_make_address(address, lsap);
    status = qv_socket_connect(sock, reinterpret_cast<const struct sockaddr *>(&peer), sizeof peer);
    if (status != QV_STATUS_SUCCESS) {
        qv_socket_close(sock);
        qv_iostream_deallocate(sock);
        return status;
    }

    *out = sock;
    return QV_STATUS_SUCCESS;
}

} // extern "C"
