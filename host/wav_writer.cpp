#include "host/wav_writer.h"

#include <cstdint>

namespace {

constexpr int kHeaderBytes = 44;
constexpr int kDefaultRate = 22050;                       // for a file that heard nothing
constexpr std::int64_t kMaxDataBytes = 0xFFFFFFFFLL - 36; // the RIFF size is 32 bits

void Put16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
    Put16(at, value & 0xFFFF);
    Put16(at + 2, value >> 16);
}

} // namespace

WavWriter::~WavWriter() {
    Close();
}

bool WavWriter::Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_)
        return false;
    WriteHeader();
    return true;
}

void WavWriter::Append(const char* bytes, int count, int sample_rate, int channels, int bits) {
    if (!file_ || count <= 0)
        return;
    if (sample_rate_ == 0) {
        sample_rate_ = sample_rate;
        channels_ = channels;
        bits_ = bits;
    }
    if (data_bytes_ + count > kMaxDataBytes)
        return;
    data_bytes_ += static_cast<std::int64_t>(std::fwrite(bytes, 1, count, file_));
}

void WavWriter::Close() {
    if (!file_)
        return;
    WriteHeader();
    std::fclose(file_);
    file_ = nullptr;
}

void WavWriter::WriteHeader() {
    const std::uint32_t rate = sample_rate_ > 0 ? sample_rate_ : kDefaultRate;
    const std::uint32_t frame = static_cast<std::uint32_t>(channels_ * bits_ / 8);
    const std::uint32_t data = static_cast<std::uint32_t>(data_bytes_);
    std::uint8_t header[kHeaderBytes] = {'R', 'I', 'F', 'F', 0,   0,   0,   0, 'W', 'A', 'V',
                                         'E', 'f', 'm', 't', ' ', 0,   0,   0, 0,   0,   0,
                                         0,   0,   0,   0,   0,   0,   0,   0, 0,   0,   0,
                                         0,   0,   0,   'd', 'a', 't', 'a', 0, 0,   0,   0};
    Put32(header + 4, 36 + data);
    Put32(header + 16, 16);
    Put16(header + 20, 1); // PCM
    Put16(header + 22, static_cast<std::uint32_t>(channels_));
    Put32(header + 24, rate);
    Put32(header + 28, rate * frame);
    Put16(header + 32, frame);
    Put16(header + 34, static_cast<std::uint32_t>(bits_));
    Put32(header + 40, data);
    std::fseek(file_, 0, SEEK_SET);
    std::fwrite(header, 1, sizeof header, file_);
    std::fseek(file_, 0, SEEK_END);
}
