/*
 * libquivelmarine: the model table.
 *
 * Every supported dive computer is one row of a fixed table of 358 models:
 * vendor, product, family (which selects the backend), model number, the
 * transports it is reached on, and an optional filter rule that recognises
 * the device by the name (or USB identifiers) under which it shows up on a
 * transport. Rows are static: they stay valid for the life of the process,
 * also after the iterator that handed them out is freed.
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
 * Creates an iterator over the whole model table in table order; each
 * qv_iterator_next stores a `qv_descriptor_t *` in its item.
 * QV_STATUS_INVALIDARGS without out, QV_STATUS_NOMEMORY when memory runs out.
 * Free it with qv_iterator_free.
 */
QV_EXPORT qv_status_t qv_descriptor_iterator_new(qv_iterator_t **out);

/* Does nothing: rows are static. Kept so that callers can release what they got. */
QV_EXPORT void qv_descriptor_free(qv_descriptor_t *descriptor);

/* Field accessors; NULL or 0 for a missing descriptor. */
QV_EXPORT const char *qv_descriptor_get_vendor(const qv_descriptor_t *descriptor);
QV_EXPORT const char *qv_descriptor_get_product(const qv_descriptor_t *descriptor);
QV_EXPORT qv_family_t qv_descriptor_get_type(const qv_descriptor_t *descriptor);
QV_EXPORT unsigned int qv_descriptor_get_model(const qv_descriptor_t *descriptor);
QV_EXPORT qv_transport_t qv_descriptor_get_transports(const qv_descriptor_t *descriptor);

/*
 * Whether a device found on a transport may be this model. userdata is what
 * the enumerator knows about the device: the port name (serial), the device
 * name (IrDA, Bluetooth, BLE), or a `const qv_usb_desc_t *` (USB, USB HID).
 * Non-zero for a missing descriptor; zero when the transport is not among the
 * row's transports; non-zero without user data or without a rule for the row;
 * otherwise the rule's answer.
 */
QV_EXPORT int qv_descriptor_filter(const qv_descriptor_t *descriptor, qv_transport_t transport,
                                   const void *userdata);

#ifdef __cplusplus
}
#endif

#endif /* QV_DESCRIPTOR_H */
