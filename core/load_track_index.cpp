// Loading an archive's track index from beside the plug-in into the
// catalogue.
#include "core/message_boxes.h"
#include "core/player_state.h"
#include "core/track_index_file.h"

int PlayerState::LoadTrackIndex(DWORD archive_size) {
    if (tracks)
        GlobalFree(tracks);
    tracks = nullptr;
    track_count = 0;
    // What queries about tracks keep of the indexes follows what the
    // player has just read.
    index_cache.Forget();

    const TrackIndexFile file =
        ReadTrackIndexFile(plugin_directory, archive_size, index_path, kPathChars);
    switch (file.reading) {
    case IndexReading::Missing:
        // A path that would not fit is a missing index, shown as far as it goes.
        ShowMissingFile(index_path);
        index_path[0] = '\0';
        return 0;
    case IndexReading::Loaded:
        tracks = file.tracks;
        track_count = file.track_count;
        total_size = static_cast<int>(file.total_size);
        return 1;
    default:
        return 0;
    }
}
