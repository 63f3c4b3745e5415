// Fuzzes the Sound Info dialog's text formatters on arbitrary track records:
// the first 60 bytes are a TrackRecord in memory form (missing bytes are 0),
// the next 8, if present, a value for FormatDecimal. Each text must be
// terminated where the formatter's buffer ends, hold only the characters
// its format allows, and read back as the number it was made from.
#include "catalogue/track_record.h"
#include "decoder/track_stream.h"
#include "dialogs/text_format.h"
#include "fuzz/fuzz_scratch.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Parses a run of digits; false if it is empty, has another character, or
// does not fit 64 bits.
bool ParseDigits(const char* text, std::size_t length, std::uint64_t* value) {
    if (length == 0)
        return false;
    std::uint64_t parsed = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (!IsDigit(text[i]))
            return false;
        unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (parsed > (UINT64_MAX - digit) / 10)
            return false;
        parsed = parsed * 10 + digit;
    }
    *value = parsed;
    return true;
}

// Where the last text FormatDecimal returned ended; every text ends at the
// same terminator, the last byte of its buffer.
const char* decimal_end = nullptr;

void CheckDecimal(std::uint64_t value) {
    const char* text = FormatDecimal(value);
    FUZZ_CHECK(text != nullptr);
    const std::size_t length = std::strlen(text);
    FUZZ_CHECK(length >= 1 && length < static_cast<std::size_t>(kDecimalBufferBytes));
    FUZZ_CHECK(length == 1 || text[0] != '0'); // no leading zeros
    std::uint64_t parsed = 0;
    FUZZ_CHECK(ParseDigits(text, length, &parsed));
    FUZZ_CHECK(parsed == value);
    if (decimal_end)
        FUZZ_CHECK(text + length == decimal_end);
    decimal_end = text + length;
}

// The playing time the dialog shows: ((size / 130) * 5120 / ((rate / 100) * 2)) / 1000,
// worked out in 64 bits so that large sizes do not wrap.
std::uint64_t ExpectedSeconds(const TrackRecord& record) {
    std::uint64_t pcm = static_cast<std::uint64_t>(record.size / 130) * 5120;
    return pcm / ((record.sample_rate / 100u) * 2u) / 1000;
}

void CheckDuration(const TrackRecord& record) {
    const char* text = FormatDuration(record);
    FUZZ_CHECK(text != nullptr);
    const std::size_t length = std::strlen(text);
    FUZZ_CHECK(length < static_cast<std::size_t>(kDurationBufferBytes));
    if (record.sample_rate < kLowestSampleRate) {
        FUZZ_CHECK(std::strcmp(text, "--:--") == 0);
        return;
    }
    // mm:ss, with at least two digits of minutes and exactly two of seconds.
    FUZZ_CHECK(length >= 5);
    const std::size_t colon = length - 3;
    FUZZ_CHECK(text[colon] == ':');
    std::uint64_t minutes = 0;
    std::uint64_t seconds = 0;
    FUZZ_CHECK(ParseDigits(text, colon, &minutes));
    FUZZ_CHECK(ParseDigits(text + colon + 1, 2, &seconds));
    FUZZ_CHECK(seconds < 60);
    FUZZ_CHECK(colon == 2 || text[0] != '0'); // minutes padded to two digits only
    FUZZ_CHECK(minutes * 60 + seconds == ExpectedSeconds(record));
    FUZZ_CHECK(EstimatedSeconds(record.size, record.sample_rate) == ExpectedSeconds(record));
    // Where the 32-bit formula does not wrap, the text is the same.
    if (record.size < 109051930u) {
        std::uint32_t narrow =
            (record.size / 130) * 5120 / ((record.sample_rate / 100u) * 2u) / 1000;
        FUZZ_CHECK(narrow == minutes * 60 + seconds);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TrackRecord record{};
    if (size > 0)
        std::memcpy(&record, data, size < sizeof record ? size : sizeof record);
    std::uint64_t value = record.size;
    if (size >= sizeof record + sizeof value)
        std::memcpy(&value, data + sizeof record, sizeof value);

    CheckDuration(record);
    CheckDecimal(value);
    // What the dialog shows: the rate, and the archive's sizes.
    CheckDecimal(record.sample_rate);
    CheckDecimal(record.size);
    CheckDecimal(static_cast<std::uint64_t>(record.size) * 4);
    CheckDecimal(0);
    CheckDecimal(UINT64_MAX);
    return 0;
}
