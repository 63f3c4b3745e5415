// The one record of everything the plug-in knows while it is loaded. Its
// operations are defined in the folder of the subsystem that owns them:
// decoder/ and catalogue/ hold the formats over memory; the operations on
// files, locks and boxes live in core/, the playback thread's in playback/,
// the dialogs' in dialogs/.
#pragma once

#include "platform/win32.h"
#include "catalogue/track_record.h"
#include "core/archive_source.h"
#include "core/hand_over.h"
#include "core/index_cache.h"
#include "core/stream_lock.h"
#include "decoder/track_decoder.h"

#include <atomic>
#include <cstdint>
#include <span>

struct PluginRecord;

constexpr int kPathChars = 260;
constexpr int kPcmBufferBytes = 4608;
constexpr int kBlockFrames = 576;
constexpr int kNoSeekRequest = -1;
#define NO_THREAD (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

// A field that the host's thread and the playback thread both touch.
template <typename T> using Shared = std::atomic<T>;
static_assert(Shared<std::int32_t>::is_always_lock_free);

class PlayerState {
public:
    // Life of the loaded library (core/player_state.cpp).
    void InitPlayer(PluginRecord* record, const char* directory);
    void FreePlayer();

    // Catalogue (core/load_track_index.cpp, core/open_archive.cpp,
    // core/track_choice.cpp).
    int LoadTrackIndex(DWORD archive_size);
    int OpenArchive(const char* path);
    // Opens what a playlist entry names: a whole archive, or one track of
    // it ("ARCHIVE|N.MIX"), that track then current and the only one to
    // play. 0 on success; 1 after the box that says why not.
    int OpenEntry(const char* name);
    int SelectTrack(int index);
    int NextEnabledTrack();
    // The loaded records; empty while none are.
    std::span<TrackRecord> Catalogue() const {
        return tracks && track_count > 0 ? std::span<TrackRecord>(tracks, track_count)
                                         : std::span<TrackRecord>();
    }

    // Queries about single tracks, from any thread (core/look_up_track.cpp):
    // the track a track entry names, from the index cache and the track's
    // header. With `archive`, the archive stays open there for the caller
    // to close. False, with nothing left open, if `name` is no track entry
    // or its track cannot be read.
    bool LookUpTrack(const char* name, TrackFacts* facts, HANDLE* archive = nullptr);

    // Decoding: the decoder over the archive, under the stream lock
    // (core/player_stream.cpp).
    int DecodeBlock(char* buffer, int count);
    void SeekStream(int target, int rewind);
    // Reads the current track's header; false unless it is a usable one.
    bool ReadTrackHeader(TrackHeader* header);

    // Playback (playback/).
    int StartTrack();
    int PlaybackLoop(Shared<unsigned>* stop_flag);
    void StopThread();

    // Host entry (core/).
    int PlayArchive(const char* file);
    void StopPlayback();
    // What every stop lets go of: the archive file and the output. The
    // catalogue and the chosen track stay for a play that answers a restart
    // request.
    void SuspendStream();
    // What a plain stop lets go of: the above and the current track.
    void ReleaseStream();
    // The time the listener is at in the current track (the host's
    // get_output_time), in [0, length].
    int HeardTimeMs();

    // The hand-over between tracks (core/hand_over_steps.cpp): every event
    // that moves it goes through the machine, under the hand-over lock.
    handover::Action HandOverStep(handover::Event event, handover::Facts facts = {});
    // A host call other than play, stop and seek: it shows the host's loop
    // turning, which tells whether a restart request was passed by.
    void ObserveHost();
    // Sound Info "Done" disabled the current track (dialogs/).
    void ChangeFromDisabledTrack();
    // The flags of the track change, as the hand-over's state shows them
    // (each takes the hand-over lock): the playback thread waits for the
    // host's answer and decodes nothing; a change keeps the chosen track
    // across the host's stop and play; every track was disabled and the
    // stream ends.
    bool awaiting_restart();
    bool switching_track();
    bool finish_requested();

    // Sound Info dialog (dialogs/).
    INT_PTR InfoDialogProc(HWND window, UINT message, WPARAM first, LPARAM second);

    Shared<int> decoding{0};
    Shared<int> seeking{0};
    Shared<int> end_of_stream{0};
    Shared<unsigned> paused{0};
    Shared<int> decode_position_ms{0};
    Shared<int> seek_request_ms{0};
    char title[kPathChars] = {}; // written and read under the stream lock
    char* pcm_buffer = nullptr;
    int max_latency_ms = 0;
    HANDLE archive_file = nullptr;
    HANDLE thread = nullptr;
    DWORD thread_id = 0;
    Shared<unsigned> stop_requested{0};
    char index_path[kPathChars] = {};
    char plugin_directory[kPathChars] = {};
    int track_count = 0;
    int total_size = 0;
    TrackRecord* tracks = nullptr;
    Shared<int> current_track{0};
    // The track a track entry named, the only one its stream plays; -1
    // while an archive plays whole.
    Shared<int> entry_track{-1};
    Shared<int> track_offset{0};
    Shared<int> track_size{0};
    Shared<int> output_length{0};
    Shared<int> output_position{0};
    Shared<int> bits_per_sample{0};
    Shared<int> channels{0};
    Shared<int> sample_rate{0};
    Shared<int> bytes_per_frame{0};
    // The current track's decoder over the archive, and the lock that keeps
    // its operations apart (both used under that lock).
    TrackDecoder decoder;
    ArchiveSource archive_source;
    StreamMutex stream_lock;
    PluginRecord* module = nullptr;
    // The rate the output device is open at, 0 while it is closed: a track
    // change that keeps the output open can tell when it must reopen it, and
    // nothing opens it twice or closes it while closed.
    int output_sample_rate = 0;
    // The archive the loaded catalogue describes: a track chosen in it
    // belongs to it, and a play during a track change must be of it.
    char archive_path[kPathChars] = {};
    DWORD archive_bytes = 0; // its size when the catalogue was loaded
    // Cuts the playback thread's wait for room in the output short when a
    // stop, a seek request or a track change comes in.
    HANDLE wake_event = nullptr;
    // The hand-over lock: held by the playback thread around each write to
    // the output and each seek, and by whoever decides or commits a track
    // change. The host's thread takes it answering messages sent to it
    // meanwhile (core/hand_over_lock.h).
    CRITICAL_SECTION hand_over{};
    bool hand_over_ready = false;
    // What plays next and when (under the hand-over lock).
    handover::Machine hand_over_state;
    // The indexes queries about single tracks have read.
    IndexCache index_cache;
    // The host's thread: where the host's queue can be looked at.
    DWORD host_thread_id = 0;

private:
    // Starts the playback thread on the current stream; 1 if it cannot.
    int StartThread();
    // Opens the archive the catalogue describes again, for a play that
    // answers a restart request; 1 (after the notice) if it is gone or
    // another file now.
    int ReopenArchive();
    // The parts of a start that the host's play and the playback thread's
    // own start of the chosen track share (playback/start_track.cpp).
    bool ReadCurrentHeader();
    void PrepareTrack(bool keep_pause, int start_byte);
    bool OpenOutputFor(int rate);
    void AnnounceFormat();
    int StartTrackAt(bool keep_pause, int start_byte);
    // The playback thread starts the chosen track itself: a seek came
    // instead of the host's stop and play, or no answer came in time.
    enum class HereStart { Started, BadHeader, OutputLost };
    HereStart StartTrackHere();
    // Fails the host's play: releases what a plain stop would; returns 1.
    int FailStart();
    void ApplySeekRequest(int request);
    // Makes `next` the current track, rewound, with its exact length, the
    // output emptied; asks the host to restart if `ask`.
    void CommitChange(int next, bool ask);
    // The playback thread's steps of the hand-over: at a track's end and
    // while the host is asked. False once the thread is to end.
    bool StepAtTrackEnd(bool yielded);
    bool StepWhileAsked(bool* decoding);
    // Every track was disabled while this one played: it drains from here.
    bool FinishingHere();
    void Idle(DWORD ms);
};

// Time in ms of `bytes` of the current track's PCM at its rate.
int PcmTimeMs(std::int64_t bytes, int rate, int frame);

// Set by InitPlayer: how the playback thread and the dialog reach the player.
extern PlayerState* player_instance;

// The one player of the loaded library.
extern PlayerState player;

// Writes into `directory` (kPathChars) the part of `path` up to and
// including its last backslash, or the empty string if it has none.
void DirectoryOfPath(const char* path, char* directory);

// The part of `path` after its last backslash, or all of it.
const char* FileNameOf(const char* path);
