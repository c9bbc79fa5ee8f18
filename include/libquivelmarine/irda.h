/*
 * libquivelmarine: the infrared (IrDA) transport.
 *
 * Some older dive computers are reached over infrared: the computer sits on
 * an IrDA adapter, is found by the IrLMP discovery of the system's IrDA
 * stack, and talks over a stream connection to one of its service access
 * points (LSAP). qv_irda_iterator_new lists the devices in range;
 * qv_irda_open connects a stream (iostream.h) to one of them.
 *
 * The system's kernel must provide IrDA sockets. Linux dropped its IrDA stack
 * in version 4.17; on such kernels both functions log the system error
 * ("Address family not supported by protocol") and return
 * QV_STATUS_UNSUPPORTED.
 *
 * Stream behaviour (shared with the other socket based transports):
 *   - The timeout starts out negative (wait without limit). It applies to
 *     each wait for data, not to the whole read: a read returns
 *     QV_STATUS_TIMEOUT with the bytes received so far once no further byte
 *     arrived within the timeout; 0 returns what is waiting at once.
 *   - A write waits while the connection cannot take more data; with a
 *     positive timeout it gives up with QV_STATUS_TIMEOUT (and the count
 *     written) when nothing could be sent for that long.
 *   - When the device closes the connection, a read returns
 *     QV_STATUS_TIMEOUT with the bytes received before, and a write fails
 *     with QV_STATUS_IO.
 *   - qv_iostream_get_available gives the received bytes waiting;
 *     qv_iostream_ioctl gives QV_STATUS_UNSUPPORTED. There are no line
 *     settings, modem lines or queues to purge: configure, DTR, RTS, break,
 *     get_lines, flush and purge succeed without doing anything.
 *
 * Failures of the system are logged with its error text and mapped: EINVAL
 * to QV_STATUS_INVALIDARGS, EAFNOSUPPORT (no IrDA in the kernel) to
 * QV_STATUS_UNSUPPORTED, ENOMEM and ENOBUFS to QV_STATUS_NOMEMORY, EACCES and
 * EPERM to QV_STATUS_NOACCESS, anything else to QV_STATUS_IO.
 */
#ifndef QV_IRDA_H
#define QV_IRDA_H

#include <libquivelmarine/common.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/iostream.h>
#include <libquivelmarine/iterator.h>

#ifdef __cplusplus
extern "C" {
#endif

/* An infrared device found by qv_irda_iterator_new; owned by the caller. */
typedef struct qv_irda_device_t qv_irda_device_t;

/*
 * Runs an IrLMP discovery and creates an iterator over the devices found.
 * The discovery asks the system's discovery log up to 5 times, one second
 * apart, until it holds at least one device (so about 4 s pass when no
 * device answers); at most 16 devices are taken. Each device found is
 * logged at QV_LOGLEVEL_INFO as "Discover: address=%08x, name=%s,
 * charset=%02x, hints=%04x". With a descriptor, only the devices whose name
 * qv_descriptor_filter(descriptor, QV_TRANSPORT_IRDA, name) accepts are
 * kept. descriptor may be NULL and must outlive the iterator (model table
 * rows always do).
 *
 * Each qv_iterator_next stores a `qv_irda_device_t *` in its item, which the
 * caller releases with qv_irda_device_free; QV_STATUS_DONE after the last
 * device, QV_STATUS_NOMEMORY when the copy cannot be allocated. No device in
 * range is not an error: the first next gives QV_STATUS_DONE. Free the
 * iterator with qv_iterator_free.
 *
 * Returns QV_STATUS_SUCCESS; QV_STATUS_INVALIDARGS without out;
 * QV_STATUS_UNSUPPORTED when the kernel has no IrDA sockets;
 * QV_STATUS_NOMEMORY when memory runs out; the mapped system error when the
 * discovery fails otherwise. On failure *out is left unchanged.
 */
QV_EXPORT qv_status_t qv_irda_iterator_new(qv_iterator_t **out, qv_context_t *context,
                                           const qv_descriptor_t *descriptor);

/*
 * The device's 32-bit IrDA address, to be passed to qv_irda_open; 0 for a
 * missing device.
 */
QV_EXPORT unsigned int qv_irda_device_get_address(const qv_irda_device_t *device);

/*
 * The device's name as it announced itself (at most 21 characters), valid
 * until the device is freed. NULL for a missing device or an empty name.
 */
QV_EXPORT const char *qv_irda_device_get_name(const qv_irda_device_t *device);

/* Releases a device handed out by the IrDA iterator; NULL is accepted. */
QV_EXPORT void qv_irda_device_free(qv_irda_device_t *device);

/*
 * Connects a stream (transport QV_TRANSPORT_IRDA) to the device with the
 * given IrDA address, on its service access point lsap (0 to 0x6F; the
 * dive computers use 1), and stores it in *out. Logged at QV_LOGLEVEL_INFO
 * as "Open: address=%08x, lsap=%u". The stream is released with
 * qv_iostream_close; context (which may be NULL) must outlive it.
 *
 * Returns QV_STATUS_SUCCESS; QV_STATUS_INVALIDARGS without out or for an
 * lsap above 0x6F (logged); QV_STATUS_UNSUPPORTED when the kernel has no
 * IrDA sockets; QV_STATUS_NOMEMORY when memory runs out; the mapped system
 * error when the connection fails (QV_STATUS_IO for a device that is not in
 * range or does not answer). On failure *out is left unchanged.
 */
QV_EXPORT qv_status_t qv_irda_open(qv_iostream_t **out, qv_context_t *context, unsigned int address,
                                   unsigned int lsap);

#ifdef __cplusplus
}
#endif

#endif /* QV_IRDA_H */
