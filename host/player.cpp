#include "host/player.h"

#include "host/host_clock.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr DWORD kLoopWaitMs = 10;
// With nothing scheduled a real-time run only answers the plug-in's messages,
// which wake the loop anyway, and refreshes the status line: like a media
// player's main thread it then sleeps most of the time.
constexpr DWORD kQuietLoopWaitMs = 250;
constexpr int kTitleChars = 2048;
constexpr int kPathChars = MAX_PATH;
constexpr char kExport[] = "winampGetInModule2";
// A user acts this long after the player took a restart request it ignored,
// at the earliest: the plug-in takes what comes sooner for the player's
// answer (which comes within half a second of taking the request).
constexpr int kAfterIgnoredMs = 600;
// A player moves on from the end of a stream on a later turn of its loop,
// once it has shown the end: the plug-in's thread, whose last act was to
// post the notice, has ended by the time the player stops.
constexpr int kEndReactionMs = 50;

using GetModule = PluginRecord*(__cdecl*)();

} // namespace

Player::Player(PlayerOptions options) : options_(std::move(options)) {}

Player::~Player() {
    Unload();
}

int Player::Run(const std::vector<std::string>& archives) {
    if (!options_.events_path.empty() && !log_.Open(options_.events_path)) {
        std::fprintf(stderr, "kestrel-play: cannot write %s\n", options_.events_path.c_str());
        return kExitSetUpFailed;
    }
    std::string error;
    if (!heard_.Open(options_.wav_path, options_.pcm_path, &error)) {
        std::fprintf(stderr, "kestrel-play: %s\n", error.c_str());
        return kExitSetUpFailed;
    }
    if (!Load())
        return kExitSetUpFailed;
    for (const std::string& archive : archives) {
        if (until_reached_)
            break;
        PlayArchive(archive);
    }
    window_->PumpMessages();
    int violations = device_->Violations() + reentries_;
    log_.Event("finished")
        .Int("failed_plays", failed_plays_)
        .Int("violations", violations)
        .Int("heard", device_->TotalHeardBytes())
        .Num("heard_ms", device_->TotalHeardMs())
        .Int("heard_while_paused", device_->HeardWhilePausedBytes())
        .Int("stage_sent", services_->StageMessagesSent())
        .Int("stage_answered", services_->StageMessagesAnswered())
        .Int("stage_answered_elsewhere", window_->StageMessagesAnsweredElsewhere());
    Unload();
    if (!heard_.Close(&error)) {
        std::fprintf(stderr, "kestrel-play: %s\n", error.c_str());
        return kExitSetUpFailed;
    }
    if (violations > 0)
        return kExitContractBroken;
    return failed_plays_ > 0 ? kExitPlayFailed : kExitPlayed;
}

bool Player::Load() {
    // The media player has the common controls registered before any plug-in
    // shows a dialog that uses them; the plug-in relies on it.
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    module_ = LoadLibraryA(options_.plugin_path.c_str());
    if (!module_) {
        std::fprintf(stderr, "kestrel-play: cannot load %s\n", options_.plugin_path.c_str());
        return false;
    }
    auto get_module =
        reinterpret_cast<GetModule>(reinterpret_cast<void (*)()>(GetProcAddress(module_, kExport)));
    record_ = get_module ? get_module() : nullptr;
    if (!record_) {
        std::fprintf(stderr, "kestrel-play: %s has no %s\n", options_.plugin_path.c_str(), kExport);
        FreeLibrary(module_);
        module_ = nullptr;
        return false;
    }
    log_.Event("loaded")
        .Str("plugin", options_.plugin_path.c_str())
        .Int("version", static_cast<std::int64_t>(record_->version))
        .Str("description", record_->description);

    window_ = std::make_unique<PlayerWindow>(this);
    boxes_ = std::make_unique<MessageBoxWatch>(&log_);
    device_ = std::make_unique<OutputDevice>(
        options_.device, &log_,
        [this](const char* bytes, int count, int rate, int channels, int bits) {
            heard_.Append(bytes, count, rate, channels, bits);
        });
    services_ = std::make_unique<HostServices>(options_.dsp, window_->Handle(), &log_);

    // As the media player does: its window and the library first, then init,
    // then the services before anything plays.
    record_->main_window = window_->Handle();
    record_->instance = module_;
    log_.Event("init");
    record_->init();
    services_->Install(record_);
    record_->output = device_->Install();
    if (options_.until_ms >= 0)
        device_->SetHeardLimit(options_.until_ms);
    record_->set_volume(options_.volume);
    record_->set_pan(options_.pan);
    return true;
}

void Player::Unload() {
    if (!module_)
        return;
    if (playing_)
        Stop("quit");
    log_.Event("quit");
    record_->quit();
    FreeLibrary(module_);
    module_ = nullptr;
    record_ = nullptr;
    status_.Finish();
}

void Player::LogFileInfo(const char* path) {
    char title[kTitleChars] = {};
    int length = 0;
    record_->get_file_info(path, title, &length);
    log_.Event("file_info").Str("path", path ? path : "").Str("title", title).Int("length", length);
}

void Player::PlayArchive(const std::string& archive) {
    char full[kPathChars] = {};
    DWORD size = GetFullPathNameA(archive.c_str(), kPathChars, full, nullptr);
    path_ = size > 0 && size < kPathChars ? full : archive;
    LogFileInfo(path_.c_str());
    // Whatever the last stream posted after it was stopped is stale now.
    window_->PumpMessages();
    stream_over_ = false;
    end_pending_ = false;
    next_action_ = 0;
    unpause_pending_ = false;
    device_->SetHostPaused(false);
    seek_pending_ = false;
    // Before play: the clock starts with the playback thread.
    ArmHorizon();
    ArmUserHold();
    Play("start");
    // The stream lives until it ends, or, once it has ended, while the user
    // still has something to do without more audio.
    while (!stream_over_ || UserStepCanRun()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, LoopWaitMs(), QS_ALLINPUT);
        // The limit and the actions before the messages: what is due at the
        // very end of a track comes before the restart request that follows.
        if (playing_ && options_.until_ms >= 0 && device_->HeardLimitReached()) {
            until_reached_ = true;
            Stop("until");
            stream_over_ = true;
            break;
        }
        CheckActions();
        RunUserSteps();
        ServeMessages();
        if (end_pending_ && ClockTicks() >= end_due_at_) {
            end_pending_ = false;
            if (playing_)
                Stop("end_of_stream");
            stream_over_ = true;
        }
        if (playing_)
            AskStatus();
    }
    device_->ClearHorizon();
    status_.Finish();
}

DWORD Player::LoopWaitMs() {
    bool watching = options_.device.speed > 1.0 || next_action_ < options_.actions.size() ||
                    unpause_pending_ || seek_pending_ || next_user_ < options_.user.size() ||
                    user_waiting_ || end_pending_;
    if (watching)
        return kLoopWaitMs;
    if (options_.until_ms < 0)
        return kQuietLoopWaitMs;
    // Wake when the limit is due, not before.
    double remaining = options_.until_ms - device_->TotalHeardMs();
    return static_cast<DWORD>(std::clamp(remaining, static_cast<double>(kLoopWaitMs),
                                         static_cast<double>(kQuietLoopWaitMs)));
}

bool Player::Play(const char* reason) {
    // Nothing plays at this point, so "heard" marks exactly where the new
    // track's audio begins.
    log_.Event("play_call")
        .Str("path", path_.c_str())
        .Str("reason", reason)
        .Int("heard", device_->TotalHeardBytes());
    // The clock waits until the host has read the new track's title.
    device_->FreezeClock(true);
    std::int64_t start = ClockTicks();
    device_->SetHostStopped(false);
    int result = record_->play(path_.c_str());
    double took = MsSince(start);
    log_.Event("play")
        .Str("path", path_.c_str())
        .Str("reason", reason)
        .Int("result", result)
        .Num("ms", took)
        .Int("is_paused", record_->is_paused())
        .Bool("output_paused", device_->IsPaused())
        .Bool("output_open", device_->IsOpen())
        .Int("length", result == 0 ? record_->get_length() : 0)
        .Int("plugin_time", result == 0 ? record_->get_output_time() : 0)
        .Int("rate", device_->SampleRate())
        .Int("heard", device_->TotalHeardBytes());
    if (result != 0) {
        device_->FreezeClock(false);
        ++failed_plays_;
        playing_ = false;
        stream_over_ = true;
        return false;
    }
    playing_ = true;
    stream_over_ = false;
    LogFileInfo(nullptr);
    device_->FreezeClock(false);
    return true;
}

void Player::Stop(const char* reason) {
    // Where the listener is, as the host would show it when the stop came.
    const int plugin_time = record_->get_output_time();
    const int length = record_->get_length();
    const int time = device_->HeardTimeMs();
    const int rate = device_->SampleRate();
    const std::int64_t heard_before = device_->TotalHeardBytes();
    std::int64_t start = ClockTicks();
    // Any stop ends the stream whose end the player was about to act on.
    end_pending_ = false;
    inside_stop_ = true;
    record_->stop();
    inside_stop_ = false;
    device_->SetHostStopped(true);
    double took = MsSince(start);
    playing_ = false;
    log_.Event("stop")
        .Str("reason", reason)
        .Num("ms", took)
        .Int("plugin_time", plugin_time)
        .Int("length", length)
        .Int("time", time)
        .Int("rate", rate)
        .Int("heard_before", heard_before)
        .Bool("output_open", device_->IsOpen())
        .Int("heard", device_->TotalHeardBytes());
}

void Player::ArmHorizon() {
    // While a seek is pending the clock stays where it was asked for.
    if (!options_.exact_actions || seek_pending_)
        return;
    if (!unpause_pending_ && next_action_ < options_.actions.size())
        device_->SetHorizon(options_.actions[next_action_].at_ms);
    else
        device_->ClearHorizon();
}

void Player::CheckActions() {
    if (!playing_)
        return;
    if (unpause_pending_) {
        if (ClockTicks() < unpause_at_)
            return;
        log_.Event("unpause")
            .Int("time", device_->HeardTimeMs())
            .Int("plugin_time", record_->get_output_time());
        // The next action's horizon first: at a fast clock the output plays
        // seconds within the unpause.
        unpause_pending_ = false;
        ArmHorizon();
        // From here on the output may play again.
        device_->SetHostPaused(false);
        record_->unpause();
        log_.Event("unpaused").Int("is_paused", record_->is_paused());
        return;
    }
    if (seek_pending_) {
        // The next action's time is measured after the seek, not before it.
        if (device_->Flushes() == flushes_before_seek_)
            return;
        seek_pending_ = false;
        ArmHorizon();
        return;
    }
    if (next_action_ >= options_.actions.size())
        return;
    const ScheduledAction& action = options_.actions[next_action_];
    bool due = device_->HeardTimeMs() >= action.at_ms ||
               (options_.exact_actions && device_->HorizonReached());
    if (!due)
        return;
    ++next_action_;
    if (action.kind == ScheduledAction::Kind::Seek) {
        log_.Event("seek")
            .Int("ms", action.value)
            .Int("time", device_->HeardTimeMs())
            .Int("plugin_time", record_->get_output_time())
            .Int("heard", device_->TotalHeardBytes());
        seek_pending_ = true;
        flushes_before_seek_ = device_->Flushes();
        if (options_.exact_actions) {
            // Held where it stands until the plug-in flushes, and then where
            // the flush restarts it (the whole second before the target).
            int restart = action.value - action.value % 1000;
            device_->SetHorizon(std::min(device_->HeardTimeMs(), restart));
        }
        record_->set_output_time(action.value);
    } else {
        record_->pause();
        // Once pause has returned, nothing more may be heard until unpause,
        // whatever the plug-in does with the output meanwhile.
        device_->SetHostPaused(true);
        log_.Event("pause")
            .Int("time", device_->HeardTimeMs())
            .Int("plugin_time", record_->get_output_time())
            .Int("is_paused", record_->is_paused())
            .Int("heard", device_->TotalHeardBytes());
        unpause_pending_ = true;
        unpause_at_ = ClockTicks() + action.value * ClockTicksPerSecond() / 1000;
    }
    ArmHorizon();
}

bool Player::ReenteredStop(const char* message) {
    if (!inside_stop_)
        return false;
    // While stop waits for its thread, the host's thread may answer messages
    // sent to it, but a posted one handled there would call the plug-in
    // again from inside its own stop.
    ++reentries_;
    log_.Event("violation")
        .Str("what", "posted message handled inside stop")
        .Str("message", message);
    return true;
}

void Player::OnRestartRequest() {
    if (ReenteredStop("restart_request"))
        return;
    // One posted before the host stopped the stream for good is stale.
    const bool live = playing_ && !stream_over_;
    log_.Event("restart_request")
        .Bool("playing", playing_)
        .Bool("ignored", stream_over_)
        .Int("plugin_time", live ? record_->get_output_time() : 0)
        .Int("length", live ? record_->get_length() : 0)
        .Int("heard", device_->TotalHeardBytes());
    if (stream_over_)
        return;
    // An action that fell due at the very end of the track comes first.
    CheckActions();
    switch (options_.restart_answer) {
    case RestartAnswer::StopPlay:
    case RestartAnswer::Late:
        // A track change the plug-in has lined up: stop, then play the same
        // entry, which goes on with the next track.
        if (playing_)
            Stop("restart");
        Play("restart");
        break;
    case RestartAnswer::Seek:
        // A host that takes the request for "play the entry already
        // playing": it seeks to its start.
        log_.Event("restart_seek").Int("heard", device_->TotalHeardBytes());
        record_->set_output_time(0);
        break;
    case RestartAnswer::Ignore:
        ignored_at_ = ClockTicks();
        break;
    }
}

void Player::OnEndOfStream() {
    if (ReenteredStop("end_of_stream"))
        return;
    log_.Event("end_of_stream")
        .Bool("playing", playing_)
        .Bool("ignored", stream_over_)
        .Int("plugin_time", playing_ ? record_->get_output_time() : 0)
        .Int("heard", device_->TotalHeardBytes());
    if (stream_over_ || end_pending_)
        return;
    end_pending_ = true;
    end_due_at_ = ClockTicks() + kEndReactionMs * ClockTicksPerSecond() / 1000;
}

void Player::ServeMessages() {
    MSG queued;
    if (options_.restart_answer == RestartAnswer::Late &&
        PeekMessageA(&queued, window_->Handle(), kRestartRequest, kRestartRequest, PM_NOREMOVE) &&
        queued.lParam == kRestartRequestCode && !stream_over_) {
        // Busy elsewhere: the request waits in the queue, nothing is pumped
        // and nothing of the plug-in's is called meanwhile.
        log_.Event("busy").Int("ms", options_.late_ms).Int("heard", device_->TotalHeardBytes());
        Sleep(static_cast<DWORD>(options_.late_ms));
        log_.Event("busy_over").Int("heard", device_->TotalHeardBytes());
    }
    window_->PumpMessages();
}

void Player::AskStatus() {
    // As a player's display does on every turn. The heard count around the
    // questions places the answers in what the listener heard.
    const std::int64_t before = device_->TotalHeardBytes();
    const int time = record_->get_output_time();
    const int length = record_->get_length();
    log_.Event("status")
        .Int("time", time)
        .Int("length", length)
        .Int("heard", before)
        .Int("heard_after", device_->TotalHeardBytes());
    status_.Update(record_);
}

void Player::ArmUserHold() {
    if (!options_.exact_actions)
        return;
    double at = next_user_ < options_.user.size() ? options_.user[next_user_].at_ms : -1;
    device_->HoldAtHeard(at);
}

bool Player::UserStepCanRun() {
    if (user_waiting_)
        return true;
    if (next_user_ >= options_.user.size())
        return false;
    double at = options_.user[next_user_].at_ms;
    return at < 0 || device_->HeardReached(at);
}

void Player::RunUserSteps() {
    for (;;) {
        if (user_waiting_) {
            if (ClockTicks() < wait_until_)
                return;
            user_waiting_ = false;
            log_.Event("user_wait_over").Int("heard", device_->TotalHeardBytes());
        }
        if (!UserStepCanRun())
            return;
        if (ignored_at_ >= 0 &&
            ClockTicks() - ignored_at_ < kAfterIgnoredMs * ClockTicksPerSecond() / 1000)
            return;
        const UserStep step = options_.user[next_user_++];
        // What the plug-in posted before this action is answered first, as a
        // message loop takes posted messages before input.
        if (step.kind != UserStep::Kind::Wait)
            ServeMessages();
        DoUserStep(step);
        // The clock stays held where this step fell due until it is done.
        ArmUserHold();
    }
}

void Player::DoUserStep(const UserStep& step) {
    static constexpr const char* kNames[] = {"stop", "play", "pause", "unpause", "seek", "wait"};
    log_.Event("user")
        .Str("step", kNames[static_cast<int>(step.kind)])
        .Int("value", step.value)
        .Num("at", step.at_ms)
        .Bool("playing", playing_)
        .Int("time", device_->HeardTimeMs())
        .Int("heard", device_->TotalHeardBytes())
        .Num("heard_ms", device_->TotalHeardMs());
    switch (step.kind) {
    case UserStep::Kind::Wait:
        user_waiting_ = true;
        wait_until_ = ClockTicks() + step.value * ClockTicksPerSecond() / 1000;
        break;
    case UserStep::Kind::Stop:
        if (playing_)
            Stop("user");
        // Whatever was paused, nothing plays now: the next play is a plain one.
        device_->SetHostPaused(false);
        stream_over_ = true;
        break;
    case UserStep::Kind::Play:
        if (playing_)
            Stop("user");
        device_->SetHostPaused(false);
        Play("user");
        break;
    case UserStep::Kind::Pause:
        if (!playing_)
            break;
        record_->pause();
        device_->SetHostPaused(true);
        log_.Event("pause")
            .Str("reason", "user")
            .Int("time", device_->HeardTimeMs())
            .Int("plugin_time", record_->get_output_time())
            .Int("is_paused", record_->is_paused())
            .Int("heard", device_->TotalHeardBytes());
        break;
    case UserStep::Kind::Unpause:
        if (!playing_)
            break;
        device_->SetHostPaused(false);
        record_->unpause();
        log_.Event("unpaused").Str("reason", "user").Int("is_paused", record_->is_paused());
        break;
    case UserStep::Kind::Seek:
        if (!playing_)
            break;
        log_.Event("seek")
            .Str("reason", "user")
            .Int("ms", step.value)
            .Int("time", device_->HeardTimeMs())
            .Int("plugin_time", record_->get_output_time())
            .Int("heard", device_->TotalHeardBytes());
        record_->set_output_time(step.value);
        break;
    }
}
