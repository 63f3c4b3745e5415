// Opening an archive: recognised by its size, its index loaded; or one
// track of it, named by a track entry.
#include "catalogue/track_entry.h"
#include "core/file_reading.h"
#include "core/message_boxes.h"
#include "core/player_state.h"

#include <optional>

int PlayerState::OpenArchive(const char* path) {
    // An archive still open (one the Sound Info dialog loaded) is let go
    // first, so its handle does not leak.
    if (archive_file != INVALID_HANDLE_VALUE && archive_file != nullptr)
        CloseHandle(archive_file);
    archive_file = OpenForReading(path);
    if (archive_file == INVALID_HANDLE_VALUE)
        return 1;

    // Sizes of 4 GiB and more match no known archive.
    const DWORD size = SizeBelow4GiB(archive_file);
    if (LoadTrackIndex(size)) {
        lstrcpynA(archive_path, path, kPathChars);
        archive_bytes = size;
        return 0;
    }
    archive_path[0] = '\0';

    ShowNotValidArchive();
    CloseHandle(archive_file);
    archive_file = INVALID_HANDLE_VALUE;
    return 1;
}

int PlayerState::OpenEntry(const char* name) {
    const std::optional<TrackEntry> entry = ParseTrackEntry(name ? name : "");
    if (!entry) {
        entry_track = -1;
        return OpenArchive(name);
    }
    // The name fits the player's path limit, so its archive part fits too.
    char path[kPathChars];
    lstrcpynA(path, entry->archive.data(), static_cast<int>(entry->archive.size()) + 1);
    if (OpenArchive(path))
        return 1;
    if (!SelectTrack(entry->index())) {
        ShowNoSuchTrack(entry->number, path, track_count);
        CloseHandle(archive_file);
        archive_file = INVALID_HANDLE_VALUE;
        return 1;
    }
    entry_track = entry->index();
    return 0;
}
