#include "support/chunk_stream.h"

namespace handmade {

ChunkStreamWriter& ChunkStreamWriter::TrackHeader(std::uint16_t sample_rate,
                                                  std::uint32_t compressed_size,
                                                  std::uint32_t output_size, std::uint8_t magic_low,
                                                  std::uint8_t magic_high) {
    Put16(sample_rate);
    Put32(compressed_size);
    Put32(output_size);
    bytes_.push_back(magic_low);
    bytes_.push_back(magic_high);
    return *this;
}

ChunkStreamWriter& ChunkStreamWriter::Chunk(const std::vector<std::uint8_t>& data) {
    return ChunkWith(static_cast<std::uint16_t>(data.size()), 0xDEAF, data);
}

ChunkStreamWriter& ChunkStreamWriter::ChunkWith(std::uint16_t stated_size, std::uint16_t signature,
                                                const std::vector<std::uint8_t>& data) {
    Put16(stated_size);
    Put16(stated_size); // the second size word, which readers ignore
    Put16(signature);
    Put16(0);
    return Raw(data);
}

ChunkStreamWriter& ChunkStreamWriter::Raw(const std::vector<std::uint8_t>& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

void ChunkStreamWriter::Put16(std::uint16_t value) {
    bytes_.push_back(static_cast<std::uint8_t>(value));
    bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
}

void ChunkStreamWriter::Put32(std::uint32_t value) {
    Put16(static_cast<std::uint16_t>(value));
    Put16(static_cast<std::uint16_t>(value >> 16));
}

std::vector<std::uint8_t> PatternBytes(std::size_t count, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(count);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        // xorshift32: cheap, repeatable, and not a multiple of any chunk size.
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return bytes;
}

} // namespace handmade
