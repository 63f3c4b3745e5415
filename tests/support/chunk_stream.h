// Track streams written byte by byte from the track format: a 12-byte track
// header, then chunks of ADPCM data each behind an 8-byte chunk header.
// Damaged streams are made by overriding single fields.
#pragma once

#include <cstdint>
#include <vector>

namespace handmade {

class ChunkStreamWriter {
public:
    // The track header: rate, compressed size, output size, then the two
    // magic bytes (0x02, 0x63 unless overridden).
    ChunkStreamWriter& TrackHeader(std::uint16_t sample_rate, std::uint32_t compressed_size,
                                   std::uint32_t output_size, std::uint8_t magic_low = 0x02,
                                   std::uint8_t magic_high = 0x63);
    // A chunk whose header states data.size() bytes and the 0xDEAF signature.
    ChunkStreamWriter& Chunk(const std::vector<std::uint8_t>& data);
    // A chunk header with any stated size and signature, followed by `data`
    // (which need not match the stated size).
    ChunkStreamWriter& ChunkWith(std::uint16_t stated_size, std::uint16_t signature,
                                 const std::vector<std::uint8_t>& data);
    // Bytes as they are, e.g. part of a header cut short.
    ChunkStreamWriter& Raw(const std::vector<std::uint8_t>& bytes);

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
    void Put16(std::uint16_t value);
    void Put32(std::uint32_t value);

    std::vector<std::uint8_t> bytes_;
};

// A deterministic spread of byte values (every nibble occurs) for test data.
std::vector<std::uint8_t> PatternBytes(std::size_t count, std::uint32_t seed);

} // namespace handmade
