// Dives of the Suunto Vyper family, described and encoded in the device's
// own record format (forward byte order, as the download hands them to the
// parser).
//
// Record layout written by encode():
//
//   offset 0-2   0 (not used by the parser)
//   offset 3     sample interval in seconds
//   offset 4     flags: 0x40 gauge mode, bits 0-3 the conservatism setting
//   offset 5     tank pressure at the start, in units of 2 bar
//   offset 6     oxygen percentage of the first mix (0: air)
//   offset 7     0 (not used by the parser)
//   offset 8     surface temperature, signed, degrees Celsius
//   offset 9-13  year (value below 90: 2000 + value, else 1900 + value),
//                month, day, hour, minute; these five bytes are also the
//                download's fingerprint
//   offset 14..  the profile: one signed byte per sample period (depth
//                change in feet, never in 0x79-0x87), event codes 0x79-0x86
//                between them, 0x87 followed by the new mix's oxygen %
//   M            0x80, the end-of-dive marker
//   M+1          minimum temperature, signed, degrees Celsius
//   M+2          0
//   M+3          tank pressure at the end, in units of 2 bar
//   M+4          0
//
// The trailer is exactly four bytes: in the device's profile ring the first
// byte of the next (newer) dive lies five bytes after this dive's 0x80.
//
// The device's ring also uses 0x80 (end of a dive) and 0x82 (end of the
// profile) as markers while it walks backwards; the header and trailer
// bytes are stored as given, so a description whose pressures or
// temperatures encode to those values can confuse such a walk. The built-in
// logbook avoids them.
#ifndef QVSIM_SUUNTO_VYPER_DIVES_H
#define QVSIM_SUUNTO_VYPER_DIVES_H

#include <cstdint>
#include <vector>

namespace qvsim::vyper {

// Event codes of the profile stream.
inline constexpr uint8_t EVENT_ASCENT = 0x7A;     // ascent too fast
inline constexpr uint8_t EVENT_VIOLATION = 0x7B;  // decompression violation
inline constexpr uint8_t EVENT_BOOKMARK = 0x7C;   // the diver pressed the button
inline constexpr uint8_t EVENT_SURFACE = 0x7D;    // surfaced during the dive
inline constexpr uint8_t EVENT_DECOSTOP = 0x7E;   // decompression stop required
inline constexpr uint8_t EVENT_CEILING = 0x7F;    // ceiling broken
inline constexpr uint8_t EVENT_SAFETYSTOP = 0x81; // safety stop
inline constexpr uint8_t EVENT_GASCHANGE = 0x87;  // followed by the oxygen %; use gas()
inline constexpr uint8_t END_MARKER = 0x80;       // end of the profile: never an event

// The largest depth change one profile byte carries, up or down, in feet:
// 121 and more (and -121 and less) would fall into the event codes.
inline constexpr int MAX_DEPTH_STEP = 120;

// One element of a dive profile.
struct Step {
    enum class Kind : uint8_t {
        depth, // value: depth change in feet (signed), over one or more sample periods
        event, // value: event code, written as one byte
        gas,   // value: oxygen percentage of the mix switched to
    };

    Kind kind = Kind::depth;
    int value = 0;

    bool operator==(const Step &) const = default;
};

// A depth change of feet (positive: deeper). One byte, that is one sample
// period, when |feet| <= MAX_DEPTH_STEP; a larger change is split into as
// few bytes as possible, every byte but the last carrying +-MAX_DEPTH_STEP
// (so it takes that many sample periods). depth(0) is one period without
// change.
Step depth(int feet);

// n sample periods at the same depth (n depth(0) steps).
std::vector<Step> hold(unsigned int periods);

// An event code (EVENT_*, or any other byte for hand-made records: 0x80
// would end the profile early, a bare 0x87 takes the next byte as its mix).
Step event(uint8_t code);

// A switch to the mix with oxygen percentage o2 (0x87, o2).
Step gas(uint8_t o2);

// What one dive looks like to the diver.
struct Dive {
    // Start of the dive, device local time. year must be 1990-2089.
    int year = 2024;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;

    uint8_t interval = 20;    // seconds per sample period
    bool gauge = false;       // gauge (bottom timer) mode
    uint8_t conservatism = 0; // bits 0-3 of the flags byte as stored (0-15)

    unsigned int start_pressure = 0; // bar, stored in units of 2 (0: not recorded)
    unsigned int end_pressure = 0;   // bar, stored in units of 2 (0: not recorded)
    uint8_t o2 = 0;                  // oxygen % of the first mix; 0 means air

    int8_t surface_temperature = 0; // degrees Celsius
    int8_t minimum_temperature = 0; // degrees Celsius

    std::vector<Step> profile;
};

// The dive record as the parser receives it (see the layout above).
std::vector<uint8_t> encode(const Dive &dive);

// The profile bytes alone (offset 14 up to, not including, the 0x80).
std::vector<uint8_t> encode_profile(const std::vector<Step> &profile);

// A few realistic dives, oldest first: varied depths from 12 to 40 m, a
// multi-level dive, a switch to a second nitrox mix, ascent warnings,
// safety stops, bookmarks and a decompression stop. The simulator stores
// them in its profile ring, the tests decode them.
std::vector<Dive> builtin_logbook();

} // namespace qvsim::vyper

#endif
