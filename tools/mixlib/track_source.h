// The audio for one track of a new archive: a WAV file or a tone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TrackSource {
    std::string title;
    std::uint16_t sample_rate = 0;
    std::vector<std::int16_t> samples; // mono
};

// A tone (tone:...) or the path of a 16-bit PCM WAV file, whose title is
// its file name without folder and extension. Throws MixError.
TrackSource LoadTrackSource(const std::string& argument);
