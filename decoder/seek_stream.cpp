// Seeking by decoding: forward from where the stream stands, or from the
// track's start when asked to rewind. Seek checkpoints shorten both: the
// decoder jumps to the nearest remembered chunk boundary at or before the
// target (when that is ahead of where it stands) and decodes only the rest.
#include "core/player_state.h"
#include "decoder/stream_reader.h"

// Puts the reader at the track's first chunk, or at the checkpoint that
// serves `target`, with end_of_stream cleared. Caller holds the stream lock.
void PlayerState::RewindTo(int target) {
    StreamReader& reader = stream_reader;
    const auto offset = static_cast<std::uint32_t>(track_offset.load());
    reader.checkpoints.Follow(offset);
    const SeekCheckpoint* from = reader.checkpoints.Before(offset, target);
    SeekCheckpoint start{static_cast<std::uint64_t>(offset) + kTrackHeaderBytes, 0, {0, 0, 0}};
    if (from)
        start = *from;
    adpcm = start.adpcm;
    reader.chunk_header = ChunkHeader{};
    reader.chunk_remaining = 0;
    PositionReader(archive_file, start.archive_position);
    output_position = start.output_position;
    end_of_stream = 0;
}

void PlayerState::SeekStream(int target, int rewind) {
    StreamLock hold;
    seeking = 1;
    if (rewind) {
        RewindTo(target);
    } else if (!end_of_stream) {
        // Forward: jump ahead over audio decoded before, if remembered.
        const SeekCheckpoint* ahead = stream_reader.checkpoints.Before(
            static_cast<std::uint32_t>(track_offset.load()), target);
        if (ahead && ahead->output_position > output_position)
            RewindTo(target);
    }
    // After the end only a rewind brings the stream back; going on would read
    // whatever follows the last chunk as if it were one.
    AdpcmState state = adpcm;
    int position = output_position;
    StreamReader& reader = stream_reader;
    while (position < target && !end_of_stream) {
        if (reader.chunk_remaining == 0 && !RefillChunk(position, state)) {
            end_of_stream = 1;
            break;
        }
        int wanted = (target - position - 1) / 4 + 1; // whole bytes, without overflow
        int run = reader.chunk_remaining < wanted ? reader.chunk_remaining : wanted;
        const std::uint8_t* data =
            chunk_buffer + (reader.chunk_header.data_size - reader.chunk_remaining);
        for (int i = 0; i < run; ++i) {
            state.DecodeNibble(data[i] & 0x0F);
            state.DecodeNibble(data[i] >> 4);
        }
        position += kPcmBytesPerDataByte * run;
        reader.chunk_remaining = static_cast<std::uint16_t>(reader.chunk_remaining - run);
    }
    adpcm = state;
    output_position = position;
    seeking = 0;
}
