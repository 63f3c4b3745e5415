// The chunk reader's state, one copy for the library beside the player, and
// the lock that keeps seeking and block decoding from overlapping.
#pragma once

#include "decoder/seek_checkpoints.h"
#include "decoder/track_stream.h"

#include <cstdint>

struct StreamReader {
    ChunkHeader chunk_header{};         // the last chunk header read
    std::uint16_t chunk_remaining = 0;  // data bytes of that chunk not yet decoded
    std::uint64_t archive_position = 0; // where the reader stands in the archive
    SeekCheckpoints checkpoints;
    CRITICAL_SECTION lock{};
    bool lock_ready = false;
};

extern StreamReader stream_reader;

// Makes the reader's lock; later calls do nothing. The lock lives as long
// as the library.
void PrepareStreamLock();

// Holds the stream reader's lock for a scope. The lock is recursive, so an
// operation that holds it may call another that takes it too.
class StreamLock {
public:
    StreamLock() { EnterCriticalSection(&stream_reader.lock); }
    ~StreamLock() { LeaveCriticalSection(&stream_reader.lock); }
    StreamLock(const StreamLock&) = delete;
    StreamLock& operator=(const StreamLock&) = delete;
};
