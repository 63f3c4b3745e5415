// The playback thread's entry routine: the player's playback loop.
#include "playback/playback_thread.h"
#include "core/player_state.h"

DWORD WINAPI PlaybackThread(LPVOID stop_flag) {
    return static_cast<DWORD>(
        player_instance->PlaybackLoop(static_cast<Shared<unsigned>*>(stop_flag)));
}
