// The in-process host on kestrel-play's output device, at the speed of real
// time: a stop that arrives while the playback thread waits at the end of a
// track for a paused output. And kestrel-play's playlist as a plug-in would
// reach it, through the player's playlist messages.
#include "core/entry_points.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "core/stream_lock.h"
#include "host/host_clock.h"
#include "host/play_queue.h"
#include "host/player_window.h"
#include "support/clocked_host.h"
#include "support/host_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

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

PlayEntry Entry(const char* name) {
    PlayEntry entry;
    entry.name = name;
    return entry;
}

TEST(HostInProcess, PlaylistMessagesReadAndChangeTheListBesideTheEntryPlaying) {
    struct Listed : PlayerWindowHandler {
        PlayQueue queue{{Entry("d.mix"), Entry("other.mix")}};
        void OnRestartRequest() override {}
        void OnEndOfStream() override {}
        int ListPosition() override { return queue.Position(); }
        int ListCount() override { return queue.Count(); }
        const char* ListName(int index) override { return queue.Name(index); }
        int InsertName(int index, const char* name) override { return queue.Insert(index, name); }
        bool DeleteName(int index) override { return queue.Delete(index); }
    } list;
    PlayerWindow window(&list);
    const HWND main = window.Handle();
    const auto ask = [](HWND to, WPARAM first, LPARAM second) {
        return SendMessageA(to, WM_USER, first, second);
    };
    const auto insert = [&](HWND to, const char* name, int index, ULONG_PTR kind) {
        InsertedName data{};
        std::strcpy(data.file, name);
        data.index = index;
        COPYDATASTRUCT block{kind, sizeof data, &data};
        return SendMessageA(to, WM_COPYDATA, reinterpret_cast<WPARAM>(main),
                            reinterpret_cast<LPARAM>(&block));
    };
    EXPECT_EQ(ask(main, 0, kIpcGetVersion), kPlayerVersion);
    const HWND playlist = reinterpret_cast<HWND>(ask(main, kIpcPlaylistWindow, kIpcGetWindow));
    ASSERT_EQ(playlist, window.PlaylistHandle());
    ASSERT_NE(playlist, nullptr);

    // The archive playing is replaced by its tracks' entries: the next
    // entry played is the first of them.
    EXPECT_EQ(list.queue.Take().name, "d.mix");
    EXPECT_EQ(insert(playlist, "d.mix|1.MIX", 1, kIpcInsertName), 1);
    EXPECT_EQ(insert(playlist, "d.mix|2.MIX", 2, kIpcInsertName), 1);
    EXPECT_EQ(insert(playlist, "ignored", 0, kIpcInsertName + 1), 0);
    EXPECT_EQ(ask(playlist, kIpcDeleteIndex, 0), 1);
    EXPECT_EQ(ask(playlist, kIpcDeleteIndex, 3), 0);
    EXPECT_EQ(ask(playlist, kIpcListCount, 0), 3);
    EXPECT_STREQ(reinterpret_cast<const char*>(ask(main, 2, kIpcGetPlaylistFile)), "other.mix");
    EXPECT_EQ(ask(main, 3, kIpcGetPlaylistFile), 0);
    EXPECT_EQ(list.queue.Take().name, "d.mix|1.MIX");
    // An entry inserted before the one playing moves it on.
    EXPECT_EQ(insert(playlist, "first.mix", 0, kIpcInsertName), 1);
    EXPECT_EQ(ask(main, 0, kIpcGetListPosition), 1);
    EXPECT_EQ(ask(playlist, kIpcListPosition, 0), 1);
    EXPECT_EQ(list.queue.Take().name, "d.mix|2.MIX");
}

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
