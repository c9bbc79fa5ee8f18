#include "suunto_vyper_dives.h"

#include <algorithm>
#include <cstdlib>

namespace qvsim::vyper {

namespace {

// Header offsets.
constexpr size_t OFFSET_INTERVAL = 3;
constexpr size_t OFFSET_FLAGS = 4;
constexpr size_t OFFSET_PRESSURE = 5;
constexpr size_t OFFSET_O2 = 6;
constexpr size_t OFFSET_TEMPERATURE = 8;
constexpr size_t OFFSET_YEAR = 9;
constexpr size_t HEADER_SIZE = 14;
constexpr size_t TRAILER_SIZE = 4;

constexpr uint8_t FLAG_GAUGE = 0x40;

// A tank pressure in bar as the device stores it: units of 2 bar in one byte.
uint8_t pressure_byte(unsigned int bar)
{
    return static_cast<uint8_t>(std::min(bar / 2, 255u));
}

// Profile builders for the logbook: a depth change spread over sample
// periods of at most rate feet each.
void move(std::vector<Step> &profile, int feet, int rate)
{
    int sign = feet < 0 ? -1 : 1;
    int left = std::abs(feet);
    while (left > 0) {
        int step = std::min(left, rate);
        profile.push_back(depth(sign * step));
        left -= step;
    }
}

void add(std::vector<Step> &profile, const std::vector<Step> &steps)
{
    profile.insert(profile.end(), steps.begin(), steps.end());
}

// periods of sample periods near one depth: the diver drifts a few feet up
// and down (the pattern sums to zero, so the depth is the same afterwards).
void bottom(std::vector<Step> &profile, unsigned int periods)
{
    static constexpr int drift[] = {1, 0, 1, -1, 0, -1, 2, 0, -2, 0, 1, -1};
    constexpr unsigned int pattern = sizeof(drift) / sizeof(drift[0]);
    unsigned int full = periods / pattern * pattern;
    for (unsigned int i = 0; i < full; i++)
        profile.push_back(depth(drift[i % pattern]));
    add(profile, hold(periods - full));
}

} // namespace

Step depth(int feet)
{
    return Step{Step::Kind::depth, feet};
}

std::vector<Step> hold(unsigned int periods)
{
    return std::vector<Step>(periods, depth(0));
}

Step event(uint8_t code)
{
    return Step{Step::Kind::event, code};
}

Step gas(uint8_t o2)
{
    return Step{Step::Kind::gas, o2};
}

std::vector<uint8_t> encode_profile(const std::vector<Step> &profile)
{
    std::vector<uint8_t> bytes;
    for (const Step &step : profile) {
        switch (step.kind) {
        case Step::Kind::depth: {
            // Whole bytes of +-MAX_DEPTH_STEP first, then the rest: no byte
            // ever lands in the event codes 0x79-0x87.
            int left = step.value;
            while (std::abs(left) > MAX_DEPTH_STEP) {
                int part = left < 0 ? -MAX_DEPTH_STEP : MAX_DEPTH_STEP;
                bytes.push_back(static_cast<uint8_t>(static_cast<int8_t>(part)));
                left -= part;
            }
            bytes.push_back(static_cast<uint8_t>(static_cast<int8_t>(left)));
            break;
        }
        case Step::Kind::event:
            bytes.push_back(static_cast<uint8_t>(step.value));
            break;
        case Step::Kind::gas:
            bytes.push_back(EVENT_GASCHANGE);
            bytes.push_back(static_cast<uint8_t>(step.value));
            break;
        }
    }
    return bytes;
}

std::vector<uint8_t> encode(const Dive &dive)
{
    std::vector<uint8_t> record(HEADER_SIZE, 0);
    record[OFFSET_INTERVAL] = dive.interval;
    record[OFFSET_FLAGS] = static_cast<uint8_t>((dive.gauge ? FLAG_GAUGE : 0) | (dive.conservatism & 0x0F));
    record[OFFSET_PRESSURE] = pressure_byte(dive.start_pressure);
    record[OFFSET_O2] = dive.o2;
    record[OFFSET_TEMPERATURE] = static_cast<uint8_t>(dive.surface_temperature);
    // Two-digit years: 90-99 are the 1990s, 00-89 the years 2000-2089.
    record[OFFSET_YEAR + 0] = static_cast<uint8_t>(((dive.year % 100) + 100) % 100);
    record[OFFSET_YEAR + 1] = static_cast<uint8_t>(dive.month);
    record[OFFSET_YEAR + 2] = static_cast<uint8_t>(dive.day);
    record[OFFSET_YEAR + 3] = static_cast<uint8_t>(dive.hour);
    record[OFFSET_YEAR + 4] = static_cast<uint8_t>(dive.minute);

    std::vector<uint8_t> profile = encode_profile(dive.profile);
    record.insert(record.end(), profile.begin(), profile.end());

    record.push_back(END_MARKER);
    uint8_t trailer[TRAILER_SIZE] = {static_cast<uint8_t>(dive.minimum_temperature), 0,
                                     pressure_byte(dive.end_pressure), 0};
    record.insert(record.end(), trailer, trailer + TRAILER_SIZE);
    return record;
}

std::vector<Dive> builtin_logbook()
{
    std::vector<Dive> dives;

    // A house-reef dive on air to 18 m (59 ft) with a bookmark on the
    // bottom and a safety stop at 15 ft.
    {
        Dive dive;
        dive.year = 1998;
        dive.month = 8;
        dive.day = 14;
        dive.hour = 9;
        dive.minute = 42;
        dive.interval = 20;
        dive.start_pressure = 200;
        dive.end_pressure = 70;
        dive.surface_temperature = 27;
        dive.minimum_temperature = 24;
        auto &p = dive.profile;
        move(p, 59, 20);
        bottom(p, 24);
        p.push_back(event(EVENT_BOOKMARK));
        bottom(p, 12);
        move(p, -44, 10);
        p.push_back(event(EVENT_SAFETYSTOP));
        add(p, hold(9));
        move(p, -15, 10);
        dives.push_back(dive);
    }

    // A multi-level wall dive on nitrox 32: 30 m (98 ft), 20 m (66 ft),
    // 12 m (39 ft), with a too-fast ascent between the first two levels.
    {
        Dive dive;
        dive.year = 2023;
        dive.month = 6;
        dive.day = 10;
        dive.hour = 10;
        dive.minute = 5;
        dive.interval = 20;
        dive.conservatism = 3;
        dive.o2 = 32;
        dive.start_pressure = 210;
        dive.end_pressure = 50;
        dive.surface_temperature = 25;
        dive.minimum_temperature = 19;
        auto &p = dive.profile;
        move(p, 98, 25);
        bottom(p, 18);
        p.push_back(event(EVENT_ASCENT));
        p.push_back(depth(-22));
        move(p, -10, 10);
        bottom(p, 30);
        move(p, -27, 9);
        bottom(p, 36);
        p.push_back(event(EVENT_BOOKMARK));
        move(p, -24, 8);
        p.push_back(event(EVENT_SAFETYSTOP));
        add(p, hold(9));
        move(p, -15, 10);
        dives.push_back(dive);
    }

    // A deep wreck dive to 40 m (131 ft at the deepest) on nitrox 26, with a
    // decompression stop and a switch to nitrox 50 at 21 m (69 ft); the
    // device samples every 30 seconds.
    {
        Dive dive;
        dive.year = 2023;
        dive.month = 6;
        dive.day = 12;
        dive.hour = 8;
        dive.minute = 17;
        dive.interval = 30;
        dive.conservatism = 6;
        dive.o2 = 26;
        dive.start_pressure = 230;
        dive.end_pressure = 60;
        dive.surface_temperature = 24;
        dive.minimum_temperature = 16;
        auto &p = dive.profile;
        move(p, 129, 33);
        bottom(p, 24);
        p.push_back(event(EVENT_DECOSTOP));
        move(p, -60, 15);
        p.push_back(gas(50));
        bottom(p, 4);
        move(p, -49, 15);
        add(p, hold(8));
        p.push_back(event(EVENT_CEILING));
        add(p, hold(2));
        move(p, -5, 5);
        p.push_back(event(EVENT_SAFETYSTOP));
        add(p, hold(6));
        move(p, -15, 15);
        dives.push_back(dive);
    }

    // A shallow training dive to 12 m (40 ft) in gauge mode, no pressure
    // transmitter, the 1-minute log setting.
    {
        Dive dive;
        dive.year = 2024;
        dive.month = 2;
        dive.day = 3;
        dive.hour = 14;
        dive.minute = 30;
        dive.interval = 60;
        dive.gauge = true;
        dive.surface_temperature = 18;
        dive.minimum_temperature = 14;
        auto &p = dive.profile;
        move(p, 38, 38);
        p.push_back(event(EVENT_BOOKMARK));
        bottom(p, 24);
        p.push_back(event(EVENT_BOOKMARK));
        move(p, -38, 19);
        dives.push_back(dive);
    }

    return dives;
}

} // namespace qvsim::vyper
