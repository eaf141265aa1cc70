// QueryPerformanceFrequency / QueryPerformanceCounter behind the TickSource interface.
#include "perf_counter.h"

#include <windows.h>

std::int64_t PerformanceCounter::frequency() const
{
    LARGE_INTEGER ticks{};
    return QueryPerformanceFrequency(&ticks) ? ticks.QuadPart : 0;
}

std::int64_t PerformanceCounter::now() const
{
    LARGE_INTEGER ticks{};
    QueryPerformanceCounter(&ticks);
    return ticks.QuadPart;
}
