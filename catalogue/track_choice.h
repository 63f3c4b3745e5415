// Choosing tracks in a catalogue: what a selection yields, and which enabled
// track follows the current one.
#pragma once

#include "catalogue/track_record.h"

#include <cstdint>
#include <span>

// Bytes of PCM a track of `size` archive bytes is estimated to yield before
// its header gives the exact count.
constexpr int EstimatedOutputLength(std::uint32_t size) {
    return static_cast<int>(static_cast<std::uint64_t>(size) * 2048 / 520);
}

// The next enabled track after `current`, searching forward and wrapping
// round, or -1. The current track is never its own successor; with no
// current record (`current` outside the catalogue) the first enabled track
// answers.
int NextEnabledTrackAfter(std::span<TrackRecord> tracks, int current);

// How many tracks are enabled.
int EnabledTrackCount(std::span<TrackRecord> tracks);
