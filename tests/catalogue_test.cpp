// The track catalogue: recognising archives, decoding their index and
// choosing tracks, in memory; then the player loading an index from its
// directory, opening archives and selecting tracks, with the boxes it shows.
// Index bytes are written byte by byte here from the index format
// (support/scrambled_index), not by our own tools.
#include "catalogue/ansi_text.h"
#include "catalogue/known_archives.h"
#include "catalogue/track_choice.h"
#include "catalogue/track_entry.h"
#include "catalogue/track_index.h"
#include "core/extended_file_info.h"
#include "core/extended_read.h"
#include "core/player_state.h"
#include "platform/standin/testing.h"
#include "support/reset_player.h"
#include "support/scratch_dir.h"
#include "support/scrambled_index.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// An index decoded in memory, as the catalogue decodes it.
struct Decoded {
    std::vector<TrackRecord> tracks;
    std::uint32_t total_size = 0;
};

Decoded Decode(const std::vector<std::uint8_t>& index) {
    Decoded decoded;
    decoded.tracks.resize(IndexRecordCount(index.size()));
    DecodedIndex summary = DecodeTrackIndex(index, decoded.tracks.data());
    EXPECT_EQ(summary.track_count, static_cast<int>(decoded.tracks.size()));
    decoded.total_size = summary.total_size;
    return decoded;
}

Decoded Decode(const std::vector<IndexEntry>& entries) {
    return Decode(IndexFileBytes(entries));
}

TEST(TrackIndex, DecodesEveryFieldOfEveryRecord) {
    // Offsets past 2 GiB and texts filling their fields, so every key byte
    // is checked against non-zero data.
    struct Expected {
        std::uint32_t offset;
        std::uint32_t size;
        std::uint16_t sample_rate;
        const char* title;
        const char* short_text;
        std::uint8_t stored_flags;
        std::uint8_t flags;
    };
    const Expected expected[] = {
        {0x12345678, 0x0001E240, 22050, "Opening Theme", "OPEN", 0x05, 0x85},
        {0x9ABCDEF0, 0x00000208, 44100, kTitle39, "12345678", 0x3A, 0xBA},
        {0, 7, 11025, "", "", 0x00, 0x80},
    };
    std::vector<IndexEntry> entries;
    for (const Expected& e : expected)
        entries.push_back({e.offset, e.size, e.sample_rate, e.title, e.short_text, e.stored_flags});
    Decoded decoded = Decode(entries);
    ASSERT_EQ(decoded.tracks.size(), std::size(expected));

    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        const Expected& e = expected[i];
        const TrackRecord& track = decoded.tracks[i];
        EXPECT_EQ(Field(track.offset), e.offset);
        EXPECT_EQ(Field(track.size), e.size);
        EXPECT_EQ(Field(track.sample_rate), e.sample_rate);
        EXPECT_EQ(Text(track.title, kTitleField), e.title);
        EXPECT_EQ(Text(track.short_text, kShortTextField), e.short_text);
        EXPECT_EQ(track.flags, e.flags);
    }
    EXPECT_EQ(decoded.total_size, 0x0001E240u + 0x208 + 7);
}

TEST(TrackIndex, DecodesInPlace) {
    // The player reads the stored records into the catalogue's memory and
    // decodes them there.
    std::vector<std::uint8_t> bytes = IndexFileBytes(std::vector<IndexEntry>{
        {1, 10, 8000, "first", "one", 0}, {2, 20, 11025, kTitle39, "12345678", 0x7F}});
    std::vector<TrackRecord> tracks(2);
    std::memcpy(tracks.data(), bytes.data(), bytes.size());
    DecodedIndex summary = DecodeTrackIndex(
        {reinterpret_cast<const std::uint8_t*>(tracks.data()), bytes.size()}, tracks.data());
    EXPECT_EQ(summary.track_count, 2);
    EXPECT_EQ(summary.total_size, 30u);
    Decoded apart = Decode(bytes);
    EXPECT_EQ(std::memcmp(tracks.data(), apart.tracks.data(), bytes.size()), 0);
}

TEST(TrackIndex, RecognitionTableMatchesExactSizesOnly) {
    for (const KnownSize& known : kKnownSizes) {
        SCOPED_TRACE(known.index_name);
        const KnownArchive* row = FindKnownArchive(known.size);
        ASSERT_NE(row, nullptr);
        EXPECT_STREQ(row->index_name, known.index_name);
        EXPECT_EQ(FindKnownArchive(known.size - 1), nullptr);
        EXPECT_EQ(FindKnownArchive(known.size + 1), nullptr);
    }
    EXPECT_EQ(FindKnownArchive(0), nullptr);
    // The end-of-table marker is never a match, not even for an archive of that size.
    EXPECT_EQ(FindKnownArchive(0xFFFFFFFF), nullptr);
}

TEST(TrackIndex, RecordCountIsIndexSizeOverSixtyRoundedDown) {
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

        EXPECT_EQ(IndexRecordCount(bytes.size()), k);
        Decoded decoded = Decode(bytes);
        EXPECT_EQ(decoded.tracks.size(), static_cast<std::size_t>(k));
        EXPECT_EQ(decoded.total_size, static_cast<std::uint32_t>(k * 100 + k * (k - 1) / 2));
    }
}

// Stored lengths from the file, read as signed bytes, against the text that
// must come out; out-of-range lengths keep the terminator inside the field.
struct LengthCase {
    std::uint8_t stored;
    std::size_t expected_length;
};

TEST(TrackIndex, TextLengthsOutsideTheirFieldKeepTheTerminatorInside) {
    const std::vector<LengthCase> title_cases = {{0, 0},    {5, 5},    {39, 39},  {40, 39},
                                                 {127, 39}, {0xFF, 0}, {0x80, 0}, {0xD9, 0}};
    const std::vector<LengthCase> short_cases = {{0, 0},   {3, 3},    {8, 8},   {9, 8},
                                                 {127, 8}, {0xFF, 0}, {0x80, 0}};
    for (bool title : {true, false}) {
        SCOPED_TRACE(title ? "title" : "short text");
        const std::vector<LengthCase>& cases = title ? title_cases : short_cases;
        std::vector<StoredIndexRecord> records;
        for (const LengthCase& c : cases) {
            StoredIndexRecord record = StoreRecord({1, 2, 8000, kTitle39, "ABCDEFGH", 0x11});
            record[title ? 10 : 50] = c.stored;
            records.push_back(record);
        }
        Decoded decoded = Decode(IndexFileBytes(records));
        ASSERT_EQ(decoded.tracks.size(), cases.size());

        for (std::size_t i = 0; i < cases.size(); ++i) {
            const LengthCase& c = cases[i];
            SCOPED_TRACE(static_cast<int>(c.stored));
            const TrackRecord& track = decoded.tracks[i];
            const char* field = title ? track.title : track.short_text;
            const char* full = title ? kTitle39 : "ABCDEFGH";
            EXPECT_EQ(Text(field, title ? kTitleField : kShortTextField),
                      std::string(full, c.expected_length));
            EXPECT_EQ(field[c.expected_length], '\0');
            // Nothing beyond the field was touched: the other text, the flags
            // byte right after the short text, the numbers before the title.
            if (title)
                EXPECT_EQ(Text(track.short_text, kShortTextField), "ABCDEFGH");
            else
                EXPECT_EQ(Text(track.title, kTitleField), kTitle39);
            EXPECT_EQ(track.flags, 0x91);
            EXPECT_EQ(Field(track.offset), 1u);
            EXPECT_EQ(Field(track.size), 2u);
        }
    }
}

TEST(TrackIndex, EveryTrackIsEnabledAfterDecodingWhateverItsFlagsHeld) {
    const std::uint8_t stored[] = {0x00, 0x7F, 0x80, 0xFF, 0x41, 0x40};
    std::vector<IndexEntry> entries;
    for (std::uint8_t flags : stored)
        entries.push_back({0, 1, 8000, "t", "", flags});
    Decoded decoded = Decode(entries);
    ASSERT_EQ(decoded.tracks.size(), std::size(stored));
    for (std::size_t i = 0; i < decoded.tracks.size(); ++i) {
        EXPECT_EQ(decoded.tracks[i].flags, stored[i] | 0x80) << "track " << i;
        EXPECT_TRUE(IsEnabled(decoded.tracks[i]));
    }

    // Disabling and enabling again rewrite the applied bit with the enabled
    // one and keep the others.
    TrackRecord& track = decoded.tracks[4]; // 0x41 | 0x80
    SetEnabled(track, false);
    EXPECT_EQ(track.flags, 0x01);
    EXPECT_FALSE(IsEnabled(track));
    SetEnabled(track, true);
    EXPECT_EQ(track.flags, 0x81);
}

// Five tracks of which only those listed are enabled.
std::vector<TrackRecord> FiveTracksEnabled(std::initializer_list<int> enabled) {
    std::vector<IndexEntry> entries;
    for (std::uint32_t i = 0; i < 5; ++i)
        entries.push_back({i * 1000, 520, 22050, "Track " + std::to_string(i), "", 0});
    std::vector<TrackRecord> tracks = Decode(entries).tracks;
    for (TrackRecord& track : tracks)
        SetEnabled(track, false);
    for (int i : enabled)
        SetEnabled(tracks[i], true);
    return tracks;
}

TEST(TrackChoice, NextEnabledTrackWrapsRoundAndNeverAnswersTheCurrentTrack) {
    std::vector<TrackRecord> tracks = FiveTracksEnabled({1});
    EXPECT_EQ(NextEnabledTrackAfter(tracks, 3), 1);
    EXPECT_EQ(NextEnabledTrackAfter(tracks, 0), 1);
    EXPECT_EQ(NextEnabledTrackAfter(tracks, 1), -1) << "the current track is not its own successor";
    EXPECT_EQ(EnabledTrackCount(tracks), 1);

    // The nearest enabled track after the current one, not the first.
    tracks = FiveTracksEnabled({1, 3, 4});
    EXPECT_EQ(NextEnabledTrackAfter(tracks, 4), 1);
    EXPECT_EQ(NextEnabledTrackAfter(tracks, 2), 3);
    EXPECT_EQ(EnabledTrackCount(tracks), 3);
    // With no current record the first enabled track answers.
    EXPECT_EQ(NextEnabledTrackAfter(tracks, -1), 1);
    EXPECT_EQ(NextEnabledTrackAfter(tracks, 5), 1);

    tracks = FiveTracksEnabled({});
    EXPECT_EQ(NextEnabledTrackAfter(tracks, 2), -1);
    EXPECT_EQ(NextEnabledTrackAfter(tracks, -1), -1);
    EXPECT_EQ(EnabledTrackCount(tracks), 0);
}

TEST(TrackChoice, NextEnabledTrackOfOneOrNoTracksIsNone) {
    EXPECT_EQ(NextEnabledTrackAfter({}, 0), -1) << "nothing loaded";
    std::vector<TrackRecord> one = Decode({{0, 1, 8000, "only", "", 0x80}}).tracks;
    EXPECT_EQ(NextEnabledTrackAfter(one, 0), -1);
}

TEST(TrackEntryName, OnlyTheExactFormNamesATrack) {
    struct Case {
        const char* name;
        const char* archive; // null: not a track entry
        int number;
    };
    const std::string longest = "C:\\" + std::string(kLongestEntryName - 10, 'a') + "|12.MIX";
    const std::string too_long = "C:\\" + std::string(kLongestEntryName - 9, 'a') + "|12.MIX";
    const Case cases[] = {
        {"D:\\Games\\Juniper.MIX|12.MIX", "D:\\Games\\Juniper.MIX", 12},
        {"Juniper.mix|1.mix", "Juniper.mix", 1},
        {"a|999999.Mix", "a", 999999},
        {longest.c_str(), nullptr, 12}, // checked below: at the limit
        {"Juniper.MIX|0.MIX", nullptr, 0},
        {"Juniper.MIX|012.MIX", nullptr, 0},
        {"Juniper.MIX|1000000.MIX", nullptr, 0},
        {"Juniper.MIX|.MIX", nullptr, 0},
        {"Juniper.MIX|-1.MIX", nullptr, 0},
        {"Juniper.MIX|1x.MIX", nullptr, 0},
        {"Juniper.MIX|1 .MIX", nullptr, 0},
        {"Juniper.MIX|1.MIX ", nullptr, 0},
        {"Juniper.MIX|1.MIXX", nullptr, 0},
        {"Juniper.MIX|1.WAV", nullptr, 0},
        {"Juniper.MIX|1", nullptr, 0},
        {"a|b|1.MIX", nullptr, 0},
        {"|1.MIX", nullptr, 0},
        {"Juniper.MIX", nullptr, 0},
        {"", nullptr, 0},
        {too_long.c_str(), nullptr, 0},
    };
    for (const Case& c : cases) {
        const auto entry = ParseTrackEntry(c.name);
        if (c.name == longest.c_str()) {
            ASSERT_EQ(longest.size(), std::size_t(kLongestEntryName));
            ASSERT_TRUE(entry);
            EXPECT_EQ(entry->number, 12);
            continue;
        }
        ASSERT_EQ(entry.has_value(), c.archive != nullptr) << c.name;
        if (!entry)
            continue;
        EXPECT_EQ(entry->archive, c.archive) << c.name;
        EXPECT_EQ(entry->number, c.number) << c.name;
    }

    // Written names read back; a name beyond the room or the limit is none.
    char out[kPathChars];
    ASSERT_EQ(FormatTrackEntry("D:\\Juniper.MIX", 7, out, kPathChars), 20);
    EXPECT_STREQ(out, "D:\\Juniper.MIX|7.MIX");
    EXPECT_EQ(FormatTrackEntry("D:\\Juniper.MIX", 7, out, 20), 0) << "no room for the terminator";
    EXPECT_STREQ(out, "");
    EXPECT_EQ(FormatTrackEntry(too_long.substr(0, too_long.size() - 7), 12, out, kPathChars), 0);
    EXPECT_EQ(FormatTrackEntry(longest.substr(0, longest.size() - 7), 12, out, kPathChars),
              kLongestEntryName);
    EXPECT_EQ(FormatTrackEntry("a", 0, out, kPathChars), 0);
    EXPECT_EQ(FormatTrackEntry("a|b", 1, out, kPathChars), 0);
}

TEST(AnsiText, WindowsCodePageToUtf8AndBack) {
    std::string every_byte;
    for (int byte = 1; byte < 256; ++byte)
        every_byte.push_back(static_cast<char>(byte));
    const std::string utf8 = AnsiToUtf8(every_byte);
    EXPECT_TRUE(IsUtf8(utf8));
    EXPECT_EQ(Utf8ToAnsi(utf8), every_byte);
    EXPECT_EQ(AnsiToUtf8("\x80\x81\x9F\xE9"), "\u20AC\u0081\u0178\u00E9");
    // Outside the code page: '?'; not UTF-8 (a lone or overlong lead, a
    // surrogate): the bytes as they are.
    EXPECT_EQ(Utf8ToAnsi("\u4F60-\xE9-\xC0\xAF-\xED\xA0\x80"), "?-\xE9-\xC0\xAF-\xED\xA0\x80");
    EXPECT_FALSE(IsUtf8("Caf\xE9"));
}

TEST(TrackChoice, OutputLengthEstimateNeedsMoreThan32BitsOnTheWay) {
    // 100000000 × 2048 needs more than 32 bits; / 520 it fits again.
    EXPECT_EQ(EstimatedOutputLength(100000000), 393846153);
    EXPECT_EQ(EstimatedOutputLength(520), 2048);
    EXPECT_EQ(EstimatedOutputLength(1), 3); // 2048 / 520, rounded down
    EXPECT_EQ(EstimatedOutputLength(0), 0);
}

// The player's side: the index read from beside the plug-in, the archive
// opened, the boxes shown, the current track selected.
class CatalogueTest : public PlayerTest {
protected:
    void WriteIndex(const std::vector<IndexEntry>& entries, const char* name = kJuniperIndex) {
        WriteBytes(scratch.Path(name), IndexFileBytes(entries));
    }

    // An archive file of the given size; its content does not matter here.
    std::string MakeArchive(std::uint64_t size) {
        std::string path = scratch.Path("game.mix");
        SetFileLength(path, size);
        return path;
    }
};

TEST_F(CatalogueTest, EachKnownSizeLoadsItsOwnIndexAndNoOtherLooksForOne) {
    for (const KnownSize& known : kKnownSizes) {
        SCOPED_TRACE(known.index_name);
        WriteIndex({{0, 1, 8000, known.index_name, "", 0}}, known.index_name);
        ASSERT_EQ(p.LoadTrackIndex(known.size), 1);
        ASSERT_EQ(p.track_count, 1);
        EXPECT_EQ(Text(p.tracks[0].title, kTitleField), known.index_name);
        EXPECT_EQ(p.tracks[0].flags, 0x80);
    }

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

TEST_F(CatalogueTest, SelectTrackTakesOnlyIndicesOfTheCatalogue) {
    EXPECT_EQ(p.SelectTrack(0), 0) << "nothing loaded";
    EXPECT_EQ(p.NextEnabledTrack(), -1) << "nothing loaded";

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
    EXPECT_EQ(p.NextEnabledTrack(), 2) << "the search starts from the current track";

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

TEST_F(CatalogueTest, AnIndexWithoutAWholeRecordOpensAnEmptyCatalogue) {
    std::string archive = MakeArchive(kJuniperSize);
    for (std::size_t bytes : {0, 59}) {
        SCOPED_TRACE(bytes);
        // Whatever the index held before, the archive stays open.
        WriteIndex({{0, 1, 8000, "old", "", 0}});
        ASSERT_EQ(p.LoadTrackIndex(kJuniperSize), 1);
        WriteBytes(scratch.Path(kJuniperIndex), std::vector<std::uint8_t>(bytes, 0x5A));
        EXPECT_EQ(p.OpenArchive(archive.c_str()), 0);
        EXPECT_NE(p.archive_file, INVALID_HANDLE_VALUE);
        EXPECT_EQ(p.track_count, 0);
        EXPECT_EQ(p.total_size, 0);
        EXPECT_EQ(p.NextEnabledTrack(), -1);
        EXPECT_EQ(p.SelectTrack(0), 0);
        EXPECT_TRUE(standin::MessageBoxes().empty());
    }
}

// Queries about single tracks: answered from the index and the track's own
// header, the index read once, and "no" for every entry that names nothing
// readable, without a box.
TEST_F(CatalogueTest, TrackQueriesAnswerFromIndexAndHeaderAndRefuseBadEntries) {
    std::string archive = MakeArchive(kJuniperSize);
    auto header = [&](std::uint32_t at, std::uint16_t rate, std::uint32_t output_size) {
        std::vector<std::uint8_t> bytes;
        for (std::uint32_t value : {std::uint32_t{rate}, 520u, output_size}) {
            const int width = bytes.empty() ? 2 : 4;
            for (int i = 0; i < width; ++i)
                bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
        bytes.push_back(0x02);
        bytes.push_back(0x63);
        WriteBytesAt(archive, at, bytes);
    };
    header(4096, 22050, 44100); // 1000 ms
    header(8192, 11127, 33381); // 1500 ms
    // The third record points at zeros: no valid header.
    WriteIndex({{4096, 520, 22050, "First", "", 0},
                {8192, 1000, 0, "", "", 0},
                {12288, 100, 22050, "Broken", "", 0}});
    std::string windows = archive; // as the player names it
    std::replace(windows.begin(), windows.end(), '/', '\\');
    const std::string one = windows + "|1.MIX", two = windows + "|2.mix";

    struct Query {
        std::string file;
        const char* field;
        int room;
        const char* answer; // null: not answered
    };
    const std::string format1 = "Kestrel MIX track 1 of 3\r\n4-bit IMA ADPCM, 16-bit mono\r\n"
                                "Sample rate: 22050 Hz\r\nSize: 520 bytes";
    const Query queries[] = {
        {one, "type", 64, "0"},
        {one, "TiTlE", 64, "First"},
        {one, "album", 64, "game.mix"},
        {one, "track", 64, "1/3"},
        {one, "length", 64, "1000"},
        {one, "samplerate", 64, "22050"},
        {one, "bitrate", 64, "88"},
        {one, "lossless", 64, "0"},
        {one, "family", 64, "Kestrel MIX audio"},
        {one, "formatinformation", 200, format1.c_str()},
        {one, "artist", 64, nullptr},
        {one, "", 64, nullptr},
        {one, "title", 3, "Fi"},
        {one, "title", 1, ""},
        {one, "title", 0, nullptr},
        {two, "length", 64, "1500"}, // the header's rate, not the index's 0
        {two, "samplerate", 64, "11127"},
        {two, "bitrate", 64, "45"},                // 44.508, rounded
        {two, "title", 64, nullptr},               // none in the index
        {windows + "|3.MIX", "type", 64, nullptr}, // damaged header
        {windows + "|4.MIX", "type", 64, nullptr}, // past the last track
        {windows + "|0.MIX", "type", 64, nullptr},
        {windows + "|1x.MIX", "type", 64, nullptr},
        {windows + "|01.MIX", "type", 64, nullptr},
        {scratch.Path("absent.mix|1.MIX"), "type", 64, nullptr},
        {windows, "title", 64, "game.mix"},
        {windows, "type", 64, "0"},
        {windows, "formatinformation", 200,
         "Kestrel MIX archive\r\nTracks: 3\r\nSize: 25046328 bytes"},
        {windows, "length", 64, nullptr},
        {windows, "track", 64, nullptr},
        {scratch.Path("absent.mix"), "type", 64, nullptr},
        {"", "type", 64, "0"},
        {"", "title", 64, nullptr}, // nothing plays
    };
    for (const Query& q : queries) {
        SCOPED_TRACE(q.file + " " + q.field + " in " + std::to_string(q.room));
        char out[256];
        std::memset(out, '#', sizeof out);
        const int handled = ExtendedFileInfo(p, q.file.c_str(), q.field, out, q.room);
        EXPECT_EQ(handled, q.answer ? 1 : 0);
        if (q.answer) {
            EXPECT_STREQ(out, q.answer);
        }
        EXPECT_EQ(out[std::max(q.room, q.answer ? static_cast<int>(std::strlen(q.answer)) + 1 : 0)],
                  '#')
            << "written past the value or the room";
    }
    EXPECT_EQ(p.index_cache.reads(), 1) << "the index is read once for all the queries";
    char out[8];
    EXPECT_EQ(ExtendedFileInfo(p, nullptr, "type", out, 8), 1);
    EXPECT_EQ(ExtendedFileInfo(p, one.c_str(), nullptr, out, 8), 0);
    EXPECT_EQ(ExtendedFileInfo(p, one.c_str(), "type", nullptr, 8), 0);

    // The converter opens only a readable track entry.
    int size = -5, bps = 0, channels = 0, rate = 0;
    for (const std::string& bad :
         {windows, windows + "|3.MIX", windows + "|4.MIX", std::string(), two + "x"})
        EXPECT_EQ(ExtendedReadOpen(p, bad.c_str(), &size, &bps, &channels, &rate), 0) << bad;
    EXPECT_EQ(ExtendedReadOpen(p, nullptr, &size, &bps, &channels, &rate), 0);
    EXPECT_EQ(size, -5) << "nothing written for a refused open";

    // An archive of no known size, and one whose index has gone.
    std::string odd = scratch.Path("odd.mix");
    SetFileLength(odd, kJuniperSize + 1);
    EXPECT_EQ(ExtendedFileInfo(p, (odd + "|1.MIX").c_str(), "type", out, 8), 0);
    EXPECT_EQ(ExtendedFileInfo(p, odd.c_str(), "formatinformation", out, 8), 0);
    std::filesystem::remove(scratch.Path(kJuniperIndex));
    p.index_cache.Forget();
    EXPECT_EQ(ExtendedFileInfo(p, one.c_str(), "type", out, 8), 0);
    EXPECT_EQ(ExtendedReadOpen(p, one.c_str(), &size, &bps, &channels, &rate), 0);
    EXPECT_TRUE(standin::MessageBoxes().empty());
}

} // namespace
