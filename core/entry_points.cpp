// The host's entry points: each a few lines that hand the work to the
// subsystem that owns it.
#include "core/entry_points.h"
#include "catalogue/track_entry.h"
#include "core/file_reading.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "decoder/track_stream.h"
#include "core/hand_over_lock.h"

namespace {

OutputServices& Output() {
    return *plugin_record.output;
}

} // namespace

void __cdecl Configure(HWND) {}

void __cdecl EqSet(int, char*, int) {}

void __cdecl Init() {
    char path[kPathChars] = {};
    char directory[kPathChars] = {};
    GetModuleFileNameA(plugin_record.instance, path, kPathChars);
    DirectoryOfPath(path, directory);
    player.InitPlayer(&plugin_record, directory);
}

void __cdecl Quit() {
    // The Sound Info dialog leaves an archive it loaded while nothing played
    // open; no stop will come to close it once the host quits.
    if (player.thread == NO_THREAD || player.thread == nullptr) {
        if (player.archive_file != INVALID_HANDLE_VALUE && player.archive_file != nullptr)
            CloseHandle(player.archive_file);
        player.archive_file = INVALID_HANDLE_VALUE;
    }
    player.FreePlayer();
}

// Archives are claimed by their extension; a track entry's name is claimed
// here, by its form alone (nothing is opened): players that look at the
// extension only reach the plug-in through its ".MIX" too.
int __cdecl IsOurFile(const char* file) {
    return file && ParseTrackEntry(file) ? 1 : 0;
}

int __cdecl Play(const char* file) {
    return player.PlayArchive(file);
}

void __cdecl Stop() {
    player.StopPlayback();
}

// The playback thread may be reopening the output for the next track: the
// pause reaches the output it leaves open.
void __cdecl Pause() {
    player.ObserveHost();
    HandOverLock hold(player.hand_over, HandOverLock::Side::HostThread);
    player.paused = 1;
    Output().pause(1);
}

void __cdecl Unpause() {
    player.ObserveHost();
    HandOverLock hold(player.hand_over, HandOverLock::Side::HostThread);
    player.paused = 0;
    Output().pause(0);
}

int __cdecl IsPaused() {
    player.ObserveHost();
    return static_cast<int>(player.paused.load());
}

int CurrentTrackLength() {
    int rate = player.sample_rate;
    int frame = player.bytes_per_frame;
    // Before a track has started (or at a rate no track can have) the length
    // is unknown.
    if (rate < kLowestSampleRate || frame <= 0)
        return -1000;
    // Exact, so that the time reported at the track's end is its length.
    return PcmTimeMs(player.output_length, rate, frame);
}

int __cdecl GetLength() {
    player.ObserveHost();
    return CurrentTrackLength();
}

int __cdecl GetOutputTime() {
    player.ObserveHost();
    return player.HeardTimeMs();
}

void __cdecl SetOutputTime(int ms) {
    player.seek_request_ms = ms;
    if (player.hand_over_ready) {
        HandOverLock hold(player.hand_over, HandOverLock::Side::HostThread);
        player.HandOverStep(handover::Event::Seek);
    }
    if (player.wake_event)
        SetEvent(player.wake_event);
}

void __cdecl SetVolume(int volume) {
    player.ObserveHost();
    Output().set_volume(volume);
}

void __cdecl SetPan(int pan) {
    player.ObserveHost();
    Output().set_pan(pan);
}

void __cdecl GetFileInfo(const char* file, char* title, int* length_ms) {
    player.ObserveHost();
    if (file && ParseTrackEntry(file)) {
        // One track: its title and exact length, from the index and its
        // header. An entry whose track cannot be read shows its own name,
        // which says which archive and track it is, and no length, as a
        // file that is not there.
        TrackFacts facts;
        const bool found = player.LookUpTrack(file, &facts);
        if (length_ms)
            *length_ms =
                found ? PcmTimeMs(facts.header.output_size, facts.header.sample_rate, 2) : -1000;
        if (title)
            lstrcpyA(title, found && facts.record.title[0] ? facts.record.title : FileNameOf(file));
        return;
    }
    if (file && *file) {
        // An archive stands for all its tracks: its name, and no length.
        if (length_ms) {
            *length_ms = -1000;
            HANDLE probe = OpenForReading(file);
            if (probe != INVALID_HANDLE_VALUE) {
                *length_ms = 0;
                CloseHandle(probe);
            }
        }
        if (title)
            lstrcpyA(title, FileNameOf(file));
        return;
    }
    if (length_ms)
        *length_ms = CurrentTrackLength();
    if (title) {
        StreamLock hold(player.stream_lock); // the playback thread may be selecting the next track
        lstrcpyA(title, FileNameOf(player.title));
    }
}
