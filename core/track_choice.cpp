// Choosing the current track, and the next enabled one after it.
#include "catalogue/track_choice.h"
#include "core/player_state.h"

int PlayerState::SelectTrack(int index) {
    if (!tracks || index < 0 || index >= track_count)
        return 0;
    const TrackRecord& record = tracks[index];
    // The playback thread reads the current track's fields between blocks;
    // the lock keeps it from seeing half a selection.
    StreamLock hold(stream_lock);
    current_track = index;
    bits_per_sample = 16;
    channels = 1;
    track_offset = static_cast<int>(record.offset);
    sample_rate = record.sample_rate;
    track_size = static_cast<int>(record.size);
    output_length = EstimatedOutputLength(record.size);
    output_position = 0;
    lstrcpynA(title, record.title, kPathChars);
    return 1;
}

int PlayerState::NextEnabledTrack() {
    // A track entry plays its track only: after it the player moves on to
    // its own next entry.
    if (entry_track != -1)
        return -1;
    return NextEnabledTrackAfter(Catalogue(), current_track);
}
