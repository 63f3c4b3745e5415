// The chunk reader: the next chunk header and its data, into chunk_buffer.
#include "core/player_state.h"
#include "decoder/stream_reader.h"

StreamReader stream_reader;

void PrepareStreamLock() {
    if (!stream_reader.lock_ready) {
        InitializeCriticalSection(&stream_reader.lock);
        stream_reader.lock_ready = true;
    }
}

// Reads the chunk that starts `position` PCM bytes into the track, first
// noting a seek checkpoint at this boundary with the decoder's `state`.
// Returns false when the stream has ended: no full chunk header, a wrong
// signature, a data size of 0 or above what chunk_buffer holds, or no data
// at all behind the header. Caller holds the stream lock.
bool PlayerState::RefillChunk(int position, const AdpcmState& state) {
    StreamReader& reader = stream_reader;
    reader.checkpoints.Note(static_cast<std::uint32_t>(track_offset.load()), position,
                            reader.archive_position, state);
    ChunkHeader& header = reader.chunk_header;
    DWORD got = 0;
    if (!chunk_buffer || !ReadFile(archive_file, &header, kChunkHeaderBytes, &got, nullptr))
        return false;
    reader.archive_position += got;
    if (got != kChunkHeaderBytes || header.signature != kChunkSignature || header.data_size == 0 ||
        header.data_size > kChunkBufferBytes)
        return false;
    // A chunk cut short by the end of the archive still counts its full
    // size; its missing tail decodes from what the buffer held before.
    if (!ReadFile(archive_file, chunk_buffer, header.data_size, &got, nullptr) || got == 0)
        return false;
    reader.archive_position += got;
    reader.chunk_remaining = header.data_size;
    return true;
}
