// The headless player: loads the plug-in, fills its record the way the media
// player does, and plays archives one after another through it, answering
// the plug-in's messages and carrying out scheduled seeks and pauses. Every
// entry point is called from the thread that runs the player.
#pragma once

#include "core/plugin_record.h"
#include "host/event_log.h"
#include "host/host_services.h"
#include "host/message_box_watch.h"
#include "host/output_device.h"
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

// How the host answers the plug-in's restart request: as the media player
// does (stop, then play of the same entry), as a host that takes it for a
// play of the entry already playing (a seek to its start), or not at all.
enum class RestartAnswer { StopPlay, Seek, Ignore };

struct PlayerOptions {
    std::string plugin_path;
    OutputDeviceOptions device;
    // The clock halts at the next action's time until it has been carried out.
    bool exact_actions = false;
    std::vector<ScheduledAction> actions;
    DspMode dsp = DspMode::Off;
    RestartAnswer restart_answer = RestartAnswer::StopPlay;
    double until_ms = -1; // stop once this much audio has been heard in all; -1: never
    std::string wav_path;
    std::string pcm_path;
    std::string events_path;
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

    // Plays every archive in turn; returns one of the exit codes above.
    int Run(const std::vector<std::string>& archives);

private:
    bool Load();
    void Unload();
    void PlayArchive(const std::string& archive);
    bool Play(const char* reason);
    // How long the main loop may sleep: briefly while an action or a fast
    // clock needs watching, otherwise until the limit is due or a message
    // comes.
    DWORD LoopWaitMs();
    void Stop(const char* reason);
    void LogFileInfo(const char* path);
    void CheckActions();
    void ArmHorizon();
    // True (and a violation) if a posted message reached the window while
    // the plug-in's stop was under way.
    bool ReenteredStop(const char* message);
    void OnRestartRequest() override;
    void OnEndOfStream() override;

    PlayerOptions options_;
    EventLog log_;
    HeardRecorder heard_;
    std::unique_ptr<OutputDevice> device_;
    std::unique_ptr<HostServices> services_;
    std::unique_ptr<MessageBoxWatch> boxes_;
    std::unique_ptr<PlayerWindow> window_;
    StatusLine status_;

    HMODULE module_ = nullptr;
    PluginRecord* record_ = nullptr;
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
};
