// The 44-byte header of a 16-bit PCM WAV file, written over the start of an
// open file once its data's size is known.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int kWavHeaderBytes = 44;
constexpr int kWavBits = 16;
constexpr std::int64_t kWavMaxDataBytes = 0xFFFFFFFFLL - 36; // the RIFF size is 32 bits

// Writes the header at the start of `file`; false if it cannot.
bool WriteWavHeader(std::FILE* file, int rate, int channels, std::int64_t data_bytes);
