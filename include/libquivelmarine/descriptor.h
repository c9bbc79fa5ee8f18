/*
 * libquivelmarine: the model table.
 *
 * Every supported dive computer is one row of a fixed table of 358 models:
 * vendor, product, family (which selects the backend), model number, the
 * transports it is reached on, and an optional filter rule that recognises
 * the device by the name (or USB identifiers) under which it shows up on a
 * transport. Rows are static: they stay valid for the life of the process,
 * also after the iterator that handed them out is freed.
 *
 * The table is constant data: every function here may be called from any
 * thread. A descriptor iterator, like every iterator, is used by one thread at
 * a time.
 */
#ifndef QV_DESCRIPTOR_H
#define QV_DESCRIPTOR_H

#include <libquivelmarine/common.h>
#include <libquivelmarine/iterator.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qv_descriptor_t qv_descriptor_t;

/* What a USB or USB HID enumerator knows about a device: the filter's user data. */
typedef struct qv_usb_desc_t {
    uint16_t vid;
    uint16_t pid;
} qv_usb_desc_t;

/*
 * Creates an iterator over the whole model table in table order (it has no
 * context, so it logs nothing). Each qv_iterator_next with a
 * `qv_descriptor_t **` item stores the next row and returns
 * QV_STATUS_SUCCESS; after the last row it returns QV_STATUS_DONE on every
 * call and leaves the item untouched. The rows handed out are not owned by
 * the caller and outlive the iterator.
 * Returns QV_STATUS_INVALIDARGS without out, QV_STATUS_NOMEMORY when memory
 * runs out (*out is then unchanged). Free the iterator with qv_iterator_free.
 */
QV_EXPORT qv_status_t qv_descriptor_iterator_new(qv_iterator_t **out);

/* Does nothing: rows are static. Kept so that callers can release what they got. */
QV_EXPORT void qv_descriptor_free(qv_descriptor_t *descriptor);

/*
 * Field accessors: the vendor and product names as shown to users (static
 * texts; a product name may end in a blank, which is part of it), the family
 * (QV_FAMILY_*: selects the backend), the model number handed to the backend,
 * and the set of QV_TRANSPORT_* bits the device can be reached on.
 * NULL, QV_FAMILY_NULL, 0 or QV_TRANSPORT_NONE for a missing descriptor.
 */
QV_EXPORT const char *qv_descriptor_get_vendor(const qv_descriptor_t *descriptor);
QV_EXPORT const char *qv_descriptor_get_product(const qv_descriptor_t *descriptor);
QV_EXPORT qv_family_t qv_descriptor_get_type(const qv_descriptor_t *descriptor);
QV_EXPORT unsigned int qv_descriptor_get_model(const qv_descriptor_t *descriptor);
QV_EXPORT qv_transport_t qv_descriptor_get_transports(const qv_descriptor_t *descriptor);

/*
 * Whether a device found on a transport may be this model. transport is one
 * QV_TRANSPORT_* bit; userdata is what the enumerator knows about the device:
 * the port name (serial), the device name (IrDA, Bluetooth, BLE), each a
 * zero-terminated text, or a `const qv_usb_desc_t *` (USB, USB HID).
 * Non-zero for a missing descriptor; zero when the transport is not among the
 * row's transports (also for QV_TRANSPORT_NONE or several bits at once);
 * non-zero without user data or without a rule for the row; otherwise the
 * rule's answer. Rules compare names without regard to letter case and
 * accept every transport they do not examine (no rule examines serial port
 * names).
 */
QV_EXPORT int qv_descriptor_filter(const qv_descriptor_t *descriptor, qv_transport_t transport,
                                   const void *userdata);

#ifdef __cplusplus
}
#endif

#endif /* QV_DESCRIPTOR_H */
