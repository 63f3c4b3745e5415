// The archive file as the decoder's byte source: reads go through a window
// read ahead of them, so that decoding makes one system call per few dozen
// chunks instead of two per chunk. Positions may lie beyond 2 GiB.
#pragma once

#include "platform/win32.h"
#include "decoder/byte_source.h"

#include <cstdint>

constexpr int kReadAheadBytes = 32768;

class ArchiveSource final : public ByteSource {
public:
    // Reads `file` from now on, with nothing read ahead yet. The file stays
    // the caller's to close.
    void Open(HANDLE file);
    // The same, unless `file` is the one already read.
    void Use(HANDLE file) {
        if (file != file_)
            Open(file);
    }

    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t bytes) override;

private:
    // Fills the window with the file's bytes from `offset` on; false after a
    // read error.
    bool Fill(std::uint64_t offset);

    HANDLE file_ = nullptr;
    bool file_position_known_ = false;
    std::uint64_t file_position_ = 0; // where the file's own read position stands
    std::uint64_t window_offset_ = 0; // archive position of read_ahead_[0]
    std::uint32_t window_bytes_ = 0;
    std::uint8_t read_ahead_[kReadAheadBytes] = {};
};

// Moves `file`'s read position to a byte position that may lie beyond 2 GiB.
// Returns false if the position cannot be set.
bool SetArchivePosition(HANDLE file, std::uint64_t position);
