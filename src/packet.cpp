#include "packet.h"

#include "context-private.h"
#include "iostream-private.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

struct qv_packet_t : qv_iostream_t {
    qv_iostream_t *iostream = nullptr;          // the wrapped stream, not owned
    std::unique_ptr<unsigned char[]> cache;     // one received packet (rsize bytes)
    size_t available = 0;                       // buffered bytes not handed out yet
    size_t offset = 0;                          // position of the first of them
    size_t rsize = 0;                           // largest received packet; 0 = no buffering
    size_t ssize = 0;                           // largest outgoing packet; 0 = no limit
};

qv_packet_t *packet_cast(qv_iostream_t *abstract)
{
    return static_cast<qv_packet_t *>(abstract);
}

qv_status_t qv_packet_set_timeout(qv_iostream_t *abstract, int timeout)
{
    return qv_iostream_set_timeout(packet_cast(abstract)->iostream, timeout);
}

qv_status_t qv_packet_set_break(qv_iostream_t *abstract, unsigned int value)
{
    return qv_iostream_set_break(packet_cast(abstract)->iostream, value);
}

qv_status_t qv_packet_set_dtr(qv_iostream_t *abstract, unsigned int value)
{
    return qv_iostream_set_dtr(packet_cast(abstract)->iostream, value);
}

qv_status_t qv_packet_set_rts(qv_iostream_t *abstract, unsigned int value)
{
    return qv_iostream_set_rts(packet_cast(abstract)->iostream, value);
}

qv_status_t qv_packet_get_lines(qv_iostream_t *abstract, unsigned int *value)
{
    return qv_iostream_get_lines(packet_cast(abstract)->iostream, value);
}

qv_status_t qv_packet_get_available(qv_iostream_t *abstract, size_t *value)
{
    qv_packet_t *packet = packet_cast(abstract);

    if (packet->rsize != 0 && packet->available != 0) {
        *value = packet->available;
        return QV_STATUS_SUCCESS;
    }

    return qv_iostream_get_available(packet->iostream, value);
}

qv_status_t qv_packet_configure(qv_iostream_t *abstract, unsigned int baudrate, unsigned int databits,
                                qv_parity_t parity, qv_stopbits_t stopbits, qv_flowcontrol_t flowcontrol)
{
    return qv_iostream_configure(packet_cast(abstract)->iostream, baudrate, databits, parity, stopbits,
                                 flowcontrol);
}

qv_status_t qv_packet_poll(qv_iostream_t *abstract, int timeout)
{
    qv_packet_t *packet = packet_cast(abstract);

    if (packet->rsize != 0 && packet->available != 0)
        return QV_STATUS_SUCCESS;

    return qv_iostream_poll(packet->iostream, timeout);
}

qv_status_t qv_packet_read(qv_iostream_t *abstract, void *data, size_t size, size_t *actual)
{
    if (data == nullptr && size != 0)
        return QV_STATUS_INVALIDARGS;

    qv_packet_t *packet = packet_cast(abstract);
    unsigned char *buffer = static_cast<unsigned char *>(data);
    qv_status_t status = QV_STATUS_SUCCESS;

    size_t nbytes = 0;
    while (nbytes < size) {
        if (packet->rsize == 0) {
            // No buffering: straight through to the wrapped stream.
            size_t transferred = 0;
            status = qv_iostream_read(packet->iostream, buffer + nbytes, size - nbytes, &transferred);
            nbytes += transferred;
            if (status != QV_STATUS_SUCCESS)
                break;
            continue;
        }

        if (packet->available == 0) {
            // Fetch the next packet. The bytes of a failed read that did
            // arrive (a byte stream timing out half-way) are kept and handed
            // out like those of a whole packet.
            size_t transferred = 0;
            status = qv_iostream_read(packet->iostream, packet->cache.get(), packet->rsize, &transferred);
            packet->available = std::min(transferred, packet->rsize);
            packet->offset = 0;
        }

        size_t count = std::min(packet->available, size - nbytes);
        if (count != 0) {
            std::memcpy(buffer + nbytes, packet->cache.get() + packet->offset, count);
            packet->offset += count;
            packet->available -= count;
            nbytes += count;
        }

        if (status != QV_STATUS_SUCCESS)
            break;
    }

    *actual = nbytes;
    return status;
}

qv_status_t qv_packet_write(qv_iostream_t *abstract, const void *data, size_t size, size_t *actual)
{
    if (data == nullptr && size != 0)
        return QV_STATUS_INVALIDARGS;

    qv_packet_t *packet = packet_cast(abstract);
    const unsigned char *buffer = static_cast<const unsigned char *>(data);
    qv_status_t status = QV_STATUS_SUCCESS;

    size_t nbytes = 0;
    while (nbytes < size) {
        size_t length = size - nbytes;
        if (packet->ssize != 0 && length > packet->ssize)
            length = packet->ssize;

        size_t transferred = 0;
        status = qv_iostream_write(packet->iostream, buffer + nbytes, length, &transferred);
        nbytes += std::min(transferred, length);
        if (status != QV_STATUS_SUCCESS)
            break;

        if (transferred == 0) {
            // A link that takes nothing without reporting a failure would
            // keep this loop spinning forever.
            QV_ERROR(abstract->context, "Failed to write the packet (%zu of %zu bytes written).", nbytes, size);
            status = QV_STATUS_IO;
            break;
        }
    }

    *actual = nbytes;
    return status;
}

qv_status_t qv_packet_ioctl(qv_iostream_t *abstract, unsigned int request, void *data, size_t size)
{
    return qv_iostream_ioctl(packet_cast(abstract)->iostream, request, data, size);
}

qv_status_t qv_packet_flush(qv_iostream_t *abstract)
{
    return qv_iostream_flush(packet_cast(abstract)->iostream);
}

qv_status_t qv_packet_purge(qv_iostream_t *abstract, qv_direction_t direction)
{
    qv_packet_t *packet = packet_cast(abstract);

    if (direction & QV_DIRECTION_INPUT) {
        packet->available = 0;
        packet->offset = 0;
    }

    return qv_iostream_purge(packet->iostream, direction);
}

qv_status_t qv_packet_sleep(qv_iostream_t *abstract, unsigned int milliseconds)
{
    return qv_iostream_sleep(packet_cast(abstract)->iostream, milliseconds);
}

qv_status_t qv_packet_close(qv_iostream_t *abstract)
{
    // Only the layer's own buffer goes; the wrapped stream belongs to the
    // caller and stays open.
    qv_packet_t *packet = packet_cast(abstract);
    packet->cache.reset();
    packet->available = 0;
    packet->offset = 0;
    return QV_STATUS_SUCCESS;
}

const qv_iostream_vtable_t qv_packet_vtable = {
    sizeof(qv_packet_t),
    qv_packet_set_timeout,
    qv_packet_set_break,
    qv_packet_set_dtr,
    qv_packet_set_rts,
    qv_packet_get_lines,
    qv_packet_get_available,
    qv_packet_configure,
    qv_packet_poll,
    qv_packet_read,
    qv_packet_write,
    qv_packet_ioctl,
    qv_packet_flush,
    qv_packet_purge,
    qv_packet_sleep,
    qv_packet_close,
};

} // namespace

qv_status_t qv_packet_open(qv_iostream_t **out, qv_context_t *context, qv_iostream_t *iostream, size_t rsize,
                           size_t ssize)
{
    if (out == nullptr || iostream == nullptr) {
        if (out != nullptr)
            *out = nullptr;
        return QV_STATUS_INVALIDARGS;
    }
    *out = nullptr;

    qv_packet_t *packet =
        qv_iostream_allocate<qv_packet_t>(context, &qv_packet_vtable, qv_iostream_get_transport(iostream));
    if (packet == nullptr)
        return QV_STATUS_NOMEMORY;

    if (rsize != 0) {
        packet->cache.reset(new (std::nothrow) unsigned char[rsize]);
        if (packet->cache == nullptr) {
            QV_ERROR(context, "Failed to allocate memory.");
            qv_iostream_deallocate(packet);
            return QV_STATUS_NOMEMORY;
        }
    }

    packet->iostream = iostream;
    packet->rsize = rsize;
    packet->ssize = ssize;

    *out = packet;
    return QV_STATUS_SUCCESS;
}
