#include "suunto_common.h"

#include "array.h"
#include "ringbuffer.h"

#include <cassert>
#include <cstring>
#include <memory>
#include <new>

const suunto_common_layout_t suunto_vyper_layout = {
    0x51,   // eop_pointer
    0x71,   // rb_begin
    0x2000, // rb_end
    9,      // fp_offset
    5,      // marker_lookback
};

const suunto_common_layout_t suunto_spyder_layout = {
    0x1C,   // eop_pointer
    0x4C,   // rb_begin
    0x2000, // rb_end
    6,      // fp_offset
    3,      // marker_lookback
};

void suunto_common_device_init(suunto_common_device_t *device)
{
    assert(device != nullptr);
    device->fingerprint.fill(0);
}

qv_status_t suunto_common_device_set_fingerprint(qv_device_t *abstract, const unsigned char *data, unsigned int size)
{
    auto *device = static_cast<suunto_common_device_t *>(abstract);

    if (size != 0 && size != device->fingerprint.size())
        return QV_STATUS_INVALIDARGS;

    if (size != 0)
        std::memcpy(device->fingerprint.data(), data, device->fingerprint.size());
    else
        device->fingerprint.fill(0);

    return QV_STATUS_SUCCESS;
}

qv_status_t suunto_common_extract_dives(suunto_common_device_t *device, const suunto_common_layout_t &layout,
                                        const unsigned char *data, size_t size, qv_dive_callback_t callback,
                                        void *userdata)
{
    assert(layout.rb_end > layout.rb_begin);
    assert(callback != nullptr);

    qv_context_t *context = device != nullptr ? device->context : nullptr;

    // The image must hold the whole ring and the pointer.
    if (data == nullptr || size < layout.rb_end || (layout.eop_pointer != 0 && size < layout.eop_pointer + 2)) {
        QV_ERROR(context, "Memory image too small for the layout.");
        return QV_STATUS_INVALIDARGS;
    }

    const unsigned int begin = layout.rb_begin;
    const unsigned int end = layout.rb_end;
    const unsigned int rb_size = end - begin;

    // The end of the profile data.
    unsigned int eop = 0;
    if (layout.eop_pointer != 0) {
        eop = qv_array_uint16_be(data + layout.eop_pointer);
    } else {
        eop = begin;
        while (eop < end && data[eop] != SUUNTO_COMMON_END_OF_PROFILE)
            eop++;
    }

    if (eop < begin || eop >= end || data[eop] != SUUNTO_COMMON_END_OF_PROFILE) {
        QV_ERROR(context, "Invalid ringbuffer pointer detected (0x%04x).", eop);
        return QV_STATUS_DATAFORMAT;
    }

    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[rb_size]);
    if (buffer == nullptr) {
        QV_ERROR(context, "Failed to allocate memory.");
        return QV_STATUS_NOMEMORY;
    }

    unsigned int current = eop;
    unsigned int previous = eop;
    for (unsigned int i = 0; i < rb_size; ++i) {
        current = qv_ringbuffer_decrement(current, 1, begin, end);
        if (data[current] == SUUNTO_COMMON_END_OF_PROFILE)
            return QV_STATUS_SUCCESS;

        unsigned int marker = qv_ringbuffer_decrement(current, layout.marker_lookback, begin, end);
        if (data[marker] != SUUNTO_COMMON_END_OF_DIVE)
            continue;

        // A dive runs from current up to the start of the newer one.
        unsigned int length = qv_ringbuffer_distance(current, previous, QV_RINGBUFFER_EMPTY, begin, end);
        if (current + length > end) {
            unsigned int a = end - current;
            unsigned int b = length - a;
            std::memcpy(buffer.get(), data + current, a);
            std::memcpy(buffer.get() + a, data + begin, b);
        } else {
            std::memcpy(buffer.get(), data + current, length);
        }

        // The fingerprint is cut from the dive itself: a dive too short to
        // hold it cannot be a record of this layout.
        if (length < layout.fp_offset + SUUNTO_COMMON_FINGERPRINT_SIZE) {
            QV_ERROR(context, "Dive too short for its fingerprint (%u bytes).", length);
            return QV_STATUS_DATAFORMAT;
        }

        const unsigned char *fingerprint = buffer.get() + layout.fp_offset;
        if (device != nullptr &&
            std::memcmp(fingerprint, device->fingerprint.data(), SUUNTO_COMMON_FINGERPRINT_SIZE) == 0)
            return QV_STATUS_SUCCESS;

        if (!callback(buffer.get(), length, fingerprint, SUUNTO_COMMON_FINGERPRINT_SIZE, userdata))
            return QV_STATUS_SUCCESS;

        previous = current;
    }

    QV_ERROR(context, "No end of profile marker found.");
    return QV_STATUS_DATAFORMAT;
}
