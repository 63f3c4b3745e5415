#include "host/player.h"

#include "host/host_clock.h"
#include "host/wav_header.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

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

constexpr char kExtendedInfoExport[] = "winampGetExtendedFileInfo";
constexpr char kReadOpenExport[] = "winampGetExtendedRead_open";
constexpr char kReadDataExport[] = "winampGetExtendedRead_getData";
constexpr char kReadCloseExport[] = "winampGetExtendedRead_close";
constexpr int kInfoChars = 1024; // a metadata value's room, with its terminator
// What a converter asks for at a time: not a whole number of the plug-in's
// blocks, so that reads straddle them.
constexpr int kConvertChunk = 8192;

template <typename Function> Function FindExport(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The name in full, as the player keeps names: a relative one made
// absolute against the current folder. Only the text is looked at; a name
// that is no file (a track entry) passes as it is.
std::string FullName(const std::string& name) {
    char full[kPathChars] = {};
    DWORD size = GetFullPathNameA(name.c_str(), kPathChars, full, nullptr);
    return size > 0 && size < kPathChars ? full : name;
}

// Where --convert writes entry `index` of `count`: OUT itself for one entry,
// else the file NN.wav (from 01, by the entry's place in the list) in the
// folder OUT.
std::string ConvertTarget(const std::string& out, std::size_t index, std::size_t count) {
    if (count == 1)
        return out;
    std::string file = std::to_string(index + 1);
    const std::size_t width = std::max<std::size_t>(2, std::to_string(count).size());
    file.insert(0, width - std::min(width, file.size()), '0');
    file += ".wav";
    const char separator = out.find('\\') != std::string::npos ? '\\' : '/';
    return out + (out.empty() || out.back() == separator ? "" : std::string(1, separator)) + file;
}

} // namespace

Player::Player(PlayerOptions options) : options_(std::move(options)) {}

Player::~Player() {
    Unload();
}

int Player::Run(const std::vector<PlayEntry>& entries) {
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
    if (!FindExtendedExports()) {
        Unload();
        return kExitSetUpFailed;
    }
    const bool converting = !options_.convert_path.empty();
    queue_ = PlayQueue(entries);
    if (converting && entries.size() > 1) {
        std::error_code failure;
        std::filesystem::create_directories(options_.convert_path, failure);
        if (!std::filesystem::is_directory(options_.convert_path, failure)) {
            std::fprintf(stderr, "kestrel-play: cannot make the folder %s\n",
                         options_.convert_path.c_str());
            Unload();
            return kExitSetUpFailed;
        }
    }
    // The list may change while an entry plays (the playlist messages).
    while (queue_.Due() && !until_reached_) {
        const PlayEntry entry = queue_.Take();
        const std::size_t i = static_cast<std::size_t>(queue_.Position());
        const std::string name = FullName(entry.name);
        // What the playlist said of it, before the plug-in is asked.
        log_.Event("entry")
            .Int("number", static_cast<std::int64_t>(i + 1))
            .Str("name", name.c_str())
            .Bool("listed", entry.listed)
            .Str("list_title", entry.title.c_str())
            .Int("list_seconds", entry.seconds);
        AskExtendedInfo(name);
        if (converting) {
            LogFileInfo(name.c_str());
            Convert(name, ConvertTarget(options_.convert_path, i, entries.size()));
        } else {
            PlayArchive(name);
        }
    }
    window_->PumpMessages();
    int violations = device_->Violations() + reentries_ + contract_breaks_;
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

bool Player::FindExtendedExports() {
    extended_info_ = FindExport<ExtendedFileInfo>(module_, kExtendedInfoExport);
    read_open_ = FindExport<ExtendedReadOpen>(module_, kReadOpenExport);
    read_data_ = FindExport<ExtendedReadGetData>(module_, kReadDataExport);
    read_close_ = FindExport<ExtendedReadClose>(module_, kReadCloseExport);
    const char* missing = nullptr;
    if (!options_.info_fields.empty() && !extended_info_)
        missing = kExtendedInfoExport;
    else if (!options_.convert_path.empty() && !read_open_)
        missing = kReadOpenExport;
    else if (!options_.convert_path.empty() && !read_data_)
        missing = kReadDataExport;
    else if (!options_.convert_path.empty() && !read_close_)
        missing = kReadCloseExport;
    if (missing) {
        std::fprintf(stderr, "kestrel-play: %s has no %s (needed by %s)\n",
                     options_.plugin_path.c_str(), missing,
                     missing == kExtendedInfoExport ? "--info" : "--convert");
        return false;
    }
    if (extended_info_) {
        // As the player sorts its plug-ins at load: the kind of media, asked
        // with no file at all.
        char value[kInfoChars] = {};
        const int handled = extended_info_("", "type", value, kInfoChars);
        log_.Event("extended_info")
            .Str("path", "")
            .Str("field", "type")
            .Int("handled", handled)
            .Str("value", handled ? value : "");
    }
    return true;
}

void Player::AskExtendedInfo(const std::string& name) {
    for (const std::string& field : options_.info_fields) {
        char value[kInfoChars] = {};
        const int handled = extended_info_(name.c_str(), field.c_str(), value, kInfoChars);
        // A value the plug-in left unterminated is cut at the buffer's end.
        value[kInfoChars - 1] = '\0';
        log_.Event("extended_info")
            .Str("path", name.c_str())
            .Str("field", field.c_str())
            .Int("handled", handled)
            .Str("value", handled ? value : "");
        if (!handled) {
            std::printf("%s not handled\n", field.c_str());
            continue;
        }
        // Lines of a multi-line value (CR LF in the player's text) on lines
        // of the terminal.
        std::string shown = value;
        for (std::size_t at; (at = shown.find("\r\n")) != std::string::npos;)
            shown.erase(at, 1);
        std::printf("%s=%s\n", field.c_str(), shown.c_str());
    }
    std::fflush(stdout);
}

void Player::Convert(const std::string& name, const std::string& out) {
    // What a converter would like; the plug-in says what it gives.
    int size = -1;
    int bits = 16;
    int channels = 2;
    int rate = 44100;
    const std::intptr_t handle = read_open_(name.c_str(), &size, &bits, &channels, &rate);
    log_.Event("convert_open")
        .Str("path", name.c_str())
        .Int("handle_given", handle != 0)
        .Int("size", size)
        .Int("bps", bits)
        .Int("nch", channels)
        .Int("srate", rate);
    if (handle == 0) {
        std::fprintf(stderr, "kestrel-play: the plug-in cannot give the audio of %s\n",
                     name.c_str());
        ++failed_plays_;
        return;
    }
    std::FILE* wav = nullptr;
    if (bits != kWavBits || channels < 1 || channels > 2 || rate <= 0) {
        std::fprintf(stderr,
                     "kestrel-play: %s: the plug-in gives %d-bit audio, %d channels at %d Hz; "
                     "only 16-bit mono or stereo is written\n",
                     name.c_str(), bits, channels, rate);
        ++failed_plays_;
    } else if (!(wav = std::fopen(out.c_str(), "wb")) || !WriteWavHeader(wav, rate, channels, 0)) {
        std::fprintf(stderr, "kestrel-play: cannot write %s\n", out.c_str());
        ++failed_plays_;
        if (wav)
            std::fclose(wav);
        wav = nullptr;
    }
    std::int64_t total = 0;
    std::int64_t calls = 0;
    bool broken = false;
    bool written = wav != nullptr;
    std::vector<char> buffer(kConvertChunk);
    int kill = 0;
    while (wav) {
        const std::intptr_t got = read_data_(handle, buffer.data(), kConvertChunk, &kill);
        ++calls;
        if (got < 0 || got > kConvertChunk) {
            broken = true; // more than asked for, or a negative count
            break;
        }
        if (got == 0)
            break;
        if (total + got > kWavMaxDataBytes ||
            std::fwrite(buffer.data(), 1, static_cast<std::size_t>(got), wav) !=
                static_cast<std::size_t>(got)) {
            written = false;
            break;
        }
        total += got;
    }
    read_close_(handle);
    if (wav) {
        written = WriteWavHeader(wav, rate, channels, total) && written;
        written = std::fclose(wav) == 0 && written;
        if (!written) {
            std::fprintf(stderr, "kestrel-play: cannot write %s\n", out.c_str());
            ++failed_plays_;
        }
    }
    // The size said at the open is the whole of the audio, when it is known.
    broken = broken || (wav && size != -1 && size != total);
    if (broken) {
        ++contract_breaks_;
        log_.Event("violation")
            .Str("what", "extended read gave other bytes than it said")
            .Str("path", name.c_str());
    }
    log_.Event("convert")
        .Str("path", name.c_str())
        .Str("out", out.c_str())
        .Int("size", size)
        .Int("bytes", total)
        .Int("calls", calls)
        .Bool("written", written);
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
    path_ = archive;
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

int Player::ListPosition() {
    return queue_.Position();
}

int Player::ListCount() {
    return queue_.Count();
}

const char* Player::ListName(int index) {
    return queue_.Name(index);
}

int Player::InsertName(int index, const char* name) {
    const int at = queue_.Insert(index, name);
    log_.Event("list_insert").Int("asked", index).Int("index", at).Str("name", name);
    return at;
}

bool Player::DeleteName(int index) {
    const bool deleted = queue_.Delete(index);
    log_.Event("list_delete").Int("index", index).Bool("deleted", deleted);
    return deleted;
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
