// Seeking with checkpoints must land on exactly the samples that decoding
// straight through gives, wherever the target lies and whichever way the
// seek goes.
#include "decoder/track_decoder.h"
#include "tools/mixlib/archive_builder.h"
#include "tools/mixlib/archive_reader.h"
#include "platform/standin/testing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr int kBlock = 1152;

// A track long enough for thousands of checkpoints, of audio that keeps the
// decoder's step size moving (a sweep with a little noise).
TrackSource LongTrack(double seconds) {
    TrackSource source;
    source.title = "Long sweep";
    source.sample_rate = 22050;
    std::mt19937 noise(7);
    std::uniform_int_distribution<int> jitter(-2000, 2000);
    auto count = static_cast<std::size_t>(seconds * source.sample_rate);
    source.samples.resize(count);
    double phase = 0;
    for (std::size_t i = 0; i < count; ++i) {
        double t = static_cast<double>(i) / source.sample_rate;
        phase += 2 * M_PI * (100 + 40 * t) / source.sample_rate;
        source.samples[i] = static_cast<std::int16_t>(12000 * std::sin(phase) + jitter(noise));
    }
    return source;
}

class SeekCheckpointsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new fs::path(fs::temp_directory_path() /
                            ("kestrel-seek-" + std::to_string(::getpid())));
        fs::create_directories(*dir_);
        BuildArchive((*dir_ / "long.mix").string(), *FindKnownArchive(25046328), dir_->string(),
                     {LongTrack(150)});
    }
    static void TearDownTestSuite() {
        fs::remove_all(*dir_);
        delete dir_;
    }

    void SetUp() override {
        reader_ = std::make_unique<ArchiveReader>((*dir_ / "long.mix").string(), dir_->string());
        TrackHeader header{};
        ASSERT_TRUE(reader_->ReadHeader(0, &header));
        decoder_.Attach(&reader_->Source(), reader_->Track(0).offset);
        decoder_.checkpoints().Prepare(static_cast<std::int32_t>(header.output_size));
        decoder_.Seek(0, true);
        // The reference: every byte of the track, decoded straight through.
        char block[kBlock];
        for (;;) {
            int got = decoder_.Read(block, kBlock);
            if (got <= 0)
                break;
            straight_.insert(straight_.end(), block, block + got);
        }
        ASSERT_GT(straight_.size(), 6'000'000u);
    }

    // Decodes one block where the stream stands and checks it against the
    // reference at that position.
    void ExpectSamplesMatch(const char* what) {
        std::size_t at = static_cast<std::size_t>(decoder_.position());
        char block[kBlock];
        int got = decoder_.Read(block, kBlock);
        std::size_t expected =
            std::min<std::size_t>(kBlock, straight_.size() - std::min(at, straight_.size()));
        ASSERT_EQ(static_cast<std::size_t>(got), expected) << what << " at " << at;
        ASSERT_EQ(std::memcmp(block, straight_.data() + at, got), 0) << what << " at " << at;
    }

    static fs::path* dir_;
    std::unique_ptr<ArchiveReader> reader_;
    TrackDecoder decoder_;
    std::vector<char> straight_;
};

fs::path* SeekCheckpointsTest::dir_ = nullptr;

TEST_F(SeekCheckpointsTest, RandomSeeksBothWaysMatchStraightDecoding) {
    ASSERT_GT(decoder_.checkpoints().count(), 500);
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> anywhere(0, static_cast<int>(straight_.size()) - 2);
    for (int i = 0; i < 400; ++i) {
        int target = anywhere(random) & ~1;
        decoder_.Seek(target, target < decoder_.position());
        ASSERT_GE(decoder_.position(), target);
        ASSERT_LT(decoder_.position(), target + 4);
        ExpectSamplesMatch("random seek");
    }
}

TEST_F(SeekCheckpointsTest, ForwardSeekAfterRewindJumpsIntoDecodedAudio) {
    decoder_.Seek(0, true);
    // The whole track was decoded in SetUp, so a forward seek deep into it
    // restores a checkpoint and reads only a few chunks instead of megabytes.
    long reads_before = standin::CallCount(standin::Fault::ReadFile);
    int target = static_cast<int>(straight_.size()) - 100000;
    decoder_.Seek(target, false);
    EXPECT_LT(standin::CallCount(standin::Fault::ReadFile) - reads_before, 40);
    ASSERT_EQ(decoder_.position(), target);
    ExpectSamplesMatch("forward jump");
}

TEST_F(SeekCheckpointsTest, WithoutCheckpointsSeeksGiveTheSameSamples) {
    decoder_.checkpoints().Release();
    std::mt19937 random(99);
    std::uniform_int_distribution<int> anywhere(0, static_cast<int>(straight_.size()) - 2);
    for (int i = 0; i < 5; ++i) {
        int target = anywhere(random) & ~3;
        decoder_.Seek(target, target < decoder_.position());
        ExpectSamplesMatch("plain seek");
    }
}

TEST_F(SeekCheckpointsTest, SeekToTheEndEndsTheStream) {
    decoder_.Seek(static_cast<int>(straight_.size()) + 4096, true);
    EXPECT_TRUE(decoder_.ended());
    char block[kBlock];
    EXPECT_EQ(decoder_.Read(block, kBlock), 0);
    // A rewind from there brings the start back.
    decoder_.Seek(0, true);
    EXPECT_FALSE(decoder_.ended());
    ExpectSamplesMatch("after the end");
}

TEST(SeekCheckpointTable, StaysWithinItsCapForAbsurdLengths) {
    SeekCheckpoints table;
    table.Prepare(0x7FFFFFFF);
    EXPECT_LE(table.capacity(), SeekCheckpoints::kMaxEntries);
    EXPECT_GT(table.capacity(), 0);
    // The spacing grows instead: every entry still fits.
    table.Follow(4096);
    AdpcmState state;
    int noted = 0;
    for (std::int64_t position = 0; position < 0x7FFFFFFF; position += 2048, ++noted)
        table.Note(4096, static_cast<std::int32_t>(position), 0, state);
    EXPECT_LE(table.count(), table.capacity());
    EXPECT_GE(table.count(), SeekCheckpoints::kMaxEntries / 2);
    // A table for another track serves nothing.
    EXPECT_EQ(table.Before(8192, 100000), nullptr);
    EXPECT_NE(table.Before(4096, 100000), nullptr);
    table.Release();
    EXPECT_EQ(table.capacity(), 0);
}

} // namespace
