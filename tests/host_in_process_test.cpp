// The host's output device and services driving the plug-in in-process, for
// what needs a clock the test controls: a stop that arrives while the
// playback thread waits at the end of a track for a paused output.
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "core/stream_lock.h"
#include "host/event_log.h"
#include "host/host_clock.h"
#include "host/host_services.h"
#include "host/output_device.h"
#include "host/player_window.h"
#include "support/host_run.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class Messages : public PlayerWindowHandler {
public:
    void OnRestartRequest() override { ++restarts; }
    void OnEndOfStream() override { ++notices; }
    int restarts = 0;
    int notices = 0;
};

std::string WindowsForm(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Waits (pumping the window's messages) until `done` or `limit_ms` passes.
template <typename Done> bool WaitFor(PlayerWindow& window, Done done, double limit_ms) {
    std::int64_t start = ClockTicks();
    while (!done()) {
        if (MsSince(start) > limit_ms)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        window.PumpMessages();
    }
    return true;
}

TEST(HostInProcess, StopEndsTheWaitForAPausedOutputAtATracksEnd) {
    hosttest::PluginFolder folder;
    folder.Build("two.mix", "Juniper",
                 {folder.MakeTrack("First", 22050, 1), folder.MakeTrack("Second", 22050, 1)});

    EventLog log; // off: nothing written
    OutputDevice device(OutputDeviceOptions{}, &log, nullptr);
    HostServices services(DspMode::Off, nullptr, &log);
    Messages messages;
    PlayerWindow window(&messages);

    plugin_record.main_window = window.Handle();
    plugin_record.instance = nullptr;
    plugin_record.init();
    lstrcpynA(player.plugin_directory, WindowsForm(folder.Dir()).c_str(), kPathChars);
    services.Install(&plugin_record);
    plugin_record.output = device.Install();

    ASSERT_EQ(plugin_record.play(WindowsForm(folder.Path("two.mix")).c_str()), 0);
    // The whole second fits the buffer: by 600 ms heard it is all written and
    // the thread is waiting for the output to play it out.
    ASSERT_TRUE(WaitFor(
        window, [&] { return device.HeardTimeMs() >= 600; }, 5000));
    plugin_record.pause();
    ASSERT_TRUE(device.IsPaused());
    Sleep(150);
    EXPECT_TRUE(device.IsPlaying()) << "the paused output still holds the track's end";
    EXPECT_EQ(player.output_position.load(), player.output_length.load());

    std::int64_t start = ClockTicks();
    plugin_record.stop();
    double took = MsSince(start);
    EXPECT_LT(took, 1000) << "stop waited for the paused output";
    std::printf("stop while waiting for a paused output: %.2f ms\n", took);

    // The stop gave way before a next track was chosen: nothing was posted,
    // and the stream closed as at any plain stop.
    window.PumpMessages();
    EXPECT_EQ(messages.restarts, 0);
    EXPECT_EQ(messages.notices, 0);
    EXPECT_EQ(player.switching_track.load(), 0);
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
