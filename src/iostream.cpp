#include "iostream-private.h"

#include <climits>

namespace {

// Hex dumps take an unsigned int size; a larger transfer is cut (the
// context cuts long dumps to its buffer anyway).
unsigned int dump_size(size_t size)
{
    return size > UINT_MAX ? UINT_MAX : static_cast<unsigned int>(size);
}

} // namespace

void qv_iostream_deallocate(qv_iostream_t *iostream)
{
    delete iostream;
}

int qv_iostream_isinstance(qv_iostream_t *iostream, const qv_iostream_vtable_t *vtable)
{
    return iostream != nullptr && iostream->vtable == vtable;
}

extern "C" {

qv_transport_t qv_iostream_get_transport(qv_iostream_t *iostream)
{
    if (iostream == nullptr)
        return QV_TRANSPORT_NONE;

    return iostream->transport;
}

qv_status_t qv_iostream_set_timeout(qv_iostream_t *iostream, int timeout)
{
    if (iostream == nullptr || iostream->vtable->set_timeout == nullptr)
        return QV_STATUS_SUCCESS;

    QV_INFO(iostream->context, "Timeout: value=%i", timeout);

    return iostream->vtable->set_timeout(iostream, timeout);
}

qv_status_t qv_iostream_set_break(qv_iostream_t *iostream, unsigned int value)
{
    if (iostream == nullptr || iostream->vtable->set_break == nullptr)
        return QV_STATUS_SUCCESS;

    QV_INFO(iostream->context, "Break: value=%i", static_cast<int>(value));

    return iostream->vtable->set_break(iostream, value);
}

qv_status_t qv_iostream_set_dtr(qv_iostream_t *iostream, unsigned int value)
{
    if (iostream == nullptr || iostream->vtable->set_dtr == nullptr)
        return QV_STATUS_SUCCESS;

    QV_INFO(iostream->context, "DTR: value=%i", static_cast<int>(value));

    return iostream->vtable->set_dtr(iostream, value);
}

qv_status_t qv_iostream_set_rts(qv_iostream_t *iostream, unsigned int value)
{
    if (iostream == nullptr || iostream->vtable->set_rts == nullptr)
        return QV_STATUS_SUCCESS;

    QV_INFO(iostream->context, "RTS: value=%i", static_cast<int>(value));

    return iostream->vtable->set_rts(iostream, value);
}

qv_status_t qv_iostream_get_lines(qv_iostream_t *iostream, unsigned int *value)
{
    unsigned int lines = 0;

    qv_status_t status = QV_STATUS_SUCCESS;
    if (iostream != nullptr && iostream->vtable->get_lines != nullptr) {
        status = iostream->vtable->get_lines(iostream, &lines);
        QV_INFO(iostream->context, "Lines: value=%u", lines);
    }

    if (value != nullptr)
        *value = lines;

    return status;
}

qv_status_t qv_iostream_get_available(qv_iostream_t *iostream, size_t *value)
{
    size_t available = 0;

    qv_status_t status = QV_STATUS_SUCCESS;
    if (iostream != nullptr && iostream->vtable->get_available != nullptr) {
        status = iostream->vtable->get_available(iostream, &available);
        QV_INFO(iostream->context, "Available: value=%zu", available);
    }

    if (value != nullptr)
        *value = available;

    return status;
}

qv_status_t qv_iostream_configure(qv_iostream_t *iostream, unsigned int baudrate, unsigned int databits,
                                  qv_parity_t parity, qv_stopbits_t stopbits, qv_flowcontrol_t flowcontrol)
{
    if (iostream == nullptr || iostream->vtable->configure == nullptr)
        return QV_STATUS_SUCCESS;

    QV_INFO(iostream->context, "Configure: baudrate=%i, databits=%i, parity=%i, stopbits=%i, flowcontrol=%i",
            static_cast<int>(baudrate), static_cast<int>(databits), static_cast<int>(parity),
            static_cast<int>(stopbits), static_cast<int>(flowcontrol));

    return iostream->vtable->configure(iostream, baudrate, databits, parity, stopbits, flowcontrol);
}

qv_status_t qv_iostream_poll(qv_iostream_t *iostream, int timeout)
{
    if (iostream == nullptr || iostream->vtable->poll == nullptr)
        return QV_STATUS_SUCCESS;

    QV_INFO(iostream->context, "Poll: value=%i", timeout);

    return iostream->vtable->poll(iostream, timeout);
}

qv_status_t qv_iostream_read(qv_iostream_t *iostream, void *data, size_t size, size_t *actual)
{
    size_t nbytes = 0;

    qv_status_t status = QV_STATUS_SUCCESS;
    if (iostream != nullptr && iostream->vtable->read != nullptr) {
        status = iostream->vtable->read(iostream, data, size, &nbytes);
        // A count beyond the buffer would make the dump (and the caller)
        // read past its end.
        if (nbytes > size)
            nbytes = size;
        QV_HEXDUMP(iostream->context, QV_LOGLEVEL_INFO, "Read", static_cast<const unsigned char *>(data),
                   dump_size(nbytes));
    }

    if (actual != nullptr)
        *actual = nbytes;

    return status;
}

qv_status_t qv_iostream_write(qv_iostream_t *iostream, const void *data, size_t size, size_t *actual)
{
    size_t nbytes = 0;

    qv_status_t status = QV_STATUS_SUCCESS;
    if (iostream != nullptr && iostream->vtable->write != nullptr) {
        status = iostream->vtable->write(iostream, data, size, &nbytes);
        if (nbytes > size)
            nbytes = size;
        QV_HEXDUMP(iostream->context, QV_LOGLEVEL_INFO, "Write", static_cast<const unsigned char *>(data),
                   dump_size(nbytes));
    }

    if (actual != nullptr)
        *actual = nbytes;

    return status;
}

qv_status_t qv_iostream_ioctl(qv_iostream_t *iostream, unsigned int request, void *data, size_t size)
{
    if (iostream == nullptr || iostream->vtable->ioctl == nullptr)
        return QV_STATUS_SUCCESS;

    const unsigned int dir = QV_IOCTL_DIR(request);
    const unsigned int type = QV_IOCTL_TYPE(request);
    const unsigned int nr = QV_IOCTL_NR(request);
    const unsigned int nbytes = QV_IOCTL_SIZE(request);

    // The size must match the request, except that a request with a
    // direction and no fixed size takes data of any size.
    if (nbytes != size && (dir == QV_IOCTL_DIR_NONE || nbytes != 0)) {
        QV_ERROR(iostream->context, "Invalid size for ioctl request 0x%08x (%zu).", request, size);
        return QV_STATUS_INVALIDARGS;
    }

    QV_INFO(iostream->context, "Ioctl: request=0x%08x (dir=%u, type=%u, nr=%u, size=%u)", request, dir, type, nr,
            nbytes);

    if (dir & QV_IOCTL_DIR_WRITE)
        QV_HEXDUMP(iostream->context, QV_LOGLEVEL_INFO, "Ioctl write", static_cast<const unsigned char *>(data),
                   dump_size(size));

    qv_status_t status = iostream->vtable->ioctl(iostream, request, data, size);

    if (dir & QV_IOCTL_DIR_READ)
        QV_HEXDUMP(iostream->context, QV_LOGLEVEL_INFO, "Ioctl read", static_cast<const unsigned char *>(data),
                   dump_size(size));

    return status;
}

qv_status_t qv_iostream_flush(qv_iostream_t *iostream)
{
    if (iostream == nullptr || iostream->vtable->flush == nullptr)
        return QV_STATUS_SUCCESS;

    QV_INFO(iostream->context, "Flush: none");

    return iostream->vtable->flush(iostream);
}

qv_status_t qv_iostream_purge(qv_iostream_t *iostream, qv_direction_t direction)
{
    if (iostream == nullptr || iostream->vtable->purge == nullptr)
        return QV_STATUS_SUCCESS;

    QV_INFO(iostream->context, "Purge: direction=%u", direction);

    return iostream->vtable->purge(iostream, direction);
}

qv_status_t qv_iostream_sleep(qv_iostream_t *iostream, unsigned int milliseconds)
{
    if (iostream == nullptr || iostream->vtable->sleep == nullptr)
        return QV_STATUS_SUCCESS;

    QV_INFO(iostream->context, "Sleep: value=%u", milliseconds);

    return iostream->vtable->sleep(iostream, milliseconds);
}

qv_status_t qv_iostream_close(qv_iostream_t *iostream)
{
    if (iostream == nullptr)
        return QV_STATUS_SUCCESS;

    qv_status_t status = QV_STATUS_SUCCESS;
    if (iostream->vtable->close != nullptr)
        status = iostream->vtable->close(iostream);

    delete iostream;
    return status;
}

} // extern "C"
