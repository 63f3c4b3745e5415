// The hand-over from one track to the next. Two actors start one: the
// playback thread when a track has played out, and the Sound Info dialog when
// the user disables the playing track. Each decides and commits under the
// hand-over lock, so each sees the other's choice whole, and at most one
// restart request is on its way at a time: while `switching_track` is set the
// host has been asked and a later change only re-aims it.
#include "core/player_state.h"
#include "core/plugin_record.h"

namespace {

int EnabledTracks(PlayerState& p) {
    int enabled = 0;
    for (int i = 0; p.tracks && i < p.track_count; ++i)
        enabled += IsEnabled(p.tracks[i]) ? 1 : 0;
    return enabled;
}

void PostRestartRequest(PlayerState& p) {
    PostMessageA(p.module->main_window, kRestartRequest, 0, kRestartRequestCode);
}

} // namespace

void PlayerState::CommitChange(int next) {
    {
        // The playback thread sees the old track or the new one rewound,
        // never half a change.
        StreamLock hold(stream_lock);
        SelectTrack(next);
        SeekStream(0, 1);
        decode_position_ms = 0;
    }
    // Nothing more of the track left is written or heard.
    ++track_epoch;
    module->output->flush(0);
    if (wake_event)
        SetEvent(wake_event);
    // A change already on its way is only re-aimed: the host has been asked.
    if (!switching_track.exchange(1))
        PostRestartRequest(*this);
}

HandOver PlayerState::ChangeAtTrackEnd(bool yielded_audio) {
    // A stop that came before this point ends the stream as a plain stop
    // does; one that comes after it finds the change committed.
    if (stop_requested)
        return HandOver::Stopped;
    // The dialog moved playback on while this track's tail played: its
    // restart request is on the way, and this thread waits for the answer.
    if (switching_track) {
        awaiting_restart = 1;
        return HandOver::Pending;
    }
    // A whole round of the enabled tracks without a sample heard: an archive
    // of empty or damaged tracks would otherwise go round for ever.
    silent_tracks = yielded_audio ? 0 : silent_tracks + 1;
    int next = NextEnabledTrack();
    if (next == -1 || silent_tracks >= EnabledTracks(*this))
        return HandOver::Finish;
    awaiting_restart = 1;
    CommitChange(next);
    return HandOver::Changed;
}

void PlayerState::ChangeFromDisabledTrack() {
    // Searching on from the current track, which is the one a change on its
    // way has selected.
    int next = NextEnabledTrack();
    if (next == -1) {
        finish_requested = 1;
        if (switching_track) {
            // The track the host is about to start was disabled too: nothing
            // more of it plays, and the host's answer ends the stream.
            awaiting_restart = 1;
            ++track_epoch;
            module->output->flush(0);
        }
        if (wake_event)
            SetEvent(wake_event);
        return;
    }
    if (thread != NO_THREAD && thread != nullptr) {
        CommitChange(next);
        return;
    }
    // Nothing plays: the host's play reopens the archive at this track.
    {
        StreamLock hold(stream_lock);
        SelectTrack(next);
        SeekStream(0, 1);
    }
    switching_track = 0;
    PostRestartRequest(*this);
}
