// The layout of a track in an archive: a 12-byte header, then chunks of
// ADPCM data, each behind an 8-byte chunk header.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "the archive's records are read straight into little-endian structs");

constexpr int kTrackHeaderBytes = 12;
constexpr std::uint16_t kTrackHeaderMagic = 0x6302; // bytes 0x02, 0x63 at offset 10
constexpr std::uint16_t kChunkSignature = 0xDEAF;
constexpr int kChunkHeaderBytes = 8;
constexpr int kChunkDataBytes = 512;    // the most one chunk may hold
constexpr int kPcmBytesPerDataByte = 4; // two 4-bit codes, two 16-bit samples
// Playback decodes 576 16-bit mono frames at a time.
constexpr int kPlaybackBlockBytes = 576 * 2;

// The PCM bytes playback hands the output for a track whose header claims
// `output_size`: whole blocks up to the one in which that length is reached,
// and at least one. A stream whose chunks end sooner gives only what they
// hold; one whose chunks go on is cut here.
constexpr std::int64_t PlayedPcmBytes(std::uint32_t output_size) {
    const std::int64_t blocks =
        (std::int64_t{output_size} + kPlaybackBlockBytes - 1) / kPlaybackBlockBytes;
    return (blocks > 0 ? blocks : 1) * kPlaybackBlockBytes;
}
static_assert(PlayedPcmBytes(0) == 1152 && PlayedPcmBytes(1152) == 1152 &&
              PlayedPcmBytes(1153) == 2304);

// The lowest sample rate a track may have: lower ones would make the length
// and time formulas divide by zero. Everything that needs a usable rate
// checks against this one value.
constexpr int kLowestSampleRate = 100;

#pragma pack(push, 1)
struct TrackHeader {
    std::uint16_t sample_rate;     // Hz
    std::uint32_t compressed_size; // bytes of the track in the archive
    std::uint32_t output_size;     // bytes of 16-bit PCM it decodes to
    std::uint16_t magic;           // kTrackHeaderMagic
};

struct ChunkHeader {
    std::uint16_t data_size;   // bytes of ADPCM data that follow; never 0
    std::uint16_t second_size; // not used
    std::uint16_t signature;   // kChunkSignature
    std::uint16_t reserved;    // not examined
};
#pragma pack(pop)

static_assert(sizeof(TrackHeader) == kTrackHeaderBytes);
static_assert(offsetof(TrackHeader, compressed_size) == 2);
static_assert(offsetof(TrackHeader, output_size) == 6);
static_assert(offsetof(TrackHeader, magic) == 10);
static_assert(sizeof(ChunkHeader) == kChunkHeaderBytes);
static_assert(offsetof(ChunkHeader, signature) == 4);

class ByteSource;

// Reads the track header at `offset` and accepts it only if all 12 bytes
// came, its magic word is right and its sample rate is usable.
bool ReadTrackHeader(ByteSource& source, std::uint64_t offset, TrackHeader* header);
