#include "tools/mixlib/adpcm_encoder.h"
#include "decoder/track_stream.h"
#include "tools/mixlib/mix_error.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

std::uint8_t AdpcmEncoder::EncodeSample(std::int16_t target) {
    std::uint8_t best = 0;
    AdpcmDecoder best_decoder = decoder_;
    std::int32_t best_error = INT32_MAX;
    for (std::uint8_t code = 0; code < 16; ++code) {
        AdpcmDecoder trial = decoder_;
        std::int32_t error = std::abs(trial.DecodeNibble(code) - target);
        if (error < best_error) {
            best = code;
            best_decoder = trial;
            best_error = error;
        }
    }
    decoder_ = best_decoder;
    return best;
}

namespace {

void Append(std::vector<std::uint8_t>& bytes, const void* data, std::size_t size) {
    const auto* from = static_cast<const std::uint8_t*>(data);
    bytes.insert(bytes.end(), from, from + size);
}

std::uint64_t DataBytesFor(std::uint64_t sample_count) {
    return (sample_count + 1) / 2;
}

std::uint64_t ChunksFor(std::uint64_t data_bytes) {
    return (data_bytes + kChunkDataBytes - 1) / kChunkDataBytes;
}

} // namespace

std::uint64_t TrackBytesFor(std::uint64_t sample_count) {
    std::uint64_t data_bytes = DataBytesFor(sample_count);
    return kTrackHeaderBytes + ChunksFor(data_bytes) * kChunkHeaderBytes + data_bytes;
}

EncodedTrack EncodeTrack(const std::vector<std::int16_t>& samples, std::uint16_t sample_rate) {
    if (sample_rate < kLowestSampleRate)
        throw MixError("sample rate " + std::to_string(sample_rate) + " Hz is below the " +
                       std::to_string(kLowestSampleRate) + " Hz the player accepts");
    if (samples.empty())
        throw MixError("a track needs at least one sample");
    const std::uint64_t data_bytes = DataBytesFor(samples.size());
    // The player keeps a track's PCM length in a signed 32-bit count.
    if (data_bytes * kPcmBytesPerDataByte > static_cast<std::uint64_t>(INT32_MAX))
        throw MixError("a track of " + std::to_string(samples.size()) +
                       " samples is longer than the player can play");

    EncodedTrack track;
    track.decoded.reserve(data_bytes * 2);
    std::vector<std::uint8_t> codes;
    codes.reserve(data_bytes);
    AdpcmEncoder encoder;
    for (std::size_t i = 0; i < data_bytes; ++i) {
        std::int16_t first = samples[2 * i];
        std::int16_t second = 2 * i + 1 < samples.size() ? samples[2 * i + 1] : first;
        std::uint8_t low = encoder.EncodeSample(first);
        track.decoded.push_back(encoder.LastDecoded());
        std::uint8_t high = encoder.EncodeSample(second);
        track.decoded.push_back(encoder.LastDecoded());
        codes.push_back(static_cast<std::uint8_t>(low | (high << 4)));
    }

    const std::uint64_t chunks = ChunksFor(data_bytes);
    TrackHeader header{};
    header.sample_rate = sample_rate;
    header.compressed_size = static_cast<std::uint32_t>(chunks * kChunkHeaderBytes + data_bytes);
    header.output_size = static_cast<std::uint32_t>(data_bytes * kPcmBytesPerDataByte);
    header.magic = kTrackHeaderMagic;
    track.bytes.reserve(kTrackHeaderBytes + header.compressed_size);
    Append(track.bytes, &header, sizeof header);
    for (std::size_t start = 0; start < codes.size(); start += kChunkDataBytes) {
        std::size_t size = std::min<std::size_t>(kChunkDataBytes, codes.size() - start);
        ChunkHeader chunk{};
        chunk.data_size = static_cast<std::uint16_t>(size);
        // Not read by the player; the chunk's PCM length is what it would mean.
        chunk.second_size = static_cast<std::uint16_t>(size * kPcmBytesPerDataByte);
        chunk.signature = kChunkSignature;
        chunk.reserved = 0;
        Append(track.bytes, &chunk, sizeof chunk);
        Append(track.bytes, codes.data() + start, size);
    }
    return track;
}
