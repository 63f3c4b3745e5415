// The in-process host on kestrel-play's output device, at the speed of real
// time: a stop that arrives while the playback thread waits at the end of a
// track for a paused output.
#include "core/entry_points.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "core/stream_lock.h"
#include "host/host_clock.h"
#include "support/clocked_host.h"
#include "support/host_run.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using clockedhost::ClockedHost;

std::string WindowsForm(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

TEST(HostInProcess, StopEndsTheWaitForAPausedOutputAtATracksEnd) {
    hosttest::PluginFolder folder;
    folder.Build("two.mix", "Juniper",
                 {folder.MakeTrack("First", 22050, 1), folder.MakeTrack("Second", 22050, 1)});

    ClockedHost host(plugin_record, 1.0);
    OutputDevice& device = host.Output();
    plugin_record.instance = nullptr;
    plugin_record.init();
    lstrcpynA(player.plugin_directory, WindowsForm(folder.Dir()).c_str(), kPathChars);

    ASSERT_EQ(host.Play(WindowsForm(folder.Path("two.mix"))), 0);
    // The whole second fits the buffer: by 600 ms heard it is all written and
    // the thread is waiting for the output to play it out.
    ASSERT_TRUE(host.ServeUntil([&] { return device.HeardTimeMs() >= 600; }, 5000));
    host.Pause();
    ASSERT_TRUE(device.IsPaused());
    Sleep(150);
    EXPECT_TRUE(device.IsPlaying()) << "the paused output still holds the track's end";
    EXPECT_EQ(player.output_position.load(), player.output_length.load());

    std::int64_t start = ClockTicks();
    host.Stop();
    double took = MsSince(start);
    EXPECT_LT(took, 1000) << "stop waited for the paused output";
    std::printf("stop while waiting for a paused output: %.2f ms\n", took);

    // The stop gave way before a next track was chosen: nothing was posted,
    // and the stream closed as at any plain stop.
    host.Serve();
    ASSERT_EQ(host.Sessions().size(), 1u);
    EXPECT_EQ(host.Sessions()[0].restarts, 0);
    EXPECT_EQ(host.Sessions()[0].notices, 0);
    EXPECT_EQ(player.switching_track(), 0);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.Violations(), 0);
    plugin_record.quit();
}

} // namespace

namespace {

TEST(HostInProcess, QuitReleasesTheStreamLockAndInitMakesItAgain) {
    // A host that unloads and reloads the library must not leak the lock.
    plugin_record.instance = nullptr;
    plugin_record.init();
    EXPECT_TRUE(player.stream_lock.ready());
    plugin_record.quit();
    EXPECT_FALSE(player.stream_lock.ready());
    plugin_record.init();
    ASSERT_TRUE(player.stream_lock.ready());
    {
        StreamLock hold(player.stream_lock); // usable again after the second init
    }
    plugin_record.quit();
}

} // namespace
