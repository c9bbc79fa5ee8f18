/*
 * libquivelmarine: the byte stream between the library and a dive computer.
 *
 * Every backend talks to its device through a qv_iostream_t: a byte stream
 * with the controls of a serial line (line settings, DTR, RTS, break,
 * timeouts) and a generic ioctl channel for transport-specific requests. The
 * serial port, the socket based transports, Bluetooth Low Energy and the
 * framing layers all give such a stream.
 *
 * A stream is created by its transport's open operation and released with
 * qv_iostream_close. It is used by one device at a time; a device never owns
 * the stream it was opened on, so the application closes the device first
 * and the stream afterwards.
 *
 * Every operation below does nothing and returns QV_STATUS_SUCCESS when the
 * stream is NULL or its transport does not implement the operation (an out
 * value then receives 0). Otherwise the operation is traced at
 * QV_LOGLEVEL_INFO through the stream's context and handed to the transport,
 * whose status is returned unchanged.
 */
#ifndef QV_IOSTREAM_H
#define QV_IOSTREAM_H

#include <libquivelmarine/common.h>
#include <libquivelmarine/context.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qv_iostream_t qv_iostream_t;

/* Parity of a serial line. */
typedef uint32_t qv_parity_t;

#define QV_PARITY_NONE  0u
#define QV_PARITY_ODD   1u
#define QV_PARITY_EVEN  2u
#define QV_PARITY_MARK  3u
#define QV_PARITY_SPACE 4u

/* Number of stop bits of a serial line. */
typedef uint32_t qv_stopbits_t;

#define QV_STOPBITS_ONE          0u
#define QV_STOPBITS_ONEPOINTFIVE 1u
#define QV_STOPBITS_TWO          2u

/* Flow control of a serial line. */
typedef uint32_t qv_flowcontrol_t;

#define QV_FLOWCONTROL_NONE     0u
#define QV_FLOWCONTROL_HARDWARE 1u
#define QV_FLOWCONTROL_SOFTWARE 2u

/* Which queues qv_iostream_purge empties. */
typedef uint32_t qv_direction_t;

#define QV_DIRECTION_INPUT  1u
#define QV_DIRECTION_OUTPUT 2u
#define QV_DIRECTION_ALL    3u /* QV_DIRECTION_INPUT | QV_DIRECTION_OUTPUT */

/* Modem input lines, as the bit set returned by qv_iostream_get_lines. */
typedef uint32_t qv_line_t;

#define QV_LINE_CD  1u /* carrier detect */
#define QV_LINE_CTS 2u /* clear to send */
#define QV_LINE_DSR 4u /* data set ready */
#define QV_LINE_RNG 8u /* ring indicator */

/*
 * Ioctl requests are 32-bit codes:
 *   bits 30-31  direction: QV_IOCTL_DIR_READ (bit 30) when data flows from
 *               the stream to the caller, QV_IOCTL_DIR_WRITE (bit 31) when
 *               data flows from the caller to the stream, both or neither;
 *   bits 16-29  size of the data in bytes, 0 for a variable size;
 *   bits 8-15   a type letter naming the request family ('b' Bluetooth Low
 *               Energy, 'u' USB, 's' serial);
 *   bits 0-7    the request number within its family.
 */
#define QV_IOCTL_DIR_NONE  0u
#define QV_IOCTL_DIR_READ  1u
#define QV_IOCTL_DIR_WRITE 2u

#define QV_IOCTL_NR_BITS   8u
#define QV_IOCTL_TYPE_BITS 8u
#define QV_IOCTL_SIZE_BITS 14u
#define QV_IOCTL_DIR_BITS  2u

#define QV_IOCTL_NR_SHIFT   0u
#define QV_IOCTL_TYPE_SHIFT (QV_IOCTL_NR_SHIFT + QV_IOCTL_NR_BITS)
#define QV_IOCTL_SIZE_SHIFT (QV_IOCTL_TYPE_SHIFT + QV_IOCTL_TYPE_BITS)
#define QV_IOCTL_DIR_SHIFT  (QV_IOCTL_SIZE_SHIFT + QV_IOCTL_SIZE_BITS)

#define QV_IOCTL_NR_MASK   ((1u << QV_IOCTL_NR_BITS) - 1u)
#define QV_IOCTL_TYPE_MASK ((1u << QV_IOCTL_TYPE_BITS) - 1u)
#define QV_IOCTL_SIZE_MASK ((1u << QV_IOCTL_SIZE_BITS) - 1u)
#define QV_IOCTL_DIR_MASK  ((1u << QV_IOCTL_DIR_BITS) - 1u)

/* Builds a request code from its direction, type letter, number and size. */
#define QV_IOCTL(dir, type, nr, size) \
    ((uint32_t)( \
        (((uint32_t)(dir) & QV_IOCTL_DIR_MASK) << QV_IOCTL_DIR_SHIFT) | \
        (((uint32_t)(size) & QV_IOCTL_SIZE_MASK) << QV_IOCTL_SIZE_SHIFT) | \
        (((uint32_t)(type) & QV_IOCTL_TYPE_MASK) << QV_IOCTL_TYPE_SHIFT) | \
        (((uint32_t)(nr) & QV_IOCTL_NR_MASK) << QV_IOCTL_NR_SHIFT)))

/* The fields of a request code. */
#define QV_IOCTL_DIR(request)  ((((uint32_t)(request)) >> QV_IOCTL_DIR_SHIFT) & QV_IOCTL_DIR_MASK)
#define QV_IOCTL_TYPE(request) ((((uint32_t)(request)) >> QV_IOCTL_TYPE_SHIFT) & QV_IOCTL_TYPE_MASK)
#define QV_IOCTL_NR(request)   ((((uint32_t)(request)) >> QV_IOCTL_NR_SHIFT) & QV_IOCTL_NR_MASK)
#define QV_IOCTL_SIZE(request) ((((uint32_t)(request)) >> QV_IOCTL_SIZE_SHIFT) & QV_IOCTL_SIZE_MASK)

/* Request families. */
#define QV_IOCTL_TYPE_BLE    0x62u /* 'b' */
#define QV_IOCTL_TYPE_SERIAL 0x73u /* 's' */
#define QV_IOCTL_TYPE_USB    0x75u /* 'u' */

/*
 * USB control transfer without data stage (0x80007500: write, variable
 * size). The data is an 8-byte USB setup packet: bmRequestType, bRequest,
 * wValue, wIndex, wLength, the last three 16-bit little-endian. No transport
 * of this library serves it.
 */
#define QV_USB_IOCTL_CONTROL QV_IOCTL(QV_IOCTL_DIR_WRITE, QV_IOCTL_TYPE_USB, 0, 0)

/* The kind of transport of the stream; QV_TRANSPORT_NONE for NULL. */
QV_EXPORT qv_transport_t qv_iostream_get_transport(qv_iostream_t *iostream);

/*
 * Sets the timeout of read, write and poll in milliseconds: a negative value
 * waits without limit, 0 returns at once with whatever is there, a positive
 * value waits at most that long (for read and write: for the whole request).
 * Traced as "Timeout: value=%i". Returns the transport's status.
 */
QV_EXPORT qv_status_t qv_iostream_set_timeout(qv_iostream_t *iostream, int timeout);

/*
 * Sets (1) or clears (0) the break condition on the line.
 * Traced as "Break: value=%i". Returns the transport's status.
 */
QV_EXPORT qv_status_t qv_iostream_set_break(qv_iostream_t *iostream, unsigned int value);

/*
 * Raises (1) or lowers (0) the DTR line.
 * Traced as "DTR: value=%i". Returns the transport's status.
 */
QV_EXPORT qv_status_t qv_iostream_set_dtr(qv_iostream_t *iostream, unsigned int value);

/*
 * Raises (1) or lowers (0) the RTS line.
 * Traced as "RTS: value=%i". Returns the transport's status.
 */
QV_EXPORT qv_status_t qv_iostream_set_rts(qv_iostream_t *iostream, unsigned int value);

/*
 * Stores the state of the modem input lines (a bit set of QV_LINE_*) in
 * *value, which may be NULL. Traced as "Lines: value=%u" after the call.
 * Returns the transport's status.
 */
QV_EXPORT qv_status_t qv_iostream_get_lines(qv_iostream_t *iostream, unsigned int *value);

/*
 * Stores the number of received bytes waiting to be read in *value, which
 * may be NULL. Traced as "Available: value=%zu" after the call.
 * Returns the transport's status.
 */
QV_EXPORT qv_status_t qv_iostream_get_available(qv_iostream_t *iostream, size_t *value);

/*
 * Sets the line: baud rate, data bits (5 to 8), parity, stop bits and flow
 * control. Traced as "Configure: baudrate=%i, databits=%i, parity=%i,
 * stopbits=%i, flowcontrol=%i". Returns the transport's status
 * (QV_STATUS_INVALIDARGS for a setting the transport cannot apply).
 */
QV_EXPORT qv_status_t qv_iostream_configure(qv_iostream_t *iostream, unsigned int baudrate,
                                            unsigned int databits, qv_parity_t parity,
                                            qv_stopbits_t stopbits, qv_flowcontrol_t flowcontrol);

/*
 * Waits at most timeout milliseconds (negative: without limit) for received
 * data. Traced as "Poll: value=%i". Returns QV_STATUS_SUCCESS when data is
 * waiting, QV_STATUS_TIMEOUT when none arrived in time, or the transport's
 * error.
 */
QV_EXPORT qv_status_t qv_iostream_poll(qv_iostream_t *iostream, int timeout);

/*
 * Reads up to size bytes into data, waiting at most the stream's timeout
 * for the whole request. The number of bytes actually read is stored in
 * *actual (which may be NULL) on success and on failure alike: it equals
 * size on success; when the timeout expires first the result is
 * QV_STATUS_TIMEOUT and the bytes received so far are in data. The bytes
 * read are traced as the hex dump "Read".
 */
QV_EXPORT qv_status_t qv_iostream_read(qv_iostream_t *iostream, void *data, size_t size, size_t *actual);

/*
 * Writes up to size bytes from data, with the same contract as
 * qv_iostream_read: *actual (which may be NULL) receives the number of bytes
 * actually written, also on failure (QV_STATUS_TIMEOUT when the timeout
 * expired first). The bytes written are traced as the hex dump "Write".
 */
QV_EXPORT qv_status_t qv_iostream_write(qv_iostream_t *iostream, const void *data, size_t size, size_t *actual);

/*
 * Sends a transport-specific request (see QV_IOCTL) with its data of size
 * bytes: read requests fill data, write requests pass it to the transport.
 * The size must equal the size field of the request; a request with a
 * direction and size field 0 accepts any size. Otherwise the request fails
 * with QV_STATUS_INVALIDARGS and the error "Invalid size for ioctl request
 * 0x%08x (%zu).". The request is traced as "Ioctl: request=0x%08x (dir=%u,
 * type=%u, nr=%u, size=%u)", with the hex dumps "Ioctl write" of the data
 * before and "Ioctl read" after the call. Returns the transport's status
 * (QV_STATUS_UNSUPPORTED for a request it does not know).
 */
QV_EXPORT qv_status_t qv_iostream_ioctl(qv_iostream_t *iostream, unsigned int request, void *data, size_t size);

/*
 * Waits until every written byte has been transmitted.
 * Traced as "Flush: none". Returns the transport's status.
 */
QV_EXPORT qv_status_t qv_iostream_flush(qv_iostream_t *iostream);

/*
 * Discards the bytes waiting in the input queue, the output queue or both
 * (QV_DIRECTION_*). Traced as "Purge: direction=%u".
 * Returns the transport's status.
 */
QV_EXPORT qv_status_t qv_iostream_purge(qv_iostream_t *iostream, qv_direction_t direction);

/*
 * Suspends the caller for the given number of milliseconds.
 * Traced as "Sleep: value=%u". Returns the transport's status.
 */
QV_EXPORT qv_status_t qv_iostream_sleep(qv_iostream_t *iostream, unsigned int milliseconds);

/*
 * Closes the stream and frees it; NULL is accepted (QV_STATUS_SUCCESS). The
 * stream is freed whatever the outcome and must not be used again. Returns
 * the status of the transport's close.
 */
QV_EXPORT qv_status_t qv_iostream_close(qv_iostream_t *iostream);

#ifdef __cplusplus
}
#endif

#endif /* QV_IOSTREAM_H */
