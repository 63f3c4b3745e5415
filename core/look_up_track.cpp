// The track a track entry names, for the queries that do not play it.
#include "catalogue/track_entry.h"
#include "core/file_reading.h"
#include "core/player_state.h"

#include <cstring>

static_assert(kLongestEntryName < kPathChars);

bool PlayerState::LookUpTrack(const char* name, TrackFacts* facts, HANDLE* archive) {
    if (!name)
        return false;
    const std::optional<TrackEntry> entry = ParseTrackEntry(name);
    if (!entry)
        return false;
    char path[kPathChars];
    std::memcpy(path, entry->archive.data(), entry->archive.size());
    path[entry->archive.size()] = '\0';
    HANDLE file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool found = index_cache.Track(plugin_directory, file, entry->index(), facts);
    if (found && archive)
        *archive = file;
    else
        CloseHandle(file);
    return found;
}
