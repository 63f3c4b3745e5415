// Seek checkpoints: the decoder's state remembered at chunk boundaries while
// a track is decoded, so that a seek to audio already passed restores the
// nearest one and decodes only the rest instead of starting over.
#pragma once

#include "decoder/adpcm.h"

#include <cstdint>

struct SeekCheckpoint {
    std::uint64_t archive_position; // where the next chunk header starts
    std::int32_t output_position;   // PCM bytes decoded before that chunk
    AdpcmState adpcm;               // decoder state at that point
};

class SeekCheckpoints {
public:
    SeekCheckpoints() = default;
    ~SeekCheckpoints() { Release(); }
    SeekCheckpoints(const SeekCheckpoints&) = delete;
    SeekCheckpoints& operator=(const SeekCheckpoints&) = delete;

    // Sizes the table for a track of `output_length` PCM bytes: one entry
    // every few chunks, coarser for very long tracks so the table stays
    // within a fixed cap. Allocates only here, at track start; if the memory
    // cannot be had, seeks simply decode as before.
    void Prepare(std::int32_t output_length);
    void Release();

    // Starts over for the track whose header is at `track_offset`, unless
    // the table already follows that track.
    void Follow(std::uint32_t track_offset);

    // Called at every chunk boundary of the track at `track_offset`.
    void Note(std::uint32_t track_offset, std::int32_t position, std::uint64_t archive_position,
              const AdpcmState& state) {
        if (track_offset == track_ && position >= next_ && count_ < capacity_) {
            entries_[count_++] = SeekCheckpoint{archive_position, position, state};
            next_ = static_cast<std::int64_t>(position) + spacing_;
        }
    }

    // The checkpoint to decode from for a target of `target` PCM bytes in the
    // track at `track_offset`, or null if none serves. It lies one entry
    // before the last at or below the target, so the chunk in front of the
    // target's is decoded again too, as straight decoding would have: a
    // chunk cut short by the end of the archive decodes its missing tail from
    // the data of the chunk before it.
    const SeekCheckpoint* Before(std::uint32_t track_offset, std::int32_t target) const;

    int count() const { return count_; }
    int capacity() const { return capacity_; }
    std::int32_t spacing() const { return spacing_; }

    static constexpr int kMaxEntries = 8192;
    static constexpr std::int32_t kChunkPcmBytes = 2048; // a full chunk's PCM

private:
    SeekCheckpoint* entries_ = nullptr;
    int capacity_ = 0;
    int count_ = 0;
    std::int32_t spacing_ = kChunkPcmBytes;
    std::int64_t next_ = 0;            // position of the next entry; may pass the int range
    std::uint32_t track_ = 0xFFFFFFFF; // no track yet
};
