// The device base that every backend builds on. A backend's device record
// derives from qv_device_t, adds its own state and describes its operations
// in a static qv_device_vtable_t. The base does the argument checks, the
// event delivery and the cancellation; the backend only speaks its protocol.
#ifndef QV_DEVICE_PRIVATE_H
#define QV_DEVICE_PRIVATE_H

#include <libquivelmarine/buffer.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/datetime.h>
#include <libquivelmarine/device.h>
#include <libquivelmarine/iostream.h>

#include "context-private.h"

#include <cassert>
#include <new>
#include <span>
#include <type_traits>

// The operations of a backend, in this order. Every operation slot may be
// nullptr: the public wrapper then answers QV_STATUS_UNSUPPORTED. The
// wrappers have already checked the device and the arguments they document.
struct qv_device_vtable_t {
    size_t size;        // sizeof the backend's device record
    qv_family_t family; // the family the backend serves
    // size 0 clears the fingerprint; any size but the backend's length is
    // QV_STATUS_INVALIDARGS.
    qv_status_t (*set_fingerprint)(qv_device_t *device, const unsigned char *data, unsigned int size);
    qv_status_t (*read)(qv_device_t *device, unsigned int address, unsigned char *data, size_t size);
    qv_status_t (*write)(qv_device_t *device, unsigned int address, const unsigned char *data, size_t size);
    // Appends the memory image to the (already emptied) buffer.
    qv_status_t (*dump)(qv_device_t *device, qv_buffer_t *buffer);
    // callback is never nullptr here.
    qv_status_t (*foreach)(qv_device_t *device, qv_dive_callback_t callback, void *userdata);
    // datetime is never nullptr here.
    qv_status_t (*timesync)(qv_device_t *device, const qv_datetime_t *datetime);
    // Ends the session and releases what the backend created (a framing
    // stream it wrapped around the caller's stream, never that stream). The
    // record itself is freed by qv_device_close afterwards.
    qv_status_t (*close)(qv_device_t *device);
};

struct qv_device_t {
    const qv_device_vtable_t *vtable = nullptr;
    qv_context_t *context = nullptr;

    // What the application wants to hear about.
    unsigned int event_mask = 0;
    qv_event_callback_t event_callback = nullptr;
    void *event_userdata = nullptr;

    qv_cancel_callback_t cancel_callback = nullptr;
    void *cancel_userdata = nullptr;

    // The last device information and clock pair the backend reported (zero
    // until reported), kept for the parsers created from this device.
    qv_event_devinfo_t devinfo = {};
    qv_event_clock_t clock = {};

    // Backend records may hold RAII members: they are destroyed through this
    // destructor when the device is closed or deallocated.
    virtual ~qv_device_t() = default;
};

// Creates a backend's device record of type T (derived from qv_device_t,
// default constructible) bound to the vtable, with every base field after
// the context zero. Logs "Failed to allocate memory." and returns nullptr
// when memory runs out.
template <typename T>
T *qv_device_allocate(qv_context_t *context, const qv_device_vtable_t *vtable)
{
    static_assert(std::is_base_of_v<qv_device_t, T>);
    assert(vtable != nullptr);
    assert(vtable->size >= sizeof(qv_device_t));
    assert(vtable->size == sizeof(T));

    T *device = new (std::nothrow) T();
    if (device == nullptr) {
        QV_ERROR(context, "Failed to allocate memory.");
        return nullptr;
    }

    device->vtable = vtable;
    device->context = context;
    return device;
}

// Frees a device record without calling its close operation (for an open
// that fails half-way). nullptr is accepted.
void qv_device_deallocate(qv_device_t *device);

// True when the device is present and was created with the vtable.
int qv_device_isinstance(qv_device_t *device, const qv_device_vtable_t *vtable);

// Reports an event to the application. The payload must fit the type
// (checked by assertions: none for waiting; a progress record with a
// maximum above 0 and not below current; a devinfo or clock record).
// Devinfo and clock are stored in the device whatever the event mask; the
// callback hears of the event only when its bit is in the mask. A nullptr
// device is accepted (nothing happens after the checks).
void qv_device_event(qv_device_t *device, qv_event_type_t type, const void *data);

// The cancel handler's answer: false for a nullptr device or without a
// handler. Backends ask it between exchanges and return QV_STATUS_CANCELLED
// when it is true.
int qv_device_is_cancelled(qv_device_t *device);

// Reads size bytes of device memory at address into data, in blocks of at
// most blocksize bytes through the read operation, reporting a progress
// event (in bytes, maximum size) before the first block and after each one.
// QV_STATUS_UNSUPPORTED for a nullptr device or a backend without read;
// QV_STATUS_INVALIDARGS for blocksize 0 or data missing; the first failed
// read is returned at once. A size of 0 reads nothing and reports nothing.
qv_status_t qv_device_dump_read(qv_device_t *device, unsigned int address, unsigned char *data,
                                size_t size, size_t blocksize);

// ---------------------------------------------------------------------------
// Family dispatch of qv_device_open.
//
// The backends' open operations have one of two signatures: (out, context,
// stream), or the same followed by one number, which is either the model
// number of the chosen descriptor or a constant fixed by the family.

using qv_device_open_t = qv_status_t (*)(qv_device_t **out, qv_context_t *context, qv_iostream_t *iostream);
using qv_device_open_extra_t = qv_status_t (*)(qv_device_t **out, qv_context_t *context,
                                                qv_iostream_t *iostream, unsigned int extra);

// What the number after the stream is.
enum class qv_device_extra_t {
    none,     // open takes (out, context, stream)
    model,    // open_extra takes the descriptor's model number
    constant, // open_extra takes the row's constant
};

// One family of the dispatch table. A backend that is not part of the build
// yet has a nullptr operation: opening its family answers
// QV_STATUS_UNSUPPORTED with an error line naming the family.
struct qv_device_backend_t {
    qv_family_t family;
    const char *name; // vendor and family as users know them, for messages
    qv_device_extra_t extra;
    qv_device_open_t open;             // for qv_device_extra_t::none
    qv_device_open_extra_t open_extra; // for the two others
    unsigned int constant;             // for qv_device_extra_t::constant
};

// The whole dispatch table, one row per family, in family order.
std::span<const qv_device_backend_t> qv_device_backends();

// The row of a family, or nullptr for a family the library does not know.
const qv_device_backend_t *qv_device_backend_find(qv_family_t family);

// What qv_device_open does after its argument checks: opens a device of
// family, with the descriptor's model number. QV_STATUS_INVALIDARGS (logged)
// for a family the library does not know; otherwise as
// qv_device_backend_open.
qv_status_t qv_device_open_family(qv_device_t **out, qv_context_t *context, qv_family_t family,
                                  unsigned int model, qv_iostream_t *iostream);

// Opens a device through one dispatch row (model is the descriptor's model
// number). *out receives the backend's device or nullptr.
// QV_STATUS_UNSUPPORTED (logged) when the row has no backend yet; otherwise
// the backend's status.
qv_status_t qv_device_backend_open(const qv_device_backend_t *backend, qv_device_t **out,
                                   qv_context_t *context, qv_iostream_t *iostream, unsigned int model);

#endif
