// A track's decoder: walks the chunks behind the track header in a byte
// source and turns their ADPCM codes into 16-bit mono PCM, a block at a time
// or by seeking to a PCM byte position. Its state is all here; it reads only
// through the source it is given.
#pragma once

#include "decoder/adpcm.h"
#include "decoder/byte_source.h"
#include "decoder/seek_checkpoints.h"
#include "decoder/track_stream.h"

#include <cstdint>

class TrackDecoder {
public:
    // The track to read: its header at `track_offset` in `source`, which must
    // outlive the decoder's use of it. Nothing else changes; a rewinding Seek
    // starts the track.
    void Attach(ByteSource* source, std::uint32_t track_offset) {
        source_ = source;
        track_offset_ = track_offset;
    }

    // Decodes `count` bytes of PCM, rounded up to a multiple of 4, into
    // `buffer` (fewer if the stream ends) and returns how many it wrote.
    // Once the stream has ended it returns 0 without reading.
    int Read(char* buffer, int count);

    // Brings the decoder to position() >= `target`: onwards from where it
    // stands, or from the track's start when `rewind` is set. A remembered
    // checkpoint shortens either way when one lies ahead. Without `rewind`,
    // an ended stream stays where it is.
    void Seek(int target, bool rewind);

    // Walks the track's chunks from its start without decoding them and
    // returns how many bytes of PCM the stream holds, counting no further
    // than `limit` (a multiple of 4): what Reads from the start would give.
    // It leaves the decoder at the track's start, as a rewinding Seek to 0.
    int Measure(int limit);

    // Bytes of PCM decoded or skipped since the track's start.
    int position() const { return position_; }
    // The next chunk could not be read or was not a valid chunk.
    bool ended() const { return ended_; }
    AdpcmState state() const { return adpcm_.state(); }
    // The decoder state at chunk boundaries; empty until prepared.
    SeekCheckpoints& checkpoints() { return checkpoints_; }

private:
    template <typename Codes> void Walk(int data_bytes, Codes codes);
    bool RefillChunk(const AdpcmDecoder& adpcm);
    void RewindTo(int target);

    ByteSource* source_ = nullptr;
    std::uint32_t track_offset_ = 0;
    std::uint64_t archive_position_ = 0; // where the next chunk header starts
    AdpcmDecoder adpcm_;
    int position_ = 0;
    bool ended_ = false;
    bool measuring_ = false;            // Measure walks without decoding
    std::uint16_t chunk_size_ = 0;      // data bytes of the last chunk read
    std::uint16_t chunk_remaining_ = 0; // of those, not yet decoded
    // A chunk cut short by the end of the source keeps the tail of the data
    // before it here, and decodes it as its own.
    std::uint8_t chunk_[kChunkDataBytes] = {};
    SeekCheckpoints checkpoints_;
};
