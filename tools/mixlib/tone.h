// Test tones, given on the command line as tone:FREQ_HZ:SECONDS[:RATE][:TITLE].
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint16_t kDefaultToneRate = 22050;
constexpr double kToneAmplitude = 16384.0; // half of full scale

struct Tone {
    double frequency = 0; // Hz
    double seconds = 0;
    std::uint16_t sample_rate = kDefaultToneRate;
    std::string title; // "Tone 440 Hz" unless given
};

// True if `text` is a tone at all (it starts with "tone:").
bool IsToneArgument(const std::string& text);
// Parses a tone argument; throws MixError naming what is wrong.
Tone ParseTone(const std::string& text);
// A sine wave of the tone's frequency, length and rate.
std::vector<std::int16_t> MakeTone(const Tone& tone);
