// Play and stop as the host sees them, including the track changes that keep
// the archive and the output open across the host's stop-and-play.
#include "core/message_boxes.h"
#include "core/player_state.h"
#include "core/plugin_record.h"

int PlayerState::PlayArchive(const char* file) {
    // A host that skipped stop after the end-of-stream notice: end and
    // release that stream first, as stop would have.
    if (thread != NO_THREAD && thread != nullptr)
        StopPlayback();
    // Windows paths: the same file whatever the letters' case.
    const bool same_archive = file && *file && lstrcmpiA(file, archive_path) == 0;
    // The host stopped while a track change was under way (its stop came
    // instead of the restart) and now plays another file: that change is
    // dropped, as a plain stop would have dropped it.
    if (switching_track && file && *file && !same_archive)
        ReleaseStream();
    if (switching_track && finish_requested)
        return FinishStream();
    if (!switching_track) {
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

void PlayerState::StopPlayback() {
    StopThread();
    if (!switching_track)
        ReleaseStream();
    module->analysis_deinit();
}

void PlayerState::ReleaseStream() {
    if (archive_file != INVALID_HANDLE_VALUE && archive_file != nullptr) {
        CloseHandle(archive_file);
        archive_file = INVALID_HANDLE_VALUE;
    }
    current_track = 0;
    switching_track = 0;
    awaiting_restart = 0;
    finish_requested = 0;
    if (output_sample_rate != 0) {
        module->output->close();
        output_sample_rate = 0;
    }
}
