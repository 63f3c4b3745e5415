// Letting go of a stream: every stop closes the archive and the output; a
// plain stop also forgets the track.
#include "core/player_state.h"
#include "core/plugin_record.h"

void PlayerState::SuspendStream() {
    if (archive_file != INVALID_HANDLE_VALUE && archive_file != nullptr) {
        CloseHandle(archive_file);
        archive_file = INVALID_HANDLE_VALUE;
    }
    if (output_sample_rate != 0) {
        module->output->close();
        output_sample_rate = 0;
    }
}

void PlayerState::ReleaseStream() {
    SuspendStream();
    current_track = 0;
    entry_track = -1;
}
