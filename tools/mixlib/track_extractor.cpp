#include "tools/mixlib/track_extractor.h"
#include "core/player_state.h"
#include "tools/mixlib/archive_reader.h"
#include "tools/mixlib/mix_error.h"

#include <climits>
#include <cstring>
#include <string>

namespace {
constexpr int kBlockBytes = kBlockFrames * 2; // 16-bit mono, as playback asks for
}

ExtractedTrack ExtractTrack(ArchiveReader& archive, int index) {
    PlayerState& player = archive.Player();
    if (!player.SelectTrack(index))
        throw MixError("track " + std::to_string(index) + " does not exist (the archive has " +
                       std::to_string(archive.TrackCount()) + " tracks, numbered from 0)");
    TrackHeader header{};
    if (!archive.ReadHeader(index, &header))
        throw MixError("track " + std::to_string(index) + ": Not a valid Kestrel MIX file!");
    if (header.output_size > static_cast<std::uint32_t>(INT_MAX))
        throw MixError("track " + std::to_string(index) +
                       ": header claims more audio than the player can play");

    player.output_length = static_cast<int>(header.output_size);
    player.sample_rate = header.sample_rate;
    player.end_of_stream = 0;
    player.SeekStream(0, 1);

    ExtractedTrack track;
    track.sample_rate = header.sample_rate;
    track.samples.reserve(header.output_size / 2);
    // The same loop as playback's: a block at a time, the last one kept whole.
    char block[kBlockBytes];
    for (;;) {
        int got = player.DecodeBlock(block, kBlockBytes);
        if (got <= 0)
            break;
        player.output_position += got;
        std::size_t had = track.samples.size();
        track.samples.resize(had + static_cast<std::size_t>(got) / 2);
        std::memcpy(track.samples.data() + had, block, static_cast<std::size_t>(got));
        if (player.end_of_stream || player.output_position >= player.output_length)
            break;
    }
    return track;
}
