// Opening an archive: recognised by its size, its index loaded.
#include "core/message_boxes.h"
#include "core/player_state.h"

int PlayerState::OpenArchive(const char* path) {
    // An archive still open (one the Sound Info dialog loaded) is let go
    // first, so its handle does not leak.
    if (archive_file != INVALID_HANDLE_VALUE && archive_file != nullptr)
        CloseHandle(archive_file);
    archive_file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (archive_file == INVALID_HANDLE_VALUE)
        return 1;

    // Sizes of 4 GiB and more match no known archive.
    DWORD size_high = 0;
    DWORD size = GetFileSize(archive_file, &size_high);
    if (size_high != 0)
        size = INVALID_FILE_SIZE;
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
