// Play and stop as the host sees them, including the track changes that the
// host answers with stop and play.
#include "core/file_reading.h"
#include "core/message_boxes.h"
#include "core/player_state.h"
#include "core/plugin_record.h"

int PlayerState::PlayArchive(const char* file) {
    // A host that skipped stop after the end-of-stream notice: end and
    // release that stream first, as stop would have.
    if (thread != NO_THREAD && thread != nullptr)
        StopPlayback(false);
    // Windows paths: the same file whatever the letters' case.
    const bool same_archive = file && *file && lstrcmpiA(file, archive_path) == 0;
    // The stop before this play may have been a slow host's answer to a
    // restart request the playback thread had answered itself: only a play
    // of the same archive right after it goes on where the listener was.
    if (resume_ms != kNoResume &&
        !(same_archive && GetTickCount() - stopped_at <= kLateAnswerGapMs))
        ReleaseStream();
    // The host stopped while a track change was under way (its stop came
    // instead of the restart) and now plays another file: that change is
    // dropped, as a plain stop would have dropped it.
    if (switching_track && file && *file && !same_archive)
        ReleaseStream();
    // The stream the late answer asks for has already ended: nothing is
    // started, and the end-of-stream notice already on its way stops it.
    // Further requests the thread answered before its end may still be
    // queued before that notice: their stop and play do the same.
    if (resume_ms == kResumeAfterEnd) {
        SuspendStream();
        return 0;
    }
    if (switching_track && finish_requested)
        return FinishStream();
    if (switching_track) {
        // The answer to a restart request: the chosen track of the archive
        // the catalogue describes.
        if (ReopenArchive())
            return 1;
        if (restarts_outstanding > 0)
            --restarts_outstanding;
    } else {
        // A track chosen in the Sound Info dialog while nothing played
        // belongs to the archive it was chosen in.
        const int chosen = same_archive ? current_track.load() : 0;
        silent_tracks = 0;
        if (OpenArchive(file)) {
            current_track = 0;
            return 1;
        }
        // Selecting it again makes sure its fields come from the catalogue
        // just loaded (which may have changed on disk since).
        if (!SelectTrack(chosen))
            SelectTrack(0);
    }
    // No record to start: an empty catalogue.
    if (current_track < 0 || current_track >= track_count) {
        ShowNotValidArchive();
        ReleaseStream();
        return 1;
    }
    // A started track has cleared switching_track (before its thread ran).
    return StartTrack();
}

int PlayerState::ReopenArchive() {
    if (archive_file == INVALID_HANDLE_VALUE || archive_file == nullptr)
        archive_file = OpenForReading(archive_path);
    // Gone, replaced or cut short since the catalogue was read: its records
    // would point into another file.
    if (archive_file == INVALID_HANDLE_VALUE || SizeBelow4GiB(archive_file) != archive_bytes) {
        ShowNotValidArchive();
        ReleaseStream();
        return 1;
    }
    return 0;
}

void PlayerState::StopPlayback(bool hosts_stop) {
    const bool had_thread = thread != NO_THREAD && thread != nullptr;
    const bool thread_ended = had_thread && WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    StopThread();
    // The playback thread answered a restart request itself and the host's
    // own answer may still come: this stop is kept as a late answer for a
    // moment, so that the play after it goes on where the listener is. A
    // user's stop is let go of at the next play.
    if (hosts_stop && !switching_track && had_thread && restarts_outstanding > 0 &&
        output_sample_rate != 0) {
        resume_ms = thread_ended ? kResumeAfterEnd : HeardTimeMs();
        stopped_at = GetTickCount();
        switching_track = 1;
    } else if (hosts_stop && resume_ms == kResumeAfterEnd) {
        stopped_at = GetTickCount();
    }
    // Whatever stop this is, the output and the archive are let go of: a
    // user's stop must not leave the device running.
    if (switching_track)
        SuspendStream();
    else
        ReleaseStream();
    module->analysis_deinit();
}
