#include "host/host_clock.h"

#include "platform/win32.h"

std::int64_t ClockTicks() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::int64_t ClockTicksPerSecond() {
    static const std::int64_t frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return value.QuadPart > 0 ? value.QuadPart : 1;
    }();
    return frequency;
}

double TicksToMs(std::int64_t ticks) {
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(ClockTicksPerSecond());
}
