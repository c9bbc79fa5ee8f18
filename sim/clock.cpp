#include "clock.h"

#include <limits>

namespace qvsim {

void Clock::advance(uint64_t ms)
{
    // Saturate rather than wrap around: "forever" stays in the future.
    if (ms > std::numeric_limits<uint64_t>::max() - now_)
        now_ = std::numeric_limits<uint64_t>::max();
    else
        now_ += ms;
}

void Clock::advance_to(uint64_t t)
{
    if (t > now_)
        now_ = t;
}

} // namespace qvsim
