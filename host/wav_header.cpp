#include "host/wav_header.h"

namespace {

void Put16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
    Put16(at, value & 0xFFFF);
    Put16(at + 2, value >> 16);
}

} // namespace

bool WriteWavHeader(std::FILE* file, int rate, int channels, std::int64_t data_bytes) {
    const std::uint32_t frame = static_cast<std::uint32_t>(channels * kWavBits / 8);
    const std::uint32_t data = static_cast<std::uint32_t>(data_bytes);
    std::uint8_t header[kWavHeaderBytes] = {'R', 'I', 'F', 'F', 0,   0,   0,   0, 'W', 'A', 'V',
                                            'E', 'f', 'm', 't', ' ', 0,   0,   0, 0,   0,   0,
                                            0,   0,   0,   0,   0,   0,   0,   0, 0,   0,   0,
                                            0,   0,   0,   'd', 'a', 't', 'a', 0, 0,   0,   0};
    Put32(header + 4, 36 + data);
    Put32(header + 16, 16);
    Put16(header + 20, 1); // PCM
    Put16(header + 22, static_cast<std::uint32_t>(channels));
    Put32(header + 24, static_cast<std::uint32_t>(rate));
    Put32(header + 28, static_cast<std::uint32_t>(rate) * frame);
    Put16(header + 32, frame);
    Put16(header + 34, kWavBits);
    Put32(header + 40, data);
    return std::fseek(file, 0, SEEK_SET) == 0 &&
           std::fwrite(header, 1, sizeof header, file) == sizeof header;
}
