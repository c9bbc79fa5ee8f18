// The stream base that every transport and framing layer builds on. A
// concrete stream derives from qv_iostream_t, adds its own state and
// describes its operations in a static qv_iostream_vtable_t. Callers go
// through the qv_iostream_* wrappers of <libquivelmarine/iostream.h>, which
// trace every operation and treat an absent slot as silent success.
#ifndef QV_IOSTREAM_PRIVATE_H
#define QV_IOSTREAM_PRIVATE_H

#include <libquivelmarine/context.h>
#include <libquivelmarine/iostream.h>

#include "context-private.h"

#include <cassert>
#include <new>
#include <type_traits>

// The operations of a stream, in this order. Every slot but size may be
// nullptr. The wrappers always hand a slot valid out-pointers: actual and
// value point to a variable preset to 0, so an implementation only stores
// into them.
struct qv_iostream_vtable_t {
    size_t size; // sizeof the concrete record
    qv_status_t (*set_timeout)(qv_iostream_t *iostream, int timeout);
    qv_status_t (*set_break)(qv_iostream_t *iostream, unsigned int value);
    qv_status_t (*set_dtr)(qv_iostream_t *iostream, unsigned int value);
    qv_status_t (*set_rts)(qv_iostream_t *iostream, unsigned int value);
    qv_status_t (*get_lines)(qv_iostream_t *iostream, unsigned int *value);
    qv_status_t (*get_available)(qv_iostream_t *iostream, size_t *value);
    qv_status_t (*configure)(qv_iostream_t *iostream, unsigned int baudrate, unsigned int databits,
                             qv_parity_t parity, qv_stopbits_t stopbits, qv_flowcontrol_t flowcontrol);
    qv_status_t (*poll)(qv_iostream_t *iostream, int timeout);
    // Transfer up to size bytes; store the count transferred in *actual also
    // on failure (QV_STATUS_TIMEOUT when the timeout expired first).
    qv_status_t (*read)(qv_iostream_t *iostream, void *data, size_t size, size_t *actual);
    qv_status_t (*write)(qv_iostream_t *iostream, const void *data, size_t size, size_t *actual);
    // Called only after the wrapper has checked size against the request.
    qv_status_t (*ioctl)(qv_iostream_t *iostream, unsigned int request, void *data, size_t size);
    qv_status_t (*flush)(qv_iostream_t *iostream);
    qv_status_t (*purge)(qv_iostream_t *iostream, qv_direction_t direction);
    qv_status_t (*sleep)(qv_iostream_t *iostream, unsigned int milliseconds);
    // Releases the transport's resources; the record itself is freed by
    // qv_iostream_close afterwards (through the virtual destructor).
    qv_status_t (*close)(qv_iostream_t *iostream);
};

struct qv_iostream_t {
    const qv_iostream_vtable_t *vtable = nullptr;
    qv_context_t *context = nullptr; // for logging; may be nullptr
    qv_transport_t transport = QV_TRANSPORT_NONE;

    // Concrete streams may hold RAII members: they are destroyed through
    // this destructor when the stream is closed or deallocated.
    virtual ~qv_iostream_t() = default;
};

// Creates a concrete stream of type T (derived from qv_iostream_t, default
// constructible) bound to the vtable and transport kind. Logs "Failed to
// allocate memory." and returns nullptr when memory runs out. Used only by
// transport implementations.
template <typename T>
T *qv_iostream_allocate(qv_context_t *context, const qv_iostream_vtable_t *vtable, qv_transport_t transport)
{
    static_assert(std::is_base_of_v<qv_iostream_t, T>);
    assert(vtable != nullptr);
    assert(vtable->size >= sizeof(qv_iostream_t));
    assert(vtable->size == sizeof(T));

    T *iostream = new (std::nothrow) T();
    if (iostream == nullptr) {
        QV_ERROR(context, "Failed to allocate memory.");
        return nullptr;
    }

    iostream->vtable = vtable;
    iostream->context = context;
    iostream->transport = transport;
    return iostream;
}

// Releases a stream without calling its close operation (for an open that
// fails half-way). nullptr is accepted.
void qv_iostream_deallocate(qv_iostream_t *iostream);

// True when the stream is present and was created with the vtable.
int qv_iostream_isinstance(qv_iostream_t *iostream, const qv_iostream_vtable_t *vtable);

#endif
