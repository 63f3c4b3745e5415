// Everything the output device played, appended to one 16-bit PCM WAV file.
// The header carries the format of the first audio heard; audio heard later
// at another rate is appended as it is (the event log says where the rate
// changed), so the file holds every byte heard, in order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Creates the file with a provisional header; false if it cannot.
    bool Open(const std::string& path);
    // Appends heard audio of the given format.
    void Append(const char* bytes, int count, int sample_rate, int channels, int bits);
    // Writes the final sizes into the header and closes the file.
    void Close();

    std::int64_t BytesWritten() const { return data_bytes_; }

private:
    void WriteHeader();

    std::FILE* file_ = nullptr;
    std::int64_t data_bytes_ = 0;
    int sample_rate_ = 0;
    int channels_ = 1;
    int bits_ = 16;
};
