// The time the listener is at: the playback thread's clock less what the
// output holds but has not played yet.
#include "core/entry_points.h"
#include "core/player_state.h"
#include "core/plugin_record.h"

#include <algorithm>

int PlayerState::HeardTimeMs() {
    // The three readings belong together: if the playback thread moved on
    // while the output was asked (the host's thread may be held up for a
    // while), they are taken again.
    int position = 0;
    int written = 0;
    int heard = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        position = decode_position_ms;
        written = module->output->get_written_time();
        heard = module->output->get_output_time();
        if (decode_position_ms == position)
            break;
    }
    std::int64_t time = static_cast<std::int64_t>(position) + heard - written;
    // Never before the track's start nor past its end, whatever the output
    // reports meanwhile.
    int length = CurrentTrackLength();
    if (length >= 0)
        time = std::min<std::int64_t>(time, length);
    return static_cast<int>(std::max<std::int64_t>(time, 0));
}
