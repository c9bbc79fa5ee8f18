#include "hdlc.h"

#include "context-private.h"
#include "iostream-private.h"

#include <memory>
#include <new>

namespace {

constexpr unsigned char HDLC_END = 0x7E; // frame flag
constexpr unsigned char HDLC_ESC = 0x7D; // the next byte is XOR 0x20
constexpr unsigned char HDLC_ESC_BIT = 0x20;

struct qv_hdlc_t : qv_iostream_t {
    qv_iostream_t *iostream = nullptr; // the wrapped stream, not owned
    // Received bytes; [rbuf_offset, rbuf_offset + rbuf_count) are not parsed yet.
    std::unique_ptr<unsigned char[]> rbuf;
    size_t rbuf_size = 0;
    size_t rbuf_offset = 0;
    size_t rbuf_count = 0;
    // Bytes of the frame being sent that were not written out yet.
    std::unique_ptr<unsigned char[]> wbuf;
    size_t wbuf_size = 0;
    size_t wbuf_count = 0;
};

qv_hdlc_t *hdlc_cast(qv_iostream_t *abstract)
{
    return static_cast<qv_hdlc_t *>(abstract);
}

qv_status_t qv_hdlc_set_timeout(qv_iostream_t *abstract, int timeout)
{
    return qv_iostream_set_timeout(hdlc_cast(abstract)->iostream, timeout);
}

qv_status_t qv_hdlc_set_break(qv_iostream_t *abstract, unsigned int value)
{
    return qv_iostream_set_break(hdlc_cast(abstract)->iostream, value);
}

qv_status_t qv_hdlc_set_dtr(qv_iostream_t *abstract, unsigned int value)
{
    return qv_iostream_set_dtr(hdlc_cast(abstract)->iostream, value);
}

qv_status_t qv_hdlc_set_rts(qv_iostream_t *abstract, unsigned int value)
{
    return qv_iostream_set_rts(hdlc_cast(abstract)->iostream, value);
}

qv_status_t qv_hdlc_get_lines(qv_iostream_t *abstract, unsigned int *value)
{
    return qv_iostream_get_lines(hdlc_cast(abstract)->iostream, value);
}

qv_status_t qv_hdlc_configure(qv_iostream_t *abstract, unsigned int baudrate, unsigned int databits,
                              qv_parity_t parity, qv_stopbits_t stopbits, qv_flowcontrol_t flowcontrol)
{
    return qv_iostream_configure(hdlc_cast(abstract)->iostream, baudrate, databits, parity, stopbits, flowcontrol);
}

qv_status_t qv_hdlc_poll(qv_iostream_t *abstract, int timeout)
{
    qv_hdlc_t *hdlc = hdlc_cast(abstract);

    if (hdlc->rbuf_count != 0)
        return QV_STATUS_SUCCESS;

    return qv_iostream_poll(hdlc->iostream, timeout);
}

qv_status_t qv_hdlc_read(qv_iostream_t *abstract, void *data, size_t size, size_t *actual)
{
    if (data == nullptr && size != 0)
        return QV_STATUS_INVALIDARGS;

    qv_hdlc_t *hdlc = hdlc_cast(abstract);
    unsigned char *buffer = static_cast<unsigned char *>(data);
    qv_status_t status = QV_STATUS_SUCCESS;

    // The status of a wrapped read that failed after delivering some bytes
    // (a byte stream timing out half-way): those bytes are parsed first, and
    // the failure only ends the frame when they do not complete it.
    qv_status_t pending = QV_STATUS_SUCCESS;

    bool initialized = false; // the opening flag was seen
    bool escaped = false;     // the previous byte was an escape byte
    size_t nbytes = 0;        // payload bytes of the frame, also those not stored

    while (true) {
        if (hdlc->rbuf_count == 0) {
            if (pending != QV_STATUS_SUCCESS) {
                status = pending;
                break;
            }

            size_t transferred = 0;
            qv_status_t rc = qv_iostream_read(hdlc->iostream, hdlc->rbuf.get(), hdlc->rbuf_size, &transferred);
            if (transferred > hdlc->rbuf_size)
                transferred = hdlc->rbuf_size;
            hdlc->rbuf_offset = 0;
            hdlc->rbuf_count = transferred;
            if (rc != QV_STATUS_SUCCESS) {
                if (transferred == 0) {
                    status = rc;
                    break;
                }
                pending = rc;
            }
            continue; // an empty read is repeated
        }

        unsigned char c = hdlc->rbuf[hdlc->rbuf_offset];
        hdlc->rbuf_offset++;
        hdlc->rbuf_count--;

        if (!initialized) {
            // Everything before the opening flag is noise.
            if (c == HDLC_END)
                initialized = true;
            continue;
        }

        if (c == HDLC_END && !escaped)
            break; // the closing flag

        if (escaped && (c == HDLC_END || c == HDLC_ESC)) {
            QV_ERROR(abstract->context, "HDLC frame escaped the special character %02x.", c);
            status = QV_STATUS_IO;
            break;
        }

        if (c == HDLC_ESC) {
            escaped = true;
            continue;
        }

        if (escaped) {
            c ^= HDLC_ESC_BIT;
            escaped = false;
        }

        if (nbytes < size)
            buffer[nbytes] = c;
        nbytes++;
    }

    if (nbytes > size) {
        QV_ERROR(abstract->context, "HDLC frame is too large (%zu %zu).", nbytes, size);
        if (status == QV_STATUS_SUCCESS)
            status = QV_STATUS_IO;
        nbytes = size;
    }

    *actual = nbytes;
    return status;
}

// Writes out the transmit buffer and empties it, also on failure (the rest
// of a failed frame is useless).
qv_status_t hdlc_flush_wbuf(qv_hdlc_t *hdlc)
{
    size_t transferred = 0;
    qv_status_t status = qv_iostream_write(hdlc->iostream, hdlc->wbuf.get(), hdlc->wbuf_count, &transferred);
    if (status == QV_STATUS_SUCCESS && transferred != hdlc->wbuf_count) {
        QV_ERROR(hdlc->context, "Failed to write the frame (%zu of %zu bytes written).", transferred,
                 hdlc->wbuf_count);
        status = QV_STATUS_IO;
    }
    hdlc->wbuf_count = 0;
    return status;
}

// Adds one byte to the transmit buffer, writing the buffer out when it fills.
qv_status_t hdlc_put(qv_hdlc_t *hdlc, unsigned char c)
{
    hdlc->wbuf[hdlc->wbuf_count++] = c;
    if (hdlc->wbuf_count == hdlc->wbuf_size)
        return hdlc_flush_wbuf(hdlc);
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_hdlc_write(qv_iostream_t *abstract, const void *data, size_t size, size_t *actual)
{
    if (data == nullptr && size != 0)
        return QV_STATUS_INVALIDARGS;

    qv_hdlc_t *hdlc = hdlc_cast(abstract);
    const unsigned char *buffer = static_cast<const unsigned char *>(data);

    size_t nbytes = 0; // payload bytes taken
    hdlc->wbuf_count = 0;

    qv_status_t status = hdlc_put(hdlc, HDLC_END);
    for (size_t i = 0; status == QV_STATUS_SUCCESS && i < size; ++i) {
        unsigned char c = buffer[i];
        if (c == HDLC_END || c == HDLC_ESC) {
            status = hdlc_put(hdlc, HDLC_ESC);
            if (status != QV_STATUS_SUCCESS)
                break;
            c ^= HDLC_ESC_BIT;
        }
        status = hdlc_put(hdlc, c);
        if (status != QV_STATUS_SUCCESS)
            break;
        nbytes++;
    }

    if (status == QV_STATUS_SUCCESS)
        status = hdlc_put(hdlc, HDLC_END);
    if (status == QV_STATUS_SUCCESS && hdlc->wbuf_count != 0)
        status = hdlc_flush_wbuf(hdlc);

    hdlc->wbuf_count = 0;
    *actual = nbytes;
    return status;
}

qv_status_t qv_hdlc_ioctl(qv_iostream_t *abstract, unsigned int request, void *data, size_t size)
{
    return qv_iostream_ioctl(hdlc_cast(abstract)->iostream, request, data, size);
}

qv_status_t qv_hdlc_flush(qv_iostream_t *abstract)
{
    return qv_iostream_flush(hdlc_cast(abstract)->iostream);
}

qv_status_t qv_hdlc_purge(qv_iostream_t *abstract, qv_direction_t direction)
{
    qv_hdlc_t *hdlc = hdlc_cast(abstract);

    if (direction & QV_DIRECTION_INPUT) {
        hdlc->rbuf_offset = 0;
        hdlc->rbuf_count = 0;
    }

    return qv_iostream_purge(hdlc->iostream, direction);
}

qv_status_t qv_hdlc_sleep(qv_iostream_t *abstract, unsigned int milliseconds)
{
    return qv_iostream_sleep(hdlc_cast(abstract)->iostream, milliseconds);
}

qv_status_t qv_hdlc_close(qv_iostream_t *abstract)
{
    // Only the layer's own buffers go; the wrapped stream belongs to the
    // caller and stays open.
    qv_hdlc_t *hdlc = hdlc_cast(abstract);
    hdlc->rbuf.reset();
    hdlc->wbuf.reset();
    hdlc->rbuf_offset = hdlc->rbuf_count = hdlc->wbuf_count = 0;
    return QV_STATUS_SUCCESS;
}

const qv_iostream_vtable_t qv_hdlc_vtable = {
    sizeof(qv_hdlc_t),
    qv_hdlc_set_timeout,
    qv_hdlc_set_break,
    qv_hdlc_set_dtr,
    qv_hdlc_set_rts,
    qv_hdlc_get_lines,
    nullptr, // get_available: the payload size of the next frame is unknown
    qv_hdlc_configure,
    qv_hdlc_poll,
    qv_hdlc_read,
    qv_hdlc_write,
    qv_hdlc_ioctl,
    qv_hdlc_flush,
    qv_hdlc_purge,
    qv_hdlc_sleep,
    qv_hdlc_close,
};

} // namespace

qv_status_t qv_hdlc_open(qv_iostream_t **out, qv_context_t *context, qv_iostream_t *iostream, size_t isize,
                         size_t osize)
{
    if (out != nullptr)
        *out = nullptr;
    if (out == nullptr || iostream == nullptr || isize == 0 || osize == 0)
        return QV_STATUS_INVALIDARGS;

    qv_hdlc_t *hdlc = qv_iostream_allocate<qv_hdlc_t>(context, &qv_hdlc_vtable, qv_iostream_get_transport(iostream));
    if (hdlc == nullptr)
        return QV_STATUS_NOMEMORY;

    hdlc->rbuf.reset(new (std::nothrow) unsigned char[isize]);
    hdlc->wbuf.reset(new (std::nothrow) unsigned char[osize]);
    if (hdlc->rbuf == nullptr || hdlc->wbuf == nullptr) {
        QV_ERROR(context, "Failed to allocate memory.");
        qv_iostream_deallocate(hdlc);
        return QV_STATUS_NOMEMORY;
    }

    hdlc->iostream = iostream;
    hdlc->rbuf_size = isize;
    hdlc->wbuf_size = osize;

    *out = hdlc;
    return QV_STATUS_SUCCESS;
}
