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

// Returns false when the stream has ended: no full chunk header, a wrong
// signature, a data size of 0 or above what chunk_buffer holds, or no data
// at all behind the header. Caller holds the stream lock.
bool PlayerState::RefillChunk() {
    ChunkHeader& header = stream_reader.chunk_header;
    DWORD got = 0;
    if (!chunk_buffer || !ReadFile(archive_file, &header, kChunkHeaderBytes, &got, nullptr) ||
        got != kChunkHeaderBytes || header.signature != kChunkSignature ||
        header.data_size == 0 || header.data_size > kChunkBufferBytes)
        return false;
    // A chunk cut short by the end of the archive still counts its full
    // size; its missing tail decodes from what the buffer held before.
    if (!ReadFile(archive_file, chunk_buffer, header.data_size, &got, nullptr) || got == 0)
        return false;
    stream_reader.chunk_remaining = header.data_size;
    return true;
}
