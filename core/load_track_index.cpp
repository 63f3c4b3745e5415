// Loading an archive's track index from beside the plug-in into the
// catalogue.
#include "catalogue/known_archives.h"
#include "catalogue/track_index.h"
#include "core/file_reading.h"
#include "core/message_boxes.h"
#include "core/player_state.h"

namespace {

// Reads the index's whole records into `stored` (room for `count`); only
// records read in full count.
int ReadWholeRecords(HANDLE index, std::uint8_t* stored, int count) {
    int j = 0;
    for (; j < count; ++j) {
        DWORD got = 0;
        if (!ReadFile(index, stored + std::size_t{kTrackRecordBytes} * j, kTrackRecordBytes, &got,
                      nullptr) ||
            got != kTrackRecordBytes)
            break;
    }
    return j;
}

} // namespace

int PlayerState::LoadTrackIndex(DWORD archive_size) {
    if (tracks)
        GlobalFree(tracks);
    tracks = nullptr;
    track_count = 0;

    const KnownArchive* known = FindKnownArchive(archive_size);
    if (!known)
        return 0;

    // A path that would not fit is a missing index, shown as far as it goes.
    bool fits = lstrlenA(plugin_directory) + lstrlenA(known->index_name) < kPathChars;
    lstrcpynA(index_path, plugin_directory, kPathChars);
    int used = lstrlenA(index_path);
    lstrcpynA(index_path + used, known->index_name, kPathChars - used);
    HANDLE index = fits ? OpenForReading(index_path) : INVALID_HANDLE_VALUE;
    if (index == INVALID_HANDLE_VALUE) {
        ShowMissingFile(index_path);
        index_path[0] = '\0';
        return 0;
    }

    DWORD bytes = GetFileSize(index, nullptr);
    if (bytes == INVALID_FILE_SIZE)
        bytes = 0;
    auto* loaded = static_cast<TrackRecord*>(GlobalAlloc(GMEM_FIXED, bytes));
    if (!loaded) {
        CloseHandle(index);
        return 0;
    }
    // The stored records are read into the catalogue's own memory and
    // decoded there, each in its place.
    auto* stored = reinterpret_cast<std::uint8_t*>(loaded);
    const int read = ReadWholeRecords(index, stored, IndexRecordCount(bytes));
    CloseHandle(index);
    const DecodedIndex decoded =
        DecodeTrackIndex({stored, std::size_t{kTrackRecordBytes} * read}, loaded);
    tracks = loaded;
    track_count = decoded.track_count;
    total_size = static_cast<int>(decoded.total_size);
    return 1;
}
