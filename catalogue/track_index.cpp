// Loading an archive's track index: the scrambled records beside the plug-in.
#include "core/player_state.h"
#include "catalogue/known_archives.h"

#include <cstring>

void DescrambleRecord(std::uint8_t* record) {
    for (int i = 0; i < kTrackRecordBytes; ++i)
        record[i] ^= kScrambleKey[i % kScrambleKeyBytes];
}

namespace {

// Moves a text of `field` bytes down over its length byte and terminates it;
// a stored length outside 0..field-1 is clamped so the terminator stays
// inside the field.
void ConvertText(std::uint8_t* length_byte, int field) {
    int length = static_cast<std::int8_t>(*length_byte);
    if (length < 0)
        length = 0;
    if (length > field - 1)
        length = field - 1;
    std::memmove(length_byte, length_byte + 1, field - 1);
    length_byte[length] = 0;
}

} // namespace

void ConvertRecord(std::uint8_t* record) {
    ConvertText(record + kStoredTitleLength, kTitleField);
    ConvertText(record + kStoredShortTextLength, kShortTextField);
    record[kStoredFlags] |= kTrackEnabled;
}

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
    HANDLE index = fits ? CreateFileA(index_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                        : INVALID_HANDLE_VALUE;
    if (index == INVALID_HANDLE_VALUE) {
        MessageBoxA(nullptr, index_path, "Missing file", MB_OK | MB_ICONWARNING);
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
    tracks = loaded;
    int count = static_cast<int>(bytes / kTrackRecordBytes);
    std::uint32_t sum = 0;
    int j = 0;
    for (; j < count; ++j) {
        std::uint8_t record[kTrackRecordBytes];
        DWORD got = 0;
        // Only records read in full are kept.
        if (!ReadFile(index, record, kTrackRecordBytes, &got, nullptr) || got != kTrackRecordBytes)
            break;
        DescrambleRecord(record);
        ConvertRecord(record);
        std::memcpy(&tracks[j], record, kTrackRecordBytes);
        sum += tracks[j].size;
    }
    track_count = j;
    total_size = static_cast<int>(sum);
    CloseHandle(index);
    return 1;
}
