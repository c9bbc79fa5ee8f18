#include <libquivelmarine/buffer.h>

#include "buffer-private.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

// The content is data[offset .. offset + size) within a block of capacity
// bytes; offset + size <= capacity always holds. The block exists only when
// capacity > 0.
struct qv_buffer_t {
    std::unique_ptr<unsigned char[]> data;
    size_t capacity = 0;
    size_t offset = 0;
    size_t size = 0;
};

namespace {

using block_t = std::unique_ptr<unsigned char[]>;

block_t allocate_block(size_t capacity)
{
    return block_t(new (std::nothrow) unsigned char[capacity]);
}

// The capacity of a grown block: exactly what is needed for a buffer that had
// no block yet, otherwise the old capacity doubled as often as needed. When
// doubling would overflow, the needed size itself is used.
size_t grown_capacity(size_t capacity, size_t needed)
{
    if (capacity == 0)
        return needed;

    size_t grown = capacity;
    while (grown < needed) {
        if (grown > SIZE_MAX / 2)
            return needed;
        grown *= 2;
    }
    return grown;
}

unsigned char *content(qv_buffer_t *buffer)
{
    return buffer->data.get() + buffer->offset;
}

// Makes room for needed bytes of content from the current offset on,
// moving the content to the start of the block (or of a new block) if
// necessary. On failure the buffer is unchanged.
bool make_room_at_end(qv_buffer_t *buffer, size_t needed)
{
    if (buffer->capacity - buffer->offset >= needed)
        return true;

    if (buffer->capacity < needed) {
        size_t capacity = grown_capacity(buffer->capacity, needed);
        block_t block = allocate_block(capacity);
        if (!block)
            return false;
        if (buffer->size > 0)
            std::memcpy(block.get(), content(buffer), buffer->size);
        buffer->data = std::move(block);
        buffer->capacity = capacity;
    } else {
        std::memmove(buffer->data.get(), content(buffer), buffer->size);
    }
    buffer->offset = 0;
    return true;
}

// Makes room for n bytes before the content, moving the content to the end
// of the block (or of a new block) if necessary. The caller has checked that
// size + n does not overflow. On failure the buffer is unchanged.
bool make_room_at_front(qv_buffer_t *buffer, size_t n)
{
    if (buffer->offset >= n)
        return true;

    size_t needed = buffer->size + n;
    if (buffer->capacity < needed) {
        size_t capacity = grown_capacity(buffer->capacity, needed);
        block_t block = allocate_block(capacity);
        if (!block)
            return false;
        if (buffer->size > 0)
            std::memcpy(block.get() + capacity - buffer->size, content(buffer), buffer->size);
        buffer->data = std::move(block);
        buffer->capacity = capacity;
    } else if (buffer->size > 0) {
        std::memmove(buffer->data.get() + buffer->capacity - buffer->size, content(buffer),
                     buffer->size);
    }
    buffer->offset = buffer->capacity - buffer->size;
    return true;
}

// The bytes to be added, copied aside when they lie within the buffer's own
// block, which the operation may move or release before they are copied.
class source_bytes {
public:
    bool prepare(const qv_buffer_t *buffer, const unsigned char *data, size_t n)
    {
        bytes_ = data;
        if (!buffer->data)
            return true;

        auto begin = reinterpret_cast<std::uintptr_t>(buffer->data.get());
        auto end = begin + buffer->capacity;
        auto first = reinterpret_cast<std::uintptr_t>(data);
        if (first >= end || first + n <= begin)
            return true;

        copy_ = allocate_block(n);
        if (!copy_)
            return false;
        std::memcpy(copy_.get(), data, n);
        bytes_ = copy_.get();
        return true;
    }

    const unsigned char *get() const { return bytes_; }

private:
    const unsigned char *bytes_ = nullptr;
    block_t copy_;
};

} // namespace

size_t qv_buffer_get_capacity(const qv_buffer_t *buffer)
{
    return buffer != nullptr ? buffer->capacity : 0;
}

size_t qv_buffer_get_offset(const qv_buffer_t *buffer)
{
    return buffer != nullptr ? buffer->offset : 0;
}

extern "C" {

qv_buffer_t *qv_buffer_new(size_t capacity)
{
    std::unique_ptr<qv_buffer_t> buffer(new (std::nothrow) qv_buffer_t());
    if (!buffer)
        return nullptr;

    if (capacity > 0) {
        buffer->data = allocate_block(capacity);
        if (!buffer->data)
            return nullptr;
        buffer->capacity = capacity;
    }

    return buffer.release();
}

void qv_buffer_free(qv_buffer_t *buffer)
{
    delete buffer;
}

int qv_buffer_clear(qv_buffer_t *buffer)
{
    if (buffer == nullptr)
        return 0;

    buffer->offset = 0;
    buffer->size = 0;
    return 1;
}

int qv_buffer_reserve(qv_buffer_t *buffer, size_t capacity)
{
    if (buffer == nullptr)
        return 0;

    if (buffer->capacity >= capacity)
        return 1;

    // The content keeps its place in the block, and with it the room before it.
    block_t block = allocate_block(capacity);
    if (!block)
        return 0;
    if (buffer->size > 0)
        std::memcpy(block.get() + buffer->offset, content(buffer), buffer->size);
    buffer->data = std::move(block);
    buffer->capacity = capacity;
    return 1;
}

int qv_buffer_resize(qv_buffer_t *buffer, size_t size)
{
    if (buffer == nullptr)
        return 0;

    if (!make_room_at_end(buffer, size))
        return 0;

    if (size > buffer->size)
        std::memset(content(buffer) + buffer->size, 0, size - buffer->size);
    buffer->size = size;
    return 1;
}

int qv_buffer_append(qv_buffer_t *buffer, const unsigned char *data, size_t size)
{
    if (buffer == nullptr)
        return 0;
    if (size == 0)
        return 1;
    if (data == nullptr || size > SIZE_MAX - buffer->size)
        return 0;

    source_bytes source;
    if (!source.prepare(buffer, data, size))
        return 0;

    if (!make_room_at_end(buffer, buffer->size + size))
        return 0;

    std::memcpy(content(buffer) + buffer->size, source.get(), size);
    buffer->size += size;
    return 1;
}

int qv_buffer_prepend(qv_buffer_t *buffer, const unsigned char *data, size_t size)
{
    if (buffer == nullptr)
        return 0;
    if (size == 0)
        return 1;
    if (data == nullptr || size > SIZE_MAX - buffer->size)
        return 0;

    source_bytes source;
    if (!source.prepare(buffer, data, size))
        return 0;

    if (!make_room_at_front(buffer, size))
        return 0;

    buffer->offset -= size;
    buffer->size += size;
    std::memcpy(content(buffer), source.get(), size);
    return 1;
}

int qv_buffer_insert(qv_buffer_t *buffer, size_t offset, const unsigned char *data, size_t size)
{
    if (buffer == nullptr || offset > buffer->size)
        return 0;
    if (size == 0)
        return 1;
    if (data == nullptr || size > SIZE_MAX - buffer->size)
        return 0;

    source_bytes source;
    if (!source.prepare(buffer, data, size))
        return 0;

    unsigned char *block = buffer->data.get();
    size_t head = offset;              // content bytes before the insertion point
    size_t tail = buffer->size - head; // content bytes from the insertion point on

    if (buffer->offset >= size) {
        // Room before the content: the head moves towards the start.
        if (head > 0)
            std::memmove(block + buffer->offset - size, block + buffer->offset, head);
        buffer->offset -= size;
    } else if (buffer->capacity - buffer->offset - buffer->size >= size) {
        // Room after the content: the tail moves back.
        if (tail > 0)
            std::memmove(block + buffer->offset + head + size, block + buffer->offset + head, tail);
    } else if (buffer->capacity < buffer->size + size) {
        // A bigger block, with the gap left between head and tail.
        size_t capacity = grown_capacity(buffer->capacity, buffer->size + size);
        block_t grown = allocate_block(capacity);
        if (!grown)
            return 0;
        if (head > 0)
            std::memcpy(grown.get(), block + buffer->offset, head);
        if (tail > 0)
            std::memcpy(grown.get() + head + size, block + buffer->offset + head, tail);
        buffer->data = std::move(grown);
        buffer->capacity = capacity;
        buffer->offset = 0;
    } else {
        // The block is big enough but its free room is split around the
        // content: the head goes to the start of the block, the tail after
        // the gap.
        if (head > 0)
            std::memmove(block, block + buffer->offset, head);
        if (tail > 0)
            std::memmove(block + head + size, block + buffer->offset + head, tail);
        buffer->offset = 0;
    }

    std::memcpy(content(buffer) + head, source.get(), size);
    buffer->size += size;
    return 1;
}

int qv_buffer_slice(qv_buffer_t *buffer, size_t offset, size_t size)
{
    if (buffer == nullptr)
        return 0;
    if (offset > buffer->size || size > buffer->size - offset)
        return 0;

    buffer->offset += offset;
    buffer->size = size;
    return 1;
}

size_t qv_buffer_get_size(const qv_buffer_t *buffer)
{
    return buffer != nullptr ? buffer->size : 0;
}

unsigned char *qv_buffer_get_data(const qv_buffer_t *buffer)
{
    if (buffer == nullptr || buffer->size == 0)
        return nullptr;
    return buffer->data.get() + buffer->offset;
}

} // extern "C"
