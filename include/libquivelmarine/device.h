/*
 * libquivelmarine: an open connection to one dive computer.
 *
 * A qv_device_t is opened on a stream (iostream.h) for one row of the model
 * table (descriptor.h): the row's family selects the backend that speaks the
 * device's protocol. The device does not own the stream: the application
 * closes the device with qv_device_close first and the stream afterwards.
 *
 * While an operation runs, the backend reports events to the application
 * (waiting for the user, progress, device information, clock, raw vendor
 * data) through the event callback, and asks the cancel callback between
 * exchanges whether it should give up (QV_STATUS_CANCELLED).
 *
 * Every operation returns QV_STATUS_UNSUPPORTED for a NULL device or when
 * the device's backend does not implement it, QV_STATUS_INVALIDARGS for bad
 * arguments, and otherwise the backend's (or its stream's) status unchanged.
 *
 * Thread safety: a device is used by one thread. The cancel callback may
 * look at state set from another thread or a signal handler; the device only
 * reads its answer.
 */
#ifndef QV_DEVICE_H
#define QV_DEVICE_H

#include <libquivelmarine/buffer.h>
#include <libquivelmarine/common.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/datetime.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/iostream.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qv_device_t qv_device_t;

/* Events a backend reports, as bit values combined in the event mask. */
typedef uint32_t qv_event_type_t;

#define QV_EVENT_WAITING  1u  /* the device waits for the user (no payload) */
#define QV_EVENT_PROGRESS 2u  /* payload: const qv_event_progress_t * */
#define QV_EVENT_DEVINFO  4u  /* payload: const qv_event_devinfo_t * */
#define QV_EVENT_CLOCK    8u  /* payload: const qv_event_clock_t * */
#define QV_EVENT_VENDOR   16u /* payload: const qv_event_vendor_t * */

/*
 * Progress of an operation, in the backend's own unit (bytes for memory
 * images, dives or records for dive-by-dive protocols). maximum is never 0
 * and never below current; 0xFFFFFFFF while the real total is not known yet.
 */
typedef struct qv_event_progress_t {
    uint32_t current;
    uint32_t maximum;
} qv_event_progress_t;

/* Identification of the device: model number, firmware version, serial number. */
typedef struct qv_event_devinfo_t {
    uint32_t model;
    uint32_t firmware;
    uint32_t serial;
} qv_event_devinfo_t;

/*
 * A pair of clocks read at the same moment: devtime is the device's own
 * clock count, systime the host time (seconds since 1970) when it was read.
 * A parser uses the pair to turn the device times in its dives into dates.
 */
typedef struct qv_event_clock_t {
    uint32_t devtime;
    qv_ticks_t systime;
} qv_event_clock_t;

/* Raw identification bytes of the device; valid during the callback only. */
typedef struct qv_event_vendor_t {
    const unsigned char *data;
    unsigned int size;
} qv_event_vendor_t;

/*
 * Event handler: called on the device's thread with the device, one event
 * type and its payload (NULL for QV_EVENT_WAITING; see the event types for
 * the others; valid during the call only) and the user data given with
 * qv_device_set_events. It may ask the device for nothing but
 * qv_device_set_fingerprint.
 */
typedef void (*qv_event_callback_t)(qv_device_t *device, qv_event_type_t event, const void *data,
                                    void *userdata);

/* Cancel handler: returns non-zero when the running operation is to be cancelled. */
typedef int (*qv_cancel_callback_t)(void *userdata);

/*
 * Dive handler: receives one dive record in the device's own format and its
 * fingerprint (the bytes that identify the dive, see
 * qv_device_set_fingerprint). Both are valid during the call only. Returns
 * non-zero to go on with the next (older) dive, zero to end the download
 * (which then succeeds).
 */
typedef int (*qv_dive_callback_t)(const unsigned char *data, unsigned int size,
                                  const unsigned char *fingerprint, unsigned int fsize,
                                  void *userdata);

/*
 * Opens the dive computer described by descriptor on the stream, through the
 * backend of the descriptor's family, which configures the line, wakes the
 * device and reads its identification. On success *out receives the device;
 * on failure it receives NULL.
 *
 * Returns QV_STATUS_INVALIDARGS without out or descriptor, or for a family
 * this library does not know; QV_STATUS_UNSUPPORTED for a family whose
 * backend is not part of this build; otherwise the backend's status
 * (QV_STATUS_NOMEMORY, the stream's errors, QV_STATUS_PROTOCOL, ...).
 * The caller releases the device with qv_device_close; the context and the
 * stream must outlive it.
 */
QV_EXPORT qv_status_t qv_device_open(qv_device_t **out, qv_context_t *context,
                                     const qv_descriptor_t *descriptor, qv_iostream_t *iostream);

/* The family of the device's backend; QV_FAMILY_NULL for a NULL device. */
QV_EXPORT qv_family_t qv_device_get_type(qv_device_t *device);

/*
 * Sets (or with a NULL callback removes) the cancel handler, asked between
 * exchanges. QV_STATUS_UNSUPPORTED for a NULL device.
 */
QV_EXPORT qv_status_t qv_device_set_cancel(qv_device_t *device, qv_cancel_callback_t callback,
                                           void *userdata);

/*
 * Sets the event handler and the mask of QV_EVENT_* bits it receives (a
 * NULL callback or mask 0 delivers nothing). Device information and clock
 * events are remembered by the device whatever the mask, for the parsers
 * created from it (parser.h). QV_STATUS_UNSUPPORTED for a NULL device.
 */
QV_EXPORT qv_status_t qv_device_set_events(qv_device_t *device, unsigned int events,
                                           qv_event_callback_t callback, void *userdata);

/*
 * Sets the fingerprint of the newest dive already downloaded: the next
 * qv_device_foreach stops at the dive with this fingerprint. size 0 clears
 * it (every dive is delivered); any size other than the backend's
 * fingerprint length gives QV_STATUS_INVALIDARGS. The bytes are copied and
 * logged at QV_LOGLEVEL_INFO. QV_STATUS_UNSUPPORTED for a NULL device or a
 * backend without fingerprints.
 */
QV_EXPORT qv_status_t qv_device_set_fingerprint(qv_device_t *device, const unsigned char *data,
                                                unsigned int size);

/*
 * Reads size bytes of device memory at address into data (size bytes owned
 * by the caller). QV_STATUS_UNSUPPORTED for a NULL device or a backend
 * without memory access; QV_STATUS_INVALIDARGS without data for a size
 * above 0; otherwise the backend's status (it may refuse an address range
 * with QV_STATUS_INVALIDARGS).
 */
QV_EXPORT qv_status_t qv_device_read(qv_device_t *device, unsigned int address, unsigned char *data,
                                     size_t size);

/*
 * Writes size bytes from data to device memory at address. Return values as
 * for qv_device_read.
 */
QV_EXPORT qv_status_t qv_device_write(qv_device_t *device, unsigned int address,
                                      const unsigned char *data, size_t size);

/*
 * Empties buffer and fills it with the device's whole memory image.
 * QV_STATUS_UNSUPPORTED for a NULL device or a backend without dumps;
 * QV_STATUS_INVALIDARGS without a buffer; otherwise the backend's status
 * (on failure the buffer may hold part of the image).
 */
QV_EXPORT qv_status_t qv_device_dump(qv_device_t *device, qv_buffer_t *buffer);

/*
 * Hands the dives to callback, newest first, until the dive whose
 * fingerprint equals the one set with qv_device_set_fingerprint (not
 * delivered), the oldest dive, or a zero return of the callback; all three
 * end with QV_STATUS_SUCCESS. A NULL callback walks the dives without
 * delivering them. QV_STATUS_UNSUPPORTED for a NULL device or a backend
 * without dive access; QV_STATUS_CANCELLED when the cancel handler asked
 * for it; otherwise the backend's status.
 */
QV_EXPORT qv_status_t qv_device_foreach(qv_device_t *device, qv_dive_callback_t callback,
                                        void *userdata);

/*
 * Sets the device's clock to datetime. QV_STATUS_UNSUPPORTED for a NULL
 * device or a backend that cannot set the clock; QV_STATUS_INVALIDARGS
 * without datetime; otherwise the backend's status.
 */
QV_EXPORT qv_status_t qv_device_timesync(qv_device_t *device, const qv_datetime_t *datetime);

/*
 * Closes the device: removes the cancel handler first (nothing can cancel
 * the close), lets the backend end the session and release what it created
 * (never the stream the device was opened on), and frees the device.
 * Returns QV_STATUS_SUCCESS for a NULL device, otherwise the backend's
 * status for the closing exchange; the device is freed in every case.
 */
QV_EXPORT qv_status_t qv_device_close(qv_device_t *device);

#ifdef __cplusplus
}
#endif

#endif /* QV_DEVICE_H */
