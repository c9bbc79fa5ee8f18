/*
 * libquivelmarine: the growable byte buffer.
 *
 * Memory dumps, fingerprints and firmware images are held in a qv_buffer_t.
 * The buffer owns its block; the caller owns the buffer and frees it with
 * qv_buffer_free. Boolean results are non-zero on success; a missing buffer
 * gives 0 (or NULL). A failed allocation leaves the buffer unchanged.
 */
#ifndef QV_BUFFER_H
#define QV_BUFFER_H

#include <libquivelmarine/common.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qv_buffer_t qv_buffer_t;

/* New empty buffer; a block of exactly capacity bytes when capacity > 0. NULL without memory. */
QV_EXPORT qv_buffer_t *qv_buffer_new(size_t capacity);
/* Frees block and record; NULL is accepted. */
QV_EXPORT void qv_buffer_free(qv_buffer_t *buffer);
/* Empties the content, keeps the block. */
QV_EXPORT int qv_buffer_clear(qv_buffer_t *buffer);
/* Grows the block to exactly capacity bytes when it is smaller (content kept). */
QV_EXPORT int qv_buffer_reserve(qv_buffer_t *buffer, size_t capacity);
/* Sets the content size; new bytes are zero. */
QV_EXPORT int qv_buffer_resize(qv_buffer_t *buffer, size_t size);
/* Appends size bytes after the content. */
QV_EXPORT int qv_buffer_append(qv_buffer_t *buffer, const unsigned char *data, size_t size);
/* Puts size bytes before the content. */
QV_EXPORT int qv_buffer_prepend(qv_buffer_t *buffer, const unsigned char *data, size_t size);
/* Inserts size bytes at offset within the content; 0 when offset > size of the content. */
QV_EXPORT int qv_buffer_insert(qv_buffer_t *buffer, size_t offset, const unsigned char *data, size_t size);
/* Narrows the content to [offset, offset + size); 0 (unchanged) when that exceeds the content. */
QV_EXPORT int qv_buffer_slice(qv_buffer_t *buffer, size_t offset, size_t size);
/* Bytes of content; 0 for a missing buffer. */
QV_EXPORT size_t qv_buffer_get_size(const qv_buffer_t *buffer);
/* First content byte; NULL for a missing or empty buffer. Valid until the next change. */
QV_EXPORT unsigned char *qv_buffer_get_data(const qv_buffer_t *buffer);

#ifdef __cplusplus
}
#endif

#endif /* QV_BUFFER_H */
