// The chunk reader's state, one copy for the library beside the player, and
// the lock that keeps seeking and block decoding from overlapping.
#pragma once

#include "decoder/seek_checkpoints.h"
#include "decoder/track_stream.h"

#include <cstdint>

// Chunks are read from the archive through a window this large, so that the
// decoder makes one system call per few dozen chunks instead of two per chunk.
constexpr int kReadAheadBytes = 32768;

struct StreamReader {
    ChunkHeader chunk_header{};         // the last chunk header read
    std::uint16_t chunk_remaining = 0;  // data bytes of that chunk not yet decoded
    std::uint64_t archive_position = 0; // where the reader stands in the archive
    SeekCheckpoints checkpoints;
    // Archive bytes read ahead of the reader's position: [ahead_begin, ahead_end).
    std::uint8_t read_ahead[kReadAheadBytes] = {};
    int ahead_begin = 0;
    int ahead_end = 0;
    CRITICAL_SECTION lock{};
    bool lock_ready = false;
};

extern StreamReader stream_reader;

// Moves the reader to byte `position` of the archive, dropping what was read
// ahead. Caller holds the stream lock.
void PositionReader(HANDLE file, std::uint64_t position);

// Reads up to `bytes` of the archive at the reader's position, through the
// read-ahead window; returns how many came (fewer at the end of the archive
// or after a read error). Caller holds the stream lock.
DWORD ReadArchive(HANDLE file, void* buffer, DWORD bytes);

// Makes the reader's lock; later calls do nothing until it is released.
void PrepareStreamLock();
// Deletes the reader's lock, so that a library the host unloads leaves
// nothing behind. Only while no playback thread exists.
void ReleaseStreamLock();

// Holds the stream reader's lock for a scope. The lock is recursive, so an
// operation that holds it may call another that takes it too.
class StreamLock {
public:
    StreamLock() { EnterCriticalSection(&stream_reader.lock); }
    ~StreamLock() { LeaveCriticalSection(&stream_reader.lock); }
    StreamLock(const StreamLock&) = delete;
    StreamLock& operator=(const StreamLock&) = delete;
};
