// Damaged archives and indexes played through the host's entry points, one
// table row each: the damage is made in a good archive built by mixlib, then
// the host plays it and the test records play's result, the message boxes and
// what the output heard. The README's table of damaged input is this table.
#include "core/entry_points.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "platform/standin/testing.h"
#include "support/clocked_host.h"
#include "support/mix_fixtures.h"
#include "support/played_archive.h"
#include "support/scratch_dir.h"
#include "tools/mixlib/index_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using clockedhost::ClockedHost;

constexpr std::uint32_t kJuniperSize = 25046328;
constexpr int kChunkPcmBytes = 2048; // a full chunk: 512 data bytes
constexpr int kChunkBytes = 8 + 512;
constexpr int kTrackHeaderBytes = 12;
constexpr const char* kNotValid = "Not a valid Kestrel MIX file!";

// What the user gets from one play of the damaged archive.
struct Seen {
    int play_result = -1;
    std::vector<std::string> boxes; // "caption: text"
    std::vector<char> heard;        // the first track's audio, up to its end
    std::string title;              // get_file_info of the playing stream
    bool ended = false;             // the first track came to its end
};

enum class Heard {
    Nothing,       // play refused
    WholeTrack,    // the first track, exactly
    FirstChunks,   // `chunks` full chunks of the first track, exactly, then its end
    ChunksThenCut, // `chunks` chunks begun: all but the last exactly
};

struct DamageCase {
    const char* name;
    std::function<void(const std::string& dir, const std::string& archive,
                       const played::PlayedArchive& built)>
        damage;
    int play_result;
    std::vector<std::string> boxes; // "Missing file" stands for the index path box
    Heard heard;
    int chunks = 0;
    const char* title = nullptr; // what get_file_info reports, if checked
};

std::string IndexFile(const std::string& dir) {
    return dir + "Juniper.MIX";
}

std::vector<StoredRecord> Records(const played::PlayedArchive& built) {
    std::vector<StoredRecord> records;
    for (const IndexEntry& entry : built.entries)
        records.push_back(MakeStoredRecord(entry));
    return records;
}

void PutU16(StoredRecord& record, int at, std::uint16_t value) {
    record[at] = static_cast<std::uint8_t>(value & 0xFF);
    record[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PutU32(StoredRecord& record, int at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        record[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Byte position of the first track's n-th chunk header (from 0).
std::uint64_t ChunkAt(const played::PlayedArchive& built, int n) {
    return built.entries[0].offset + kTrackHeaderBytes +
           static_cast<std::uint64_t>(n) * kChunkBytes;
}

void Patch16(const std::string& archive, std::uint64_t at, std::uint16_t value) {
    handmade::WriteBytesAt(
        archive, at,
        {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)});
}

class DamagedInputTest : public ::testing::TestWithParam<DamageCase> {};

Seen PlayDamaged(const DamageCase& damage) {
    const char* build = std::getenv("KESTREL_BUILD_DIR");
    EXPECT_NE(build, nullptr);
    mixtest::ScratchDir scratch;
    const std::string dir = scratch.Path().string() + "/";
    played::PlayedArchive built = played::BuildNoiseArchive(dir, {{22050, 0.3}, {22050, 0.2}}, 9);
    damage.damage(dir, built.path, built);
    HMODULE module = played::LoadPluginCopy(build ? build : "", dir);
    EXPECT_NE(module, nullptr);

    Seen seen;
    {
        ClockedHost host(plugin_record, 50);
        plugin_record.instance = module;
        const long handles = standin::OpenHandleCount();
        const long blocks = standin::LiveGlobalBlocks();
        standin::ClearMessageBoxes();
        plugin_record.init();
        seen.play_result = host.Play(built.path);
        if (seen.play_result == 0) {
            char title[kPathChars] = {};
            plugin_record.get_file_info(nullptr, title, nullptr);
            seen.title = title;
            // The first track ends: a track change, or the end of the stream.
            seen.ended = host.ServeUntil(
                [&] { return host.Sessions().size() > 1 || !host.Playing(); }, 5000);
        }
        host.Settle();
        plugin_record.quit();
        std::vector<std::size_t> flushes;
        seen.heard = host.Output().TakeWritten(&flushes);
        if (!flushes.empty())
            seen.heard.resize(flushes[0]);
        for (const standin::MessageBoxRecord& box : standin::MessageBoxes()) {
            std::string text = box.text;
            std::string index = IndexFile(dir);
            for (char& c : index)
                if (c == '/')
                    c = '\\';
            if (box.caption == "Missing file" && text == index)
                text = "<index path>";
            seen.boxes.push_back(box.caption + ": " + text);
            EXPECT_EQ(box.flags, static_cast<UINT>(MB_OK | MB_ICONWARNING));
            EXPECT_EQ(box.owner, nullptr);
        }
        EXPECT_EQ(standin::OpenHandleCount(), handles) << damage.name;
        EXPECT_EQ(standin::LiveGlobalBlocks(), blocks) << damage.name;
        EXPECT_EQ(host.Output().Violations(), 0);
    }
    FreeLibrary(module);
    return seen;
}

TEST_P(DamagedInputTest, UserSeesWhatTheTableSays) {
    const DamageCase& damage = GetParam();
    mixtest::ScratchDir reference_dir;
    // The undamaged first track, for what must be heard.
    played::PlayedArchive reference = played::BuildNoiseArchive(reference_dir.Path().string() + "/",
                                                                {{22050, 0.3}, {22050, 0.2}}, 9);
    const std::vector<std::int16_t>& track = reference.extractions[0];

    Seen seen = PlayDamaged(damage);
    EXPECT_EQ(seen.play_result, damage.play_result);
    std::vector<std::string> boxes;
    for (const std::string& box : damage.boxes)
        boxes.push_back(box == "Missing file" ? "Missing file: <index path>" : "Error: " + box);
    EXPECT_EQ(seen.boxes, boxes);
    if (damage.title) {
        EXPECT_EQ(seen.title, damage.title);
    }

    const auto* want = reinterpret_cast<const char*>(track.data());
    switch (damage.heard) {
    case Heard::Nothing:
        EXPECT_TRUE(seen.heard.empty());
        break;
    case Heard::WholeTrack:
        EXPECT_TRUE(seen.ended);
        ASSERT_EQ(seen.heard.size(), track.size() * 2);
        EXPECT_EQ(std::memcmp(seen.heard.data(), want, seen.heard.size()), 0);
        break;
    case Heard::FirstChunks:
        EXPECT_TRUE(seen.ended);
        ASSERT_EQ(seen.heard.size(), static_cast<std::size_t>(damage.chunks) * kChunkPcmBytes);
        if (!seen.heard.empty()) {
            EXPECT_EQ(std::memcmp(seen.heard.data(), want, seen.heard.size()), 0);
        }
        break;
    case Heard::ChunksThenCut:
        EXPECT_TRUE(seen.ended);
        ASSERT_EQ(seen.heard.size(), static_cast<std::size_t>(damage.chunks) * kChunkPcmBytes);
        EXPECT_EQ(std::memcmp(seen.heard.data(), want,
                              static_cast<std::size_t>(damage.chunks - 1) * kChunkPcmBytes),
                  0);
        break;
    }
}

const std::string kLongTitle(39, 'T');

INSTANTIATE_TEST_SUITE_P(
    Table, DamagedInputTest,
    ::testing::Values(
        DamageCase{"Undamaged", [](auto&, auto&, auto&) {}, 0, {}, Heard::WholeTrack, 0, "Noise 0"},
        DamageCase{"ArchiveOneByteLonger",
                   [](auto&, const std::string& archive, auto&) {
                       std::filesystem::resize_file(archive, kJuniperSize + 1);
                   },
                   1,
                   {kNotValid},
                   Heard::Nothing},
        DamageCase{"ArchiveOneByteShorter",
                   [](auto&, const std::string& archive, auto&) {
                       std::filesystem::resize_file(archive, kJuniperSize - 1);
                   },
                   1,
                   {kNotValid},
                   Heard::Nothing},
        DamageCase{
            "IndexMissing",
            [](const std::string& dir, auto&, auto&) { std::filesystem::remove(IndexFile(dir)); },
            1,
            {"Missing file", kNotValid},
            Heard::Nothing},
        DamageCase{"IndexOf59Bytes",
                   [](const std::string& dir, auto&, auto&) {
                       std::filesystem::resize_file(IndexFile(dir), 59);
                   },
                   1,
                   {kNotValid},
                   Heard::Nothing},
        DamageCase{"IndexEmpty",
                   [](const std::string& dir, auto&, auto&) {
                       std::filesystem::resize_file(IndexFile(dir), 0);
                   },
                   1,
                   {kNotValid},
                   Heard::Nothing},
        DamageCase{"IndexTruncatedInsideItsSecondRecord",
                   [](const std::string& dir, auto&, auto&) {
                       std::filesystem::resize_file(IndexFile(dir), 60 + 59);
                   },
                   0,
                   {},
                   Heard::WholeTrack},
        DamageCase{"TitleLengthAbove39",
                   [](const std::string& dir, auto&, const played::PlayedArchive& built) {
                       std::vector<StoredRecord> records = Records(built);
                       records[0][10] = 45;
                       std::fill(records[0].begin() + 11, records[0].begin() + 50, 'T');
                       WriteStoredRecords(IndexFile(dir), records);
                   },
                   0,
                   {},
                   Heard::WholeTrack,
                   0,
                   kLongTitle.c_str()},
        DamageCase{"TitleLengthNegative",
                   [](const std::string& dir, auto&, const played::PlayedArchive& built) {
                       std::vector<StoredRecord> records = Records(built);
                       records[0][10] = 0xC8; // -56 as a signed byte
                       WriteStoredRecords(IndexFile(dir), records);
                   },
                   0,
                   {},
                   Heard::WholeTrack,
                   0,
                   ""},
        DamageCase{"ShortTextLengthAbove8",
                   [](const std::string& dir, auto&, const played::PlayedArchive& built) {
                       std::vector<StoredRecord> records = Records(built);
                       records[0][50] = 0x7F;
                       WriteStoredRecords(IndexFile(dir), records);
                   },
                   0,
                   {},
                   Heard::WholeTrack,
                   0,
                   "Noise 0"},
        DamageCase{"HeaderWordWrong",
                   [](auto&, const std::string& archive, const played::PlayedArchive& built) {
                       Patch16(archive, built.entries[0].offset + 10, 0x6303);
                   },
                   1,
                   {kNotValid},
                   Heard::Nothing},
        DamageCase{"HeaderSampleRate0",
                   [](auto&, const std::string& archive, const played::PlayedArchive& built) {
                       Patch16(archive, built.entries[0].offset, 0);
                   },
                   1,
                   {kNotValid},
                   Heard::Nothing},
        DamageCase{"HeaderCutShortByTheArchiveEnd",
                   [](const std::string& dir, auto&, const played::PlayedArchive& built) {
                       std::vector<StoredRecord> records = Records(built);
                       PutU32(records[0], 0, kJuniperSize - 6);
                       WriteStoredRecords(IndexFile(dir), records);
                   },
                   1,
                   {kNotValid},
                   Heard::Nothing},
        DamageCase{"TrackOffsetBeyondTheArchiveEnd",
                   [](const std::string& dir, auto&, const played::PlayedArchive& built) {
                       std::vector<StoredRecord> records = Records(built);
                       PutU32(records[0], 0, kJuniperSize + 1000);
                       WriteStoredRecords(IndexFile(dir), records);
                   },
                   1,
                   {kNotValid},
                   Heard::Nothing},
        DamageCase{"TrackOffsetBeyond2GiB",
                   [](const std::string& dir, auto&, const played::PlayedArchive& built) {
                       std::vector<StoredRecord> records = Records(built);
                       PutU32(records[0], 0, 0x90000000u);
                       PutU32(records[0], 4, 0xF0000000u); // and a size beyond 2 GiB
                       WriteStoredRecords(IndexFile(dir), records);
                   },
                   1,
                   {kNotValid},
                   Heard::Nothing},
        DamageCase{"IndexSampleRate0",
                   [](const std::string& dir, auto&, const played::PlayedArchive& built) {
                       std::vector<StoredRecord> records = Records(built);
                       PutU16(records[0], 8, 0); // the header's rate is the one played
                       WriteStoredRecords(IndexFile(dir), records);
                   },
                   0,
                   {},
                   Heard::WholeTrack},
        DamageCase{"ChunkSignatureWrong",
                   [](auto&, const std::string& archive, const played::PlayedArchive& built) {
                       Patch16(archive, ChunkAt(built, 2) + 4, 0xBEEF);
                   },
                   0,
                   {},
                   Heard::FirstChunks,
                   2},
        DamageCase{"ChunkOfZeroBytes",
                   [](auto&, const std::string& archive, const played::PlayedArchive& built) {
                       Patch16(archive, ChunkAt(built, 1), 0);
                   },
                   0,
                   {},
                   Heard::FirstChunks,
                   1},
        DamageCase{"ChunkLargerThan512Bytes",
                   [](auto&, const std::string& archive, const played::PlayedArchive& built) {
                       Patch16(archive, ChunkAt(built, 3), 513);
                   },
                   0,
                   {},
                   Heard::FirstChunks,
                   3},
        DamageCase{"FirstChunkDamaged",
                   [](auto&, const std::string& archive, const played::PlayedArchive& built) {
                       Patch16(archive, ChunkAt(built, 0) + 4, 0);
                   },
                   0,
                   {},
                   Heard::FirstChunks,
                   0},
        DamageCase{"ArchiveCutInsideAChunk",
                   [](const std::string& dir, const std::string& archive,
                      const played::PlayedArchive& built) {
                       // The first track moved to the archive's end, its third
                       // chunk cut 100 bytes into its data.
                       std::vector<std::uint8_t> bytes = mixtest::ReadBytes(archive);
                       std::uint64_t from = built.entries[0].offset;
                       std::uint64_t keep = kTrackHeaderBytes + 2 * kChunkBytes + 8 + 100;
                       std::uint64_t at = kJuniperSize - keep;
                       handmade::WriteBytesAt(archive, at,
                                              std::vector<std::uint8_t>(
                                                  bytes.begin() + static_cast<long>(from),
                                                  bytes.begin() + static_cast<long>(from + keep)));
                       std::vector<StoredRecord> records = Records(built);
                       PutU32(records[0], 0, static_cast<std::uint32_t>(at));
                       WriteStoredRecords(IndexFile(dir), records);
                   },
                   0,
                   {},
                   Heard::ChunksThenCut,
                   3}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

} // namespace
