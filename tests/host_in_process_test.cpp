// The in-process host on kestrel-play's output device, at the speed of real
// time: a stop that arrives while the playback thread waits at the end of a
// track for a paused output; track entries' titles, lengths and metadata,
// and the converter's reads beside playback; kestrel-play's playlist as a
// plug-in would reach it, through the player's playlist messages.
#include "core/entry_points.h"
#include "core/extended_file_info.h"
#include "core/extended_read.h"
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
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

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

namespace {

constexpr int kPieces[] = {3, 1000, 65536};
constexpr int kHandles = 3;

struct Converted {
    std::vector<std::int16_t> samples;
    int size = 0;
    int rate = 0;
};

// One handle per piece size open at once, read in turn, each `piece` bytes
// at a time, until every one has given all its PCM.
void ConvertAtOnce(const std::string& entry, Converted (&out)[kHandles]) {
    std::intptr_t handles[kHandles];
    std::vector<char> bytes[kHandles];
    for (int k = 0; k < kHandles; ++k) {
        int bps = 0, channels = 0;
        handles[k] =
            ExtendedReadOpen(player, entry.c_str(), &out[k].size, &bps, &channels, &out[k].rate);
        EXPECT_NE(handles[k], 0) << entry;
        EXPECT_EQ(bps, 16);
        EXPECT_EQ(channels, 1);
    }
    std::vector<char> buffer(kPieces[kHandles - 1]);
    int kill = 0;
    for (bool reading = true; reading;) {
        reading = false;
        for (int k = 0; k < kHandles; ++k) {
            const int got = ExtendedReadData(handles[k], buffer.data(), kPieces[k], &kill);
            bytes[k].insert(bytes[k].end(), buffer.begin(), buffer.begin() + got);
            reading = reading || got > 0;
        }
    }
    for (int k = 0; k < kHandles; ++k) {
        ExtendedReadClose(handles[k]);
        EXPECT_EQ(bytes[k].size() % 2, 0u);
        out[k].samples.resize(bytes[k].size() / 2);
        std::memcpy(out[k].samples.data(), bytes[k].data(), out[k].samples.size() * 2);
    }
}

TEST(HostInProcess, TrackEntriesAnswerQueriesAndConvertExactlyBesidePlayback) {
    hosttest::PluginFolder folder;
    folder.Build("two.mix", "Juniper",
                 {folder.MakeTrack("First", 22050, 1.3), folder.MakeTrack("Second", 11025, 0.7)});
    const std::string archive = WindowsForm(folder.Path("two.mix"));
    const std::vector<std::int16_t> extracted[] = {folder.Extract("two.mix", 1),
                                                   folder.Extract("two.mix", 2)};
    const int rates[] = {22050, 11025};
    const char* titles[] = {"First", "Second"};

    ClockedHost host(plugin_record, 1.0);
    plugin_record.instance = nullptr;
    plugin_record.init();
    lstrcpynA(player.plugin_directory, WindowsForm(folder.Dir()).c_str(), kPathChars);

    // Titles and exact lengths without playing; a bad entry shows its name.
    char title[kPathChars];
    int length = 0;
    for (int track = 0; track < 2; ++track) {
        plugin_record.get_file_info((archive + "|" + std::to_string(track + 1) + ".MIX").c_str(),
                                    title, &length);
        EXPECT_STREQ(title, titles[track]);
        EXPECT_EQ(length, static_cast<int>(extracted[track].size() * 1000 / rates[track]));
    }
    plugin_record.get_file_info((archive + "|3.MIX").c_str(), title, &length);
    EXPECT_STREQ(title, "two.mix|3.MIX");
    EXPECT_EQ(length, -1000);
    plugin_record.get_file_info(archive.c_str(), title, &length);
    EXPECT_STREQ(title, "two.mix");
    EXPECT_EQ(length, 0);

    ASSERT_EQ(host.Play(archive), 0);
    ASSERT_TRUE(host.ServeUntil([&] { return host.Output().HeardTimeMs() >= 100; }, 5000));
    char value[64];
    ASSERT_EQ(ExtendedFileInfo(player, "", "title", value, sizeof value), 1);
    EXPECT_STREQ(value, "First");
    ASSERT_EQ(ExtendedFileInfo(player, nullptr, "track", value, sizeof value), 1);
    EXPECT_STREQ(value, "1/2");

    // While the archive plays, two threads convert both tracks, three
    // handles each at once, in pieces that split samples and blocks.
    Converted converted[2][kHandles];
    std::atomic<int> done{0};
    std::vector<std::thread> converters;
    for (int track = 0; track < 2; ++track)
        converters.emplace_back([&, track] {
            ConvertAtOnce(archive + "|" + std::to_string(track + 1) + ".mix", converted[track]);
            ++done;
        });
    EXPECT_TRUE(host.ServeUntil([&] { return done == 2; }, 20000));
    for (std::thread& converter : converters)
        converter.join();
    for (int track = 0; track < 2; ++track)
        for (int k = 0; k < kHandles; ++k) {
            SCOPED_TRACE("track " + std::to_string(track) + " in pieces of " +
                         std::to_string(kPieces[k]));
            EXPECT_EQ(converted[track][k].size, static_cast<int>(extracted[track].size() * 2));
            EXPECT_EQ(converted[track][k].rate, rates[track]);
            EXPECT_TRUE(converted[track][k].samples == extracted[track]);
        }

    // A kill switch already set: nothing, at once. A seek, then the rest
    // from there.
    int size = 0, bps = 0, channels = 0, rate = 0;
    std::intptr_t handle =
        ExtendedReadOpen(player, (archive + "|1.MIX").c_str(), &size, &bps, &channels, &rate);
    ASSERT_NE(handle, 0);
    std::vector<char> rest(size);
    int kill = 1;
    EXPECT_EQ(ExtendedReadData(handle, rest.data(), size, &kill), 0);
    kill = 0;
    EXPECT_EQ(ExtendedReadSeek(handle, 500), 1);
    const std::size_t from = 11024; // 500 ms is sample 11025: the pair it lies in

    const int got = ExtendedReadData(handle, rest.data(), size, &kill);
    ASSERT_EQ(got, static_cast<int>((extracted[0].size() - from) * 2));
    EXPECT_EQ(std::memcmp(rest.data(), extracted[0].data() + from, got), 0);
    EXPECT_EQ(ExtendedReadSeek(handle, 1 << 30), 1);
    EXPECT_EQ(ExtendedReadData(handle, rest.data(), size, &kill), 0) << "a seek past the end";
    ExtendedReadClose(handle);

    host.Stop();
    host.Serve();
    EXPECT_EQ(ExtendedFileInfo(player, "", "title", value, sizeof value), 0) << "nothing plays";
    EXPECT_EQ(host.Output().Violations(), 0);
    plugin_record.quit();
}

} // namespace
