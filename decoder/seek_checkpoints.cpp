#include "decoder/seek_checkpoints.h"

#include <algorithm>
#include <cstdlib>

namespace {
// Checkpoints at most this often: restoring one then costs the decoding of at
// most a few chunks, a few microseconds.
constexpr std::int32_t kFinestSpacingChunks = 4;
} // namespace

void SeekCheckpoints::Prepare(std::int32_t output_length) {
    std::int64_t length = std::max<std::int64_t>(output_length, 0);
    std::int64_t spacing = static_cast<std::int64_t>(kChunkPcmBytes) * kFinestSpacingChunks;
    while (length / spacing + 2 > kMaxEntries)
        spacing *= 2;
    int wanted = static_cast<int>(length / spacing + 2);
    if (wanted > capacity_) {
        Release();
        // Entries are written before they are read: nothing to construct.
        entries_ = static_cast<SeekCheckpoint*>(
            std::malloc(static_cast<std::size_t>(wanted) * sizeof(SeekCheckpoint)));
        capacity_ = entries_ ? wanted : 0;
    }
    spacing_ = static_cast<std::int32_t>(spacing);
    count_ = 0;
    next_ = 0;
    track_ = 0xFFFFFFFF;
}

void SeekCheckpoints::Release() {
    std::free(entries_);
    entries_ = nullptr;
    capacity_ = 0;
    count_ = 0;
    next_ = 0;
    track_ = 0xFFFFFFFF;
}

void SeekCheckpoints::Follow(std::uint32_t track_offset) {
    if (track_offset == track_)
        return;
    count_ = 0;
    next_ = 0;
    track_ = track_offset;
}

const SeekCheckpoint* SeekCheckpoints::Before(std::uint32_t track_offset,
                                              std::int32_t target) const {
    if (track_offset != track_ || count_ == 0)
        return nullptr;
    const SeekCheckpoint* begin = entries_;
    const SeekCheckpoint* end = entries_ + count_;
    const SeekCheckpoint* after =
        std::upper_bound(begin, end, target, [](std::int32_t value, const SeekCheckpoint& c) {
            return value < c.output_position;
        });
    if (after == begin)
        return nullptr;
    const SeekCheckpoint* at = after - 1;
    return at == begin ? at : at - 1;
}
