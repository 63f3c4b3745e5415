// Play and stop as the host sees them, including the track changes that keep
// the archive and the output open across the host's stop-and-play.
#include "core/player_state.h"
#include "core/plugin_record.h"

namespace {

// Windows paths: the same file whatever the letters' case.
bool SamePath(const char* a, const char* b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (; *a && *b; ++a, ++b)
        if (lower(*a) != lower(*b))
            return false;
    return *a == *b;
}

} // namespace

int PlayerState::PlayArchive(const char* file) {
    // A host that skipped stop after the end-of-stream notice: end and
    // release that stream first, as stop would have.
    if (thread != NO_THREAD && thread != nullptr)
        StopPlayback();
    // The host stopped while a track change was under way (its stop came
    // instead of the restart) and now plays another file: that change is
    // dropped, as a plain stop would have dropped it.
    if (switching_track && file && *file && !SamePath(file, archive_path)) {
        switching_track = 0;
        ReleaseStream();
    }
    if (!switching_track) {
        if (OpenArchive(file))
            return 1;
        lstrcpynA(archive_path, file, kPathChars);
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
    module->output->close();
}
