// The iterator base that the model table and the transport enumerators build
// on. A concrete iterator derives from qv_iterator_t, adds its own state and
// describes its operations in a static qv_iterator_vtable_t.
#ifndef QV_ITERATOR_PRIVATE_H
#define QV_ITERATOR_PRIVATE_H

#include <libquivelmarine/context.h>
#include <libquivelmarine/iterator.h>

#include "context-private.h"

#include <cassert>
#include <type_traits>
#include <new>

struct qv_iterator_vtable_t {
    size_t size;                                              // sizeof the concrete record
    qv_status_t (*next)(qv_iterator_t *iterator, void *item); // may be absent
    qv_status_t (*free)(qv_iterator_t *iterator);             // may be absent
};

struct qv_iterator_t {
    const qv_iterator_vtable_t *vtable = nullptr;
    qv_context_t *context = nullptr;

    // Concrete iterators may hold RAII members: they are destroyed through
    // this destructor when the iterator is freed.
    virtual ~qv_iterator_t() = default;
};

// Creates a concrete iterator of type T (derived from qv_iterator_t, default
// constructible) bound to the vtable. Logs "Failed to allocate memory." and
// returns nullptr when memory runs out.
template <typename T>
T *qv_iterator_allocate(qv_context_t *context, const qv_iterator_vtable_t *vtable)
{
    static_assert(std::is_base_of_v<qv_iterator_t, T>);
    assert(vtable != nullptr);
    assert(vtable->size >= sizeof(qv_iterator_t));
    assert(vtable->size == sizeof(T));

    T *iterator = new (std::nothrow) T();
    if (iterator == nullptr) {
        QV_ERROR(context, "Failed to allocate memory.");
        return nullptr;
    }

    iterator->vtable = vtable;
    iterator->context = context;
    return iterator;
}

// Releases an iterator without calling its free operation (for a creation
// that fails half-way).
void qv_iterator_deallocate(qv_iterator_t *iterator);

// True when the iterator is present and was created with the vtable.
int qv_iterator_isinstance(qv_iterator_t *iterator, const qv_iterator_vtable_t *vtable);

#endif
