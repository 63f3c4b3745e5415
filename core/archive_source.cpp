#include "core/archive_source.h"

#include <algorithm>
#include <cstring>

bool SetArchivePosition(HANDLE file, std::uint64_t position) {
    LONG high = static_cast<LONG>(position >> 32);
    DWORD low = SetFilePointer(file, static_cast<LONG>(position & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

void ArchiveSource::Open(HANDLE file) {
    file_ = file;
    file_position_known_ = false;
    window_offset_ = 0;
    window_bytes_ = 0;
}

bool ArchiveSource::Fill(std::uint64_t offset) {
    window_offset_ = offset;
    window_bytes_ = 0;
    // Reading on from the window before needs no move of the file position.
    if (!file_position_known_ || file_position_ != offset) {
        file_position_known_ = SetArchivePosition(file_, offset);
        if (!file_position_known_)
            return false;
        file_position_ = offset;
    }
    DWORD filled = 0;
    if (!ReadFile(file_, read_ahead_, kReadAheadBytes, &filled, nullptr)) {
        file_position_known_ = false;
        return false;
    }
    window_bytes_ = filled;
    file_position_ += filled;
    return true;
}

std::size_t ArchiveSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t bytes) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t got = 0;
    while (got < bytes) {
        const std::uint64_t at = offset + got;
        if (at < window_offset_ || at >= window_offset_ + window_bytes_) {
            // A read error loses the whole request: the chunk it cuts ends
            // the stream rather than decoding half-read data.
            if (!Fill(at))
                return 0;
            if (window_bytes_ == 0)
                break;
        }
        const auto from = static_cast<std::size_t>(at - window_offset_);
        const std::size_t take = std::min<std::size_t>(bytes - got, window_bytes_ - from);
        std::memcpy(out + got, read_ahead_ + from, take);
        got += take;
    }
    return got;
}
