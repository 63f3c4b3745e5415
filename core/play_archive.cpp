// Play and stop as the host sees them, including the track changes that keep
// the archive and the output open across the host's stop-and-play.
#include "core/player_state.h"
#include "core/plugin_record.h"

int PlayerState::PlayArchive(const char* file) {
    // A host that skipped stop after the end-of-stream notice: end and
    // release that stream first, as stop would have.
    if (thread != NO_THREAD && thread != nullptr)
        StopPlayback();
    if (!switching_track) {
        if (OpenArchive(file))
            return 1;
        // Track 0, or the track chosen in the Sound Info dialog while nothing
        // played; selecting it again makes sure its fields come from the
        // catalogue just loaded.
        SelectTrack(current_track);
    }
    // No record to start: an empty catalogue, or a track chosen in another
    // archive's catalogue.
    if (current_track < 0 || current_track >= track_count) {
        MessageBoxA(nullptr, "Not a valid Kestrel MIX file!", "Error", MB_OK | MB_ICONWARNING);
        if (archive_file != INVALID_HANDLE_VALUE)
            CloseHandle(archive_file);
        archive_file = INVALID_HANDLE_VALUE;
        switching_track = 0;
        return 1;
    }
    if (StartTrack())
        return 1;
    switching_track = 0;
    return 0;
}

void PlayerState::StopPlayback() {
    StopThread();
    if (!switching_track) {
        if (archive_file != INVALID_HANDLE_VALUE) {
            CloseHandle(archive_file);
            archive_file = INVALID_HANDLE_VALUE;
        }
        current_track = 0;
        module->output->close();
    }
    module->analysis_deinit();
}
