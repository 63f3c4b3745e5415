// The chunk reader: the next chunk header and its data, into chunk_buffer.
#include "core/player_state.h"
#include "decoder/stream_reader.h"

#include <algorithm>
#include <cstring>

StreamReader stream_reader;

void PrepareStreamLock() {
    if (!stream_reader.lock_ready) {
        InitializeCriticalSection(&stream_reader.lock);
        stream_reader.lock_ready = true;
    }
}

void ReleaseStreamLock() {
    if (stream_reader.lock_ready) {
        DeleteCriticalSection(&stream_reader.lock);
        stream_reader.lock_ready = false;
    }
}

void PositionReader(HANDLE file, std::uint64_t position) {
    StreamReader& reader = stream_reader;
    reader.ahead_begin = reader.ahead_end = 0;
    reader.archive_position = position;
    SetArchivePosition(file, position);
}

DWORD ReadArchive(HANDLE file, void* buffer, DWORD bytes) {
    StreamReader& reader = stream_reader;
    auto* out = static_cast<std::uint8_t*>(buffer);
    DWORD got = 0;
    while (got < bytes) {
        if (reader.ahead_begin == reader.ahead_end) {
            DWORD filled = 0;
            if (!ReadFile(file, reader.read_ahead, kReadAheadBytes, &filled, nullptr)) {
                // A read error loses the whole request: the chunk it cuts
                // ends the stream rather than decoding half-read data.
                reader.ahead_begin = reader.ahead_end = 0;
                reader.archive_position += got;
                return 0;
            }
            reader.ahead_begin = 0;
            reader.ahead_end = static_cast<int>(filled);
            if (filled == 0)
                break;
        }
        DWORD take = std::min<DWORD>(bytes - got, reader.ahead_end - reader.ahead_begin);
        std::memcpy(out + got, reader.read_ahead + reader.ahead_begin, take);
        reader.ahead_begin += static_cast<int>(take);
        got += take;
    }
    reader.archive_position += got;
    return got;
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
    if (!chunk_buffer)
        return false;
    DWORD got = ReadArchive(archive_file, &header, kChunkHeaderBytes);
    if (got != kChunkHeaderBytes || header.signature != kChunkSignature || header.data_size == 0 ||
        header.data_size > kChunkBufferBytes)
        return false;
    // A chunk cut short by the end of the archive still counts its full
    // size; its missing tail decodes from what the buffer held before.
    if (ReadArchive(archive_file, chunk_buffer, header.data_size) == 0)
        return false;
    reader.chunk_remaining = header.data_size;
    return true;
}
