// Play and stop as the host sees them. What a play starts and what a stop
// lets go of is the hand-over machine's to decide: a plain play or stop, or
// the halves of the host's answer to a restart request.
#include "core/file_reading.h"
#include "core/hand_over_lock.h"
#include "core/host_messages.h"
#include "core/message_boxes.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "decoder/track_stream.h"

#include <algorithm>

using handover::Action;
using handover::Event;

namespace {

bool Running(HANDLE thread) {
    return thread != NO_THREAD && thread != nullptr;
}

} // namespace

int PlayerState::PlayArchive(const char* file) {
    // A play while a stream plays (the host skipped stop): that stream is
    // stopped first, as stop would have.
    if (Running(thread))
        StopPlayback();
    // Windows paths: the same file whatever the letters' case. A track entry
    // is never the archive a restart request asks for: requests are made
    // only while an archive plays whole.
    const bool same_archive = file && *file && lstrcmpiA(file, archive_path) == 0;
    Action action;
    bool chosen;
    {
        HandOverLock hold(hand_over, HandOverLock::Side::HostThread);
        chosen = same_archive && hand_over_state.Chosen();
        handover::Facts facts;
        facts.same_archive = same_archive;
        action = HandOverStep(Event::Play, facts);
    }
    switch (action) {
    case Action::StartNothing:
        // The stream this answer asks for has ended meanwhile: the
        // end-of-stream notice already on its way stops the host.
        return 0;
    case Action::FinishNow:
        // Every track left was disabled while the host was asked: the stream
        // ends here with its one notice. The output was let go of at the
        // stop, so there is nothing to drain.
        PostEndOfStreamNotice(module->main_window);
        ReleaseStream();
        return 0;
    case Action::StartChosen:
    case Action::Resume: {
        // The answer to a restart request: the chosen track of the archive
        // the catalogue describes.
        if (ReopenArchive())
            return FailStart();
        int start = 0;
        if (action == Action::Resume) {
            // Where the listener was, at a whole ADPCM byte.
            std::int64_t byte = static_cast<std::int64_t>(hand_over_state.resume_ms()) *
                                sample_rate * bytes_per_frame / 1000;
            byte = std::clamp<std::int64_t>(byte, 0, output_length);
            start = static_cast<int>(byte - byte % kPcmBytesPerDataByte);
        }
        return StartTrackAt(true, start);
    }
    default:
        break;
    }
    // A plain play: the file afresh, every track enabled. A track chosen in
    // the Sound Info dialog while nothing played belongs to the archive it
    // was chosen in; a track entry plays its own track.
    const int track = chosen ? current_track.load() : 0;
    if (OpenEntry(file)) {
        current_track = 0;
        return FailStart();
    }
    // Selecting it again makes sure its fields come from the catalogue just
    // loaded (which may have changed on disk since).
    if (entry_track == -1 && !SelectTrack(track))
        SelectTrack(0);
    // No record to start: an empty catalogue.
    if (current_track < 0 || current_track >= track_count) {
        ShowNotValidArchive();
        return FailStart();
    }
    return StartTrackAt(false, 0);
}

int PlayerState::ReopenArchive() {
    if (archive_file == INVALID_HANDLE_VALUE || archive_file == nullptr)
        archive_file = OpenForReading(archive_path);
    // Gone, replaced or cut short since the catalogue was read: its records
    // would point into another file.
    if (archive_file == INVALID_HANDLE_VALUE || SizeBelow4GiB(archive_file) != archive_bytes) {
        ShowNotValidArchive();
        return 1;
    }
    return 0;
}

int PlayerState::FailStart() {
    // Whatever a track change kept, a failed play leaves what a plain stop
    // leaves: the next play starts afresh.
    {
        HandOverLock hold(hand_over, HandOverLock::Side::HostThread);
        HandOverStep(Event::PlayFailed);
    }
    ReleaseStream();
    return 1;
}

void PlayerState::StopPlayback() {
    StopThread();
    Action action;
    bool late = false;
    {
        HandOverLock hold(hand_over, HandOverLock::Side::HostThread);
        action = HandOverStep(Event::Stop);
        late = hand_over_state.WantsResumePlace();
    }
    // A late answer's play goes on where the listener is now; other stops
    // ask the output nothing before it is closed.
    if (late && output_sample_rate != 0) {
        const int heard = HeardTimeMs();
        HandOverLock hold(hand_over, HandOverLock::Side::HostThread);
        hand_over_state.PlaceResume(heard);
    }
    // Whatever stop this is, the output and the archive are let go of: a
    // user's stop must not leave the device running.
    switch (action) {
    case Action::Suspend:
    case Action::None:
        SuspendStream();
        break;
    case Action::ReleaseKeep:
        SuspendStream();
        paused = 0;
        break;
    default:
        // The user's stop: the pause ends with it, and a restart request
        // the host has not taken yet would only start the stream again.
        ReleaseStream();
        paused = 0;
        if (module)
            WithdrawRestartRequest(module->main_window);
        break;
    }
    module->analysis_deinit();
}
