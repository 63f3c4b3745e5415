#include "core/track_index_file.h"
#include "catalogue/known_archives.h"
#include "catalogue/track_index.h"
#include "core/file_reading.h"

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

TrackIndexFile ReadTrackIndexFile(const char* directory, DWORD archive_size, char* index_path,
                                  int room) {
    TrackIndexFile file;
    const KnownArchive* known = FindKnownArchive(archive_size);
    if (!known)
        return file;

    const bool fits = lstrlenA(directory) + lstrlenA(known->index_name) < room;
    lstrcpynA(index_path, directory, room);
    const int used = lstrlenA(index_path);
    lstrcpynA(index_path + used, known->index_name, room - used);
    file.reading = IndexReading::Missing;
    HANDLE index = fits ? OpenForReading(index_path) : INVALID_HANDLE_VALUE;
    if (index == INVALID_HANDLE_VALUE)
        return file;

    DWORD bytes = GetFileSize(index, nullptr);
    if (bytes == INVALID_FILE_SIZE)
        bytes = 0;
    auto* loaded = static_cast<TrackRecord*>(GlobalAlloc(GMEM_FIXED, bytes));
    if (!loaded) {
        CloseHandle(index);
        file.reading = IndexReading::NoMemory;
        return file;
    }
    // The stored records are read into the records' own memory and decoded
    // there, each in its place.
    auto* stored = reinterpret_cast<std::uint8_t*>(loaded);
    const int read = ReadWholeRecords(index, stored, IndexRecordCount(bytes));
    CloseHandle(index);
    const DecodedIndex decoded =
        DecodeTrackIndex({stored, std::size_t{kTrackRecordBytes} * read}, loaded);
    file.reading = IndexReading::Loaded;
    file.tracks = loaded;
    file.track_count = decoded.track_count;
    file.total_size = decoded.total_size;
    return file;
}
