// The listener's model against the whole plug-in: random sessions of a
// user's actions (play, stop, a stop and a quick play, pause, unpause, seeks,
// choices in Sound Info, an output that will not open) through the
// in-process host, which answers restart requests as one kind of player
// does. Every step of the host and every call of the output goes into one
// journal, in order, and the model (support/listener_model.h) checks it as
// the session runs: what was written, at which rate, what was heard and
// when, the lengths and times reported, the end-of-stream notices.
// KESTREL_MODEL_SECONDS: how long each kind of player runs (a few seconds
// unless set); KESTREL_MODEL_SEED: replays that one session;
// KESTREL_MODEL_SKIP=length,paused: leaves out those checks, to look past a
// fault already known.
#include "catalogue/track_entry.h"
#include "core/entry_points.h"
#include "core/plugin_record.h"
#include "dialogs/resource_ids.h"
#include "support/clocked_host.h"
#include "support/dialog_script.h"
#include "support/listener_model.h"
#include "support/mix_fixtures.h"
#include "support/played_archive.h"
#include "support/reset_player.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using clockedhost::ClockedHost;
using listener::Event;
using listener::Player;
using Clock = std::chrono::steady_clock;

constexpr double kClockSpeed = 20; // seconds of audio per second
// The longest the listener waits, unpaused, for what is due: the plug-in
// starts a track itself 2 s after a request nobody answers.
constexpr double kSilenceMs = 5000;
constexpr int kCallLimitMs = 1000;
constexpr int kHangMs = 10000; // the watchdog ends the process
// Half a minute of sessions in all over the test run: most of it under
// ThreadSanitizer, which sees the races the others cannot.
#if defined(__SANITIZE_THREAD__)
constexpr double kDefaultSeconds = 6;
#else
constexpr double kDefaultSeconds = 2;
#endif

std::string BuildDir() {
    const char* dir = std::getenv("KESTREL_BUILD_DIR");
    return dir ? dir : "";
}

// One session's journal: the host's steps and the output's calls, in the
// order they happened, each with the device's heard bytes around it.
class Journal {
public:
    explicit Journal(ClockedHost& host)
        : device_(host.Output()), record_output_(plugin_record.output) {
        the_journal = this;
        inner_ = plugin_record.output;
        wrapped_ = *inner_;
        wrapped_.open = Open;
        wrapped_.close = Close;
        wrapped_.write = Write;
        wrapped_.flush = Flush;
        wrapped_.pause = Pause;
        plugin_record.output = &wrapped_;
        host.SetJournal([this](const clockedhost::Step& step) { Host(step); });
    }
    ~Journal() {
        plugin_record.output = record_output_;
        the_journal = nullptr;
    }
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    void Start() {
        std::lock_guard hold(mutex_);
        events_.clear();
        start_ = Clock::now();
        heard_at_start_ = device_.TotalHeardBytes();
        host_thread_ = GetCurrentThreadId();
        entry_ = 0;
    }
    // What the host's plays from now on play: 0 the archive, N its track
    // entry N (the model's value of a play).
    void PlayingEntry(int entry) { entry_ = entry; }
    std::vector<Event> Take() {
        std::vector<Event> taken;
        std::lock_guard hold(mutex_);
        taken.swap(events_);
        return taken;
    }
    double Now() const {
        return std::chrono::duration<double, std::milli>(Clock::now() - start_).count();
    }

private:
    void Host(const clockedhost::Step& step) {
        static const std::pair<const char*, Event::Kind> kinds[] = {
            {"play", Event::Kind::Play},
            {"stop", Event::Kind::Stop},
            {"pause", Event::Kind::Pause},
            {"unpause", Event::Kind::Unpause},
            {"set_output_time", Event::Kind::Seek},
            {"info_box", Event::Kind::InfoBox},
            {"get_output_time", Event::Kind::GetOutputTime},
            {"get_length", Event::Kind::GetLength},
            {"is_paused", Event::Kind::IsPaused},
            {"restart_request", Event::Kind::TakeRestart},
            {"end_of_stream", Event::Kind::TakeEndOfStream}};
        Event e;
        bool known = false;
        for (const auto& [name, kind] : kinds)
            if (std::strcmp(step.what, name) == 0) {
                e.kind = kind;
                known = true;
            }
        if (!known)
            return;
        e.who = step.caller == clockedhost::Caller::User     ? listener::Who::User
                : step.caller == clockedhost::Caller::Answer ? listener::Who::Answer
                                                             : listener::Who::Loop;
        e.returned = step.returned;
        e.value = step.value;
        if (e.kind == Event::Kind::Play && !e.returned)
            e.value = entry_;
        std::lock_guard hold(mutex_);
        e.at_ms = Now();
        e.heard_before = e.heard_after = Heard();
        events_.push_back(std::move(e));
    }

    std::int64_t Heard() { return device_.TotalHeardBytes() - heard_at_start_; }

    // A device call: `call` runs under the journal's lock, between the two
    // readings of what was heard.
    template <typename Call> void Device(Event::Kind kind, int value, Call&& call) {
        std::lock_guard hold(mutex_);
        Event e;
        e.kind = kind;
        e.value = value;
        e.host_thread = GetCurrentThreadId() == host_thread_;
        e.at_ms = Now();
        e.heard_before = Heard();
        call(e);
        e.heard_after = Heard();
        events_.push_back(std::move(e));
    }

    static int __cdecl Open(int rate, int channels, int bits, int a, int b) {
        int result = -1;
        the_journal->Device(Event::Kind::Open, rate, [&](Event& e) {
            e.result = result = the_journal->inner_->open(rate, channels, bits, a, b);
        });
        return result;
    }
    static void __cdecl Close() {
        the_journal->Device(Event::Kind::Close, 0, [](Event&) { the_journal->inner_->close(); });
    }
    static void __cdecl Write(char* buffer, int bytes) {
        the_journal->Device(Event::Kind::Write, bytes, [&](Event& e) {
            if (bytes > 0)
                e.bytes.assign(buffer, buffer + bytes);
            the_journal->inner_->write(buffer, bytes);
        });
    }
    static void __cdecl Flush(int ms) {
        the_journal->Device(Event::Kind::Flush, ms,
                            [ms](Event&) { the_journal->inner_->flush(ms); });
    }
    static void __cdecl Pause(int flag) {
        the_journal->Device(Event::Kind::OutputPause, flag,
                            [flag](Event&) { the_journal->inner_->pause(flag); });
    }

    static inline Journal* the_journal = nullptr;
    OutputDevice& device_;
    OutputServices* record_output_;
    OutputServices* inner_ = nullptr;
    OutputServices wrapped_{};
    std::mutex mutex_;
    std::vector<Event> events_;
    Clock::time_point start_ = Clock::now();
    DWORD host_thread_ = 0;
    std::int64_t heard_at_start_ = 0;
    std::atomic<int> entry_{0};
};

// A user's action, and how long the user then lets the player run.
struct Action {
    enum class Kind {
        Play,
        Stop,
        StopThenPlay,
        Pause,
        Unpause,
        Seek,
        SoundInfo,
        FailOpen,
        Listen,
        PlayAgain
    };
    Kind kind = Kind::Play;
    // Seek: ms; SoundInfo: rows chosen (-1: Cancel); StopThenPlay, PlayAgain:
    // the gap in ms.
    int value = 0;
    int then_ms = 0;
    // What a play plays: 0 the archive, N its track entry N.
    int entry = 0;
};

// A session's actions follow from its seed alone, so that it replays.
std::vector<Action> Script(std::uint32_t seed, int tracks) {
    std::mt19937 random(seed);
    auto between = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    using K = Action::Kind;
    // Weights of each kind of action, in the order of Action::Kind.
    const int weights[] = {10, 5, 8, 10, 10, 14, 16, 4, 7, 6};
    std::vector<Action> script{{K::Play, 0, between(0, 400)}};
    const int count = between(4, 9);
    for (int n = 0; n < count; ++n) {
        int pick = between(0, std::accumulate(std::begin(weights), std::end(weights), 0) - 1);
        int kind = 0;
        while (pick >= weights[kind])
            pick -= weights[kind++];
        Action action{static_cast<K>(kind), 0, between(0, 400)};
        // One play in four is of a track entry, as from a playlist.
        if (action.kind == K::Play || action.kind == K::StopThenPlay || action.kind == K::PlayAgain)
            action.entry = between(0, 3) == 0 ? between(1, tracks) : 0;
        switch (action.kind) {
        case K::StopThenPlay:
            // Quick (a double click) or not, around the half second.
            action.value = between(0, 1) ? between(0, 450) : between(550, 2000);
            break;
        case K::PlayAgain:
            action.value = between(0, 450);
            break;
        case K::Seek:
            // Anywhere, or near the ends of the tracks, where a seek races
            // the track's end.
            switch (between(0, 2)) {
            case 0:
                action.value = between(0, 2000);
                break;
            case 1:
                action.value = between(0, 13000);
                break;
            default:
                action.value = between(10000, 13000);
                break;
            }
            break;
        case K::SoundInfo: {
            // Cancel, every track off, one track on (the stream ends after
            // it), or any choice.
            const int pick = between(0, 19);
            action.value = pick < 2    ? -1
                           : pick < 5  ? 0
                           : pick < 10 ? 1 << between(0, tracks - 1)
                                       : between(0, (1 << tracks) - 1);
            break;
        }
        case K::Listen:
            action.then_ms = between(800, 2500);
            break;
        default:
            break;
        }
        script.push_back(action);
    }
    return script;
}

struct Outcome {
    bool failed = false;
    std::string report;
    int actions = 0;
};

class ModelRun {
public:
    ModelRun(Player kind, const played::PlayedArchive& archive, HMODULE module)
        : kind_(kind), archive_(archive), module_(module), host_(plugin_record, kClockSpeed),
          journal_(host_), watchdog_(kHangMs) {
        host_.Output().KeepWritten(false);
        host_.SetCallHooks([this](const char* what) { watchdog_.Enter(what); },
                           [this] { watchdog_.Leave(); });
        for (std::size_t t = 0; t < archive.extractions.size(); ++t)
            tracks_.push_back({archive.entries[t].sample_rate, &archive.extractions[t]});
    }

    // Runs the session of `seed`, its actions until the script or the time
    // (if given) runs out: a session cut short is the start of the one the
    // seed replays.
    Outcome Session(std::uint32_t seed, std::optional<Clock::time_point> until) {
        Outcome outcome;
        ResetPlayer();
        plugin_record.instance = module_;
        plugin_record.init();
        journal_.Start();
        model_ = std::make_unique<listener::Model>(tracks_, kind_, kSilenceMs);
        if (const char* skip = std::getenv("KESTREL_MODEL_SKIP"))
            model_->Skip(skip);
        failure_.clear();
        const int violations = host_.Output().Violations();
        std::mt19937 lateness(seed);
        host_.SetLateness([&] { return std::uniform_int_distribution<int>(2200, 3000)(lateness); });
        host_.SetRestartAnswer([this] {
            switch (kind_) {
            case Player::StopPlay:
                return ClockedHost::Answer::StopPlay;
            case Player::LateStopPlay:
                return ClockedHost::Answer::Late;
            case Player::Seek:
                return ClockedHost::Answer::Seek;
            case Player::Ignore:
                return ClockedHost::Answer::Ignore;
            }
            return ClockedHost::Answer::StopPlay;
        });

        for (const Action& action : Script(seed, static_cast<int>(tracks_.size()))) {
            if (until && Clock::now() > *until && outcome.actions > 0)
                break;
            Do(action);
            ++outcome.actions;
            if (!Pass(action.then_ms))
                break;
        }
        // Let what is due come (a track's start, the end-of-stream notice)
        // before the last stop, so that a stream that never goes on shows.
        const double quiet_from = journal_.Now();
        while (failure_.empty() && journal_.Now() - quiet_from < kSilenceMs + 1000 &&
               (journal_.Now() - quiet_from < 100 || model_->Awaiting()))
            Pass(10);
        for (int round = 0; round < 20; ++round) {
            host_.Stop();
            host_.Serve();
            if (!host_.Playing() && host_.Idle())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        Check();
        plugin_record.quit();
        host_.Output().FailOpen(0);
        host_.SetRestartAnswer(nullptr);
        host_.SetLateness(nullptr);
        if (failure_.empty() && host_.Output().Violations() != violations)
            failure_ = "the output device saw " +
                       std::to_string(host_.Output().Violations() - violations) +
                       " breaches of its contract (an open while open, a write while closed, "
                       "audio while paused, a call after stop)";
        outcome.failed = !failure_.empty();
        outcome.report = failure_;
        tally_.steps += model_->Counts().steps;
        tally_.plays += model_->Counts().plays;
        tally_.requests += model_->Counts().requests;
        tally_.notices += model_->Counts().notices;
        tally_.seeks += model_->Counts().seeks;
        tally_.dialogs += model_->Counts().dialogs;
        tally_.writes += model_->Counts().writes;
        tally_.most_readings = std::max(tally_.most_readings, model_->Counts().most_readings);
        return outcome;
    }

    const listener::Tally& Totals() const { return tally_; }
    int Hurried() const { return host_.Hurried(); }

private:
    void Do(const Action& action) {
        using K = Action::Kind;
        switch (action.kind) {
        case K::Play:
            PlayEntry(action.entry);
            break;
        case K::Stop:
            host_.Stop();
            break;
        case K::StopThenPlay:
            host_.Stop();
            Pass(action.value);
            PlayEntry(action.entry);
            break;
        case K::Pause:
            host_.Pause();
            break;
        case K::Unpause:
            host_.Unpause();
            break;
        case K::Seek:
            host_.Seek(action.value);
            break;
        case K::SoundInfo: {
            const int rows = action.value;
            const int tracks = static_cast<int>(tracks_.size());
            host_.UserAction("info_box", rows, [&] {
                dialogscript::RunInfoBox(archive_.path, host_.MainWindow(), [&](HWND dialog) {
                    if (rows < 0) {
                        dialogscript::Press(dialog, IDC_CANCEL);
                        return;
                    }
                    dialogscript::Choose(dialog, static_cast<unsigned>(rows), tracks);
                    dialogscript::Press(dialog, IDC_DONE);
                });
            });
            break;
        }
        case K::FailOpen:
            host_.Output().FailOpen(1);
            break;
        case K::Listen:
            break;
        case K::PlayAgain:
            // As a player on repeat: the archive again once its stream has
            // ended by itself.
            for (int waited = 0; host_.Playing() && waited < 3000 && Pass(10);)
                waited += 10;
            if (!host_.Playing()) {
                Pass(action.value);
                PlayEntry(action.entry);
            }
            break;
        }
    }

    // The host plays the archive (0) or its track entry `entry`, and answers
    // restart requests with that name from now on.
    void PlayEntry(int entry) {
        char name[kPathChars] = {};
        if (entry == 0 || !FormatTrackEntry(archive_.path, entry, name, kPathChars))
            lstrcpynA(name, archive_.path.c_str(), kPathChars);
        journal_.PlayingEntry(entry);
        host_.Play(name);
    }

    // Lets the player run for `ms`, checking the journal as it grows; false
    // once a check has failed.
    bool Pass(int ms) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        do {
            host_.Serve();
            if (!Check())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } while (Clock::now() < until);
        return true;
    }

    bool Check() {
        if (!failure_.empty())
            return false;
        for (const Event& e : journal_.Take()) {
            if (!e.returned && !e.FromDevice())
                call_at_ = e.at_ms;
            if (e.returned && e.at_ms - call_at_ > kCallLimitMs)
                failure_ = "a host call lasted " +
                           std::to_string(static_cast<long>(e.at_ms - call_at_)) + " ms";
            if (failure_.empty() && !model_->Take(e))
                failure_ = model_->Mismatch();
            if (!failure_.empty())
                return false;
        }
        if (!model_->Tick(journal_.Now()))
            failure_ = model_->Mismatch();
        return failure_.empty();
    }

    Player kind_;
    const played::PlayedArchive& archive_;
    HMODULE module_;
    ClockedHost host_;
    Journal journal_;
    played::Watchdog watchdog_;
    std::vector<listener::Track> tracks_;
    std::unique_ptr<listener::Model> model_;
    std::string failure_;
    double call_at_ = 0;
    listener::Tally tally_;
};

void RunSessions(Player kind, const char* test_name) {
    ASSERT_FALSE(BuildDir().empty()) << "run through ctest (KESTREL_BUILD_DIR)";
    mixtest::ScratchDir scratch;
    const std::string dir = scratch.Path().string() + "/";
    // Rates differ between some neighbours and not others, so that track
    // changes both keep and reopen the output. A long track lasts over half
    // a second at the clock's speed: a player that ignores requests then has
    // that long between two of them to let the user act.
    played::PlayedArchive archive = played::BuildNoiseArchive(
        dir, {{22050, 12.0}, {11025, 1.5}, {11025, 1.0}, {22050, 11.0}}, 17);
    HMODULE module = played::LoadPluginCopy(BuildDir(), dir);
    ASSERT_NE(module, nullptr);

    double seconds = kDefaultSeconds;
    if (const char* given = std::getenv("KESTREL_MODEL_SECONDS"))
        seconds = std::atof(given);
    std::uint32_t first = std::random_device{}();
    bool replay = false;
    if (const char* given = std::getenv("KESTREL_MODEL_SEED")) {
        first = static_cast<std::uint32_t>(std::strtoul(given, nullptr, 10));
        replay = true;
    }

    int sessions = 0;
    int failures = 0;
    int actions = 0;
    const auto started = Clock::now();
    {
        ModelRun run(kind, archive, module);
        do {
            const std::uint32_t seed = first + static_cast<std::uint32_t>(sessions);
            Outcome outcome = run.Session(
                seed, replay
                          ? std::nullopt
                          : std::optional(started + std::chrono::duration_cast<Clock::duration>(
                                                        std::chrono::duration<double>(seconds))));
            ++sessions;
            actions += outcome.actions;
            if (outcome.failed && ++failures <= 5)
                ADD_FAILURE() << "listener model, " << listener::Name(kind) << " player, session "
                              << seed << ": " << outcome.report
                              << "\n  replay: KESTREL_MODEL_SEED=" << seed
                              << " kestrel_tests --gtest_filter=ListenerModel." << test_name;
            else if (outcome.failed)
                ADD_FAILURE() << "listener model, " << listener::Name(kind) << " player, session "
                              << seed << ": "
                              << outcome.report.substr(0, outcome.report.find('\n'));
        } while (!replay &&
                 std::chrono::duration<double>(Clock::now() - started).count() < seconds);
        const listener::Tally& totals = run.Totals();
        std::printf("listener model, %s player: %d sessions (seeds %u..%u) in %.1f s, %d actions, "
                    "%ld steps, %d plays, %d restart requests, %d notices, %d seeks, %d dialogs, "
                    "%ld blocks, at most %zu readings at once, %d actions hurried; %d mismatches\n",
                    listener::Name(kind), sessions, first,
                    first + static_cast<std::uint32_t>(sessions - 1),
                    std::chrono::duration<double>(Clock::now() - started).count(), actions,
                    totals.steps, totals.plays, totals.requests, totals.notices, totals.seeks,
                    totals.dialogs, totals.writes, totals.most_readings, run.Hurried(), failures);
    }
    ResetPlayer();
    FreeLibrary(module);
}

TEST(ListenerModel, StopPlayPlayer) {
    RunSessions(Player::StopPlay, "StopPlayPlayer");
}

TEST(ListenerModel, LateStopPlayPlayer) {
    RunSessions(Player::LateStopPlay, "LateStopPlayPlayer");
}

TEST(ListenerModel, SeekPlayer) {
    RunSessions(Player::Seek, "SeekPlayer");
}

TEST(ListenerModel, IgnoringPlayer) {
    RunSessions(Player::Ignore, "IgnoringPlayer");
}

} // namespace
