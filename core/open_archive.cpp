// Opening an archive: recognised by its size, its index loaded.
#include "core/file_reading.h"
#include "core/message_boxes.h"
#include "core/player_state.h"

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
