// The virtual clock of memory streams: milliseconds that only move when the
// host waits (a read or poll that needs more data, a sleep).
#ifndef QVSIM_CLOCK_H
#define QVSIM_CLOCK_H

#include <cstdint>

namespace qvsim {

class Clock {
public:
    explicit Clock(uint64_t start_ms = 0) : now_(start_ms) {}

    // The current virtual time in milliseconds.
    uint64_t now() const { return now_; }

    // Moves the clock forward by ms.
    void advance(uint64_t ms);

    // Moves the clock to time t; a time in the past leaves it unchanged
    // (the clock never runs backwards).
    void advance_to(uint64_t t);

private:
    uint64_t now_;
};

} // namespace qvsim

#endif
