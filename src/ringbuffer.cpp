#include "ringbuffer.h"

#include <cassert>
#include <cstdint>

namespace {

// Maps a (possibly negative or beyond 32 bits) address into [begin, end).
unsigned int normalize(int64_t a, unsigned int begin, unsigned int end)
{
    const int64_t len = static_cast<int64_t>(end) - begin;
    int64_t offset = (a - begin) % len;
    if (offset < 0)
        offset += len;
    return static_cast<unsigned int>(begin + offset);
}

} // namespace

unsigned int qv_ringbuffer_normalize(unsigned int a, unsigned int begin, unsigned int end)
{
    assert(end > begin);
    return normalize(a, begin, end);
}

unsigned int qv_ringbuffer_distance(unsigned int a, unsigned int b, qv_ringbuffer_mode_t mode,
                                    unsigned int begin, unsigned int end)
{
    assert(end > begin);
    const unsigned int len = end - begin;

    // Compare positions on the ring, so that an address and the same
    // address one lap further (for instance end and begin) are 0 apart.
    unsigned int distance;
    if (b >= a)
        distance = (b - a) % len;
    else
        distance = (len - (a - b) % len) % len;

    if (distance == 0 && mode == QV_RINGBUFFER_FULL)
        return len;
    return distance;
}

unsigned int qv_ringbuffer_increment(unsigned int a, unsigned int delta, unsigned int begin, unsigned int end)
{
    assert(end > begin);
    const unsigned int len = end - begin;
    return normalize(static_cast<int64_t>(a) + delta % len, begin, end);
}

unsigned int qv_ringbuffer_decrement(unsigned int a, unsigned int delta, unsigned int begin, unsigned int end)
{
    assert(end > begin);
    const unsigned int len = end - begin;
    return normalize(static_cast<int64_t>(a) - delta % len, begin, end);
}
