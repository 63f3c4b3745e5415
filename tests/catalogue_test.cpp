// The track catalogue: recognising archives, loading and descrambling their
// index, and choosing tracks. Index files are written byte by byte here from
// the index format (support/scrambled_index), not by our own tools.
#include "core/player_state.h"
#include "catalogue/known_archives.h"
#include "platform/standin/testing.h"
#include "support/scratch_dir.h"
#include "support/scrambled_index.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace handmade;
using standin::Fault;

// A field of a packed record, by value: a comparison would otherwise bind a
// reference to it, which may be misaligned.
template <typename T> T Field(T value) {
    return value;
}

// The recognised archives, as the format lists them.
struct KnownSize {
    std::uint32_t size;
    const char* index_name;
};
constexpr KnownSize kKnownSizes[] = {
    {454605294, "Quarry.MIX"}, {500577414, "Marlin.MIX"}, {25046328, "Juniper.MIX"},
    {236034607, "Harbor.MIX"}, {270673111, "Orchid.MIX"}, {51332268, "Pewter.MIX"},
};
constexpr std::uint32_t kJuniperSize = 25046328;
constexpr const char* kJuniperIndex = "Juniper.MIX";
constexpr UINT kWarningOk = 0x30; // MB_ICONWARNING | MB_OK

const char kTitle39[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklm";
static_assert(sizeof kTitle39 == 40);

std::string Text(const char* field, std::size_t room) {
    const void* end = std::memchr(field, 0, room);
    return end ? std::string(field) : std::string("<unterminated>");
}

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        handles_before_ = standin::OpenHandleCount();
        p.InitPlayer(nullptr, scratch.Dir().c_str());
        standin::ResetFaults();
        standin::ClearMessageBoxes();
    }

    void TearDown() override {
        standin::ResetFaults();
        if (p.archive_file != INVALID_HANDLE_VALUE && p.archive_file != nullptr)
            CloseHandle(p.archive_file);
        p.FreePlayer();
        EXPECT_EQ(standin::OpenHandleCount(), handles_before_) << "a handle was left open";
    }

    void WriteIndex(const std::vector<IndexEntry>& entries, const char* name = kJuniperIndex) {
        WriteBytes(scratch.Path(name), IndexFileBytes(entries));
    }

    void WriteStoredIndex(const std::vector<StoredIndexRecord>& records) {
        WriteBytes(scratch.Path(kJuniperIndex), IndexFileBytes(records));
    }

    // An archive file of the given size; its content does not matter here.
    std::string MakeArchive(std::uint64_t size) {
        std::string path = scratch.Path("game.mix");
        SetFileLength(path, size);
        return path;
    }

    // Five tracks, all enabled after the load.
    void LoadFiveTracks() {
        std::vector<IndexEntry> entries;
        for (std::uint32_t i = 0; i < 5; ++i)
            entries.push_back({i * 1000, 520, 22050, "Track " + std::to_string(i), "", 0});
        WriteIndex(entries);
        ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
        ASSERT_EQ(p.track_count, 5);
    }

    ScratchDir scratch;
    PlayerState p;

private:
    long handles_before_ = 0;
};

TEST_F(CatalogueTest, LoadDescramblesEveryFieldOfEveryRecord) {
    WriteIndex({
        {0x12345678, 0x0001E240, 22050, "Opening Theme", "OPEN", 0x05},
        {0x9ABCDEF0, 0x00000208, 44100, kTitle39, "12345678", 0x3A},
        {0, 7, 11025, "", "", 0x00},
    });
    ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
    ASSERT_EQ(p.track_count, 3);
    ASSERT_NE(p.tracks, nullptr);

    const TrackRecord& first = p.tracks[0];
    EXPECT_EQ(Field(first.offset), 0x12345678u);
    EXPECT_EQ(Field(first.size), 0x0001E240u);
    EXPECT_EQ(Field(first.sample_rate), 22050);
    EXPECT_EQ(Text(first.title, kTitleField), "Opening Theme");
    EXPECT_EQ(Text(first.short_text, kShortTextField), "OPEN");
    EXPECT_EQ(first.flags, 0x85);

    // Offsets past 2 GiB and texts filling their fields, so every key byte
    // is checked against non-zero data.
    const TrackRecord& second = p.tracks[1];
    EXPECT_EQ(Field(second.offset), 0x9ABCDEF0u);
    EXPECT_EQ(Field(second.size), 0x208u);
    EXPECT_EQ(Field(second.sample_rate), 44100);
    EXPECT_EQ(Text(second.title, kTitleField), kTitle39);
    EXPECT_EQ(Text(second.short_text, kShortTextField), "12345678");
    EXPECT_EQ(second.flags, 0xBA);

    const TrackRecord& third = p.tracks[2];
    EXPECT_EQ(Field(third.offset), 0u);
    EXPECT_EQ(Field(third.size), 7u);
    EXPECT_EQ(Field(third.sample_rate), 11025);
    EXPECT_EQ(Text(third.title, kTitleField), "");
    EXPECT_EQ(Text(third.short_text, kShortTextField), "");
    EXPECT_EQ(third.flags, 0x80);

    EXPECT_EQ(p.total_size, 0x0001E240 + 0x208 + 7);
}

TEST_F(CatalogueTest, RecognitionTableMatchesExactSizesOnly) {
    for (const KnownSize& known : kKnownSizes) {
        SCOPED_TRACE(known.index_name);
        const KnownArchive* row = FindKnownArchive(known.size);
        ASSERT_NE(row, nullptr);
        EXPECT_STREQ(row->index_name, known.index_name);
        EXPECT_EQ(FindKnownArchive(known.size - 1), nullptr);
        EXPECT_EQ(FindKnownArchive(known.size + 1), nullptr);

        // Each size leads to its own index file.
        WriteIndex({{0, 1, 8000, known.index_name, "", 0}}, known.index_name);
        ASSERT_EQ(p.LoadTrackIndex(known.size), 1);
        ASSERT_EQ(p.track_count, 1);
        EXPECT_EQ(Text(p.tracks[0].title, kTitleField), known.index_name);
    }
    EXPECT_EQ(FindKnownArchive(0), nullptr);
    // The end-of-table marker is never a match, not even for an archive of that size.
    EXPECT_EQ(FindKnownArchive(0xFFFFFFFF), nullptr);

    standin::ResetFaults();
    EXPECT_EQ(p.LoadTrackIndex(0xFFFFFFFF), 0);
    EXPECT_EQ(p.tracks, nullptr);
    EXPECT_EQ(p.track_count, 0);
    EXPECT_EQ(standin::CallCount(Fault::CreateFileA), 0) << "no index is looked for";
    EXPECT_TRUE(standin::MessageBoxes().empty());
}

TEST_F(CatalogueTest, MissingIndexShowsPathThenInvalidArchiveAndClosesTheArchive) {
    std::string archive = MakeArchive(kJuniperSize);
    EXPECT_EQ(p.OpenArchive(archive.c_str()), 1);

    auto boxes = standin::MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, scratch.Dir() + "Juniper.MIX");
    EXPECT_EQ(boxes[0].caption, "Missing file");
    EXPECT_EQ(boxes[0].flags, kWarningOk);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[1].text, "Not a valid Kestrel MIX file!");
    EXPECT_EQ(boxes[1].caption, "Error");
    EXPECT_EQ(boxes[1].flags, kWarningOk);
    EXPECT_EQ(boxes[1].owner, nullptr);

    EXPECT_EQ(p.archive_file, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(p.index_path, "");
    EXPECT_EQ(p.tracks, nullptr);
    EXPECT_EQ(p.track_count, 0);
}

TEST_F(CatalogueTest, ArchivesThatCannotBeUsedAreRefused) {
    // Not there at all: no message.
    EXPECT_EQ(p.OpenArchive(scratch.Path("absent.mix").c_str()), 1);
    EXPECT_TRUE(standin::MessageBoxes().empty());
    EXPECT_EQ(p.archive_file, INVALID_HANDLE_VALUE);

    // There, but of no known size: one box, archive closed, catalogue emptied.
    WriteIndex({{0, 1, 8000, "old", "", 0}});
    ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
    std::string archive = MakeArchive(kJuniperSize + 1);
    EXPECT_EQ(p.OpenArchive(archive.c_str()), 1);
    auto boxes = standin::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Not a valid Kestrel MIX file!");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].flags, kWarningOk);
    EXPECT_EQ(p.archive_file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(p.tracks, nullptr);
    EXPECT_EQ(p.track_count, 0);
}

TEST_F(CatalogueTest, IndexPathLongerThanAPathIsAMissingIndex) {
    // plugin_directory + "Juniper.MIX" of exactly 259 characters still fits
    // with its terminator; 260 does not.
    auto directory_of_length = [&](std::size_t length) {
        std::string dir = scratch.Dir();
        dir += std::string(length - dir.size() - 1, 'd') + "/";
        std::filesystem::create_directory(dir);
        WriteBytes(dir + kJuniperIndex,
                   IndexFileBytes(std::vector<IndexEntry>{{0, 1, 8000, "far away", "", 0}}));
        return dir;
    };
    const std::size_t name_length = std::strlen(kJuniperIndex);

    std::string fits = directory_of_length(259 - name_length);
    lstrcpynA(p.plugin_directory, fits.c_str(), kPathChars);
    ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
    EXPECT_EQ(p.track_count, 1);
    EXPECT_EQ(std::strlen(p.index_path), 259u);
    EXPECT_TRUE(standin::MessageBoxes().empty());

    std::string too_long = directory_of_length(260 - name_length);
    lstrcpynA(p.plugin_directory, too_long.c_str(), kPathChars);
    standin::ResetFaults();
    EXPECT_EQ(p.LoadTrackIndex(kJuniperSize), 0);
    EXPECT_EQ(standin::CallCount(Fault::CreateFileA), 0) << "a cut-off path is never opened";
    EXPECT_EQ(p.tracks, nullptr);
    EXPECT_EQ(p.track_count, 0);
    EXPECT_STREQ(p.index_path, "");
    auto boxes = standin::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Missing file");
    EXPECT_EQ(boxes[0].text, (too_long + kJuniperIndex).substr(0, 259));
}

TEST_F(CatalogueTest, RecordCountIsIndexSizeOverSixtyRoundedDown) {
    for (int k : {0, 1, 3}) {
        SCOPED_TRACE(k);
        std::vector<IndexEntry> entries;
        for (int i = 0; i < k; ++i)
            entries.push_back({0, static_cast<std::uint32_t>(100 + i), 8000, "t", "", 0});
        std::vector<std::uint8_t> bytes = IndexFileBytes(entries);
        // 59 more bytes: a record that never got finished.
        std::vector<std::uint8_t> tail(59, 0x5A);
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        ASSERT_EQ(bytes.size(), static_cast<std::size_t>(k * 60 + 59));
        WriteBytes(scratch.Path(kJuniperIndex), bytes);

        ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
        EXPECT_EQ(p.track_count, k);
        EXPECT_EQ(p.total_size, k * 100 + k * (k - 1) / 2);
    }

    // An empty index loads an empty catalogue, and the archive stays open.
    WriteBytes(scratch.Path(kJuniperIndex), {});
    std::string archive = MakeArchive(kJuniperSize);
    EXPECT_EQ(p.OpenArchive(archive.c_str()), 0);
    EXPECT_NE(p.archive_file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(p.track_count, 0);
    EXPECT_EQ(p.total_size, 0);
    EXPECT_TRUE(standin::MessageBoxes().empty());
}

// Stored lengths from the file, read as signed bytes, against the text that
// must come out; out-of-range lengths keep the terminator inside the field.
struct LengthCase {
    std::uint8_t stored;
    std::size_t expected_length;
};

TEST_F(CatalogueTest, TitleLengthsOutsideTheFieldKeepTheTerminatorInside) {
    const LengthCase cases[] = {{0, 0},    {5, 5},    {39, 39},  {40, 39},
                                {127, 39}, {0xFF, 0}, {0x80, 0}, {0xD9, 0}};
    std::vector<StoredIndexRecord> records;
    for (const LengthCase& c : cases) {
        StoredIndexRecord record = StoreRecord({1, 2, 8000, kTitle39, "short", 0x11});
        record[10] = c.stored;
        records.push_back(record);
    }
    WriteStoredIndex(records);
    ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
    ASSERT_EQ(p.track_count, static_cast<int>(std::size(cases)));

    for (int i = 0; i < p.track_count; ++i) {
        const LengthCase& c = cases[i];
        SCOPED_TRACE(static_cast<int>(c.stored));
        const TrackRecord& track = p.tracks[i];
        EXPECT_EQ(Text(track.title, kTitleField), std::string(kTitle39, c.expected_length));
        EXPECT_EQ(track.title[c.expected_length], '\0');
        // Nothing beyond the field was touched.
        EXPECT_EQ(Text(track.short_text, kShortTextField), "short");
        EXPECT_EQ(track.flags, 0x91);
        EXPECT_EQ(Field(track.offset), 1u);
        EXPECT_EQ(Field(track.size), 2u);
    }
}

TEST_F(CatalogueTest, ShortTextLengthsOutsideTheFieldKeepTheTerminatorInside) {
    const LengthCase cases[] = {{0, 0}, {3, 3}, {8, 8}, {9, 8}, {127, 8}, {0xFF, 0}, {0x80, 0}};
    std::vector<StoredIndexRecord> records;
    for (const LengthCase& c : cases) {
        StoredIndexRecord record = StoreRecord({1, 2, 8000, "Title", "ABCDEFGH", 0x22});
        record[50] = c.stored;
        records.push_back(record);
    }
    WriteStoredIndex(records);
    ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
    ASSERT_EQ(p.track_count, static_cast<int>(std::size(cases)));

    for (int i = 0; i < p.track_count; ++i) {
        const LengthCase& c = cases[i];
        SCOPED_TRACE(static_cast<int>(c.stored));
        const TrackRecord& track = p.tracks[i];
        EXPECT_EQ(Text(track.short_text, kShortTextField),
                  std::string("ABCDEFGH", c.expected_length));
        EXPECT_EQ(Text(track.title, kTitleField), "Title");
        // The flags byte sits right after the field and must survive.
        EXPECT_EQ(track.flags, 0xA2);
    }
}

TEST_F(CatalogueTest, EveryTrackIsEnabledAfterLoadingWhateverItsFlagsHeld) {
    const std::uint8_t stored[] = {0x00, 0x7F, 0x80, 0xFF, 0x41, 0x40};
    std::vector<IndexEntry> entries;
    for (std::uint8_t flags : stored)
        entries.push_back({0, 1, 8000, "t", "", flags});
    WriteIndex(entries);
    ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
    ASSERT_EQ(p.track_count, static_cast<int>(std::size(stored)));
    for (int i = 0; i < p.track_count; ++i)
        EXPECT_EQ(p.tracks[i].flags, stored[i] | 0x80) << "track " << i;
}

TEST_F(CatalogueTest, NextEnabledTrackWrapsRoundAndNeverAnswersTheCurrentTrack) {
    LoadFiveTracks();
    for (int i = 0; i < 5; ++i)
        if (i != 1)
            p.tracks[i].flags &= 0x7F;

    p.current_track = 3;
    EXPECT_EQ(p.NextEnabledTrack(), 1);
    p.current_track = 0;
    EXPECT_EQ(p.NextEnabledTrack(), 1);
    p.current_track = 1;
    EXPECT_EQ(p.NextEnabledTrack(), -1) << "the current track is not its own successor";

    // The nearest enabled track after the current one, not the first.
    p.tracks[3].flags |= 0x80;
    p.tracks[4].flags |= 0x80;
    p.current_track = 4;
    EXPECT_EQ(p.NextEnabledTrack(), 1);
    p.current_track = 2;
    EXPECT_EQ(p.NextEnabledTrack(), 3);

    for (int i = 0; i < 5; ++i)
        p.tracks[i].flags &= 0x7F;
    EXPECT_EQ(p.NextEnabledTrack(), -1);
}

TEST_F(CatalogueTest, NextEnabledTrackOfOneOrNoTracksIsNone) {
    EXPECT_EQ(p.NextEnabledTrack(), -1) << "nothing loaded";

    WriteIndex({{0, 1, 8000, "only", "", 0x80}});
    ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
    p.current_track = 0;
    EXPECT_EQ(p.NextEnabledTrack(), -1);

    WriteIndex({});
    ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
    ASSERT_EQ(p.track_count, 0);
    EXPECT_EQ(p.NextEnabledTrack(), -1);
}

TEST_F(CatalogueTest, SelectTrackTakesOnlyIndicesOfTheCatalogue) {
    EXPECT_EQ(p.SelectTrack(0), 0) << "nothing loaded";

    // 100000000 × 2048 needs more than 32 bits; / 520 it fits again.
    WriteIndex({
        {10, 520, 8000, "Short", "", 0},
        {0xA0000000, 100000000, 44100, "Long", "", 0},
        {30, 1, 11025, "Tiny", "", 0},
    });
    ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
    p.output_position = 1234;

    ASSERT_EQ(p.SelectTrack(1), 1);
    EXPECT_EQ(p.current_track, 1);
    EXPECT_EQ(p.output_length, 393846153);
    EXPECT_EQ(static_cast<std::uint32_t>(p.track_offset.load()), 0xA0000000u);
    EXPECT_EQ(p.track_size, 100000000);
    EXPECT_EQ(p.sample_rate, 44100);
    EXPECT_EQ(p.bits_per_sample, 16);
    EXPECT_EQ(p.channels, 1);
    EXPECT_EQ(p.output_position, 0);
    EXPECT_STREQ(p.title, "Long");

    for (int outside : {3, -1, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(outside);
        EXPECT_EQ(p.SelectTrack(outside), 0);
        EXPECT_EQ(p.current_track, 1);
        EXPECT_STREQ(p.title, "Long");
        EXPECT_EQ(p.output_length, 393846153);
    }

    ASSERT_EQ(p.SelectTrack(0), 1);
    EXPECT_EQ(p.output_length, 2048);
    ASSERT_EQ(p.SelectTrack(2), 1);
    EXPECT_EQ(p.output_length, 3); // 2048 / 520, rounded down

    // A reload leaves the chosen track alone.
    ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
    EXPECT_EQ(p.current_track, 2);
    EXPECT_STREQ(p.title, "Tiny");
}

TEST_F(CatalogueTest, FailedAllocationLeavesAnEmptyCatalogueAndClosesTheIndex) {
    WriteIndex({{0, 1, 8000, "a", "", 0}, {0, 2, 8000, "b", "", 0}});
    ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);

    standin::FailNthCall(Fault::GlobalAlloc, 1);
    EXPECT_EQ(p.LoadTrackIndex(kJuniperSize), 0);
    EXPECT_EQ(p.tracks, nullptr);
    EXPECT_EQ(p.track_count, 0);

    // Through OpenArchive the user learns the archive cannot be played.
    std::string archive = MakeArchive(kJuniperSize);
    standin::FailNthCall(Fault::GlobalAlloc, 1);
    EXPECT_EQ(p.OpenArchive(archive.c_str()), 1);
    auto boxes = standin::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Not a valid Kestrel MIX file!");
    EXPECT_EQ(p.archive_file, INVALID_HANDLE_VALUE);
}

TEST_F(CatalogueTest, ReadErrorInsideTheIndexKeepsTheRecordsReadInFull) {
    WriteIndex({{5, 100, 8000, "first", "", 0},
                {6, 200, 8000, "second", "", 0},
                {7, 300, 8000, "third", "", 0}});

    standin::FailNthCall(Fault::ReadFile, 2);
    ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
    ASSERT_EQ(p.track_count, 1);
    EXPECT_EQ(p.total_size, 100);
    EXPECT_EQ(Field(p.tracks[0].offset), 5u);
    EXPECT_EQ(Text(p.tracks[0].title, kTitleField), "first");

    standin::FailNthCall(Fault::ReadFile, 1);
    ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
    EXPECT_EQ(p.track_count, 0);
    EXPECT_EQ(p.total_size, 0);
}

TEST_F(CatalogueTest, IndexThatCannotBeOpenedIsAMissingFile) {
    WriteIndex({{0, 1, 8000, "there", "", 0}});
    standin::FailNthCall(Fault::CreateFileA, 1);
    EXPECT_EQ(p.LoadTrackIndex(kJuniperSize), 0);
    EXPECT_EQ(p.tracks, nullptr);
    EXPECT_STREQ(p.index_path, "");
    auto boxes = standin::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, scratch.Dir() + "Juniper.MIX");
    EXPECT_EQ(boxes[0].caption, "Missing file");
    EXPECT_EQ(boxes[0].flags, kWarningOk);
}

TEST_F(CatalogueTest, OpeningAnArchiveAgainLeavesNoExtraHandle) {
    WriteIndex({{0, 1, 8000, "t", "", 0}});
    std::string archive = MakeArchive(kJuniperSize);
    long before = standin::OpenHandleCount();

    ASSERT_EQ(p.OpenArchive(archive.c_str()), 0);
    EXPECT_EQ(standin::OpenHandleCount(), before + 1);
    ASSERT_EQ(p.OpenArchive(archive.c_str()), 0);
    EXPECT_EQ(standin::OpenHandleCount(), before + 1);
    EXPECT_EQ(p.track_count, 1);

    // A failed reopen releases the old archive too.
    EXPECT_EQ(p.OpenArchive(scratch.Path("absent.mix").c_str()), 1);
    EXPECT_EQ(standin::OpenHandleCount(), before);
}

} // namespace
