#include "iterator-private.h"

void qv_iterator_deallocate(qv_iterator_t *iterator)
{
    delete iterator;
}

int qv_iterator_isinstance(qv_iterator_t *iterator, const qv_iterator_vtable_t *vtable)
{
    return iterator != nullptr && iterator->vtable == vtable;
}

extern "C" {

qv_status_t qv_iterator_next(qv_iterator_t *iterator, void *item)
{
    if (iterator == nullptr || iterator->vtable->next == nullptr)
        return QV_STATUS_UNSUPPORTED;
    if (item == nullptr)
        return QV_STATUS_INVALIDARGS;

    return iterator->vtable->next(iterator, item);
}

qv_status_t qv_iterator_free(qv_iterator_t *iterator)
{
    if (iterator == nullptr)
        return QV_STATUS_SUCCESS;

    qv_status_t status = QV_STATUS_SUCCESS;
    if (iterator->vtable->free != nullptr)
        status = iterator->vtable->free(iterator);

    delete iterator;
    return status;
}

} // extern "C"
