// The headless player: loads the plug-in, fills its record the way the media
// player does, and plays names (archives, track entries) one after another
// through it, moving on at each end-of-stream notice, answering
// the plug-in's messages and carrying out scheduled seeks and pauses and the
// user's script of stops, plays and the like. Every entry point is called
// from the thread that runs the player.
#pragma once

#include "core/plugin_record.h"
#include "host/event_log.h"
#include "host/host_services.h"
#include "host/message_box_watch.h"
#include "host/output_device.h"
#include "host/play_list.h"
#include "host/play_queue.h"
#include "host/player_window.h"
#include "host/status_line.h"
#include "host/heard_recorder.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Something to do once the output's heard time reaches `at_ms` (the time the
// device reports, counted from where the last flush restarted it, so it
// starts again at 0 with every track). Actions are carried out in the order
// given, each once.
struct ScheduledAction {
    enum class Kind { Seek, Pause } kind = Kind::Seek;
    int at_ms = 0;
    int value = 0; // Seek: the target in ms; Pause: how long, in real ms
};

// A step of the user's script (--user): carried out once the steps before it
// are, and, if `at_ms` is set, once that much audio has been heard in all
// (counted as --until counts it, across tracks, stops and plays).
struct UserStep {
    enum class Kind { Stop, Play, Pause, Unpause, Seek, Wait } kind = Kind::Stop;
    int value = 0;     // Seek: the target in ms; Wait: how long, in real ms
    double at_ms = -1; // -1: right after the step before
};

// How the host answers the plug-in's restart request: as the media player
// does (stop, then play of the same entry), as a host that takes it for a
// play of the entry already playing (a seek to its start), not at all, or as
// the media player with a busy message loop (Late: the request waits in its
// queue while the player makes no call at all, then stop and play).
enum class RestartAnswer { StopPlay, Seek, Ignore, Late };
constexpr int kDefaultLateMs = 2500;

struct PlayerOptions {
    std::string plugin_path;
    OutputDeviceOptions device;
    // The clock halts at the next action's time until it has been carried out.
    bool exact_actions = false;
    std::vector<ScheduledAction> actions;
    DspMode dsp = DspMode::Off;
    RestartAnswer restart_answer = RestartAnswer::StopPlay;
    int late_ms = kDefaultLateMs; // how long a Late player stays busy
    std::vector<UserStep> user;
    double until_ms = -1; // stop once this much audio has been heard in all; -1: never
    std::string wav_path;
    std::string pcm_path;
    std::string events_path;
    // --info: fields asked of the plug-in's extended file information before
    // each name; --convert: each name read through the plug-in's extended
    // read into a WAV file instead of being played.
    std::vector<std::string> info_fields;
    std::string convert_path;
    int volume = 255;
    int pan = 0;
};

constexpr int kExitPlayed = 0;
constexpr int kExitPlayFailed = 1;
constexpr int kExitSetUpFailed = 2;
constexpr int kExitContractBroken = 3;

class Player : public PlayerWindowHandler {
public:
    explicit Player(PlayerOptions options);
    ~Player() override;
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Plays (or converts) every entry in turn; returns one of the exit
    // codes above.
    int Run(const std::vector<PlayEntry>& entries);

private:
    bool Load();
    // The optional exports, found by name as the player finds them; false
    // (with a message) if an option needs one the plug-in lacks.
    bool FindExtendedExports();
    void Unload();
    void PlayArchive(const std::string& archive);
    // --info: asks each field about `name` and prints and logs the answers.
    void AskExtendedInfo(const std::string& name);
    // --convert: reads `name` through the extended read into the WAV file
    // `out`.
    void Convert(const std::string& name, const std::string& out);
    bool Play(const char* reason);
    // How long the main loop may sleep: briefly while an action or a fast
    // clock needs watching, otherwise until the limit is due or a message
    // comes.
    DWORD LoopWaitMs();
    void Stop(const char* reason);
    void LogFileInfo(const char* path);
    void CheckActions();
    void ArmHorizon();
    // The user's script: runs the steps that are due; whether the next one
    // can still come (a wait under way, or a step due without more audio).
    void RunUserSteps();
    void DoUserStep(const UserStep& step);
    bool UserStepCanRun();
    void ArmUserHold();
    // Takes and answers what the plug-in posted; a Late player first stays
    // busy while a restart request waits in its queue.
    void ServeMessages();
    // What the player shows on every turn of its loop: the time and length.
    void AskStatus();
    // True (and a violation) if a posted message reached the window while
    // the plug-in's stop was under way.
    bool ReenteredStop(const char* message);
    void OnRestartRequest() override;
    void OnEndOfStream() override;
    int ListPosition() override;
    int ListCount() override;
    const char* ListName(int index) override;
    int InsertName(int index, const char* name) override;
    bool DeleteName(int index) override;

    PlayerOptions options_;
    PlayQueue queue_{{}};
    EventLog log_;
    HeardRecorder heard_;
    std::unique_ptr<OutputDevice> device_;
    std::unique_ptr<HostServices> services_;
    std::unique_ptr<MessageBoxWatch> boxes_;
    std::unique_ptr<PlayerWindow> window_;
    StatusLine status_;

    HMODULE module_ = nullptr;
    PluginRecord* record_ = nullptr;
    using ExtendedFileInfo = int(__cdecl*)(const char*, const char*, char*, int);
    using ExtendedReadOpen = std::intptr_t(__cdecl*)(const char*, int*, int*, int*, int*);
    using ExtendedReadGetData = std::intptr_t(__cdecl*)(std::intptr_t, char*, int, int*);
    using ExtendedReadClose = void(__cdecl*)(std::intptr_t);
    ExtendedFileInfo extended_info_ = nullptr;
    ExtendedReadOpen read_open_ = nullptr;
    ExtendedReadGetData read_data_ = nullptr;
    ExtendedReadClose read_close_ = nullptr;
    int contract_breaks_ = 0; // by the extended read
    std::string path_;        // of the archive being played, in full
    bool playing_ = false;    // between a successful play and its stop
    bool stream_over_ = true; // no archive is being played
    bool until_reached_ = false;
    bool inside_stop_ = false;
    int reentries_ = 0;
    int failed_plays_ = 0;
    std::size_t next_action_ = 0;
    bool unpause_pending_ = false;
    bool seek_pending_ = false; // asked for, not yet carried out by a flush
    std::int64_t flushes_before_seek_ = 0;
    std::int64_t unpause_at_ = 0;
    std::size_t next_user_ = 0; // the user's next step not yet begun
    bool user_waiting_ = false; // a wait step is under way until wait_until_
    std::int64_t wait_until_ = 0;
    std::int64_t ignored_at_ = -1; // when the last restart request was ignored
    bool end_pending_ = false;     // an end-of-stream notice taken, its stop due at end_due_at_
    std::int64_t end_due_at_ = 0;
};
