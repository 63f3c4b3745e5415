// An archive's track index: scrambled 60-byte records, turned into the
// catalogue's track records.
#pragma once

#include "catalogue/track_record.h"

#include <cstddef>
#include <cstdint>
#include <span>

// Whole records in an index of `bytes` bytes; a record cut short is not one.
constexpr int IndexRecordCount(std::size_t bytes) {
    return static_cast<int>(bytes / kTrackRecordBytes);
}

struct DecodedIndex {
    int track_count;          // records decoded
    std::uint32_t total_size; // sum of their sizes, wrapping as the 32-bit field does
};

// Descrambles and converts every whole record of `index` into `tracks`, which
// has room for IndexRecordCount(index.size()) records. `tracks` may be the
// very memory `index` lies in: each record is decoded in its own place.
DecodedIndex DecodeTrackIndex(std::span<const std::uint8_t> index, TrackRecord* tracks);
