// Helper shared by the timing tests: a compact way to write a timing table.
#pragma once

#include "timing.h"

#include <initializer_list>

namespace typrova::test {

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
