// Decoding a whole track exactly as playback does, block by block.
#pragma once

#include <cstdint>
#include <vector>

class ArchiveReader;

struct ExtractedTrack {
    std::uint16_t sample_rate = 0;     // from the track's header
    std::vector<std::int16_t> samples; // every sample playback hands the output
};

// Selects track `index` and decodes it. Throws MixError for a track that does
// not exist or whose header the player rejects.
ExtractedTrack ExtractTrack(ArchiveReader& archive, int index);
