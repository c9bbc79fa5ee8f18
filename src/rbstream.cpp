#include "rbstream.h"

#include "context-private.h"
#include "device-private.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Hands out the bytes below the read position, filling data from its end.
qv_status_t read_backward(qv_rbstream_t *rbstream, qv_event_progress_t *progress, unsigned char *data,
                          size_t size)
{
    size_t nbytes = 0; // bytes already at the end of data
    while (nbytes < size) {
        if (rbstream->available == 0) {
            if (rbstream->address == rbstream->begin)
                rbstream->address = rbstream->end;

            // A packet that would reach below begin is read from begin on;
            // only the part below the fetch address counts.
            unsigned int start = rbstream->address - rbstream->packetsize;
            unsigned int kept = rbstream->packetsize;
            if (rbstream->address - rbstream->begin < rbstream->packetsize) {
                start = rbstream->begin;
                kept = rbstream->address - rbstream->begin;
            }

            qv_status_t status = qv_device_read(rbstream->device, start, rbstream->cache.get(), rbstream->packetsize);
            if (status != QV_STATUS_SUCCESS)
                return status;

            // The bytes beyond the start address are the highest of the
            // first packet: they are dropped by not counting them.
            rbstream->address -= kept;
            rbstream->available = kept - rbstream->skip;
            rbstream->skip = 0;
        }

        size_t missing = size - nbytes;
        size_t count = 0;
        if (missing >= rbstream->available) {
            count = rbstream->available;
            std::memcpy(data + (missing - count), rbstream->cache.get(), count);
            rbstream->available = 0;
        } else {
            count = missing;
            std::memcpy(data, rbstream->cache.get() + (rbstream->available - count), count);
            rbstream->available -= static_cast<unsigned int>(count);
        }
        nbytes += count;

        if (progress != nullptr) {
            progress->current += static_cast<uint32_t>(count);
            qv_device_event(rbstream->device, QV_EVENT_PROGRESS, progress);
        }
    }

    return QV_STATUS_SUCCESS;
}

// Hands out the bytes from the read position on, filling data from its start.
qv_status_t read_forward(qv_rbstream_t *rbstream, qv_event_progress_t *progress, unsigned char *data,
                         size_t size)
{
    size_t nbytes = 0;
    while (nbytes < size) {
        if (rbstream->available == 0) {
            if (rbstream->address == rbstream->end)
                rbstream->address = rbstream->begin;

            // A packet that would pass end is the last packet of the region;
            // only the part from the fetch address on counts.
            unsigned int start = rbstream->address;
            unsigned int kept = rbstream->packetsize;
            if (rbstream->end - rbstream->address < rbstream->packetsize) {
                start = rbstream->end - rbstream->packetsize;
                kept = rbstream->end - rbstream->address;
            }

            qv_status_t status = qv_device_read(rbstream->device, start, rbstream->cache.get(), rbstream->packetsize);
            if (status != QV_STATUS_SUCCESS)
                return status;

            rbstream->offset = (rbstream->address - start) + rbstream->skip;
            rbstream->address += kept;
            rbstream->available = kept - rbstream->skip;
            rbstream->skip = 0;
        }

        size_t count = std::min<size_t>(rbstream->available, size - nbytes);
        std::memcpy(data + nbytes, rbstream->cache.get() + rbstream->offset, count);
        rbstream->offset += static_cast<unsigned int>(count);
        rbstream->available -= static_cast<unsigned int>(count);
        nbytes += count;

        if (progress != nullptr) {
            progress->current += static_cast<uint32_t>(count);
            qv_device_event(rbstream->device, QV_EVENT_PROGRESS, progress);
        }
    }

    return QV_STATUS_SUCCESS;
}

} // namespace

qv_status_t qv_rbstream_new(qv_rbstream_t **out, qv_device_t *device, unsigned int pagesize,
                            unsigned int packetsize, unsigned int begin, unsigned int end,
                            unsigned int address, qv_rbstream_direction_t direction)
{
    if (out == nullptr)
        return QV_STATUS_INVALIDARGS;
    *out = nullptr;
    if (device == nullptr)
        return QV_STATUS_INVALIDARGS;

    qv_context_t *context = device->context;

    if (pagesize == 0 || packetsize == 0) {
        QV_ERROR(context, "Zero length page or packet size!");
        return QV_STATUS_INVALIDARGS;
    }
    if (packetsize % pagesize != 0) {
        QV_ERROR(context, "Packet size not a multiple of the page size!");
        return QV_STATUS_INVALIDARGS;
    }
    if (begin % pagesize != 0 || end % pagesize != 0) {
        QV_ERROR(context, "Ringbuffer not aligned to the page size!");
        return QV_STATUS_INVALIDARGS;
    }
    if (end < begin) {
        QV_ERROR(context, "Ringbuffer boundaries reversed!");
        return QV_STATUS_INVALIDARGS;
    }
    if (end - begin < packetsize) {
        QV_ERROR(context, "Packet size larger than the ringbuffer size!");
        return QV_STATUS_INVALIDARGS;
    }
    if (address < begin || address > end) {
        QV_ERROR(context, "Address outside the ringbuffer!");
        return QV_STATUS_INVALIDARGS;
    }

    auto *rbstream = new (std::nothrow) qv_rbstream_t();
    if (rbstream != nullptr)
        rbstream->cache.reset(new (std::nothrow) unsigned char[packetsize]);
    if (rbstream == nullptr || rbstream->cache == nullptr) {
        delete rbstream;
        QV_ERROR(context, "Failed to allocate memory.");
        return QV_STATUS_NOMEMORY;
    }

    rbstream->device = device;
    rbstream->direction = direction;
    rbstream->pagesize = pagesize;
    rbstream->packetsize = packetsize;
    rbstream->begin = begin;
    rbstream->end = end;

    // Fetches start on a page boundary: at or above the start address going
    // backward, at or below it going forward. The remainder is skipped.
    if (direction == QV_RBSTREAM_BACKWARD) {
        unsigned int remainder = address % pagesize;
        unsigned int aligned = remainder == 0 ? address : address + (pagesize - remainder);
        rbstream->address = aligned;
        rbstream->skip = aligned - address;
    } else {
        unsigned int aligned = address - address % pagesize;
        rbstream->address = aligned;
        rbstream->skip = address - aligned;
    }
    rbstream->available = 0;
    rbstream->offset = 0;

    *out = rbstream;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_rbstream_read(qv_rbstream_t *rbstream, qv_event_progress_t *progress, unsigned char *data,
                             size_t size)
{
    if (rbstream == nullptr || (data == nullptr && size != 0))
        return QV_STATUS_INVALIDARGS;

    if (rbstream->direction == QV_RBSTREAM_BACKWARD)
        return read_backward(rbstream, progress, data, size);
    return read_forward(rbstream, progress, data, size);
}

qv_status_t qv_rbstream_free(qv_rbstream_t *rbstream)
{
    delete rbstream;
    return QV_STATUS_SUCCESS;
}
