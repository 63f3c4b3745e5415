// Ending the playback thread.
#include "core/player_state.h"
#include "playback/playback_thread.h"

DWORD WINAPI PlaybackThread(LPVOID stop_flag) {
    return static_cast<DWORD>(
        player_instance->PlaybackLoop(static_cast<Shared<unsigned>*>(stop_flag)));
}

void PlayerState::StopThread() {
    if (thread == NO_THREAD || thread == nullptr)
        return;
    stop_requested = 1;
    // Every wait of the playback loop gives way to the stop flag within one
    // pass (a sleep of at most 20 ms, a block, or a seek), so this wait is
    // short and needs no limit, nor a forced end that could leave the
    // stream lock held.
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    thread = NO_THREAD;
}
