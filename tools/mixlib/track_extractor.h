// Decoding a whole track exactly as playback does: the same bytes the player
// hands its output, up to the block in which the header's length is reached.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class ArchiveReader;

struct ExtractedTrack {
    std::uint16_t sample_rate = 0;     // from the track's header
    std::vector<std::int16_t> samples; // every sample playback hands the output
};

// Receives the PCM (16-bit little-endian mono) a buffer at a time.
using PcmSink = std::function<void(const char* pcm, std::size_t bytes)>;

// Decodes track `index` (from 0: track number index + 1, as messages
// name it) through a fixed buffer into `sink` and returns the
// sample rate from its header. Throws MixError for a track that does not
// exist or whose header the player rejects; nothing reaches `sink` then.
std::uint16_t DecodeTrack(ArchiveReader& archive, int index, const PcmSink& sink);

// The whole track in memory.
ExtractedTrack ExtractTrack(ArchiveReader& archive, int index);

// The track as a WAV file at `path`, streamed: memory stays the same
// however long the track is. The file appears whole or not at all.
void ExtractTrackToWav(ArchiveReader& archive, int index, const std::string& path);
