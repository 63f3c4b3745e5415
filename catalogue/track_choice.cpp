// Choosing the current track, and the next enabled one after it.
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
    output_length = static_cast<int>(static_cast<std::uint64_t>(record.size) * 2048 / 520);
    output_position = 0;
    lstrcpynA(title, record.title, kPathChars);
    return 1;
}

int PlayerState::NextEnabledTrack() {
    if (track_count <= 0 || !tracks)
        return -1;
    int current = current_track;
    if (current < 0 || current >= track_count) {
        // No current record to start from: the first enabled track answers.
        for (int i = 0; i < track_count; ++i)
            if (IsEnabled(tracks[i]))
                return i;
        return -1;
    }
    for (int i = (current + 1) % track_count; i != current; i = (i + 1) % track_count)
        if (IsEnabled(tracks[i]))
            return i;
    return -1;
}
