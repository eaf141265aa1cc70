// Helpers shared by the timing tests: a key-event driver over a fake counter, and a compact way
// to write a timing table.
#pragma once

#include "timing.h"

#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace typrova::test {

// Drives one TimingState the way the two capture fields do, with times given in milliseconds
// on a 10 MHz counter.
struct KeyRig {
    static constexpr std::int64_t kFrequency = 10'000'000;

    TimingState clock;
    TimingSlots entered;
    TimingSlots reentered;

    KeyRig() { clock.start(kFrequency, 0); }

    static std::int64_t ticks(double ms)
    {
        return static_cast<std::int64_t>(std::llround(ms * (kFrequency / 1000)));
    }
    void press(double ms) { clock.stamp(ticks(ms)); }
    bool release(double ms, TimingSlots& slots, std::size_t lengthAfter)
    {
        clock.stamp(ticks(ms));
        return clock.recordRelease(slots, lengthAfter);
    }
};

// Builds a table from values for key positions 1, 2, ... (slot 0 stays 0.0).
inline TimingSlots table(std::initializer_list<double> pressed,
                         std::initializer_list<double> intervals = {})
{
    TimingSlots slots;
    std::size_t i = 1;
    for (double v : pressed)
        slots.pressed.at(i++) = v;
    i = 1;
    for (double v : intervals)
        slots.intervals.at(i++) = v;
    return slots;
}

} // namespace typrova::test
