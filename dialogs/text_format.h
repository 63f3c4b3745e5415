// The Sound Info dialog's numbers as text. Each formatter returns a pointer
// into its own static buffer, which its next call overwrites.
#pragma once

#include "catalogue/track_record.h"

#include <cstdint>

// Every digit of any 64-bit value, and the terminator.
constexpr int kDecimalBufferBytes = 21;
// "mm:ss" with as many minutes as the largest track size gives (7 digits).
constexpr int kDurationBufferBytes = 16;

// The value's decimal digits, at least one.
const char* FormatDecimal(std::uint64_t value);

// The track's playing time as mm:ss, estimated from its size and rate;
// minutes take more than two digits when they need them. "--:--" for a
// rate below 100 Hz, where the estimate has no meaning.
const char* FormatDuration(const TrackRecord& record);

// Seconds of PCM in a track, estimated from its compressed size: 130 bytes of
// the archive make 5120 bytes of 16-bit mono PCM. Needs a rate of 100 Hz or
// more.
std::uint64_t EstimatedSeconds(std::uint32_t size, std::uint16_t sample_rate);
