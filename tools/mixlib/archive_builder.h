// Building an archive of a known size with its index: tracks encoded and laid
// out one after another from a fixed start.
#pragma once

#include "catalogue/known_archives.h"
#include "tools/mixlib/index_writer.h"
#include "tools/mixlib/track_source.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint32_t kFirstTrackOffset = 4096;
constexpr std::uint32_t kTrackAlignment = 16;

struct BuiltTrack {
    IndexEntry entry;
    std::vector<std::int16_t> decoded; // what playback will give for the track
};

struct BuiltArchive {
    std::string index_path;
    std::vector<BuiltTrack> tracks;
};

// Writes `archive_path` of exactly `known.size` bytes and its index in
// `index_dir`. Throws MixError (and leaves neither file behind) if the
// tracks do not fit or a file cannot be written.
BuiltArchive BuildArchive(const std::string& archive_path, const KnownArchive& known,
                          const std::string& index_dir, const std::vector<TrackSource>& sources);
