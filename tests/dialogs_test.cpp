// The Sound Info and About dialogs, run modally through the host's entry
// points against the stand-in's dialogs and list control, with a fake host
// and archives built by mixlib. Scripts act inside the running dialogs as a
// user would: they read the fields and rows, change the selection and press
// buttons.
#include "core/entry_points.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "dialogs/resource_ids.h"
#include "dialogs/text_format.h"
#include "platform/standin/testing.h"
#include "support/dialog_script.h"
#include "support/fake_host.h"
#include "support/mix_fixtures.h"
#include "support/reset_player.h"
#include "tools/mixlib/archive_builder.h"
#include "tools/mixlib/archive_names.h"
#include "tools/mixlib/index_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using dialogscript::Press;
using dialogscript::RunInfoBox;
using dialogscript::RunResult;
using dialogscript::Select;
using dialogscript::StaysOpen;
using fakehost::FakeHost;

constexpr int kBlockBytes = kBlockFrames * 2; // 16-bit mono
constexpr int kTextBytes = 256;

// ---- Reading and driving a running dialog

std::string Text(HWND window) {
    char text[kTextBytes] = {};
    GetWindowTextA(window, text, kTextBytes);
    return text;
}

std::string Field(HWND dialog, int id) {
    return Text(GetDlgItem(dialog, id));
}

HWND List(HWND dialog) {
    return GetDlgItem(dialog, IDC_TRACK_LIST);
}

int RowCount(HWND dialog) {
    return static_cast<int>(SendMessageA(List(dialog), LVM_GETITEMCOUNT, 0, 0));
}

std::string Cell(HWND dialog, int row, int sub_item) {
    char text[kTextBytes] = {};
    LVITEMA item{};
    item.iSubItem = sub_item;
    item.pszText = text;
    item.cchTextMax = kTextBytes;
    SendMessageA(List(dialog), LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
    return text;
}

bool Selected(HWND dialog, int row) {
    return SendMessageA(List(dialog), LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) !=
           0;
}

struct ColumnView {
    std::string title;
    int width = 0;
    int format = -1;
};

ColumnView Column(HWND dialog, int index) {
    char text[kTextBytes] = {};
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.pszText = text;
    column.cchTextMax = kTextBytes;
    if (!SendMessageA(List(dialog), LVM_GETCOLUMNA, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(&column)))
        return {};
    return {text, column.cx, column.fmt};
}

// Everything a user sees in the Sound Info dialog.
struct InfoView {
    std::string caption;
    std::vector<ColumnView> columns;
    std::vector<std::string> titles;
    std::vector<std::string> durations;
    std::vector<bool> selected;
    std::string playing, frequency, duration, volume_size, uncompressed;
};

InfoView Look(HWND dialog) {
    InfoView view;
    view.caption = Text(dialog);
    for (int c = 0; c < 2; ++c)
        view.columns.push_back(Column(dialog, c));
    for (int row = 0; row < RowCount(dialog); ++row) {
        view.titles.push_back(Cell(dialog, row, 0));
        view.durations.push_back(Cell(dialog, row, 1));
        view.selected.push_back(Selected(dialog, row));
    }
    view.playing = Field(dialog, IDC_PLAYING);
    view.frequency = Field(dialog, IDC_FREQUENCY);
    view.duration = Field(dialog, IDC_DURATION);
    view.volume_size = Field(dialog, IDC_VOLUME_SIZE);
    view.uncompressed = Field(dialog, IDC_UNCOMPRESSED);
    return view;
}

// ---- The player, its host and its archives

std::uint8_t Flags(int track) {
    return player.tracks[track].flags;
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = std::make_unique<FakeHost>(plugin_record);
        ResetPlayer();
        player.InitPlayer(&plugin_record, (dir_.Path().string() + "/").c_str());
        standin::ClearMessageBoxes();
    }

    void TearDown() override {
        ResetPlayer();
        host_.reset();
    }

    const KnownArchive& Juniper() { return *FindKnownArchiveByName("Juniper"); }

    // An archive of short tones, one per track, at 22050 Hz.
    std::string BuildTones(int count) {
        constexpr int kRate = 22050;
        constexpr int kSamples = kRate * 2 / 5;
        std::vector<TrackSource> sources;
        for (int i = 0; i < count; ++i) {
            TrackSource source{"Tone " + std::to_string(i), kRate, {}};
            double step = 2 * 3.14159265358979 * (440.0 + 110.0 * i) / kRate;
            for (int n = 0; n < kSamples; ++n)
                source.samples.push_back(static_cast<std::int16_t>(12000 * std::sin(step * n)));
            sources.push_back(std::move(source));
        }
        std::string path = dir_ / "tones.mix";
        built_ = BuildArchive(path, Juniper(), dir_.Path().string() + "/", sources);
        return path;
    }

    // An archive file of the right size whose index lists `entries`; no
    // track in it can be played.
    std::string WriteCatalogue(const std::vector<IndexEntry>& entries) {
        WriteIndex(IndexPath(dir_.Path().string() + "/", Juniper()), entries);
        return SizedArchive();
    }

    std::string SizedArchive() {
        std::string path = dir_ / "catalogue.mix";
        mixtest::WriteBytes(path, {});
        std::filesystem::resize_file(path, Juniper().size);
        return path;
    }

    // Plays `file` as the host does, with the output holding the playback
    // thread before its first block.
    void PlayHeld(const std::string& file) {
        host_->SetRoom(0);
        ASSERT_EQ(Play(file.c_str()), 0);
    }

    // Pumps the host's queue until `done` holds, for at most five seconds.
    bool WaitFor(const std::function<bool()>& done) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            host_->PumpMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        host_->PumpMessages();
        return true;
    }

    HWND Parent() { return host_->MainWindow(); }

    mixtest::ScratchDir dir_;
    std::unique_ptr<FakeHost> host_;
    BuiltArchive built_;
};

// ---- Text formatters

TEST(TextFormat, DecimalHasEveryDigitAndNoLeadingZero) {
    EXPECT_STREQ(FormatDecimal(0), "0");
    EXPECT_STREQ(FormatDecimal(7), "7");
    EXPECT_STREQ(FormatDecimal(22050), "22050");
    EXPECT_STREQ(FormatDecimal(1000000), "1000000");
    EXPECT_STREQ(FormatDecimal(4000000), "4000000");
    EXPECT_STREQ(FormatDecimal(12000000000ull), "12000000000");
    EXPECT_STREQ(FormatDecimal(UINT64_MAX), "18446744073709551615");
}

TrackRecord Record(std::uint32_t size, std::uint16_t rate) {
    TrackRecord record{};
    record.size = size;
    record.sample_rate = rate;
    return record;
}

TEST(TextFormat, DurationIsMinutesAndSecondsOfTheEstimate) {
    EXPECT_STREQ(FormatDuration(Record(520000, 22050)), "00:46");
    EXPECT_STREQ(FormatDuration(Record(130, 100)), "00:02");
    EXPECT_STREQ(FormatDuration(Record(0, 22050)), "00:00");
    EXPECT_STREQ(FormatDuration(Record(300000, 22050)), "00:26");
}

TEST(TextFormat, DurationShowsHundredMinutesAndMore) {
    EXPECT_STREQ(FormatDuration(Record(67031250, 22050)), "100:00");
    EXPECT_STREQ(FormatDuration(Record(1000000000, 44100)), "744:13");
}

TEST(TextFormat, DurationOfLargeTracksDoesNotWrapAt32Bits) {
    // (size / 130) * 5120 needs 33 bits from here on.
    EXPECT_STREQ(FormatDuration(Record(109051930, 22050)), "162:41");
    EXPECT_STREQ(FormatDuration(Record(2000000000, 22050)), "2983:40");
    EXPECT_STREQ(FormatDuration(Record(UINT32_MAX, 100)), "1409630:15");
}

TEST(TextFormat, DurationAtRatesBelow100HzIsUnknown) {
    EXPECT_STREQ(FormatDuration(Record(520000, 99)), "--:--");
    EXPECT_STREQ(FormatDuration(Record(520000, 0)), "--:--");
}

// ---- What the Sound Info dialog shows

TEST_F(DialogTest, ShowsTheTracksTheCurrentOneAndTheSizes) {
    std::string file = WriteCatalogue({{0, 520000, 22050, "First song", "", true},
                                       {0, 300000, 22050, "Second song", "", true},
                                       {0, 180000, 11025, "Third & last", "", true}});
    ASSERT_EQ(player.OpenArchive(file.c_str()), 0);
    InfoView view;
    RunResult run = RunInfoBox(file, Parent(), [&](HWND dialog) {
        view = Look(dialog);
        Press(dialog, IDC_CANCEL);
    });
    ASSERT_TRUE(run.script_ran);
    EXPECT_FALSE(run.forced_close);
    EXPECT_EQ(view.caption, "Kestrel - Sound Info");
    EXPECT_EQ(view.columns[0].title, "Song Description");
    EXPECT_EQ(view.columns[0].width, 274);
    EXPECT_EQ(view.columns[0].format, LVCFMT_LEFT);
    EXPECT_EQ(view.columns[1].title, "Duration");
    EXPECT_EQ(view.columns[1].width, 51);
    EXPECT_EQ(view.columns[1].format, LVCFMT_LEFT);
    EXPECT_EQ(view.titles, (std::vector<std::string>{"First song", "Second song", "Third & last"}));
    EXPECT_EQ(view.durations, (std::vector<std::string>{"00:46", "00:26", "00:32"}));
    EXPECT_EQ(view.selected, (std::vector<bool>{true, true, true}));
    EXPECT_EQ(view.playing, "First song");
    EXPECT_EQ(view.frequency, "22050");
    EXPECT_EQ(view.duration, "00:46");
    EXPECT_EQ(view.volume_size, "1000000");
    EXPECT_EQ(view.uncompressed, "4000000");
}

TEST_F(DialogTest, ShowsSizesBeyondTheSignedRangeAndRatesTooLowToTime) {
    // 3000001000 bytes: negative as a signed 32-bit total, and its fourfold
    // needs 34 bits.
    std::string file = WriteCatalogue({{0, 2000000000, 22050, "Long", "", true},
                                       {0, 1000000000, 44100, "Longer still", "", true},
                                       {0, 1000, 99, "Slow", "", true}});
    ASSERT_EQ(player.OpenArchive(file.c_str()), 0);
    player.current_track = 2;
    InfoView view;
    RunInfoBox(file, Parent(), [&](HWND dialog) {
        view = Look(dialog);
        Press(dialog, IDC_CANCEL);
    });
    EXPECT_EQ(view.durations, (std::vector<std::string>{"2983:40", "744:13", "--:--"}));
    EXPECT_EQ(view.playing, "Slow");
    EXPECT_EQ(view.frequency, "99");
    EXPECT_EQ(view.duration, "--:--");
    EXPECT_EQ(view.volume_size, "3000001000");
    EXPECT_EQ(view.uncompressed, "12000004000");
}

TEST_F(DialogTest, LoadsTheAskedFileWhenNothingIsLoaded) {
    std::string file = BuildTones(3);
    ASSERT_EQ(player.track_count, 0);
    InfoView view;
    RunResult run = RunInfoBox(file, Parent(), [&](HWND dialog) {
        view = Look(dialog);
        Press(dialog, IDC_CANCEL);
    });
    ASSERT_TRUE(run.script_ran);
    EXPECT_EQ(view.titles, (std::vector<std::string>{"Tone 0", "Tone 1", "Tone 2"}));
    EXPECT_EQ(view.playing, "Tone 0");
    EXPECT_EQ(player.track_count, 3);
    // The load leaves the archive open.
    EXPECT_NE(player.archive_file, INVALID_HANDLE_VALUE);
}

TEST_F(DialogTest, ClosesItselfWhenTheAskedFileCannotBeLoaded) {
    RunResult run = RunInfoBox((dir_ / "missing.mix"), Parent(),
                               [&](HWND dialog) { Press(dialog, IDC_CANCEL); });
    EXPECT_FALSE(run.script_ran);
    EXPECT_TRUE(standin::MessageBoxes().empty());
    EXPECT_EQ(host_->RestartRequests(), 0);
}

TEST_F(DialogTest, EmptyCatalogueShowsNothingAndDoneChangesNothing) {
    // An index shorter than one record loads as an empty catalogue.
    std::string index = IndexPath(dir_.Path().string() + "/", Juniper());
    WriteIndexBytes(index, std::vector<std::uint8_t>(59, 0x11));
    std::string file = SizedArchive();
    ASSERT_EQ(player.OpenArchive(file.c_str()), 0);
    ASSERT_EQ(player.track_count, 0);
    InfoView view;
    RunResult run = RunInfoBox(file, Parent(), [&](HWND dialog) {
        view = Look(dialog);
        Press(dialog, IDC_DONE);
    });
    ASSERT_TRUE(run.script_ran);
    EXPECT_FALSE(run.forced_close);
    EXPECT_TRUE(view.titles.empty());
    EXPECT_EQ(view.columns[0].title, "Song Description");
    EXPECT_EQ(view.playing + view.frequency + view.duration + view.volume_size + view.uncompressed,
              "");
    host_->PumpMessages();
    EXPECT_EQ(host_->RestartRequests(), 0);
    EXPECT_EQ(player.finish_requested(), 0);
    EXPECT_EQ(player.current_track, 0);
}

TEST_F(DialogTest, CurrentTrackOutsideTheCatalogueShowsNoCurrentAndDoneOnlyStoresFlags) {
    std::string file = WriteCatalogue({{0, 520000, 22050, "A", "", true},
                                       {0, 520000, 22050, "B", "", true},
                                       {0, 520000, 22050, "C", "", true}});
    ASSERT_EQ(player.OpenArchive(file.c_str()), 0);
    player.current_track = 7;
    InfoView view;
    RunResult run = RunInfoBox(file, Parent(), [&](HWND dialog) {
        view = Look(dialog);
        Select(dialog, 0, false);
        Press(dialog, IDC_DONE);
    });
    EXPECT_FALSE(run.forced_close);
    EXPECT_EQ(view.playing + view.frequency + view.duration, "");
    EXPECT_EQ(view.volume_size, "1560000");
    EXPECT_EQ(Flags(0) & kTrackEnabled, 0);
    EXPECT_NE(Flags(1) & kTrackEnabled, 0);
    EXPECT_EQ(player.current_track, 7);
    host_->PumpMessages();
    EXPECT_EQ(host_->RestartRequests(), 0);
    EXPECT_EQ(player.finish_requested(), 0);
}

// ---- "Done" while a track plays

TEST_F(DialogTest, DoneWithTheCurrentRowSelectedOnlyStoresTheFlags) {
    std::string file = BuildTones(3);
    PlayHeld(file);
    for (int j = 0; j < 3; ++j)
        player.tracks[j].flags |= 0x41; // bit 6 is rewritten, bit 0 kept
    RunResult run = RunInfoBox(file, Parent(), [&](HWND dialog) {
        Select(dialog, 2, false);
        Press(dialog, IDC_DONE);
    });
    EXPECT_FALSE(run.forced_close);
    host_->PumpMessages();
    EXPECT_EQ(host_->RestartRequests(), 0);
    EXPECT_TRUE(host_->Flushes().empty());
    EXPECT_EQ(Flags(0), 0x81);
    EXPECT_EQ(Flags(1), 0x81);
    EXPECT_EQ(Flags(2), 0x01);
    EXPECT_EQ(player.current_track, 0);
    EXPECT_EQ(player.switching_track(), 0);
}

TEST_F(DialogTest, DisablingThePlayingTrackMovesToTheNextSelectedRowAndRestarts) {
    std::string file = BuildTones(4);
    // Track 2 chosen before play.
    RunInfoBox(file, Parent(), [&](HWND dialog) {
        Select(dialog, 0, false);
        Select(dialog, 1, false);
        Press(dialog, IDC_DONE);
    });
    host_->PumpMessages();
    ASSERT_EQ(host_->RestartRequests(), 1);
    PlayHeld(file);
    ASSERT_EQ(player.current_track, 2);
    RunResult run = RunInfoBox(file, Parent(), [&](HWND dialog) {
        Select(dialog, 2, false);
        Select(dialog, 3, false);
        Press(dialog, IDC_DONE);
    });
    EXPECT_FALSE(run.forced_close);
    host_->PumpMessages();
    // Forward from 2, past the disabled 3, round to 0.
    EXPECT_EQ(player.current_track, 0);
    EXPECT_STREQ(player.title, "Tone 0");
    EXPECT_EQ(player.switching_track(), 1);
    EXPECT_EQ(player.decode_position_ms, 0);
    EXPECT_EQ(player.output_position, 0);
    ASSERT_EQ(host_->Flushes().size(), 1u);
    EXPECT_EQ(host_->Flushes()[0].ms, 0);
    EXPECT_EQ(host_->RestartRequests(), 2);
    EXPECT_EQ(host_->EndOfStreamNotices(), 0);

    // The host answers with stop and play; the stop lets go of the output,
    // the play reopens it, and the new track plays from its start to its
    // end, where track 1 takes over.
    Stop();
    EXPECT_EQ(host_->Closes(), 1);
    ASSERT_EQ(Play(file.c_str()), 0);
    EXPECT_EQ(host_->Opens(), 2);
    std::size_t start = host_->Written().size();
    host_->SetRoom(1 << 20);
    ASSERT_TRUE(WaitFor([&] { return host_->RestartRequests() == 3; }));
    EXPECT_EQ(player.current_track, 1);
    // The track plays whole up to the flush of the next change.
    ASSERT_EQ(host_->Flushes().size(), 2u);
    std::vector<std::int16_t> heard = host_->SamplesWritten(start, host_->Flushes()[1].at_byte);
    EXPECT_EQ(heard, built_.tracks[0].decoded);
    EXPECT_EQ(host_->EndOfStreamNotices(), 0);
}

TEST_F(DialogTest, DisablingEveryTrackFinishesAfterTheOutputDrains) {
    std::string file = BuildTones(3);
    PlayHeld(file);
    RunResult run = RunInfoBox(file, Parent(), [&](HWND dialog) {
        for (int row = 0; row < 3; ++row)
            Select(dialog, row, false);
        Press(dialog, IDC_DONE);
    });
    EXPECT_FALSE(run.forced_close);
    host_->PumpMessages();
    EXPECT_EQ(player.finish_requested(), 1);
    EXPECT_EQ(player.current_track, 0);
    EXPECT_EQ(host_->RestartRequests(), 0);
    EXPECT_TRUE(host_->Flushes().empty());

    // The thread finishes one block, then waits for the output to play out.
    host_->SetPlaying(true);
    host_->SetRoom(1 << 20);
    ASSERT_TRUE(WaitFor([&] { return host_->Written().size() >= kBlockBytes; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    host_->PumpMessages();
    EXPECT_EQ(host_->EndOfStreamNotices(), 0);
    host_->SetPlaying(false);
    ASSERT_EQ(WaitForSingleObject(player.thread, 5000), WAIT_OBJECT_0);
    host_->PumpMessages();
    EXPECT_EQ(host_->EndOfStreamNotices(), 1);
    EXPECT_EQ(host_->RestartRequests(), 0);
    EXPECT_EQ(host_->Written().size(), static_cast<std::size_t>(kBlockBytes));
}

TEST_F(DialogTest, DisablingTheCurrentTrackWhileStoppedChoosesTheTrackToPlay) {
    std::string file = BuildTones(3);
    RunResult run = RunInfoBox(file, Parent(), [&](HWND dialog) {
        Select(dialog, 0, false);
        Press(dialog, IDC_DONE);
    });
    EXPECT_FALSE(run.forced_close);
    host_->PumpMessages();
    EXPECT_EQ(player.current_track, 1);
    EXPECT_EQ(player.switching_track(), 0);
    EXPECT_TRUE(host_->Flushes().empty());
    EXPECT_EQ(host_->RestartRequests(), 1);
    // The host's play reloads the archive and starts the chosen track.
    PlayHeld(file);
    EXPECT_EQ(player.current_track, 1);
    EXPECT_STREQ(player.title, "Tone 1");
}

// ---- Commands that do not apply

struct Closer {
    const char* name;
    std::function<void(HWND)> close;
};

void PrintTo(const Closer& closer, std::ostream* out) {
    *out << closer.name;
}

class UnappliedTest : public DialogTest, public ::testing::WithParamInterface<Closer> {};

TEST_P(UnappliedTest, OnlyCancelAndCloseEndTheDialogAndNeitherChangesAnything) {
    std::string file = BuildTones(3);
    PlayHeld(file);
    std::vector<bool> open_after;
    RunResult run = RunInfoBox(file, Parent(), [&](HWND dialog) {
        Select(dialog, 0, false);
        Select(dialog, 1, false);
        // Escape, Enter, and ids of no button.
        for (int id : {IDCANCEL, IDOK, 0, 1001, 1007, 1011}) {
            Press(dialog, id);
            open_after.push_back(StaysOpen(dialog));
        }
        GetParam().close(dialog);
    });
    EXPECT_FALSE(run.forced_close);
    EXPECT_EQ(open_after, std::vector<bool>(6, true));
    host_->PumpMessages();
    for (int j = 0; j < 3; ++j)
        EXPECT_EQ(Flags(j) & kTrackEnabled, kTrackEnabled) << "track " << j;
    EXPECT_EQ(player.current_track, 0);
    EXPECT_EQ(player.finish_requested(), 0);
    EXPECT_EQ(player.switching_track(), 0);
    EXPECT_EQ(host_->RestartRequests(), 0);
    EXPECT_TRUE(host_->Flushes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Closers, UnappliedTest,
    ::testing::Values(Closer{"Cancel", [](HWND dialog) { Press(dialog, IDC_CANCEL); }},
                      Closer{
                          "CloseCommand",
                          [](HWND dialog) { SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }}),
    [](const ::testing::TestParamInfo<Closer>& info) { return std::string(info.param.name); });

// ---- The About box

struct AboutView {
    std::string caption;
    bool open_after_enter = false;
    bool open_after_escape = false;
};

// Sets a script for the next About box: it looks, presses Enter and Escape,
// and closes the box with its close command.
void ScriptAbout(AboutView* view) {
    standin::SetDialogScript([view](HWND about) {
        view->caption = Text(about);
        Press(about, IDOK);
        view->open_after_enter = StaysOpen(about);
        Press(about, IDCANCEL);
        view->open_after_escape = StaysOpen(about);
        SendMessageA(about, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
}

TEST_F(DialogTest, AboutStaysOpenOnEnterAndEscapeAndClosesOnItsCloseCommand) {
    AboutView view;
    ScriptAbout(&view);
    About(Parent());
    EXPECT_EQ(view.caption, "About me?!");
    EXPECT_TRUE(view.open_after_enter);
    EXPECT_TRUE(view.open_after_escape);
}

TEST_F(DialogTest, CoolOpensTheAboutBoxAndTheInfoDialogStaysOpen) {
    std::string file = BuildTones(2);
    ASSERT_EQ(player.OpenArchive(file.c_str()), 0);
    AboutView view;
    bool open_after_about = false;
    RunResult run = RunInfoBox(file, Parent(), [&](HWND dialog) {
        ScriptAbout(&view);
        Press(dialog, IDC_COOL);
        open_after_about = StaysOpen(dialog);
        Press(dialog, IDC_CANCEL);
    });
    EXPECT_FALSE(run.forced_close);
    EXPECT_EQ(view.caption, "About me?!");
    EXPECT_TRUE(view.open_after_enter);
    EXPECT_TRUE(open_after_about);
}

} // namespace
