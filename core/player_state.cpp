// The player's life: set up by the host's init, released by its quit.
#include "core/player_state.h"

constinit PlayerState player;
PlayerState* player_instance = nullptr;

void PlayerState::InitPlayer(PluginRecord* record, const char* directory) {
    module = record;
    // The host calls every entry point on the thread that calls init.
    host_thread_id = GetCurrentThreadId();
    archive_file = INVALID_HANDLE_VALUE;
    thread = NO_THREAD;
    stop_requested = 0;
    lstrcpynA(plugin_directory, directory, kPathChars);
    // A failed allocation leaves the buffer null: the player then refuses
    // to start a track instead of crashing.
    pcm_buffer = static_cast<char*>(GlobalAlloc(GMEM_FIXED, kPcmBufferBytes));
    stream_lock.Prepare();
    index_cache.Prepare();
    // Without the event the playback thread falls back to plain sleeps.
    if (!wake_event)
        wake_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!hand_over_ready) {
        InitializeCriticalSection(&hand_over);
        hand_over_ready = true;
    }
    player_instance = this;
}

void PlayerState::FreePlayer() {
    if (tracks) {
        GlobalFree(tracks);
        tracks = nullptr;
    }
    if (pcm_buffer) {
        GlobalFree(pcm_buffer);
        pcm_buffer = nullptr;
    }
    decoder.checkpoints().Release();
    index_cache.Release();
    // The host stops the stream before quit; a thread still running would
    // need the locks, so they then stay.
    if (thread == NO_THREAD || thread == nullptr) {
        stream_lock.Release();
        if (hand_over_ready)
            DeleteCriticalSection(&hand_over);
        hand_over_ready = false;
    }
    if (wake_event) {
        CloseHandle(wake_event);
        wake_event = nullptr;
    }
}

void DirectoryOfPath(const char* path, char* directory) {
    int cut = 0;
    for (int i = 0; i < kPathChars - 1 && path[i]; ++i)
        if (path[i] == '\\')
            cut = i + 1;
    lstrcpynA(directory, path, cut + 1);
}

const char* FileNameOf(const char* path) {
    const char* name = path;
    for (const char* c = path; *c; ++c)
        if (*c == '\\')
            name = c + 1;
    return name;
}
