// Track stream decoding: the ADPCM step, the chunk reader, block decoding
// and seeking, in memory; then the player's stream over an archive file, read
// ahead in a window. Tracks are written byte by byte here from the track
// format (support/chunk_stream), and every decode is checked against a
// reference decode of the same raw bytes.
#include "core/player_state.h"
#include "decoder/adpcm.h"
#include "decoder/track_decoder.h"
#include "decoder/track_stream.h"
#include "platform/standin/testing.h"
#include "support/chunk_stream.h"
#include "support/reset_player.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
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
using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;

constexpr std::uint32_t kDefaultTrackOffset = 100;
constexpr int kBlockBytes = 4608;

// The ADPCM step computed from the step size with a branch for each rule, as
// the decoder once took it: the reference its tables must match bit for bit.
std::int32_t ReferenceDelta(std::int32_t step, std::uint32_t code) {
    std::int32_t delta = static_cast<std::int32_t>((code & 7) * 2 + 1) * step / 8;
    if (code & 8)
        delta = -delta;
    return delta;
}

std::int32_t ReferenceNibble(AdpcmState& state, std::uint32_t code) {
    state.sample += ReferenceDelta(state.step, code);
    if (state.sample > 32767)
        state.sample = 32767;
    else if (state.sample < -32768)
        state.sample = -32768;
    if (code & 4)
        state.step_index += static_cast<std::int32_t>(code & 3) * 2 + 2;
    else
        state.step_index -= 1;
    if (state.step_index > 88)
        state.step_index = 88;
    else if (state.step_index < 0)
        state.step_index = 0;
    state.step = kStepTable[state.step_index];
    return state.sample;
}

// What a track's data bytes decode to from a rewind: low nibble, then high.
Samples ReferenceDecode(const Bytes& data) {
    AdpcmState state{0, 0, 0};
    Samples samples;
    for (std::uint8_t b : data) {
        samples.push_back(static_cast<std::int16_t>(ReferenceNibble(state, b & 0x0F)));
        samples.push_back(static_cast<std::int16_t>(ReferenceNibble(state, b >> 4)));
    }
    return samples;
}

Samples SamplesOf(const char* pcm, int bytes) {
    Samples samples(static_cast<std::size_t>(bytes / 2));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(pcm[2 * i]) |
                                               static_cast<std::uint8_t>(pcm[2 * i + 1]) << 8);
    return samples;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Repeat(std::uint8_t value, std::size_t count) {
    return Bytes(count, value);
}

// A track of full and partial chunks with the data of each.
struct BuiltTrack {
    Bytes stream;
    Bytes data; // every chunk's data, in order
};

BuiltTrack TrackOfChunks(const std::vector<std::size_t>& sizes, std::uint32_t seed) {
    ChunkStreamWriter writer;
    writer.TrackHeader(22050, 0, 0);
    Bytes data;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        Bytes chunk = PatternBytes(sizes[i], seed + static_cast<std::uint32_t>(i));
        writer.Chunk(chunk);
        data.insert(data.end(), chunk.begin(), chunk.end());
    }
    return {writer.Bytes(), data};
}

// Blocks from `decode` until the stream ends.
template <typename DecodeBlockFn> Samples BlocksToEnd(DecodeBlockFn decode) {
    Samples all;
    for (int guard = 0; guard < 100000; ++guard) {
        Samples block = decode(kBlockBytes);
        if (block.empty())
            break;
        all.insert(all.end(), block.begin(), block.end());
    }
    return all;
}

// Bytes in memory that count the reads made of them.
class CountingSource final : public ByteSource {
public:
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t bytes) override {
        ++reads;
        return MemorySource(image.data(), image.size()).ReadAt(offset, buffer, bytes);
    }
    Bytes image;
    long reads = 0;
};

class DecoderTest : public ::testing::Test {
protected:
    // Puts a track (header and chunks) at `offset` in an archive image of its
    // own and rewinds to the track's start as playback does.
    void OpenTrack(const Bytes& stream, std::uint32_t offset = kDefaultTrackOffset) {
        source.image = Concat({Bytes(offset, 0xEE), stream});
        decoder.Attach(&source, offset);
        decoder.Seek(0, true);
    }

    // One block as the playback loop takes it.
    Samples Decode(int count) {
        std::vector<char> pcm(static_cast<std::size_t>(std::max(count, 0)) + 4);
        int got = decoder.Read(pcm.data(), count);
        return SamplesOf(pcm.data(), got);
    }

    // Blocks until the stream ends.
    Samples DecodeToEnd() {
        return BlocksToEnd([this](int count) { return Decode(count); });
    }

    CountingSource source;
    TrackDecoder decoder;
};

TEST(AdpcmTest, FirstCodesAfterARewind) {
    AdpcmDecoder adpcm;
    // The first code cannot move the sample: the step is still 0.
    EXPECT_EQ(adpcm.DecodeNibble(0x7), 0);
    EXPECT_EQ(adpcm.state().step_index, 8);
    EXPECT_EQ(adpcm.DecodeNibble(0x7), 30); // 15 × 16 / 8
    EXPECT_EQ(adpcm.state().step_index, 16);
    EXPECT_EQ(adpcm.state().step, 34);
    // The magnitude is rounded down before the sign: -(15 × 34 / 8) = -63.
    EXPECT_EQ(adpcm.DecodeNibble(0xF), -33);
    EXPECT_EQ(adpcm.state().step_index, 24);
    EXPECT_EQ(adpcm.state().step, 73);
    EXPECT_EQ(adpcm.DecodeNibble(0x0), -24); // 1 × 73 / 8 = 9
    EXPECT_EQ(adpcm.state(), (AdpcmState{23, -24, 66}));
}

// Every state the decoder can reach (each step index with its step size, and
// the state a rewind leaves) under every code, from samples spread over the
// whole range and on both sides of each clamp's edge: the sample returned and
// the state after are the reference's, and so is a decoder started from that
// state again.
TEST(AdpcmTest, EveryStateAndCodeStepsExactlyAsTheReference) {
    std::vector<AdpcmState> states{{0, 0, 0}};
    for (std::int32_t index = 0; index < kStepTableSize; ++index)
        states.push_back({index, 0, kStepTable[index]});
    long compared = 0;
    long differing = 0;
    for (const AdpcmState& reachable : states) {
        for (std::uint32_t code = 0; code < 16; ++code) {
            std::vector<std::int32_t> samples{32767};
            for (std::int32_t sample = -32768; sample <= 32767; sample += 61)
                samples.push_back(sample);
            const std::int32_t delta = ReferenceDelta(reachable.step, code);
            for (std::int32_t edge : {32767 - delta, -32768 - delta})
                for (std::int32_t sample = edge - 1; sample <= edge + 1; ++sample)
                    if (sample >= -32768 && sample <= 32767)
                        samples.push_back(sample);
            for (std::int32_t sample : samples) {
                AdpcmState before = reachable;
                before.sample = sample;
                AdpcmState expected = before;
                const std::int32_t expected_sample = ReferenceNibble(expected, code);
                AdpcmDecoder adpcm(before);
                const std::int32_t got = adpcm.DecodeNibble(code);
                ++compared;
                if (got != expected_sample || adpcm.state() != expected ||
                    AdpcmDecoder(adpcm.state()).state() != expected) {
                    if (++differing <= 5)
                        ADD_FAILURE()
                            << "index " << before.step_index << " step " << before.step
                            << " sample " << sample << " code " << code << ": got " << got
                            << " (index " << adpcm.state().step_index << "), expected "
                            << expected_sample << " (index " << expected.step_index << ")";
                }
            }
        }
    }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(compared, 90L * 16 * 1000);
}

TEST(AdpcmTest, LongRunsOfExtremeCodesStayInRange) {
    AdpcmDecoder adpcm;
    for (int i = 0; i < 2000; ++i) {
        std::int32_t sample = adpcm.DecodeNibble(0x7);
        ASSERT_GE(sample, 0);
        ASSERT_LE(sample, 32767);
    }
    EXPECT_EQ(adpcm.state(), (AdpcmState{88, 32767, 32767}));
    // From the top with the largest step, the sum is far outside 16 bits.
    for (int i = 0; i < 2000; ++i) {
        std::int32_t sample = adpcm.DecodeNibble(0xF);
        ASSERT_GE(sample, -32768);
        ASSERT_LE(sample, 32767);
    }
    EXPECT_EQ(adpcm.state(), (AdpcmState{88, -32768, 32767}));
    for (int i = 0; i < 200; ++i)
        adpcm.DecodeNibble(0x8);
    EXPECT_EQ(adpcm.state().step_index, 0);
    EXPECT_EQ(adpcm.state().step, 7);
    EXPECT_EQ(adpcm.DecodeNibble(0x8), -32768) << "1 × 7 / 8 moves nothing";

    // Any mix of codes keeps the state inside its ranges, step for step
    // with the reference.
    AdpcmState reference = adpcm.state();
    Bytes codes = PatternBytes(50000, 7);
    for (std::uint8_t b : codes) {
        std::uint32_t code = (b & 0x10) ? (b & 0x0F) : ((b & 1) ? 0x7 : 0xF);
        std::int32_t sample = adpcm.DecodeNibble(code);
        ASSERT_EQ(sample, ReferenceNibble(reference, code));
        ASSERT_GE(sample, -32768);
        ASSERT_LE(sample, 32767);
        const AdpcmState state = adpcm.state();
        ASSERT_EQ(state, reference);
        ASSERT_GE(state.step_index, 0);
        ASSERT_LE(state.step_index, 88);
        ASSERT_EQ(state.step, kStepTable[state.step_index]);
    }
}

TEST_F(DecoderTest, BlockStoresLittleEndianSamplesLowNibbleFirst) {
    OpenTrack(ChunkStreamWriter().TrackHeader(22050, 10, 8).Chunk({0x77, 0x0F}).Bytes());
    std::vector<char> pcm(16, '\x55');
    ASSERT_EQ(decoder.Read(pcm.data(), 8), 8);
    const unsigned char expected[] = {0x00, 0x00, 0x1E, 0x00, 0xDF, 0xFF, 0xE8, 0xFF};
    EXPECT_EQ(std::memcmp(pcm.data(), expected, sizeof expected), 0);
    EXPECT_EQ(decoder.state().step_index, 23);
    EXPECT_EQ(decoder.state().sample, -24);
    EXPECT_EQ(decoder.state().step, 66);
}

TEST_F(DecoderTest, SamplesClampAtTheEdgesOf16Bits) {
    // Up to the top and down to the bottom: a sum wrapped at 16 bits would
    // show as a jump of sign.
    Bytes data = Concat({Repeat(0x77, 512), Repeat(0xFF, 512)});
    OpenTrack(ChunkStreamWriter()
                  .TrackHeader(22050, 0, 0)
                  .Chunk(Repeat(0x77, 512))
                  .Chunk(Repeat(0xFF, 512))
                  .Bytes());
    Samples got = DecodeToEnd();
    ASSERT_EQ(got, ReferenceDecode(data));
    ASSERT_EQ(got.size(), 2048u);
    EXPECT_TRUE(std::is_sorted(got.begin(), got.begin() + 1024));
    EXPECT_TRUE(std::is_sorted(got.begin() + 1024, got.end(), std::greater<>()));
    EXPECT_EQ(got[1023], 32767);
    EXPECT_EQ(got[2047], -32768);
}

TEST_F(DecoderTest, ChunksDecodeAcrossBoundariesUntilTheArchiveEnds) {
    BuiltTrack track = TrackOfChunks({512, 512, 100, 1, 512}, 11);
    OpenTrack(track.stream);
    Samples got = DecodeToEnd();
    EXPECT_EQ(got, ReferenceDecode(track.data));
    EXPECT_EQ(decoder.position(), 4 * static_cast<int>(track.data.size()));
    EXPECT_TRUE(decoder.ended());
}

// Damage after one good chunk: the good chunk's samples come out, in the
// same call that meets the damage, and the stream ends there.
TEST_F(DecoderTest, DamagedChunkEndsTheStreamAfterTheSamplesBeforeIt) {
    const Bytes good = PatternBytes(10, 3);
    const Bytes after = PatternBytes(600, 4);
    struct Damage {
        const char* name;
        Bytes tail;
    };
    const Damage damages[] = {
        {"wrong signature", ChunkStreamWriter().ChunkWith(10, 0xDEAE, after).Bytes()},
        {"signature bytes swapped", ChunkStreamWriter().ChunkWith(10, 0xAFDE, after).Bytes()},
        {"zero data size", ChunkStreamWriter().ChunkWith(0, 0xDEAF, after).Bytes()},
        {"data size over 512", ChunkStreamWriter().ChunkWith(513, 0xDEAF, after).Bytes()},
        {"largest data size", ChunkStreamWriter().ChunkWith(0xFFFF, 0xDEAF, after).Bytes()},
        {"header cut short", {0x0A, 0x00, 0x0A, 0x00, 0xAF}},
        {"header without data", ChunkStreamWriter().ChunkWith(10, 0xDEAF, {}).Bytes()},
        {"nothing more", {}},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        OpenTrack(
            Concat({ChunkStreamWriter().TrackHeader(8000, 0, 0).Chunk(good).Bytes(), damage.tail}));

        std::vector<char> pcm(kBlockBytes);
        ASSERT_EQ(decoder.Read(pcm.data(), kBlockBytes), 40);
        EXPECT_EQ(SamplesOf(pcm.data(), 40), ReferenceDecode(good));
        EXPECT_TRUE(decoder.ended());
        EXPECT_EQ(decoder.Read(pcm.data(), kBlockBytes), 0);
    }
}

// Playback prepares seek checkpoints at track start; the decoder must give
// the same samples whether or not a seek restores one.
class SeekTest : public DecoderTest, public ::testing::WithParamInterface<bool> {
protected:
    void OpenTrackForSeeking(const Bytes& stream, std::int32_t output_length) {
        OpenTrack(stream);
        if (GetParam()) {
            decoder.checkpoints().Prepare(output_length);
            decoder.Seek(0, true);
        }
    }

    void ExpectCheckpointsTaken() {
        if (GetParam()) {
            EXPECT_GT(decoder.checkpoints().count(), 1);
        }
    }
};

INSTANTIATE_TEST_SUITE_P(Checkpoints, SeekTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "With" : "Without"; });

TEST_P(SeekTest, ChunkCutShortByTheArchiveEndDecodesItsTailFromTheChunkBefore) {
    // Full chunks, then one whose 512 bytes the archive cuts at 100; the
    // number of full chunks in front moves the cut chunk across the places
    // where a checkpoint may fall.
    for (int full_chunks = 1; full_chunks <= 17; ++full_chunks) {
        SCOPED_TRACE(full_chunks);
        ChunkStreamWriter writer;
        writer.TrackHeader(22050, 0, 0);
        Bytes full;
        for (int i = 0; i < full_chunks; ++i) {
            Bytes chunk = PatternBytes(512, static_cast<std::uint32_t>(21 + i));
            writer.Chunk(chunk);
            full.insert(full.end(), chunk.begin(), chunk.end());
        }
        const Bytes present = PatternBytes(100, 99);
        writer.ChunkWith(512, 0xDEAF, present);
        const int cut_at = full_chunks * 2048;
        OpenTrackForSeeking(writer.Bytes(), cut_at + 2048);

        // The buffer still holds the chunk before behind the 100 bytes read.
        const Bytes before(full.end() - 512, full.end());
        Bytes as_decoded = Concat({full, present, Bytes(before.begin() + 100, before.end())});
        Samples expected = ReferenceDecode(as_decoded);

        Samples got = DecodeToEnd();
        ASSERT_EQ(got, expected);
        EXPECT_EQ(decoder.position(), cut_at + 2048) << "the cut chunk counts its full size";
        EXPECT_TRUE(decoder.ended());

        // Seeking into the missing tail from elsewhere in the track (the
        // buffer then holds other data) lands on the same samples.
        for (int target : {cut_at + 4 * 300, cut_at + 4 * 100, cut_at + 2044, cut_at - 8}) {
            SCOPED_TRACE(target);
            decoder.Seek(0, true);
            Decode(kBlockBytes);
            decoder.Seek(target, true);
            ASSERT_EQ(decoder.position(), target);
            Samples rest = DecodeToEnd();
            EXPECT_EQ(rest, Samples(expected.begin() + target / 2, expected.end()));
        }
    }
}

TEST_F(DecoderTest, EndedStreamStaysEndedUntilARewind) {
    BuiltTrack track = TrackOfChunks({300}, 8);
    OpenTrack(track.stream);
    Samples expected = ReferenceDecode(track.data);
    ASSERT_EQ(DecodeToEnd(), expected);
    ASSERT_TRUE(decoder.ended());

    long reads = source.reads;
    std::vector<char> pcm(kBlockBytes, '\x55');
    EXPECT_EQ(decoder.Read(pcm.data(), kBlockBytes), 0);
    decoder.Seek(1200 + 4000, false);
    EXPECT_TRUE(decoder.ended());
    EXPECT_EQ(decoder.position(), 1200);
    EXPECT_EQ(decoder.Read(pcm.data(), kBlockBytes), 0);
    EXPECT_EQ(source.reads, reads) << "nothing read after the end";
    EXPECT_EQ(pcm, std::vector<char>(kBlockBytes, '\x55'));

    decoder.Seek(0, true);
    EXPECT_FALSE(decoder.ended());
    EXPECT_EQ(DecodeToEnd(), expected);
}

TEST_F(DecoderTest, CountsRoundUpToWholeDataBytes) {
    BuiltTrack track = TrackOfChunks({40}, 9);
    OpenTrack(track.stream);
    Samples expected = ReferenceDecode(track.data);

    std::vector<char> pcm(32, '\x55');
    EXPECT_EQ(decoder.Read(pcm.data(), 0), 0);
    EXPECT_EQ(decoder.Read(pcm.data(), -8), 0);
    ASSERT_EQ(decoder.Read(pcm.data(), 5), 8);
    EXPECT_EQ(pcm[8], '\x55') << "nothing written past the rounded count";
    Samples got = SamplesOf(pcm.data(), 8);
    std::fill(pcm.begin(), pcm.end(), '\x55');
    ASSERT_EQ(decoder.Read(pcm.data(), 1), 4);
    EXPECT_EQ(pcm[4], '\x55');
    Samples more = SamplesOf(pcm.data(), 4);
    got.insert(got.end(), more.begin(), more.end());
    ASSERT_EQ(decoder.Read(pcm.data(), 7), 8);
    more = SamplesOf(pcm.data(), 8);
    got.insert(got.end(), more.begin(), more.end());
    EXPECT_EQ(got, Samples(expected.begin(), expected.begin() + 10));
}

TEST_F(DecoderTest, ForwardSeekInsideTheCurrentChunkReadsNothing) {
    BuiltTrack track = TrackOfChunks({512, 512}, 13);
    OpenTrack(track.stream);
    Samples expected = ReferenceDecode(track.data);
    ASSERT_EQ(Decode(4).size(), 2u); // brings the first chunk in

    long reads = source.reads;
    decoder.Seek(1002, false);
    EXPECT_EQ(source.reads, reads);
    EXPECT_EQ(decoder.position(), 1004) << "whole data bytes only";
    decoder.Seek(2048, false);
    EXPECT_EQ(source.reads, reads);
    EXPECT_EQ(decoder.position(), 2048);

    Samples rest = DecodeToEnd();
    EXPECT_EQ(rest, Samples(expected.begin() + 1024, expected.end()));
}

TEST_P(SeekTest, SeeksLandOnTheSamplesOfStraightDecoding) {
    BuiltTrack track = TrackOfChunks(
        {512, 300, 512, 7, 512, 512, 512, 512, 512, 512, 512, 512, 512, 512, 512, 512, 100}, 31);
    const int total = 4 * static_cast<int>(track.data.size());
    OpenTrackForSeeking(track.stream, total);
    const Samples expected = ReferenceDecode(track.data);
    // Played through once, as a listener would before seeking back.
    ASSERT_EQ(DecodeToEnd(), expected);
    ExpectCheckpointsTaken();
    decoder.Seek(0, true);

    struct Seek {
        int target;
        int rewind;
        int lands_at;
    };
    const Seek seeks[] = {
        {6000, 1, 6000},                // from the start
        {2000, 1, 2000},                // backwards
        {2000 + 4608 + 9000, 0, 15608}, // onwards from after a block
        {21217, 0, 21220},              // a target inside a data byte
        {4 * 1326, 1, 4 * 1326},        // into the 7-byte chunk
        {100, 1, 100},
        {total - 4, 1, total - 4}, // the last data byte
        {8000, 1, 8000},
    };
    for (const Seek& seek : seeks) {
        SCOPED_TRACE(seek.target);
        decoder.Seek(seek.target, seek.rewind != 0);
        ASSERT_EQ(decoder.position(), seek.lands_at);
        EXPECT_FALSE(decoder.ended());
        Samples block = Decode(kBlockBytes);
        std::size_t from = static_cast<std::size_t>(seek.lands_at / 2);
        std::size_t n = std::min<std::size_t>(kBlockBytes / 2, expected.size() - from);
        ASSERT_EQ(block.size(), n);
        EXPECT_EQ(block, Samples(expected.begin() + from, expected.begin() + from + n));
    }

    // Past the end: the stream ends at its last sample.
    decoder.Seek(total + 100, false);
    EXPECT_TRUE(decoder.ended());
    EXPECT_EQ(decoder.position(), total);
    decoder.Seek(0, true);
    EXPECT_EQ(DecodeToEnd(), expected);
}

TEST(TrackHeaderTest, NeedsItsMagicAndAUsableRate) {
    struct HeaderCase {
        const char* name;
        Bytes bytes;
        bool accepted;
    };
    const HeaderCase cases[] = {
        {"lowest rate", ChunkStreamWriter().TrackHeader(kLowestSampleRate, 1, 2).Bytes(), true},
        {"below it", ChunkStreamWriter().TrackHeader(kLowestSampleRate - 1, 1, 2).Bytes(), false},
        {"rate 0", ChunkStreamWriter().TrackHeader(0, 1, 2).Bytes(), false},
        {"magic reversed", ChunkStreamWriter().TrackHeader(22050, 1, 2, 0x63, 0x02).Bytes(), false},
        {"magic off by one", ChunkStreamWriter().TrackHeader(22050, 1, 2, 0x02, 0x64).Bytes(),
         false},
        {"largest rate", ChunkStreamWriter().TrackHeader(65535, 1, 2).Bytes(), true},
    };
    Bytes file_bytes;
    for (const HeaderCase& c : cases)
        file_bytes.insert(file_bytes.end(), c.bytes.begin(), c.bytes.end());
    // A good header cut one byte short by the end of the data.
    Bytes good = ChunkStreamWriter().TrackHeader(44100, 1, 2).Bytes();
    file_bytes.insert(file_bytes.end(), good.begin(), good.end() - 1);
    MemorySource source(file_bytes.data(), file_bytes.size());

    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        TrackHeader header{};
        EXPECT_EQ(ReadTrackHeader(source, 12 * i, &header), cases[i].accepted);
    }
    TrackHeader header{};
    EXPECT_FALSE(ReadTrackHeader(source, 12 * std::size(cases), &header)) << "short";

    Bytes full = ChunkStreamWriter().TrackHeader(44100, 0x01020304, 0x0A0B0C0D).Bytes();
    MemorySource whole(full.data(), full.size());
    ASSERT_TRUE(ReadTrackHeader(whole, 0, &header));
    EXPECT_EQ(Field(header.sample_rate), 44100);
    EXPECT_EQ(Field(header.compressed_size), 0x01020304u);
    EXPECT_EQ(Field(header.output_size), 0x0A0B0C0Du);
}

// ---- The player's stream: the decoder over an archive file, through the
// read-ahead window, and the player's end-of-stream flag.

class PlayerStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        handles_before_ = standin::OpenHandleCount();
        p.InitPlayer(nullptr, scratch.Dir().c_str());
        standin::ResetFaults();
    }

    void TearDown() override {
        standin::ResetFaults();
        if (p.archive_file != INVALID_HANDLE_VALUE)
            CloseHandle(p.archive_file);
        p.FreePlayer();
        EXPECT_EQ(standin::OpenHandleCount(), handles_before_);
    }

    // Puts a track (header and chunks) into an archive file of its own at
    // `offset`, opens it and starts the track as playback does.
    void OpenTrack(const Bytes& stream, std::uint64_t offset = kDefaultTrackOffset) {
        std::string path = scratch.Path("archive-" + std::to_string(++archives_) + ".mix");
        WriteBytesAt(path, offset, stream);
        if (p.archive_file != INVALID_HANDLE_VALUE)
            CloseHandle(p.archive_file);
        p.archive_file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(p.archive_file, INVALID_HANDLE_VALUE);
        p.track_offset = static_cast<int>(static_cast<std::uint32_t>(offset));
        p.SeekStream(0, 1);
    }

    // One block as the playback loop takes it: decoded, then counted.
    Samples Decode(int count) {
        std::vector<char> pcm(static_cast<std::size_t>(std::max(count, 0)) + 4);
        int got = p.DecodeBlock(pcm.data(), count);
        p.output_position += got;
        return SamplesOf(pcm.data(), got);
    }

    Samples DecodeToEnd() {
        return BlocksToEnd([this](int count) { return Decode(count); });
    }

    ScratchDir scratch;
    PlayerState p;

private:
    long handles_before_ = 0;
    int archives_ = 0;
};

TEST_F(PlayerStreamTest, FailedReadsEndTheStream) {
    BuiltTrack track = TrackOfChunks({64, 64}, 5);
    OpenTrack(track.stream);
    std::vector<char> pcm(kBlockBytes);

    standin::FailNthCall(Fault::ReadFile, 1); // the first chunk header
    EXPECT_EQ(p.DecodeBlock(pcm.data(), kBlockBytes), 0);
    EXPECT_TRUE(p.end_of_stream);

    // Chunks come through a read-ahead window: a read error past the first
    // window ends the stream at the chunk it cuts, without its partial data.
    std::vector<std::size_t> sizes(100, 512);
    BuiltTrack longer = TrackOfChunks(sizes, 6);
    OpenTrack(longer.stream);
    standin::FailNthCall(Fault::ReadFile, 2);
    Samples got = DecodeToEnd();
    EXPECT_TRUE(p.end_of_stream);
    const std::size_t whole_chunks = kReadAheadBytes / (kChunkHeaderBytes + 512);
    ASSERT_EQ(got.size(), whole_chunks * 1024);
    Samples expected = ReferenceDecode(longer.data);
    expected.resize(got.size());
    EXPECT_EQ(got, expected);
}

TEST_F(PlayerStreamTest, TracksPastTwoAndFourGibibytesAreFound) {
    BuiltTrack track = TrackOfChunks({512, 77}, 41);
    Samples expected = ReferenceDecode(track.data);
    // The largest offset an index can hold puts the first chunk past 4 GiB.
    for (std::uint64_t offset : {0x90000000ull, 0xFFFFFFF8ull}) {
        SCOPED_TRACE(offset);
        ScratchDir own;
        std::string path = own.Path("big.mix");
        WriteBytesAt(path, offset, track.stream);
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        if (p.archive_file != INVALID_HANDLE_VALUE)
            CloseHandle(p.archive_file);
        p.archive_file = file;
        p.track_offset = static_cast<int>(static_cast<std::uint32_t>(offset));

        TrackHeader header{};
        EXPECT_TRUE(p.ReadTrackHeader(&header));
        EXPECT_EQ(Field(header.sample_rate), 22050);
        p.SeekStream(0, 1);
        EXPECT_EQ(DecodeToEnd(), expected);
        p.SeekStream(1000, 1);
        EXPECT_EQ(DecodeToEnd(), Samples(expected.begin() + 500, expected.end()));
    }
}

TEST_F(PlayerStreamTest, EndSetFromOutsideHoldsUntilARewind) {
    BuiltTrack track = TrackOfChunks({300, 300}, 8);
    OpenTrack(track.stream);
    Samples expected = ReferenceDecode(track.data);
    ASSERT_EQ(Decode(400).size(), 200u);

    // A stream the player declares ended reads nothing and goes nowhere.
    p.end_of_stream = 1;
    long reads = standin::CallCount(Fault::ReadFile);
    std::vector<char> pcm(kBlockBytes);
    EXPECT_EQ(p.DecodeBlock(pcm.data(), kBlockBytes), 0);
    p.SeekStream(2000, 0);
    EXPECT_EQ(p.output_position, 400);
    EXPECT_EQ(standin::CallCount(Fault::ReadFile), reads);

    p.SeekStream(0, 1);
    EXPECT_FALSE(p.end_of_stream);
    EXPECT_EQ(DecodeToEnd(), expected);
}

TEST_F(PlayerStreamTest, HeaderOfTheCurrentTrackIsReadFromTheArchive) {
    OpenTrack(ChunkStreamWriter().TrackHeader(11025, 7, 8).Chunk({1, 2}).Bytes());
    TrackHeader header{};
    ASSERT_TRUE(p.ReadTrackHeader(&header));
    EXPECT_EQ(Field(header.sample_rate), 11025);
    EXPECT_EQ(Field(header.output_size), 8u);
    standin::FailNthCall(Fault::ReadFile, 1);
    EXPECT_FALSE(p.ReadTrackHeader(&header));
}

} // namespace
