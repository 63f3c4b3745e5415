// Track changes across the host's stop and play: the archive and output kept
// open for the next track, and dropped when the host plays another file.
#include "core/entry_points.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "support/fake_host.h"
#include "support/mix_fixtures.h"
#include "tools/mixlib/archive_builder.h"
#include "tools/mixlib/archive_names.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

using fakehost::FakeHost;

TrackSource Tone(const std::string& title, double frequency) {
    constexpr int kRate = 22050;
    TrackSource source{title, kRate, {}};
    for (int n = 0; n < kRate / 5; ++n)
        source.samples.push_back(
            static_cast<std::int16_t>(10000 * std::sin(2 * M_PI * frequency * n / kRate)));
    return source;
}

class TrackChangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = std::make_unique<FakeHost>(plugin_record);
        player.current_track = 0;
        player.switching_track = 0;
        player.InitPlayer(&plugin_record, (dir_.Path().string() + "/").c_str());
        first_ = dir_ / "first.mix";
        second_ = dir_ / "second.mix";
        BuildArchive(first_, *FindKnownArchiveByName("Juniper"), dir_.Path().string() + "/",
                     {Tone("First one", 440), Tone("First two", 550)});
        BuildArchive(second_, *FindKnownArchiveByName("Pewter"), dir_.Path().string() + "/",
                     {Tone("Second one", 660), Tone("Second two", 770)});
    }

    void TearDown() override {
        Stop();
        player.switching_track = 0;
        Stop();
        player.FreePlayer();
        host_.reset();
    }

    bool WaitFor(const std::function<bool()>& done) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            host_->PumpMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    // Plays the first archive until its first track has ended and the
    // playback thread has asked the host for the next one.
    void PlayUntilRestartRequest() {
        ASSERT_EQ(Play(first_.c_str()), 0);
        ASSERT_TRUE(WaitFor([&] { return host_->RestartRequests() == 1; }));
        ASSERT_EQ(player.switching_track.load(), 1);
        // The next thread holds before its first block: the tracks are short.
        host_->SetRoom(0);
    }

    std::string Title() {
        char title[kPathChars] = {};
        GetFileInfo(nullptr, title, nullptr);
        return title;
    }

    mixtest::ScratchDir dir_;
    std::unique_ptr<FakeHost> host_;
    std::string first_;
    std::string second_;
};

TEST_F(TrackChangeTest, StopAndPlayOfTheSameFileGoOnWithTheNextTrack) {
    ASSERT_NO_FATAL_FAILURE(PlayUntilRestartRequest());
    Stop();
    EXPECT_EQ(host_->Closes(), 0) << "the output stays open for the next track";
    ASSERT_EQ(Play(first_.c_str()), 0);
    EXPECT_EQ(Title(), "First two");
    EXPECT_EQ(host_->Opens(), 1);
}

TEST_F(TrackChangeTest, PlayOfAnotherFileAfterAStopDuringATrackChangeStartsThatFile) {
    ASSERT_NO_FATAL_FAILURE(PlayUntilRestartRequest());
    // The user stopped just as the track ended: the host's stop came, but
    // the next play is of another archive.
    Stop();
    ASSERT_EQ(Play(second_.c_str()), 0);
    EXPECT_EQ(Title(), "Second one");
    EXPECT_EQ(player.current_track.load(), 0);
    EXPECT_EQ(host_->Closes(), 1) << "the first archive's stream was let go";
    EXPECT_EQ(host_->Opens(), 2);
}

// A track so short that its thread reaches the next track change before
// play has returned: that change must not be lost.
TEST_F(TrackChangeTest, AChangeTheNewThreadMakesAtOnceIsKept) {
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(Play(first_.c_str()), 0);
        ASSERT_TRUE(WaitFor([&] { return host_->RestartRequests() == round + 1; }));
        EXPECT_EQ(player.switching_track.load(), 1) << "round " << round;
        Stop();
        player.switching_track = 0;
        Stop();
    }
}

} // namespace
