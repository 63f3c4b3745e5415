// The host's thread and the playback thread at once, for thousands of calls:
// the host plays, stops, seeks anywhere, pauses, changes volume and pan,
// asks for times, lengths and file information and applies random choices
// in the Sound Info dialog, and answers restart requests in each way players
// do, while the playback thread plays against an output that a fast clock
// drains, across track changes and ends of stream.
// Built with ThreadSanitizer this is the plug-in's race detector; in every
// build it checks that no call hangs, that every stream that ends posts its
// end-of-stream notice once, and that every block written to the output is
// audio of the archive's tracks, byte for byte.
#include "core/entry_points.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "dialogs/resource_ids.h"
#include "platform/standin/testing.h"
#include "support/clocked_host.h"
#include "support/dialog_script.h"
#include "support/mix_fixtures.h"
#include "support/played_archive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

using clockedhost::ClockedHost;
using clockedhost::Session;

constexpr double kClockSpeed = 40; // seconds of audio per second
constexpr int kCallLimitMs = 1000;
constexpr long kMaxCalls = 40000;
constexpr auto kRunFor = std::chrono::seconds(10);

std::string BuildDir() {
    const char* dir = std::getenv("KESTREL_BUILD_DIR");
    return dir ? dir : "";
}

TEST(StressTest, HostCallsRaceThePlaybackThreadWithoutHangsLostNoticesOrForeignAudio) {
    ASSERT_FALSE(BuildDir().empty()) << "run through ctest (KESTREL_BUILD_DIR)";
    mixtest::ScratchDir scratch;
    const std::string dir = scratch.Path().string() + "/";
    // Rates differ so that track changes also reopen the output.
    played::PlayedArchive archive =
        played::BuildNoiseArchive(dir, {{22050, 1.5}, {11025, 1.0}, {22050, 0.6}, {8000, 0.8}}, 7);
    const int tracks = static_cast<int>(archive.extractions.size());
    played::SliceIndex slices(archive.extractions);

    HMODULE module = played::LoadPluginCopy(BuildDir(), dir);
    ASSERT_NE(module, nullptr);
    ClockedHost host(plugin_record, kClockSpeed);
    plugin_record.instance = module;
    host.Output().KeepWritten(false);

    std::atomic<long> foreign_blocks{0};
    std::atomic<long> disabled_blocks{0};
    std::atomic<long> blocks{0};
    // Called inside the plug-in's write, on the playback thread: the block
    // must be audio of the track the plug-in calls current, and that track
    // still enabled, unless the user has just disabled every track (the
    // block in hand is then finished).
    host.Output().SetObserver([&](const char* bytes, int count) {
        ++blocks;
        const int current = player.current_track;
        if (!slices.Contains(bytes, count, current))
            ++foreign_blocks;
        if (!(player.tracks[current].flags & kTrackEnabled) && !player.finish_requested())
            ++disabled_blocks;
    });

    played::Watchdog watchdog(kCallLimitMs);
    host.SetCallHooks([&](const char* what) { watchdog.Enter(what); }, [&] { watchdog.Leave(); });
    long calls = 0;
    auto call = [&](const char* what, auto&& action) {
        ++calls;
        watchdog.Enter(what);
        action();
        watchdog.Leave();
    };

    std::uint32_t seed = 20240611;
    if (const char* given = std::getenv("KESTREL_STRESS_SEED"))
        seed = static_cast<std::uint32_t>(std::strtoul(given, nullptr, 10));
    std::mt19937 random(seed);
    auto chance = [&](int percent) {
        return std::uniform_int_distribution<int>(0, 99)(random) < percent;
    };
    auto between = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };

    const long handles_at_start = standin::OpenHandleCount();
    const long blocks_at_start = standin::LiveGlobalBlocks();
    // Most restart requests are answered as the media player does, the rest
    // as other players do: with a seek, or not at all. An ignored request
    // holds the user's next action back for half a second, so few are.
    host.SetRestartAnswer([&] {
        int pick = between(0, 49);
        return pick < 35   ? ClockedHost::Answer::StopPlay
               : pick < 49 ? ClockedHost::Answer::Seek
                           : ClockedHost::Answer::Ignore;
    });
    call("init", [] { plugin_record.init(); });
    standin::ClearMessageBoxes();
    ASSERT_EQ(host.Play(archive.path), 0);

    int dialogs = 0;
    int seeks = 0;
    const auto started = std::chrono::steady_clock::now();
    while (calls < kMaxCalls && std::chrono::steady_clock::now() - started < kRunFor) {
        host.Serve();
        int pick = between(0, 99);
        char title[kPathChars] = {};
        int length = 0;
        if (pick < 1) {
            ++calls;
            ASSERT_EQ(host.Play(archive.path), 0);
        } else if (pick < 2) {
            ++calls;
            host.Stop();
        } else if (pick < 22) {
            // Anywhere: before the start, inside, past the end.
            int to = between(0, 4000);
            call("set_output_time", [&] { plugin_record.set_output_time(to); });
            ++seeks;
        } else if (pick < 27) {
            host.Pause();
        } else if (pick < 33) {
            host.Unpause();
        } else if (pick < 38) {
            int volume = between(0, 255);
            call("set_volume", [&] { plugin_record.set_volume(volume); });
        } else if (pick < 42) {
            int pan = between(-127, 127);
            call("set_pan", [&] { plugin_record.set_pan(pan); });
        } else if (pick < 52) {
            call("get_output_time", [] { plugin_record.get_output_time(); });
        } else if (pick < 60) {
            call("get_length", [] { plugin_record.get_length(); });
        } else if (pick < 66) {
            call("is_paused", [] { plugin_record.is_paused(); });
        } else if (pick < 74) {
            const char* about = chance(50) ? nullptr : archive.path.c_str();
            call("get_file_info", [&] { plugin_record.get_file_info(about, title, &length); });
        } else if (pick < 77) {
            ++dialogs;
            unsigned rows = static_cast<unsigned>(between(0, (1 << tracks) - 1));
            bool cancel = chance(20);
            standin::SetDialogScript([&](HWND dialog) {
                dialogscript::Choose(dialog, rows, tracks);
                dialogscript::Press(dialog, cancel ? IDC_CANCEL : IDC_DONE);
            });
            call("info_box",
                 [&] { plugin_record.info_box(archive.path.c_str(), host.MainWindow()); });
            standin::SetDialogScript(nullptr);
        } else if (pick < 80) {
            // A stream that ended stays stopped for a while before the next play.
            if (!host.Playing() && chance(30)) {
                ++calls;
                ASSERT_EQ(host.Play(archive.path), 0);
            }
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(between(100, 3000)));
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    // Let the last stream go: unpaused, stopped, and every restart answered.
    host.SetRestartAnswer(nullptr);
    host.Unpause();
    for (int round = 0; round < 50 && (host.Playing() || host.Serve() > 0); ++round) {
        host.Stop();
        host.Serve();
    }
    host.Stop();
    ASSERT_FALSE(host.Playing());
    call("quit", [] { plugin_record.quit(); });

    int restarts = 0;
    int notices = 0;
    int ended = 0;
    const std::vector<Session>& sessions = host.Sessions();
    for (std::size_t s = 0; s < sessions.size(); ++s) {
        restarts += sessions[s].restarts;
        notices += sessions[s].notices;
        EXPECT_LE(sessions[s].notices, 1) << "session " << s;
        if (sessions[s].ended_by_itself) {
            ++ended;
            EXPECT_EQ(sessions[s].notices, 1) << "session " << s << " ended without its notice";
        }
    }
    std::printf("stress: %ld host calls in %.1f s (seed %u): %zu plays, %d track changes asked, "
                "%d end-of-stream notices, %d dialogs, %d seeks, %ld blocks written (%ld foreign, "
                "%ld of a disabled track); longest call %.1f ms\n",
                calls, seconds, seed, sessions.size(), restarts, notices, dialogs, seeks,
                blocks.load(), foreign_blocks.load(), disabled_blocks.load(), watchdog.LongestMs());

    EXPECT_GE(calls, 1000);
    EXPECT_EQ(foreign_blocks, 0) << "blocks that are no slice of the current track's audio";
    EXPECT_EQ(disabled_blocks, 0) << "blocks of a disabled track after the change away from it";
    EXPECT_GT(blocks, 0);
    EXPECT_EQ(host.Output().Violations(), 0);
    EXPECT_EQ(host.PlayFailures(), 0);
    EXPECT_TRUE(standin::MessageBoxes().empty());
    EXPECT_GT(restarts, 0);
    EXPECT_GT(ended, 0);
    EXPECT_EQ(player.archive_file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(standin::OpenHandleCount(), handles_at_start);
    EXPECT_EQ(standin::LiveGlobalBlocks(), blocks_at_start);
    FreeLibrary(module);
}

} // namespace
