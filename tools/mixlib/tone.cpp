#include "tools/mixlib/tone.h"
#include "decoder/track_stream.h"
#include "tools/mixlib/mix_error.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>

namespace {

constexpr double kLongestToneSeconds = 3600;
constexpr int kTitleBufferBytes = 64;

// A whole field as a finite number, or false.
bool ParseNumber(const std::string& field, double* value) {
    if (field.empty())
        return false;
    char* end = nullptr;
    *value = std::strtod(field.c_str(), &end);
    return *end == '\0' && std::isfinite(*value);
}

} // namespace

bool IsToneArgument(const std::string& text) {
    return text.rfind("tone:", 0) == 0;
}

Tone ParseTone(const std::string& text) {
    const std::string usage =
        "bad tone '" + text + "' (expected tone:FREQ_HZ:SECONDS[:RATE][:TITLE])";
    if (!IsToneArgument(text))
        throw MixError(usage);
    std::string fields[4];
    int count = 0;
    std::size_t start = 5;
    // The title is the rest of the text and may itself hold colons.
    while (count < 4) {
        std::size_t colon = count < 3 ? text.find(':', start) : std::string::npos;
        fields[count++] = text.substr(start, colon == std::string::npos ? colon : colon - start);
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    Tone tone;
    if (count < 2 || !ParseNumber(fields[0], &tone.frequency) ||
        !ParseNumber(fields[1], &tone.seconds))
        throw MixError(usage);
    if (count >= 3 && !fields[2].empty()) {
        double rate = 0;
        if (!ParseNumber(fields[2], &rate) || rate != std::floor(rate) ||
            rate < kLowestSampleRate || rate > 65535)
            throw MixError("bad tone '" + text + "': the rate must be a whole number of Hz from " +
                           std::to_string(kLowestSampleRate) + " to 65535");
        tone.sample_rate = static_cast<std::uint16_t>(rate);
    }
    if (tone.frequency <= 0 || tone.frequency > tone.sample_rate / 2.0)
        throw MixError("bad tone '" + text +
                       "': the frequency must lie above 0 and at most half the rate");
    if (tone.seconds <= 0 || tone.seconds > kLongestToneSeconds)
        throw MixError("bad tone '" + text +
                       "': the length must lie above 0 and at most 3600 seconds");
    if (count == 4 && !fields[3].empty()) {
        tone.title = fields[3];
    } else {
        char title[kTitleBufferBytes];
        std::snprintf(title, sizeof title, "Tone %g Hz", tone.frequency);
        tone.title = title;
    }
    return tone;
}

std::vector<std::int16_t> MakeTone(const Tone& tone) {
    auto count = static_cast<std::size_t>(std::llround(tone.seconds * tone.sample_rate));
    if (count == 0)
        count = 1;
    std::vector<std::int16_t> samples(count);
    const double step = 2 * std::numbers::pi * tone.frequency / tone.sample_rate;
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<std::int16_t>(std::lround(kToneAmplitude * std::sin(step * i)));
    return samples;
}
