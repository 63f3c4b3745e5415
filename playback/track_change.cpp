// The hand-over from one track to the next. Two actors start one: the
// playback thread when a track has played out, and the Sound Info dialog when
// the user disables the playing track. Each decides and commits under the
// hand-over lock, so each sees the other's choice whole, and at most one
// restart request is on its way at a time: while `switching_track` is set the
// host has been asked and a later change only re-aims it.
#include "catalogue/track_choice.h"
#include "core/player_state.h"
#include "core/plugin_record.h"

namespace {

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
    // The time of the request starts the wait for the host's answer.
    restart_posted_at = GetTickCount();
    if (!switching_track.exchange(1)) {
        ++restarts_outstanding;
        PostRestartRequest(*this);
    }
}

HandOver PlayerState::ChangeAtTrackEnd(bool yielded_audio) {
    // A stop that came before this point ends the stream as a plain stop
    // does; one that comes after it finds the change committed.
    if (stop_requested)
        return HandOver::Stopped;
    // The dialog moved playback on while this track's tail played: its
    // restart request is on the way, and this thread waits for the answer.
    // A host that let the request go unanswered for long has been playing
    // the dialog's track all along: its end is an end like any.
    if (switching_track) {
        if (GetTickCount() - restart_posted_at < kRestartAnswerMs) {
            awaiting_restart = 1;
            return HandOver::Pending;
        }
        switching_track = 0;
    }
    // A whole round of the enabled tracks without a sample heard: an archive
    // of empty or damaged tracks would otherwise go round for ever.
    silent_tracks = yielded_audio ? 0 : silent_tracks + 1;
    int next = NextEnabledTrack();
    if (next == -1 || silent_tracks >= EnabledTrackCount(Catalogue()))
        return HandOver::Finish;
    CommitChange(next);
    awaiting_restart = 1;
    return HandOver::Changed;
}

HandOver PlayerState::AnswerRestartHere(Shared<unsigned>* stop_flag) {
    // The host's stop may have come meanwhile: it answers, not this thread.
    if (*stop_flag || !awaiting_restart)
        return HandOver::Pending;
    if (seek_request_ms == kNoSeekRequest && GetTickCount() - restart_posted_at < kRestartAnswerMs)
        return HandOver::Pending;
    awaiting_restart = 0;
    switching_track = 0;
    // Every track left was disabled while the host was being asked.
    if (finish_requested)
        return HandOver::Finish;
    if (StartTrackHere())
        return HandOver::Changed;
    // The chosen track cannot start: with the output gone nothing more can
    // be heard; otherwise the change moves on past it.
    if (output_sample_rate == 0)
        return HandOver::Finish;
    return ChangeAtTrackEnd(false);
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
            if (output_sample_rate != 0)
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
    // Nothing plays: the host's play reopens the archive at this track. The
    // user's choice outweighs a stop kept as a possible late answer. A
    // stream that ended while the host was answering late still waits for
    // its end-of-stream notice: the choice goes on its way as a track
    // change (as it would with the ended thread still there), and so does
    // one made while a change was on its way.
    {
        StreamLock hold(stream_lock);
        SelectTrack(next);
        SeekStream(0, 1);
    }
    if (resume_ms == kResumeAfterEnd)
        switching_track = 1;
    resume_ms = kNoResume;
    PostRestartRequest(*this);
}
