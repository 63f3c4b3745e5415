// Decimal numbers and mm:ss durations for the Sound Info dialog.
#include "dialogs/text_format.h"
#include "decoder/track_stream.h"

namespace {

// Writes the digits of `value`, at least `min_digits` of them, backwards in
// front of `end` and returns the first one.
char* DigitsBefore(char* end, std::uint64_t value, int min_digits) {
    int written = 0;
    do {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
        ++written;
    } while (value != 0 || written < min_digits);
    return end;
}

} // namespace

const char* FormatDecimal(std::uint64_t value) {
    static char buffer[kDecimalBufferBytes];
    char* end = buffer + kDecimalBufferBytes - 1;
    *end = '\0';
    return DigitsBefore(end, value, 1);
}

std::uint64_t EstimatedSeconds(std::uint32_t size, std::uint16_t sample_rate) {
    // 64 bits: (size / 130) * 5120 leaves 32 bits from 109051930 bytes on.
    std::uint64_t pcm_bytes = static_cast<std::uint64_t>(size / 130) * 5120;
    std::uint64_t bytes_per_10ms = (sample_rate / 100u) * 2u;
    return pcm_bytes / bytes_per_10ms / 1000;
}

const char* FormatDuration(const TrackRecord& record) {
    static char buffer[kDurationBufferBytes];
    if (record.sample_rate < kLowestSampleRate)
        return "--:--";
    std::uint64_t seconds = EstimatedSeconds(record.size, record.sample_rate);
    char* end = buffer + kDurationBufferBytes - 1;
    *end = '\0';
    char* start = DigitsBefore(end, seconds % 60, 2);
    *--start = ':';
    return DigitsBefore(start, seconds / 60, 2);
}
