// Address arithmetic on a ring buffer: a device memory region [begin, end)
// written cyclically, as many dive computers keep their profiles. Every
// function requires end > begin (checked by an assertion); addresses
// outside the region are first mapped into it cyclically.
#ifndef QV_RINGBUFFER_H
#define QV_RINGBUFFER_H

// How a distance of 0 is read: an empty ring (0) or a full one (the
// region's length).
enum qv_ringbuffer_mode_t {
    QV_RINGBUFFER_EMPTY = 0,
    QV_RINGBUFFER_FULL = 1,
};

// Maps any address into [begin, end) cyclically (so end maps to begin).
unsigned int qv_ringbuffer_normalize(unsigned int a, unsigned int begin, unsigned int end);

// Bytes from a forward to b around the ring, in [0, end - begin); when a and
// b are the same position, 0 for QV_RINGBUFFER_EMPTY and end - begin for
// QV_RINGBUFFER_FULL.
unsigned int qv_ringbuffer_distance(unsigned int a, unsigned int b, qv_ringbuffer_mode_t mode,
                                    unsigned int begin, unsigned int end);

// The address delta bytes after a, within [begin, end).
unsigned int qv_ringbuffer_increment(unsigned int a, unsigned int delta, unsigned int begin, unsigned int end);

// The address delta bytes before a, within [begin, end).
unsigned int qv_ringbuffer_decrement(unsigned int a, unsigned int delta, unsigned int begin, unsigned int end);

#endif
