/*
 * libquivelmarine: the generic iterator.
 *
 * Iterators hand out items one by one: the model table (descriptor.h) and
 * the devices found on each transport. The type of the item depends on the
 * iterator that produced it.
 */
#ifndef QV_ITERATOR_H
#define QV_ITERATOR_H

#include <libquivelmarine/common.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qv_iterator_t qv_iterator_t;

/*
 * Stores the next item in *item (a pointer of the iterator's item type).
 * Returns QV_STATUS_SUCCESS with an item, QV_STATUS_DONE when exhausted (on
 * every further call too), QV_STATUS_UNSUPPORTED without an iterator,
 * QV_STATUS_INVALIDARGS without item, or the iterator's own error.
 */
QV_EXPORT qv_status_t qv_iterator_next(qv_iterator_t *iterator, void *item);

/* Frees the iterator; NULL is accepted (QV_STATUS_SUCCESS). */
QV_EXPORT qv_status_t qv_iterator_free(qv_iterator_t *iterator);

#ifdef __cplusplus
}
#endif

#endif /* QV_ITERATOR_H */
