// The Windows high-resolution performance counter as the timing logic's tick source.
#pragma once

#include "timing.h"

class PerformanceCounter final : public typrova::TickSource {
public:
    std::int64_t frequency() const override;
    std::int64_t now() const override;
};
