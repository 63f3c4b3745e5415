// Seeking by decoding: forward from where the stream stands, or from the
// track's first chunk when asked to rewind.
#include "core/player_state.h"
#include "decoder/stream_reader.h"

void PlayerState::SeekStream(int target, int rewind) {
    StreamLock hold;
    seeking = 1;
    if (rewind) {
        adpcm = AdpcmState{0, 0, 0};
        stream_reader.chunk_header = ChunkHeader{};
        stream_reader.chunk_remaining = 0;
        SetArchivePosition(archive_file,
                           static_cast<std::uint64_t>(static_cast<std::uint32_t>(track_offset)) +
                               kTrackHeaderBytes);
        output_position = 0;
        end_of_stream = 0;
    }
    // After the end only a rewind brings the stream back; going on would read
    // whatever follows the last chunk as if it were one.
    AdpcmState state = adpcm;
    int position = output_position;
    while (position < target && !end_of_stream) {
        if (stream_reader.chunk_remaining == 0 && !RefillChunk()) {
            end_of_stream = 1;
            break;
        }
        std::uint8_t b = chunk_buffer[stream_reader.chunk_header.data_size -
                                      stream_reader.chunk_remaining];
        state.DecodeNibble(b & 0x0F);
        state.DecodeNibble(b >> 4);
        position += kPcmBytesPerDataByte;
        --stream_reader.chunk_remaining;
    }
    adpcm = state;
    output_position = position;
    seeking = 0;
}
