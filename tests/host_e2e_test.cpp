// End to end through kestrel-play, the headless host: the real plug-in
// module loaded by path, archives built by mixtool, and what the host heard
// and logged compared with mixtool's extraction of the same tracks.
#include "support/host_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {

using hosttest::Event;
using hosttest::Named;
using hosttest::PluginFolder;
using Samples = std::vector<std::int16_t>;

constexpr int kLongMs = 66000; // a whole number of ms at 22050 Hz
// A stop that gives way takes milliseconds; one that waits for the output
// to play out what it holds takes as long as that (half a second at least
// where it is measured), and one that waits for a paused output never ends.
constexpr double kStopGivesWayMs = 300;

Samples Slice(const Samples& all, std::int64_t from_byte, std::int64_t to_byte) {
    from_byte = std::clamp<std::int64_t>(from_byte, 0, 2 * all.size());
    to_byte = std::clamp<std::int64_t>(to_byte, from_byte, 2 * all.size());
    return Samples(all.begin() + from_byte / 2, all.begin() + to_byte / 2);
}

std::size_t IndexOf(const std::vector<Event>& events, const std::string& name, int nth = 0) {
    for (std::size_t i = 0; i < events.size(); ++i)
        if (events[i].Name() == name && nth-- == 0)
            return i;
    ADD_FAILURE() << "no event " << name;
    return events.size();
}

class HostEndToEnd : public ::testing::Test {
protected:
    // Three tracks of different lengths, the middle one at another rate.
    void BuildThreeTracks() {
        folder.Build("three.mix", "Juniper",
                     {folder.MakeTrack("Alpha", 22050, kLongMs / 1000.0),
                      folder.MakeTrack("Bravo", 11025, 2), folder.MakeTrack("Charlie", 22050, 3)});
    }

    PluginFolder folder;
};

TEST_F(HostEndToEnd, PlainPlayHearsEveryTrackInOrderAndEveryStopLetsGoOfTheOutput) {
    BuildThreeTracks();
    // The plug-in wraps round to the first track; stop once all three are heard.
    ASSERT_EQ(folder.Play("--fast --until 71000 three.mix", "plain"), 0);
    auto events = folder.Events("plain");
    Samples heard = folder.Heard("plain");

    auto plays = Named(events, "play");
    ASSERT_EQ(plays.size(), 3u);
    EXPECT_EQ(plays[0].Str("reason"), "start");
    std::vector<std::int64_t> starts;
    for (const Event& play : plays)
        EXPECT_EQ(play.Int("result"), 0);
    for (const Event& call : Named(events, "play_call"))
        starts.push_back(call.Int("heard"));
    starts.push_back(static_cast<std::int64_t>(heard.size()) * 2);
    for (int track = 0; track < 3; ++track) {
        Samples expected = folder.Extract("three.mix", track + 1);
        EXPECT_EQ(Slice(heard, starts[track], starts[track + 1]), expected) << "track " << track;
    }
    auto titles = Named(events, "file_info");
    ASSERT_EQ(titles.size(), 4u); // the archive, then each track as it plays
    EXPECT_EQ(titles[1].Str("title"), "Alpha");
    EXPECT_EQ(titles[2].Str("title"), "Bravo");
    EXPECT_EQ(titles[3].Str("title"), "Charlie");

    // One restart request per track change, each answered with stop then
    // play; the one the third track's end posted comes after the host stopped.
    auto restarts = Named(events, "restart_request");
    ASSERT_GE(restarts.size(), 2u);
    EXPECT_LE(restarts.size(), 3u);
    EXPECT_FALSE(restarts[0].Bool("ignored"));
    EXPECT_FALSE(restarts[1].Bool("ignored"));
    auto stops = Named(events, "stop");
    ASSERT_EQ(stops.size(), 3u);
    EXPECT_EQ(stops[0].Str("reason"), "restart");
    EXPECT_EQ(stops[1].Str("reason"), "restart");
    EXPECT_EQ(stops[2].Str("reason"), "until");
    // Every stop lets go of the output, the host's answer and the user's
    // alike; each play opens it at its track's rate.
    for (const Event& stop : stops)
        EXPECT_FALSE(stop.Bool("output_open"));
    EXPECT_TRUE(Named(events, "end_of_stream").empty());
    auto opens = Named(events, "out.open");
    ASSERT_EQ(opens.size(), 3u);
    EXPECT_EQ(opens[0].Int("rate"), 22050);
    EXPECT_EQ(opens[1].Int("rate"), 11025);
    EXPECT_EQ(opens[2].Int("rate"), 22050);
    auto changes = Named(events, "rate_change");
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].Int("heard"), starts[1]);
    EXPECT_EQ(changes[1].Int("heard"), starts[2]);
    EXPECT_EQ(Named(events, "out.close").size(), 3u);
    EXPECT_EQ(Named(events, "finished")[0].Int("violations"), 0);
}

TEST_F(HostEndToEnd, TheLastTrackOfAStreamEndsWithOneNoticeAndTheThreadEnds) {
    folder.Build("one.mix", "Juniper", {folder.MakeTrack("Solo", 22050, 2.5)});
    ASSERT_EQ(folder.Play("--fast one.mix one.mix", "eos"), 0);
    auto events = folder.Events("eos");
    Samples heard = folder.Heard("eos");
    Samples track = folder.Extract("one.mix", 1);
    Samples twice = track;
    twice.insert(twice.end(), track.begin(), track.end());
    EXPECT_EQ(heard, twice); // the archive given twice plays twice

    auto notices = Named(events, "end_of_stream");
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_TRUE(Named(events, "restart_request").empty());
    for (int n = 0; n < 2; ++n) {
        // After the notice the playback thread calls nothing more: it ended.
        std::size_t at = IndexOf(events, "end_of_stream", n);
        std::size_t next_play = n == 0 ? IndexOf(events, "play_call", 1) : events.size();
        for (std::size_t i = at; i < next_play; ++i)
            EXPECT_EQ(events[i].Str("thread"), "host") << events[i].Name();
        EXPECT_FALSE(notices[n].Bool("ignored"));
    }
    auto stops = Named(events, "stop");
    ASSERT_EQ(stops.size(), 2u);
    for (const Event& stop : stops) {
        EXPECT_EQ(stop.Str("reason"), "end_of_stream");
        EXPECT_FALSE(stop.Bool("output_open"));
        EXPECT_LT(stop.Num("ms"), kStopGivesWayMs);
    }
}

TEST_F(HostEndToEnd, SeeksFlushAtTheWholeSecondAndHearTheTrackFromThere) {
    BuildThreeTracks();
    // Forward to 61.5 s, back to 5.2 s, then exactly to the track's end.
    ASSERT_EQ(folder.Play("--fast --seek 61500@2000 --seek 5200@62500 --seek 66000@7000 "
                          "--until 74000 three.mix",
                          "seek"),
              0);
    auto events = folder.Events("seek");
    Samples heard = folder.Heard("seek");
    Samples alpha = folder.Extract("three.mix", 1);
    ASSERT_EQ(alpha.size() * 2, static_cast<std::size_t>(kLongMs) * 22050 * 2 / 1000);

    auto seeks = Named(events, "seek");
    ASSERT_EQ(seeks.size(), 3u);
    EXPECT_EQ(seeks[0].Int("time"), 2000);
    auto flushes = Named(events, "out.flush");
    ASSERT_GE(flushes.size(), 4u); // three seeks, then the track change
    EXPECT_EQ(flushes[0].Int("ms"), 61000);
    EXPECT_EQ(flushes[1].Int("ms"), 5000);
    EXPECT_EQ(flushes[2].Int("ms"), 66000);
    EXPECT_EQ(flushes[3].Int("ms"), 0);

    // Before the first seek: the track from its start.
    const std::int64_t rate_bytes = 22050 * 2;
    std::int64_t first = flushes[0].Int("heard");
    EXPECT_EQ(Slice(heard, 0, first), Slice(alpha, 0, first));
    // Then from byte 61 × rate × 2, and after the backward seek from 5 s.
    std::int64_t second = flushes[1].Int("heard");
    EXPECT_GT(second, first);
    EXPECT_EQ(Slice(heard, first, second),
              Slice(alpha, 61 * rate_bytes, 61 * rate_bytes + second - first));
    std::int64_t third = flushes[2].Int("heard");
    EXPECT_GT(third, second);
    EXPECT_EQ(Slice(heard, second, third),
              Slice(alpha, 5 * rate_bytes, 5 * rate_bytes + third - second));
    // A seek to the very end moves on to the next track.
    EXPECT_EQ(flushes[3].Int("heard"), third);
    auto plays = Named(events, "play");
    ASSERT_GE(plays.size(), 2u);
    EXPECT_EQ(plays[1].Str("reason"), "restart");
    EXPECT_EQ(Named(events, "play_call")[1].Int("heard"), third);
    auto titles = Named(events, "file_info");
    ASSERT_GE(titles.size(), 3u);
    EXPECT_EQ(titles[2].Str("title"), "Bravo");

    // The plug-in's time follows the seeks, never ahead of what the device
    // has played (a block counts once it is written), and behind it only
    // while the seek is on its way.
    for (const Event& seek : seeks) {
        EXPECT_LE(seek.Int("plugin_time"), seek.Int("time") + 1);
        EXPECT_GE(seek.Int("plugin_time"), seek.Int("time") - 500);
    }
}

TEST_F(HostEndToEnd, PauseHoldsTheHeardTimeAndLastsAcrossATrackChange) {
    // The next track at the same rate, so that the output is not reopened.
    folder.Build(
        "three.mix", "Juniper",
        {folder.MakeTrack("Alpha", 22050, kLongMs / 1000.0), folder.MakeTrack("Delta", 22050, 2)});
    // One pause inside the first track, one exactly at its end.
    ASSERT_EQ(
        folder.Play("--fast --pause 1000:200 --pause 66000:300 --until 67000 three.mix", "pause"),
        0);
    auto events = folder.Events("pause");
    auto pauses = Named(events, "pause");
    auto unpauses = Named(events, "unpause");
    auto after = Named(events, "unpaused");
    ASSERT_EQ(pauses.size(), 2u);
    ASSERT_EQ(unpauses.size(), 2u);

    EXPECT_EQ(pauses[0].Int("time"), 1000);
    EXPECT_EQ(pauses[0].Int("is_paused"), 1);
    EXPECT_EQ(unpauses[0].Int("time"), 1000) << "the heard time stood still";
    // The plug-in's own time is its decode position less what the output
    // holds; the thread keeps filling the paused output, and its whole-ms
    // block count lags the bytes written, so it may move by up to two blocks
    // (the thread refills a few blocks per wake-up).
    EXPECT_NEAR(unpauses[0].Int("plugin_time"), pauses[0].Int("plugin_time"), 60);
    EXPECT_EQ(after[0].Int("is_paused"), 0);

    // Paused at the end of the first track: the next one starts paused, and
    // stays so until the host unpauses.
    std::size_t paused_at = IndexOf(events, "pause", 1);
    std::size_t unpaused_at = IndexOf(events, "unpause", 1);
    std::vector<Event> between(events.begin() + paused_at, events.begin() + unpaused_at);
    auto restart_plays = Named(between, "play");
    ASSERT_EQ(restart_plays.size(), 1u);
    EXPECT_EQ(restart_plays[0].Int("is_paused"), 1);
    EXPECT_TRUE(restart_plays[0].Bool("output_paused"));
    for (const Event& call : Named(between, "out.pause"))
        EXPECT_NE(call.Int("flag"), 0) << "nothing unpaused the output";
    // Nothing of the next track was heard while paused.
    EXPECT_EQ(restart_plays[0].Int("heard"), pauses[1].Int("heard"));
    for (const Event& write : Named(between, "out.write"))
        EXPECT_EQ(write.Int("heard"), pauses[1].Int("heard"));
}

TEST_F(HostEndToEnd, WithADspStageABlockIsDecodedOnlyWithRoomForTwiceItsSize) {
    // At 8000 Hz the two-second buffer holds 32000 bytes: filled from empty
    // with blocks of 2304 it is left with 2048 bytes of room, enough for one
    // block of 1152 but not for one the stage doubles. Held at 0 ms and then
    // paused, the output fills up exactly that way.
    folder.Build("one.mix", "Juniper", {folder.MakeTrack("Solo", 8000, 4)});
    ASSERT_EQ(folder.Play("--fast --pause 0:300 --dsp double one.mix", "double"), 0);
    auto events = folder.Events("double");
    Samples track = folder.Extract("one.mix", 1);
    Samples doubled;
    for (std::int16_t sample : track)
        doubled.insert(doubled.end(), {sample, sample});
    EXPECT_EQ(folder.Heard("double"), doubled);

    int blocks = 0;
    int last_room = -1;
    bool one_block_of_room = false;
    for (const Event& event : events) {
        if (event.Name() == "out.can_write") {
            last_room = static_cast<int>(event.Int("result"));
            one_block_of_room = one_block_of_room || last_room == 2048;
        } else if (event.Name() == "analysis_add_pcm") {
            ++blocks;
            EXPECT_GE(last_room, 2304) << "block " << blocks << " decoded without room for 2x";
        }
    }
    EXPECT_EQ(blocks, static_cast<int>((track.size() * 2 + 1151) / 1152));
    EXPECT_TRUE(one_block_of_room) << "the output never had room for one block only";
    EXPECT_EQ(Named(events, "finished")[0].Int("violations"), 0);
}

TEST_F(HostEndToEnd, ADspStageThatReturnsNothingEndsTheTrack) {
    folder.Build("one.mix", "Juniper", {folder.MakeTrack("Solo", 22050, 4)});
    ASSERT_EQ(folder.Play("--fast --dsp zero one.mix", "zero"), 0);
    auto events = folder.Events("zero");
    EXPECT_TRUE(folder.Heard("zero").empty());
    EXPECT_EQ(Named(events, "dsp_process").size(), 1u);
    EXPECT_EQ(Named(events, "end_of_stream").size(), 1u);
}

TEST_F(HostEndToEnd, EveryFailedPlayReturnsOneWithItsBoxesAndTheNextFilePlays) {
    // A ten-second track at 22050 Hz: 441000 bytes of PCM.
    folder.Build("good.mix", "Juniper", {folder.MakeTrack("Ten", 22050, 10)});
    { std::ofstream(folder.Path("odd.mix")) << "not an archive"; }
    // Known by its size (Pewter), but its index is not in the plug-in folder.
    std::filesystem::resize_file(
        (std::ofstream(folder.Path("noindex.mix")), folder.Path("noindex.mix")), 51332268);
    // A good archive whose first track header lost its magic bytes.
    folder.Build("badhead.mix", "Marlin", {folder.MakeTrack("Bad", 22050, 1)});
    {
        std::fstream patch(folder.Path("badhead.mix"),
                           std::ios::in | std::ios::out | std::ios::binary);
        patch.seekp(4096 + 10);
        patch.write("\0\0", 2);
    }
    // The index of Marlin is needed by badhead.mix only: the Pewter one is missing.
    ASSERT_EQ(folder.Play("--fast --until 1000 missing.mix good.mix odd.mix good.mix noindex.mix "
                          "good.mix badhead.mix good.mix",
                          "fail"),
              1);
    auto events = folder.Events("fail");
    auto plays = Named(events, "play");
    ASSERT_EQ(plays.size(), 2u) << "--until ends the run after the first good file";

    // Run again without --until so that every file gets its turn.
    ASSERT_EQ(folder.Play("--fast missing.mix good.mix odd.mix good.mix noindex.mix good.mix "
                          "badhead.mix good.mix",
                          "all"),
              1);
    events = folder.Events("all");
    plays = Named(events, "play");
    ASSERT_EQ(plays.size(), 8u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(plays[i].Int("result"), i % 2 == 0 ? 1 : 0) << "play " << i;
    // 441000 bytes at 22050 Hz: ten seconds exactly.
    for (int i = 1; i < 8; i += 2)
        EXPECT_EQ(plays[i].Int("length"), 10000);

    auto boxes = Named(events, "message_box");
    ASSERT_EQ(boxes.size(), 4u);
    // The unknown size: one box.
    EXPECT_EQ(boxes[0].Str("caption"), "Error");
    EXPECT_EQ(boxes[0].Str("text"), "Not a valid Kestrel MIX file!");
    // The missing index: its path, then the same box.
    std::string index = folder.Dir() + "Pewter.MIX";
    std::replace(index.begin(), index.end(), '/', '\\');
    EXPECT_EQ(boxes[1].Str("caption"), "Missing file");
    EXPECT_EQ(boxes[1].Str("text"), index);
    EXPECT_EQ(boxes[2].Str("text"), "Not a valid Kestrel MIX file!");
    // The bad header.
    EXPECT_EQ(boxes[3].Str("caption"), "Error");
    EXPECT_EQ(boxes[3].Str("text"), "Not a valid Kestrel MIX file!");
    // Each box came while its own play was under way.
    EXPECT_LT(IndexOf(events, "play_call", 2), IndexOf(events, "message_box", 0));
    EXPECT_LT(IndexOf(events, "message_box", 0), IndexOf(events, "play", 2));
    EXPECT_LT(IndexOf(events, "play_call", 6), IndexOf(events, "message_box", 3));

    // File information for a path, a missing path and the playing stream.
    auto infos = Named(events, "file_info");
    EXPECT_EQ(infos[0].Int("length"), -1000);
    EXPECT_EQ(infos[0].Str("title"), "missing.mix");
    EXPECT_EQ(infos[1].Int("length"), 0);
    EXPECT_EQ(infos[1].Str("title"), "good.mix");
    EXPECT_EQ(infos[2].Str("title"), "Ten");
    EXPECT_EQ(infos[2].Int("length"), 10000);
    Samples ten = folder.Extract("good.mix", 1);
    EXPECT_EQ(folder.Heard("all").size(), ten.size() * 4);
}

TEST_F(HostEndToEnd, AFailedOutputOpenFailsThePlaySilentlyAndTheNextOnePlays) {
    folder.Build("one.mix", "Juniper", {folder.MakeTrack("Solo", 22050, 1)});
    ASSERT_EQ(folder.Play("--fast --fail-open 1 one.mix one.mix", "open"), 1);
    auto events = folder.Events("open");
    auto plays = Named(events, "play");
    ASSERT_EQ(plays.size(), 2u);
    EXPECT_EQ(plays[0].Int("result"), 1);
    EXPECT_FALSE(plays[0].Bool("output_open"));
    EXPECT_EQ(plays[1].Int("result"), 0);
    EXPECT_TRUE(Named(events, "message_box").empty());
    EXPECT_EQ(folder.Heard("open"), folder.Extract("one.mix", 1));
}

TEST_F(HostEndToEnd, APlaylistStandsForTheNamesItListsInTurn) {
    // A byte-order mark, CR LF and LF lines, a comment, a blank line; a
    // relative name is the playlist folder's, an absolute one stays as it is.
    folder.Build("one.mix", "Juniper", {folder.MakeTrack("Solo", 22050, 1)});
    std::filesystem::create_directory(folder.Path("lists"));
    std::ofstream(folder.Path("lists/p.m3u8"), std::ios::binary)
        << "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:7,Gone \xC3\xA9\r\nmissing.mix\n\n# a note\r\n"
        << folder.Path("one.mix") << "\n";
    ASSERT_EQ(folder.Play("--fast lists/p.m3u8", "list"), 1);
    auto events = folder.Events("list");
    auto entries = Named(events, "entry");
    ASSERT_EQ(entries.size(), 2u);
    std::string missing = folder.Dir() + "lists/missing.mix";
    std::string one = folder.Path("one.mix");
    std::replace(missing.begin(), missing.end(), '/', '\\');
    std::replace(one.begin(), one.end(), '/', '\\');
    EXPECT_EQ(entries[0].Str("name"), missing);
    EXPECT_TRUE(entries[0].Bool("listed"));
    EXPECT_EQ(entries[0].Str("list_title"), "Gone \xC3\xA9");
    EXPECT_EQ(entries[0].Int("list_seconds"), 7);
    EXPECT_EQ(entries[1].Str("name"), one);
    EXPECT_FALSE(entries[1].Bool("listed"));
    auto plays = Named(events, "play");
    ASSERT_EQ(plays.size(), 2u);
    EXPECT_EQ(plays[0].Int("result"), 1);
    EXPECT_EQ(plays[1].Str("path"), one);
    EXPECT_EQ(folder.Heard("list"), folder.Extract("one.mix", 1));
}

TEST_F(HostEndToEnd, StopReturnsQuicklyWhileDecodingAndWhileDraining) {
    // Real time: a stop a second into a ten-second track finds the thread
    // decoding; one 2.5 s into a 3 s track finds it draining the output.
    folder.Build("ten.mix", "Juniper", {folder.MakeTrack("Ten", 22050, 10)});
    folder.Build("three.mix", "Pewter", {folder.MakeTrack("Three", 22050, 3)});
    ASSERT_EQ(folder.Play("--until 1000 ten.mix", "decoding"), 0);
    ASSERT_EQ(folder.Play("--until 2500 three.mix", "draining"), 0);
    for (const char* tag : {"decoding", "draining"}) {
        auto stops = Named(folder.Events(tag), "stop");
        ASSERT_EQ(stops.size(), 1u) << tag;
        EXPECT_EQ(stops[0].Str("reason"), "until");
        EXPECT_LT(stops[0].Num("ms"), kStopGivesWayMs) << tag;
    }
    // While draining, everything had been written: only the output was busy.
    auto drain = folder.Events("draining");
    std::int64_t written = 0;
    for (const Event& write : Named(drain, "out.write"))
        written += write.Int("bytes");
    EXPECT_EQ(written, 3 * 22050 * 2);
}

} // namespace
