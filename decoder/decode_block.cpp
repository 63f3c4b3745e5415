// Decoding a block of PCM for playback.
#include "core/player_state.h"
#include "decoder/stream_reader.h"

#include <algorithm>

int PlayerState::DecodeBlock(char* buffer, int count) {
    if (end_of_stream)
        return 0;
    StreamLock hold;
    decoding = 1;
    int written = 0;
    // Work on a local copy of the decoder so the inner loop keeps it in
    // registers; it is stored back once the block is done.
    AdpcmState state = adpcm;
    while (count > 0 && !end_of_stream) {
        if (stream_reader.chunk_remaining == 0 && !RefillChunk(output_position + written, state)) {
            end_of_stream = 1;
            break;
        }
        // Whole data bytes for the count rounded up; count + 3 could overflow.
        int run = std::min<int>(stream_reader.chunk_remaining, (count - 1) / 4 + 1);
        const std::uint8_t* data =
            chunk_buffer + (stream_reader.chunk_header.data_size - stream_reader.chunk_remaining);
        char* out = buffer + written;
        for (int i = 0; i < run; ++i) {
            std::uint8_t b = data[i];
            auto low = static_cast<std::int16_t>(state.DecodeNibble(b & 0x0F));
            auto high = static_cast<std::int16_t>(state.DecodeNibble(b >> 4));
            out[4 * i] = static_cast<char>(low & 0xFF);
            out[4 * i + 1] = static_cast<char>((low >> 8) & 0xFF);
            out[4 * i + 2] = static_cast<char>(high & 0xFF);
            out[4 * i + 3] = static_cast<char>((high >> 8) & 0xFF);
        }
        written += 4 * run;
        count -= 4 * run;
        stream_reader.chunk_remaining =
            static_cast<std::uint16_t>(stream_reader.chunk_remaining - run);
    }
    adpcm = state;
    decoding = 0;
    return written;
}
