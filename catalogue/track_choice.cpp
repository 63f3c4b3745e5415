// Which enabled track follows the current one.
#include "catalogue/track_choice.h"

int NextEnabledTrackAfter(std::span<TrackRecord> tracks, int current) {
    const int count = static_cast<int>(tracks.size());
    if (count <= 0)
        return -1;
    if (current < 0 || current >= count) {
        for (int i = 0; i < count; ++i)
            if (IsEnabled(tracks[i]))
                return i;
        return -1;
    }
    for (int i = (current + 1) % count; i != current; i = (i + 1) % count)
        if (IsEnabled(tracks[i]))
            return i;
    return -1;
}

int EnabledTrackCount(std::span<TrackRecord> tracks) {
    int enabled = 0;
    for (TrackRecord& record : tracks)
        enabled += IsEnabled(record) ? 1 : 0;
    return enabled;
}
