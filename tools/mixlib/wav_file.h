// 16-bit PCM WAV files: read as mono (stereo averaged down), written as mono.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WavAudio {
    std::uint32_t sample_rate = 0;
    std::vector<std::int16_t> samples; // mono
};

// Parses a RIFF/WAVE image; unknown chunks are skipped. Throws MixError,
// naming `name`, for anything but 16-bit PCM with one or two channels, and
// for a file that is cut short or malformed.
WavAudio ParseWav(const std::vector<std::uint8_t>& image, const std::string& name);
WavAudio ReadWav(const std::string& path);

// The 44-byte header of a file of `data_bytes` bytes of 16-bit mono PCM at
// `sample_rate`. Throws MixError if that is more than a WAV file can hold.
std::vector<std::uint8_t> WavHeader(std::uint64_t data_bytes, std::uint32_t sample_rate);
// The complete file image of 16-bit mono PCM at `sample_rate`.
std::vector<std::uint8_t> MakeWav(const std::vector<std::int16_t>& samples,
                                  std::uint32_t sample_rate);
// Writes MakeWav's image to `path` so that it appears whole or not at all.
void WriteWav(const std::string& path, const std::vector<std::int16_t>& samples,
              std::uint32_t sample_rate);
