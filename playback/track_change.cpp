// The moves from one track to the next that the playback thread and the
// Sound Info dialog make. The hand-over machine decides; these carry its
// decisions out, under the hand-over lock their callers hold, so each side
// sees the other's choice whole.
#include "catalogue/track_choice.h"
#include "core/hand_over_lock.h"
#include "core/host_messages.h"
#include "core/player_state.h"
#include "core/plugin_record.h"

using handover::Action;
using handover::Event;

void PlayerState::CommitChange(int next, bool ask) {
    {
        // The playback thread sees the old track or the new one rewound,
        // never half a change.
        StreamLock hold(stream_lock);
        SelectTrack(next);
        // The host shows the new track's length from now on: the exact one
        // from its header, not the index's estimate.
        TrackHeader header{};
        if (ReadTrackHeader(&header)) {
            output_length = static_cast<int>(header.output_size);
            sample_rate = header.sample_rate;
            bytes_per_frame = bits_per_sample / 8 * channels;
        }
        SeekStream(0, 1);
        decode_position_ms = 0;
    }
    // Nothing more of the track left is written or heard.
    if (output_sample_rate != 0)
        module->output->flush(0);
    if (wake_event)
        SetEvent(wake_event);
    if (ask)
        PostRestartRequest(module->main_window);
}

bool PlayerState::StepAtTrackEnd(bool yielded) {
    handover::Facts facts;
    const int next = NextEnabledTrack();
    facts.has_next = next != -1;
    facts.yielded = yielded;
    facts.enabled = EnabledTrackCount(Catalogue());
    const Action action = HandOverStep(Event::TrackEnd, facts);
    if (action == Action::CommitAndAsk || action == Action::Commit)
        CommitChange(next, action == Action::CommitAndAsk);
    return true;
}

bool PlayerState::StepWhileAsked(bool* decoding) {
    handover::Facts facts;
    facts.seek_pending = seek_request_ms != kNoSeekRequest;
    const Action action = HandOverStep(Event::Wait, facts);
    *decoding = hand_over_state.Decoding();
    if (action != Action::StartHere)
        return true;
    switch (StartTrackHere()) {
    case HereStart::Started:
        return true;
    case HereStart::BadHeader:
        // The chosen track cannot start: the change moves on past it, as
        // past a track that ended without a sample.
        return StepAtTrackEnd(false);
    case HereStart::OutputLost:
        break;
    }
    // The output will not open for the chosen track: nothing more can be
    // heard, and the stream ends with its one notice.
    HandOverStep(Event::OutputLost);
    PostEndOfStreamNotice(module->main_window);
    return false;
}

void PlayerState::ChangeFromDisabledTrack() {
    // Searching on from the current track, which is the one a change on its
    // way has selected.
    const int next = NextEnabledTrack();
    handover::Facts facts;
    facts.has_next = next != -1;
    if (next != -1) {
        const TrackRecord& record = tracks[next];
        facts.same_rate = output_sample_rate != 0 && record.sample_rate == output_sample_rate;
    }
    switch (HandOverStep(Event::Choice, facts)) {
    case Action::CommitAndAsk:
        CommitChange(next, true);
        break;
    case Action::Commit:
        CommitChange(next, false);
        break;
    case Action::Choose: {
        // Nothing plays: the host's play opens the archive at this track.
        StreamLock hold(stream_lock);
        SelectTrack(next);
        SeekStream(0, 1);
        PostRestartRequest(module->main_window);
        break;
    }
    case Action::Finish:
        // The track the host is about to start was disabled too: nothing of
        // it plays. A track still playing finishes its block and drains.
        if (hand_over_state.phase() == handover::Phase::Asked && output_sample_rate != 0)
            module->output->flush(0);
        break;
    default:
        break;
    }
    if (wake_event)
        SetEvent(wake_event);
}
