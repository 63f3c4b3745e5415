// Finding a track in the archive and checking its header.
#include "decoder/track_stream.h"

bool SetArchivePosition(HANDLE file, std::uint64_t position) {
    LONG high = static_cast<LONG>(position >> 32);
    DWORD low = SetFilePointer(file, static_cast<LONG>(position & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

bool ReadTrackHeader(HANDLE file, std::uint32_t offset, TrackHeader* header) {
    DWORD got = 0;
    if (!SetArchivePosition(file, offset) ||
        !ReadFile(file, header, kTrackHeaderBytes, &got, nullptr))
        return false;
    // A header cut short, or with a rate the time formulas cannot divide by,
    // is as bad as a wrong magic word.
    return got == kTrackHeaderBytes && header->magic == kTrackHeaderMagic &&
           header->sample_rate >= kLowestSampleRate;
}
