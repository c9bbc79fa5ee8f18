/*
 * libquivelmarine: the serial port transport.
 *
 * Most dive computers are reached through a serial port: a built-in port, a
 * USB-serial adapter (ttyUSB), a USB CDC-ACM device (ttyACM), a Bluetooth
 * RFCOMM tty (rfcomm) or a pseudo-terminal. qv_serial_open gives a
 * qv_iostream_t (iostream.h) on such a port; qv_serial_iterator_new lists the
 * ports of the machine.
 *
 * Line behaviour of a serial stream:
 *   - The port is held exclusively while the stream is open; the terminal
 *     settings found at open are restored by qv_iostream_close.
 *   - At open the port is switched to raw mode (no echo, no line editing, no
 *     character translation) and keeps its speed and character format until
 *     qv_iostream_configure. The timeout starts out negative (wait without
 *     limit).
 *   - qv_iostream_configure accepts any baud rate above 0 (rates the system
 *     has no constant for are set as arbitrary rates), 5 to 8 data bits,
 *     every parity, one or two stop bits (one and a half gives
 *     QV_STATUS_UNSUPPORTED) and every flow control. Invalid values give
 *     QV_STATUS_INVALIDARGS without a log line and leave the port unchanged.
 *     Afterwards DTR and RTS are raised unless hardware flow control was
 *     chosen.
 *   - Read timeout: negative waits until every requested byte arrived, 0
 *     returns at once with what is buffered, a positive value bounds the
 *     whole read. A read or write that stops early reports the number of
 *     bytes transferred together with QV_STATUS_TIMEOUT.
 *   - A write waits while the port cannot take more data (for instance
 *     while hardware flow control holds it back); with a positive timeout it
 *     gives up with QV_STATUS_TIMEOUT once the port has taken nothing for
 *     that long, otherwise it waits without limit.
 *   - Ports without modem-control lines (pseudo-terminals and some virtual
 *     ports) log one warning per stream; DTR, RTS and break then succeed
 *     without effect and every input line reads as off.
 *   - The ioctl request 0x80047300 is accepted without effect; every other
 *     request gives QV_STATUS_UNSUPPORTED.
 *
 * Failures of the operating system are logged with its error text and
 * mapped: no such device (ENOENT, ENODEV, ENXIO) to QV_STATUS_NODEVICE,
 * permission or busy (EACCES, EPERM, EBUSY) to QV_STATUS_NOACCESS, ENOMEM to
 * QV_STATUS_NOMEMORY, EINVAL to QV_STATUS_INVALIDARGS, anything else to
 * QV_STATUS_IO.
 */
#ifndef QV_SERIAL_H
#define QV_SERIAL_H

#include <libquivelmarine/common.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/iostream.h>
#include <libquivelmarine/iterator.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A serial port found by qv_serial_iterator_new; owned by the caller. */
typedef struct qv_serial_device_t qv_serial_device_t;

/*
 * Opens the serial port name and stores a new stream (transport
 * QV_TRANSPORT_SERIAL) in *out. name is a device path ("/dev/ttyUSB0",
 * "/dev/serial/by-id/...", "/dev/rfcomm0", a pseudo-terminal) or a name
 * relative to /dev ("ttyUSB0", "pts/3"); a name beginning with "./" or
 * "../" is used as it is. The stream is released with qv_iostream_close;
 * context (which may be NULL) must outlive it.
 *
 * Returns QV_STATUS_SUCCESS; QV_STATUS_INVALIDARGS without out or with a
 * missing or empty name; QV_STATUS_NODEVICE when the port does not exist;
 * QV_STATUS_NOACCESS when permission is denied or another program holds the
 * port; QV_STATUS_NOMEMORY when memory runs out; QV_STATUS_IO for other
 * failures (for instance a name that is not a terminal). On failure *out is
 * left unchanged.
 */
QV_EXPORT qv_status_t qv_serial_open(qv_iostream_t **out, qv_context_t *context, const char *name);

/*
 * Creates an iterator over the serial ports of the machine, in a stable
 * order (sorted by name, numbers by value). Each qv_iterator_next stores a
 * `qv_serial_device_t *` in its item, which the caller releases with
 * qv_serial_device_free. Listed are the ports that have hardware behind
 * them (USB-serial, CDC-ACM, built-in ports with a UART) and the Bluetooth
 * RFCOMM ttys, as device paths under /dev; with a descriptor only the ports
 * that qv_descriptor_filter(descriptor, QV_TRANSPORT_SERIAL, path) accepts.
 * A machine without serial ports gives QV_STATUS_DONE at the first next.
 * descriptor may be NULL and must outlive the iterator (model table rows
 * always do).
 *
 * Returns QV_STATUS_INVALIDARGS without out, QV_STATUS_NOMEMORY when memory
 * runs out, or the mapped system error when the list of ports cannot be
 * read. The iterator's next gives QV_STATUS_NOMEMORY for a port name of 256
 * bytes or more. Free the iterator with qv_iterator_free.
 */
QV_EXPORT qv_status_t qv_serial_iterator_new(qv_iterator_t **out, qv_context_t *context,
                                             const qv_descriptor_t *descriptor);

/*
 * The port's device path ("/dev/ttyUSB0"), to be passed to qv_serial_open;
 * valid until the device is freed. NULL for a missing device or an empty name.
 */
QV_EXPORT const char *qv_serial_device_get_name(const qv_serial_device_t *device);

/* Releases a device handed out by the serial iterator; NULL is accepted. */
QV_EXPORT void qv_serial_device_free(qv_serial_device_t *device);

#ifdef __cplusplus
}
#endif

#endif /* QV_SERIAL_H */
