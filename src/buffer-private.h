// Inspection of a buffer's block, for the unit tests of the growth rules.
#ifndef QV_BUFFER_PRIVATE_H
#define QV_BUFFER_PRIVATE_H

#include <libquivelmarine/buffer.h>

// Bytes allocated for the block (0 for a missing buffer or one without block).
size_t qv_buffer_get_capacity(const qv_buffer_t *buffer);

// Where the content starts within the block (0 for a missing buffer).
size_t qv_buffer_get_offset(const qv_buffer_t *buffer);

#endif
