// Track changes across the host's stop and play, against a fake host whose
// output the test holds: the chosen track goes on after the host's answer,
// dropped when the host plays another file, and every way a change can go
// wrong or be overtaken (a failed start, the dialog's choice, a pause, a
// stop, an archive with nothing to hear, a stage that talks to the host).
#include "core/entry_points.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "dialogs/resource_ids.h"
#include "platform/standin/testing.h"
#include "support/dialog_script.h"
#include "support/fake_host.h"
#include "support/mix_fixtures.h"
#include "support/reset_player.h"
#include "support/played_archive.h"
#include "tools/mixlib/archive_builder.h"
#include "tools/mixlib/archive_names.h"
#include "tools/mixlib/archive_reader.h"
#include "tools/mixlib/track_extractor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

using dialogscript::Choose;
using dialogscript::Press;
using dialogscript::RunInfoBox;
using fakehost::FakeHost;

struct Tone {
    std::string title;
    int rate = 22050;
    double seconds = 0.2;
};

TrackSource Source(const Tone& tone, double frequency) {
    TrackSource source{tone.title, static_cast<std::uint16_t>(tone.rate), {}};
    const int samples = static_cast<int>(tone.rate * tone.seconds);
    for (int n = 0; n < samples; ++n)
        source.samples.push_back(
            static_cast<std::int16_t>(10000 * std::sin(2 * M_PI * frequency * n / tone.rate)));
    return source;
}

class TrackChangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = std::make_unique<FakeHost>(plugin_record);
        ResetPlayer();
        player.InitPlayer(&plugin_record, Dir().c_str());
        standin::ClearMessageBoxes();
        first_ = Build("first.mix", "Juniper", {{"First one"}, {"First two"}});
        second_ = Build("second.mix", "Pewter", {{"Second one"}, {"Second two"}});
    }

    void TearDown() override {
        StopForGood();
        ResetPlayer();
        host_.reset();
    }

    // Stops whatever plays, and forgets a track change under way.
    void StopForGood() {
        host_->SetPlaying(false);
        Stop();
        player.hand_over_state = handover::Machine{};
        player.ReleaseStream();
    }

    // A fresh player and host for the next round of a test.
    void Restart() {
        TearDown();
        SetUp();
    }

    std::string Dir() const { return dir_.Path().string() + "/"; }

    // An archive of tones, one after another, the size of the named archive.
    std::string Build(const std::string& name, const char* known, const std::vector<Tone>& tones) {
        std::vector<TrackSource> sources;
        for (std::size_t i = 0; i < tones.size(); ++i)
            sources.push_back(Source(tones[i], 440.0 + 110.0 * static_cast<double>(i)));
        std::string path = dir_ / name;
        built_ = BuildArchive(path, *FindKnownArchiveByName(known), Dir(), sources);
        return path;
    }

    // Overwrites bytes of the last archive built, at `at` after the start of
    // track `track`'s header.
    void Damage(const std::string& path, int track, int at, const std::string& bytes) {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(built_.tracks[track].entry.offset + at);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // Pumps the host's queue (unless the host is busy) until `done` holds.
    bool WaitFor(const std::function<bool()>& done, int timeout_ms = 5000, bool pump = true) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            if (pump)
                host_->PumpMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    // Plays `file` until its first track has ended and the playback thread
    // has asked the host for the next one.
    void PlayUntilRestartRequest(const std::string& file) {
        int before = host_->RestartRequests();
        ASSERT_EQ(Play(file.c_str()), 0);
        ASSERT_TRUE(WaitFor([&] { return host_->RestartRequests() == before + 1; }));
        ASSERT_EQ(player.switching_track(), 1);
        // The next thread holds before its first block: the tracks are short.
        host_->SetRoom(0);
    }

    // Plays `file` until the current track is decoded to its end and waits
    // in its tail, the output still playing.
    void PlayIntoTheTail(const std::string& file) {
        host_->SetPlaying(true);
        ASSERT_EQ(Play(file.c_str()), 0);
        ASSERT_TRUE(WaitFor([&] {
            return player.output_position >= player.output_length &&
                   host_->Written().size() >= static_cast<std::size_t>(player.output_length);
        }));
    }

    static std::string Title() {
        char title[kPathChars] = {};
        GetFileInfo(nullptr, title, nullptr);
        return title;
    }

    mixtest::ScratchDir dir_;
    std::unique_ptr<FakeHost> host_;
    BuiltArchive built_;
    std::string first_;
    std::string second_;
};

TEST_F(TrackChangeTest, StopAndPlayOfTheSameFileGoOnWithTheNextTrack) {
    ASSERT_NO_FATAL_FAILURE(PlayUntilRestartRequest(first_));
    // Whether this stop is the host's answer or the user's, the output is
    // let go of; the play of the same file reopens it for the next track.
    Stop();
    EXPECT_EQ(host_->Closes(), 1);
    EXPECT_EQ(player.archive_file, INVALID_HANDLE_VALUE);
    ASSERT_EQ(Play(first_.c_str()), 0);
    EXPECT_EQ(Title(), "First two");
    EXPECT_EQ(host_->Opens(), 2);
}

TEST_F(TrackChangeTest, PlayOfAnotherFileAfterAStopDuringATrackChangeStartsThatFile) {
    ASSERT_NO_FATAL_FAILURE(PlayUntilRestartRequest(first_));
    // The user stopped just as the track ended: the host's stop came, but
    // the next play is of another archive.
    Stop();
    ASSERT_EQ(Play(second_.c_str()), 0);
    EXPECT_EQ(Title(), "Second one");
    EXPECT_EQ(player.current_track.load(), 0);
    EXPECT_EQ(host_->Closes(), 1) << "the first archive's stream was let go";
    EXPECT_EQ(host_->Opens(), 2);
    EXPECT_EQ(host_->Violations(), 0);
}

// A track so short that its thread reaches the next track change before
// play has returned: that change must not be lost.
TEST_F(TrackChangeTest, AChangeTheNewThreadMakesAtOnceIsKept) {
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(Play(first_.c_str()), 0);
        ASSERT_TRUE(WaitFor([&] { return host_->RestartRequests() == round + 1; }));
        EXPECT_EQ(player.switching_track(), 1) << "round " << round;
        StopForGood();
    }
}

// However the start of the next track fails, nothing of the change is left:
// the next play of any archive starts at its first track on an output opened
// once.
TEST_F(TrackChangeTest, AFailedTrackChangeLeavesNothingBehind) {
    enum class Failure { BadHeader, ReopenFails, NoThread };
    for (Failure failure : {Failure::BadHeader, Failure::ReopenFails, Failure::NoThread}) {
        SCOPED_TRACE(static_cast<int>(failure));
        // The second track needs the output reopened for another rate.
        std::string file = Build("change.mix", "Juniper", {{"Good"}, {"Next", 11025}});
        if (failure == Failure::BadHeader)
            Damage(file, 1, 10, std::string(2, '\0'));
        standin::ClearMessageBoxes();
        host_->SetRoom(1 << 20);
        ASSERT_NO_FATAL_FAILURE(PlayUntilRestartRequest(file));
        Stop();
        if (failure == Failure::ReopenFails)
            host_->FailOpen(1);
        if (failure == Failure::NoThread)
            standin::FailNthCall(standin::Fault::CreateThread, 1);
        EXPECT_EQ(Play(file.c_str()), 1);
        EXPECT_EQ(standin::MessageBoxes().size(), failure == Failure::BadHeader ? 1u : 0u);
        EXPECT_EQ(player.archive_file, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(host_->IsOpen());
        EXPECT_EQ(player.current_track.load(), 0);
        EXPECT_EQ(player.switching_track(), 0);
        EXPECT_EQ(player.awaiting_restart(), 0u);

        int opens = host_->Opens();
        ASSERT_EQ(Play(second_.c_str()), 0);
        EXPECT_EQ(Title(), "Second one");
        EXPECT_EQ(host_->Opens(), opens + 1);
        Stop();
        EXPECT_EQ(host_->Violations(), 0);
    }
}

// A track entry plays its own track, from its start, whatever the flags say,
// and ends with the notice: the host moves on to its next entry. Unticking
// that track in Sound Info ends it the same way; a number past the last
// track gets a box that says so.
TEST_F(TrackChangeTest, ATrackEntryPlaysItsTrackOnlyAndEndsWithTheNotice) {
    const std::string entry = first_ + "|2.MIX";
    EXPECT_EQ(IsOurFile(entry.c_str()), 1);
    EXPECT_EQ(IsOurFile(first_.c_str()), 0) << "archives are the host's to claim by extension";
    ArchiveReader reader(first_, Dir());
    const ExtractedTrack expected = ExtractTrack(reader, 1);

    ASSERT_EQ(Play(entry.c_str()), 0);
    EXPECT_EQ(Title(), "First two");
    TrackHeader header{};
    ASSERT_TRUE(reader.ReadHeader(1, &header));
    EXPECT_EQ(GetLength(), PcmTimeMs(header.output_size, header.sample_rate, 2));
    ASSERT_TRUE(WaitFor([&] { return host_->EndOfStreamNotices() == 1; }));
    EXPECT_EQ(host_->RestartRequests(), 0);
    EXPECT_EQ(host_->SamplesWritten(0, expected.samples.size() * 2), expected.samples);
    EXPECT_EQ(host_->Written().size(), expected.samples.size() * 2);
    Stop();

    // The dialog on the entry, nothing playing: its archive, that track current.
    std::string shown;
    RunInfoBox(first_ + "|1.MIX", host_->MainWindow(), [&](HWND dialog) {
        char text[kPathChars] = {};
        GetWindowTextA(GetDlgItem(dialog, IDC_PLAYING), text, kPathChars);
        shown = text;
        Press(dialog, IDC_CANCEL);
    });
    EXPECT_EQ(shown, "First one");

    Restart();
    host_->SetRoom(0);
    ASSERT_EQ(Play((first_ + "|1.MIX").c_str()), 0);
    RunInfoBox(first_, host_->MainWindow(), [](HWND dialog) {
        Choose(dialog, 0b10, 2);
        Press(dialog, IDC_DONE);
    });
    host_->SetRoom(1 << 20);
    host_->SetPlaying(false);
    EXPECT_TRUE(WaitFor([&] { return host_->EndOfStreamNotices() == 1; }));
    EXPECT_EQ(host_->RestartRequests(), 0);
    EXPECT_EQ(Title(), "First one") << "the entry's track, not the next enabled one";
    Stop();

    EXPECT_EQ(Play((first_ + "|3.MIX").c_str()), 1);
    ASSERT_EQ(standin::MessageBoxes().size(), 1u);
    EXPECT_EQ(standin::MessageBoxes()[0].text,
              "There is no track 3 in " + first_ + ": it holds 2 tracks.");
    EXPECT_NE(Play((first_ + "|0.MIX").c_str()), 0) << "no such file, and no box";
    EXPECT_EQ(standin::MessageBoxes().size(), 1u);
}

TEST_F(TrackChangeTest, ATrackChosenWhileStoppedBelongsToItsArchive) {
    std::string five =
        Build("five.mix", "Juniper", {{"One"}, {"Two"}, {"Three"}, {"Four"}, {"Five"}});
    RunInfoBox(five, host_->MainWindow(), [](HWND dialog) {
        Choose(dialog, 0b10000, 5);
        Press(dialog, IDC_DONE);
    });
    ASSERT_EQ(player.current_track.load(), 4);
    host_->SetRoom(0);
    ASSERT_EQ(Play(second_.c_str()), 0);
    EXPECT_EQ(Title(), "Second one");
    Stop();
    EXPECT_TRUE(standin::MessageBoxes().empty());
}

TEST_F(TrackChangeTest, DoneChangesNothingWhenAnotherArchiveWasLoadedMeanwhile) {
    RunInfoBox(first_, host_->MainWindow(), [&](HWND dialog) {
        // The host's loop runs on under the dialog: another archive plays.
        host_->SetRoom(0);
        ASSERT_EQ(Play(second_.c_str()), 0);
        Choose(dialog, 0b00, 2);
        Press(dialog, IDC_DONE);
    });
    host_->PumpMessages();
    EXPECT_TRUE(player.tracks[0].flags & kTrackEnabled);
    EXPECT_TRUE(player.tracks[1].flags & kTrackEnabled);
    EXPECT_EQ(player.finish_requested(), 0);
    EXPECT_EQ(host_->RestartRequests(), 0);
    EXPECT_EQ(Title(), "Second one");
}

// "Done" while the last of a track still plays: the next track is the one
// the latest choice implies, and the host is asked exactly once.
TEST_F(TrackChangeTest, DoneWhileATracksTailPlaysKeepsTheChoice) {
    struct Case {
        unsigned rows;
        int restarts_from_dialog;
    };
    for (Case c : {Case{0b1101, 0}, Case{0b1100, 1}}) {
        SCOPED_TRACE(c.rows);
        std::string four =
            Build("four.mix", "Juniper", {{"Tone 0"}, {"Tone 1"}, {"Tone 2"}, {"Tone 3"}});
        int before = host_->RestartRequests();
        ASSERT_NO_FATAL_FAILURE(PlayIntoTheTail(four));
        RunInfoBox(four, host_->MainWindow(), [&](HWND dialog) {
            Choose(dialog, c.rows, 4);
            Press(dialog, IDC_DONE);
        });
        host_->PumpMessages();
        EXPECT_EQ(host_->RestartRequests(), before + c.restarts_from_dialog);
        host_->SetRoom(0);
        host_->SetPlaying(false);
        ASSERT_TRUE(WaitFor([&] { return host_->RestartRequests() == before + 1; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        host_->PumpMessages();
        EXPECT_EQ(host_->RestartRequests(), before + 1);

        Stop();
        ASSERT_EQ(Play(four.c_str()), 0);
        EXPECT_EQ(Title(), "Tone 2");
        StopForGood();
        host_->SetRoom(1 << 20);
    }
}

// Paused as a track ends: the next one starts paused, on the output kept
// open or on one reopened for another rate, until the host unpauses.
TEST_F(TrackChangeTest, APauseLastsAcrossATrackChange) {
    for (int rate : {22050, 11025}) {
        SCOPED_TRACE(rate);
        std::string file = Build("paused.mix", "Juniper", {{"Before"}, {"After", rate}});
        ASSERT_NO_FATAL_FAILURE(PlayIntoTheTail(file));
        Pause();
        host_->SetPlaying(false); // the tail played out before the pause
        ASSERT_TRUE(WaitFor([&] { return host_->RestartRequests() > 0; }));
        host_->SetRoom(0); // the next track, short, holds before its first block
        Stop();
        ASSERT_EQ(Play(file.c_str()), 0);
        EXPECT_EQ(Title(), "After");
        EXPECT_EQ(IsPaused(), 1);
        EXPECT_TRUE(host_->IsPaused());
        Unpause();
        EXPECT_EQ(IsPaused(), 0);
        EXPECT_FALSE(host_->IsPaused());
        EXPECT_EQ(host_->Violations(), 0);
        Restart();
    }
}

TEST_F(TrackChangeTest, AnArchiveThatYieldsNoAudioEndsWithOneNotice) {
    std::string file = Build("silent.mix", "Juniper", {{"A"}, {"B"}, {"C"}});
    // Each track's first chunk is damaged: its signature is gone.
    for (int track = 0; track < 3; ++track)
        Damage(file, track, 12 + 4, std::string(2, '\0'));
    host_->SetRoom(1 << 20);
    ASSERT_EQ(Play(file.c_str()), 0);
    int answered = 0;
    // The host answers every restart request with stop and play.
    bool ended = WaitFor(
        [&] {
            if (host_->RestartRequests() > answered) {
                ++answered;
                Stop();
                EXPECT_EQ(Play(file.c_str()), 0);
            }
            return host_->EndOfStreamNotices() > 0 || answered > 10;
        },
        3000);
    EXPECT_TRUE(ended);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    host_->PumpMessages();
    EXPECT_EQ(host_->EndOfStreamNotices(), 1);
    EXPECT_EQ(host_->RestartRequests(), 2) << "one round: A to B, B to C";
    EXPECT_TRUE(host_->Written().empty());
}

// A host busy when the request comes: the playback thread starts the next
// track itself once it has waited long enough, and the host's stop and play,
// when it gets to the request at last, go on where the listener is. A host
// that answered with a seek has answered: a stop and a play after that are
// the user's, and start the archive afresh however quickly they follow.
TEST_F(TrackChangeTest, ALateStopAndPlayGoOnWhereTheListenerIs) {
    for (bool busy : {true, false}) {
        SCOPED_TRACE(busy ? "busy host" : "seek answer");
        first_ = Build("first.mix", "Juniper", {{"First one"}, {"First two", 22050, 4.0}});
        ASSERT_EQ(Play(first_.c_str()), 0);
        // The request waits in a busy host's queue (nothing is pumped) until
        // the thread starts the next track itself; another host seeks. The
        // output takes nothing more meanwhile.
        auto started = [] { return Title() == "First two" && !player.awaiting_restart(); };
        if (busy) {
            ASSERT_TRUE(WaitFor([] { return player.awaiting_restart(); }, 5000, false));
            host_->SetRoom(0);
            ASSERT_TRUE(WaitFor(started, 5000, false));
            // The user seeks: the listener is at 1000 ms when the host's
            // late answer comes.
            SetOutputTime(1500);
            ASSERT_TRUE(
                WaitFor([] { return player.seek_request_ms == kNoSeekRequest; }, 5000, false));
        } else {
            ASSERT_TRUE(WaitFor([&] { return host_->RestartRequests() == 1; }));
            host_->SetRoom(0);
            SetOutputTime(0);
            ASSERT_TRUE(WaitFor(started));
        }
        const int heard = GetOutputTime();
        EXPECT_EQ(heard, busy ? 1000 : 0);
        EXPECT_EQ(GetLength(), 4000);
        host_->PumpMessages();
        EXPECT_EQ(host_->RestartRequests(), 1);

        Stop();
        EXPECT_FALSE(host_->IsOpen());
        std::size_t from = host_->Written().size();
        ASSERT_EQ(Play(first_.c_str()), 0);
        if (!busy) {
            EXPECT_EQ(Title(), "First one");
            break;
        }
        EXPECT_EQ(Title(), "First two");
        EXPECT_EQ(GetOutputTime(), heard);
        host_->SetPlaying(true); // the track's tail holds the next change off
        host_->SetRoom(1 << 20);
        ASSERT_TRUE(WaitFor([&] { return host_->Written().size() > from + 8192; }));
        const std::vector<std::int16_t>& track = built_.tracks[1].decoded;
        const std::size_t at = static_cast<std::size_t>(heard) * 22050 / 1000 / 2 * 2;
        std::vector<std::int16_t> went_on = host_->SamplesWritten(from, from + 8192);
        ASSERT_LE(at + went_on.size(), track.size());
        EXPECT_EQ(went_on, std::vector<std::int16_t>(track.begin() + static_cast<long>(at),
                                                     track.begin() + static_cast<long>(at) + 4096));
        host_->PumpMessages();
        EXPECT_EQ(host_->RestartRequests(), 1);

        // The user's stop and play, once the host's loop has turned.
        std::this_thread::sleep_for(std::chrono::milliseconds(handover::kAnswerWindowMs + 50));
        GetOutputTime();
        Stop();
        host_->SetRoom(0);
        ASSERT_EQ(Play(first_.c_str()), 0);
        EXPECT_EQ(Title(), "First one");
        StopForGood();
        EXPECT_EQ(host_->Violations(), 0);
        Restart();
    }
}

// Every track left disabled while the host is being asked to restart: one
// end-of-stream notice, however the host answers.
TEST_F(TrackChangeTest, NoTrackLeftEndsWithOneNoticeWhateverTheHostAnswers) {
    for (const char* answer : {"stop-play", "seek", "none"}) {
        SCOPED_TRACE(answer);
        ASSERT_NO_FATAL_FAILURE(PlayUntilRestartRequest(first_));
        RunInfoBox(first_, host_->MainWindow(), [&](HWND dialog) {
            Choose(dialog, 0b00, 2);
            Press(dialog, IDC_DONE);
        });
        host_->SetPlaying(false);
        if (std::string(answer) == "stop-play") {
            Stop();
            EXPECT_EQ(Play(first_.c_str()), 0);
        } else if (std::string(answer) == "seek") {
            SetOutputTime(0);
        }
        EXPECT_TRUE(WaitFor([&] { return host_->EndOfStreamNotices() == 1; },
                            static_cast<int>(handover::kAnswerWaitMs) + 3000));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        host_->PumpMessages();
        EXPECT_EQ(host_->EndOfStreamNotices(), 1);
        EXPECT_EQ(host_->RestartRequests(), 1);
        EXPECT_TRUE(host_->Written().size() <= static_cast<std::size_t>(player.output_length));
        Restart();
    }
}

// A stop that comes as the output has played out, before the thread
// commits the change, ends the stream as a plain stop does.
TEST_F(TrackChangeTest, AStopBeforeTheCommitIsAPlainStop) {
    bool once = false;
    host_->OnPlayedOut([&] {
        if (!std::exchange(once, true))
            player.stop_requested = 1; // what the host's stop does first
    });
    ASSERT_NO_FATAL_FAILURE(PlayIntoTheTail(first_));
    host_->SetPlaying(false);
    ASSERT_TRUE(WaitFor([&] { return WaitForSingleObject(player.thread, 0) == WAIT_OBJECT_0; }));
    Stop();
    host_->PumpMessages();
    EXPECT_EQ(host_->RestartRequests(), 0);
    EXPECT_FALSE(host_->IsOpen());
    EXPECT_EQ(player.archive_file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(player.switching_track(), 0);
}

// The time comes from the samples decoded: the stage timestamps and the
// reported time are exact to the ms, and at a track's end it is the length.
TEST_F(TrackChangeTest, TheClockFollowsTheSamples) {
    for (int rate : {22050, 11025, 8000}) {
        SCOPED_TRACE(rate);
        std::string file = Build("clock.mix", "Juniper", {{"Long", rate, 3.3}, {"Next"}});
        ASSERT_NO_FATAL_FAILURE(PlayIntoTheTail(file));
        const int length = GetLength();
        EXPECT_EQ(length, static_cast<int>(std::int64_t{player.output_length} * 1000 / (rate * 2)));
        std::vector<int> stamps = host_->Timestamps();
        ASSERT_FALSE(stamps.empty());
        for (std::size_t i = 0; i < stamps.size(); ++i)
            ASSERT_EQ(stamps[i], static_cast<int>(std::int64_t{576} * 1000 *
                                                  static_cast<std::int64_t>(i) / rate))
                << "block " << i;
        EXPECT_EQ(GetOutputTime(), length);
        // A seek past the end never reports a time beyond the track.
        SetOutputTime(length + 5000);
        ASSERT_TRUE(WaitFor([&] { return player.seek_request_ms == kNoSeekRequest; }));
        EXPECT_EQ(GetOutputTime(), length);
        host_->SetPlaying(false);
        Restart();
    }
}

// A host stage that sends a message to the host's window on every block
// (and waits for its answer) cannot hold up stop; posted messages wait for
// the host's own loop.
TEST_F(TrackChangeTest, StopAnswersAStageThatTalksToTheHostWindow) {
    std::string file = Build("long.mix", "Juniper", {{"Long", 22050, 10}});
    host_->SetSendingStage(true);
    host_->SetRoom(1 << 20);
    ASSERT_EQ(Play(file.c_str()), 0);
    // The thread is now blocked sending its first block's message.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    PostMessageA(host_->MainWindow(), WM_APP + 8, 0, 0);
    {
        played::Watchdog watchdog(3000);
        watchdog.Enter("stop");
        Stop();
        watchdog.Leave();
    }
    EXPECT_GE(host_->Received(FakeHost::kStageMessage), 1);
    EXPECT_EQ(host_->Received(WM_APP + 8), 0) << "stop dispatched a posted message";
    host_->PumpMessages();
    EXPECT_EQ(host_->Received(WM_APP + 8), 1);
    EXPECT_FALSE(host_->IsOpen());
}

} // namespace
