// The host's one clock: the performance counter, read as milliseconds.
#pragma once

#include <cstdint>

// Ticks of the performance counter, and how many make a second.
std::int64_t ClockTicks();
std::int64_t ClockTicksPerSecond();

// Milliseconds between two readings of ClockTicks.
double TicksToMs(std::int64_t ticks);

// Milliseconds since `since` (a reading of ClockTicks).
inline double MsSince(std::int64_t since) {
    return TicksToMs(ClockTicks() - since);
}
