// Pieces shared by the older Suunto backends (Vyper family, Eon): the 5-byte
// fingerprint cut from each dive record, the memory layout of a profile ring
// buffer, and the extraction of the dives from a memory image of that ring.
#ifndef QV_SUUNTO_COMMON_H
#define QV_SUUNTO_COMMON_H

#include <libquivelmarine/device.h>

#include "device-private.h"

#include <array>
#include <cstddef>
#include <cstdint>

// Length of the fingerprint: the 5 date bytes of a dive record.
inline constexpr unsigned int SUUNTO_COMMON_FINGERPRINT_SIZE = 5;

// Byte that ends each dive record in the ring, and byte that follows the
// newest dive (the end of the profile data).
inline constexpr unsigned char SUUNTO_COMMON_END_OF_DIVE = 0x80;
inline constexpr unsigned char SUUNTO_COMMON_END_OF_PROFILE = 0x82;

// Where a model keeps its profile ring buffer and how its dives are found.
struct suunto_common_layout_t {
    // Address of the 16-bit big-endian end-of-profile pointer; 0 when the
    // model has none and the end-of-profile byte is searched for instead.
    uint32_t eop_pointer;
    // The ring buffer [rb_begin, rb_end).
    uint32_t rb_begin;
    uint32_t rb_end;
    // Offset of the 5 fingerprint bytes inside one dive record.
    uint32_t fp_offset;
    // How many bytes before a dive's first byte the end-of-dive marker of
    // the preceding (older) record lies.
    uint32_t marker_lookback;
};

// The Vyper family (every model but the Spyder) and the Spyder.
extern const suunto_common_layout_t suunto_vyper_layout;
extern const suunto_common_layout_t suunto_spyder_layout;

// The device record part shared by the Suunto backends that use 5-byte
// fingerprints. A backend's record derives from it.
struct suunto_common_device_t : qv_device_t {
    std::array<unsigned char, SUUNTO_COMMON_FINGERPRINT_SIZE> fingerprint = {};
};

// Clears the fingerprint; called right after the record is allocated.
void suunto_common_device_init(suunto_common_device_t *device);

// The set_fingerprint operation of these backends (device must derive from
// suunto_common_device_t): size 0 clears the fingerprint, size 5 copies the
// bytes, any other size is QV_STATUS_INVALIDARGS.
qv_status_t suunto_common_device_set_fingerprint(qv_device_t *device, const unsigned char *data,
                                                 unsigned int size);

// Hands the dives stored in the ring buffer of a memory image to callback,
// newest first. Dives are told apart by the end-of-dive marker that lies
// layout.marker_lookback bytes before each dive's first byte; the newest
// dive is followed by the end-of-profile byte, found through the layout's
// pointer or by searching the ring.
//
// device may be nullptr; when given, the walk stops (with success, that dive
// not delivered) at the dive whose fingerprint equals the device's. A zero
// return of callback also ends the walk with success.
//
// Returns QV_STATUS_INVALIDARGS when data (size bytes) does not cover the
// layout's ring buffer and pointer; QV_STATUS_DATAFORMAT when the
// end-of-profile position is not inside the ring or does not hold the
// end-of-profile byte, when a dive is too short to hold its fingerprint, or
// when the walk went round the whole ring without meeting an end-of-profile
// byte; QV_STATUS_NOMEMORY.
qv_status_t suunto_common_extract_dives(suunto_common_device_t *device, const suunto_common_layout_t &layout,
                                        const unsigned char *data, size_t size, qv_dive_callback_t callback,
                                        void *userdata);

#endif
