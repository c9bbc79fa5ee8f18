// The ring-buffer stream reader: hands out the bytes of a device's ring
// buffer [begin, end) in reading order, backwards from the newest byte or
// forwards, while fetching device memory only in whole packets aligned to
// the device's page size, each packet once. Used by backends whose devices
// keep their dives in a ring; the backend owns the reader it created.
#ifndef QV_RBSTREAM_H
#define QV_RBSTREAM_H

#include <libquivelmarine/device.h>

#include <cstddef>
#include <memory>

enum qv_rbstream_direction_t {
    QV_RBSTREAM_FORWARD = 0,
    QV_RBSTREAM_BACKWARD = 1,
};

struct qv_rbstream_t {
    qv_device_t *device = nullptr;  // whose read operation fetches the memory
    qv_rbstream_direction_t direction = QV_RBSTREAM_FORWARD;
    unsigned int pagesize = 0;      // alignment of device reads
    unsigned int packetsize = 0;    // bytes per device read, a multiple of pagesize
    unsigned int begin = 0;         // the ring region [begin, end)
    unsigned int end = 0;
    unsigned int address = 0;       // next fetch: backward the end of the packet, forward its start
    unsigned int available = 0;     // bytes of the cached packet not handed out yet
    unsigned int offset = 0;        // forward: position of the next unread byte in the cache
    unsigned int skip = 0;          // bytes of the first packet beyond the start address, dropped
    std::unique_ptr<unsigned char[]> cache; // packetsize bytes
};

// Creates a reader over [begin, end) of device, starting at address (for a
// backward reader the first byte handed out is the one just below address,
// for a forward one the byte at address). Returns QV_STATUS_INVALIDARGS
// without out or device, and, with an error line, for a page or packet size
// of 0, a packet size that is not a multiple of the page size, region
// bounds not aligned to the page size, reversed bounds, a packet larger than
// the region, or an address outside [begin, end]; QV_STATUS_NOMEMORY when
// memory runs out. *out receives the reader, or nullptr on failure.
qv_status_t qv_rbstream_new(qv_rbstream_t **out, qv_device_t *device, unsigned int pagesize,
                            unsigned int packetsize, unsigned int begin, unsigned int end,
                            unsigned int address, qv_rbstream_direction_t direction);

// Fills data with the next size bytes in reading order, in ascending
// address order within the buffer (for a backward reader the last byte of
// the buffer is the one just below the previous read position). With a
// progress record, adds the bytes handed out to its current value and
// reports a progress event after each packet's share. QV_STATUS_INVALIDARGS
// without a reader (or without data for a size above 0); a failed device
// read is returned at once. Reading 0 bytes touches nothing.
qv_status_t qv_rbstream_read(qv_rbstream_t *rbstream, qv_event_progress_t *progress, unsigned char *data,
                             size_t size);

// Releases the reader; nullptr is accepted. Always QV_STATUS_SUCCESS.
qv_status_t qv_rbstream_free(qv_rbstream_t *rbstream);

#endif
