// Audio through the whole chain: encoded and laid out by mixlib's builder,
// then decoded by the player's own catalogue and decoder, block by block as
// playback does.
#include "core/player_state.h"
#include "decoder/track_stream.h"
#include "platform/standin/testing.h"
#include "support/mix_fixtures.h"
#include "tools/mixlib/adpcm_encoder.h"
#include "tools/mixlib/archive_builder.h"
#include "tools/mixlib/archive_names.h"
#include "tools/mixlib/archive_reader.h"
#include "tools/mixlib/mix_error.h"
#include "tools/mixlib/tone.h"
#include "tools/mixlib/track_extractor.h"
#include "tools/mixlib/track_source.h"
#include "tools/mixlib/wav_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

using namespace mixtest;

const KnownArchive& Juniper() {
    return *FindKnownArchiveByName("Juniper");
}

std::vector<std::int16_t> Noise(std::size_t count, std::uint32_t seed) {
    std::vector<std::int16_t> samples(count);
    for (auto& sample : samples) {
        seed = seed * 1664525u + 1013904223u;
        sample = static_cast<std::int16_t>(seed >> 16);
    }
    return samples;
}

std::vector<std::int16_t> Square(std::size_t count, std::size_t period) {
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = (i / (period / 2)) % 2 ? -32768 : 32767;
    return samples;
}

class RoundTrip : public ::testing::Test {
protected:
    void SetUp() override { standin::ClearMessageBoxes(); }
    void TearDown() override { EXPECT_TRUE(standin::MessageBoxes().empty()); }

    std::string Archive() const { return dir / "test.mix"; }
    BuiltArchive Build(const std::vector<TrackSource>& sources) {
        return BuildArchive(Archive(), Juniper(), dir.Path().string(), sources);
    }

    ScratchDir dir;
};

TEST_F(RoundTrip, ToneComesBackWithin30DbOfTheInput) {
    Tone tone = ParseTone("tone:440:1.5");
    std::vector<std::int16_t> input = MakeTone(tone);
    BuiltArchive built = Build({TrackSource{tone.title, tone.sample_rate, input}});

    ArchiveReader archive(Archive(), dir.Path().string());
    ASSERT_EQ(archive.TrackCount(), 1);
    EXPECT_STREQ(archive.Track(0).title, "Tone 440 Hz");
    ExtractedTrack track = ExtractTrack(archive, 0);
    EXPECT_EQ(track.sample_rate, 22050);
    // 33075 samples: one pad sample makes the count even.
    ASSERT_EQ(track.samples.size(), input.size() + 1);
    EXPECT_GE(SnrDb(input, track.samples), 30.0);
    EXPECT_EQ(track.samples, built.tracks[0].decoded);
}

TEST_F(RoundTrip, StereoWavIsMixedDownAndComesBack) {
    // Left a 440 Hz tone, right a quieter 660 Hz one, at 16000 Hz.
    const std::uint32_t rate = 16000;
    std::vector<std::int16_t> left(rate), right(rate), mixed(rate);
    std::vector<std::int16_t> interleaved;
    for (std::uint32_t i = 0; i < rate; ++i) {
        left[i] =
            static_cast<std::int16_t>(std::lround(20000 * std::sin(2 * M_PI * 440 * i / rate)));
        right[i] =
            static_cast<std::int16_t>(std::lround(-9000 * std::sin(2 * M_PI * 660 * i / rate)));
        mixed[i] = static_cast<std::int16_t>((left[i] + right[i]) / 2);
        interleaved.push_back(left[i]);
        interleaved.push_back(right[i]);
    }
    // MakeWav writes mono; patch its header into a stereo one.
    std::vector<std::uint8_t> image = MakeWav(interleaved, rate);
    image[22] = 2; // channels
    const std::uint32_t per_second = rate * 4;
    std::memcpy(image.data() + 28, &per_second, 4); // bytes per second
    image[32] = 4;                                  // block align
    WriteBytes(dir.Path() / "stereo pair.wav", image);

    TrackSource source = LoadTrackSource(dir / "stereo pair.wav");
    EXPECT_EQ(source.title, "stereo pair");
    EXPECT_EQ(source.sample_rate, rate);
    EXPECT_EQ(source.samples, mixed);

    Build({source});
    ArchiveReader archive(Archive(), dir.Path().string());
    ExtractedTrack track = ExtractTrack(archive, 0);
    EXPECT_EQ(track.sample_rate, rate);
    EXPECT_EQ(track.samples.size(), mixed.size());
    EXPECT_GE(SnrDb(mixed, track.samples), 30.0);
}

// Whatever the input, the bytes the encoder writes decode through the
// player's decoder to exactly the samples the encoder predicted, across
// chunk boundaries and in every track of an archive.
TEST_F(RoundTrip, EncoderPredictsTheDecoderExactly) {
    std::vector<TrackSource> sources = {
        {"noise", 8000, Noise(5001, 7)},     // odd, several chunks, last one short
        {"square", 44100, Square(4096, 64)}, // full scale: the sample clamps
        {"silence", 22050, std::vector<std::int16_t>(1024, 0)}, // exactly one full chunk
        {"one", 11025, {12345}},
        {"steps", 48000, Square(3000, 2)}, // the largest jumps, every sample
    };
    BuiltArchive built = Build(sources);
    ArchiveReader archive(Archive(), dir.Path().string());
    ASSERT_EQ(archive.TrackCount(), static_cast<int>(sources.size()));
    for (std::size_t i = 0; i < sources.size(); ++i) {
        SCOPED_TRACE(sources[i].title);
        ExtractedTrack track = ExtractTrack(archive, static_cast<int>(i));
        EXPECT_EQ(track.sample_rate, sources[i].sample_rate);
        EXPECT_EQ(track.samples.size(), (sources[i].samples.size() + 1) / 2 * 2);
        EXPECT_EQ(track.samples, built.tracks[i].decoded);
        // A rewind starts the decoder at 0, so the first sample always is 0.
        EXPECT_EQ(track.samples[0], 0);
    }
    // Noise cannot be followed closely, but the encoder still tracks it.
    EXPECT_GT(SnrDb(sources[0].samples, built.tracks[0].decoded), 0.0);
}

TEST_F(RoundTrip, TrackBytesFollowTheStoredLayout) {
    std::vector<std::int16_t> samples = Noise(2051, 3); // 1026 data bytes: 512 + 512 + 2
    EncodedTrack encoded = EncodeTrack(samples, 8000);
    ASSERT_EQ(encoded.bytes.size(), 12u + 3 * 8 + 1026);
    EXPECT_EQ(TrackBytesFor(samples.size()), encoded.bytes.size());

    TrackHeader header;
    std::memcpy(&header, encoded.bytes.data(), sizeof header);
    EXPECT_EQ(header.sample_rate, 8000);
    // Packed fields are copied out before the comparison binds references to them.
    EXPECT_EQ(std::uint32_t{header.compressed_size}, 3u * 8 + 1026);
    EXPECT_EQ(std::uint32_t{header.output_size}, 1026u * 4);
    EXPECT_EQ(encoded.bytes[10], 0x02);
    EXPECT_EQ(encoded.bytes[11], 0x63);

    const std::uint16_t sizes[] = {512, 512, 2};
    std::size_t at = 12;
    for (std::uint16_t size : sizes) {
        ChunkHeader chunk;
        std::memcpy(&chunk, encoded.bytes.data() + at, sizeof chunk);
        EXPECT_EQ(chunk.data_size, size);
        EXPECT_EQ(encoded.bytes[at + 4], 0xAF);
        EXPECT_EQ(encoded.bytes[at + 5], 0xDE);
        at += 8 + size;
    }
    EXPECT_EQ(at, encoded.bytes.size());
}

TEST_F(RoundTrip, ArchiveHasTheKnownSizeAndTracksWhereTheIndexSays) {
    std::vector<TrackSource> sources = {{"first", 22050, Noise(999, 1)},
                                        {"second", 22050, Noise(100, 2)},
                                        {"third", 11025, Noise(33, 3)}};
    BuiltArchive built = Build(sources);
    EXPECT_EQ(std::filesystem::file_size(Archive()), 25046328u);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"Juniper.MIX", "test.mix"}));
    EXPECT_EQ(std::filesystem::file_size(dir.Path() / "Juniper.MIX"), 3u * 60);

    ArchiveReader archive(Archive(), dir.Path().string());
    ASSERT_EQ(archive.TrackCount(), 3);
    std::uint32_t expected_offset = 4096;
    std::uint32_t total = 0;
    for (int i = 0; i < 3; ++i) {
        const TrackRecord& record = archive.Track(i);
        EXPECT_EQ(record.offset, expected_offset);
        EXPECT_EQ(record.offset % 16, 0u);
        EXPECT_EQ(record.size, TrackBytesFor(sources[i].samples.size()));
        EXPECT_EQ(record.sample_rate, sources[i].sample_rate);
        EXPECT_STREQ(record.title, sources[i].title.c_str());
        TrackHeader header;
        ASSERT_TRUE(archive.ReadHeader(i, &header));
        EXPECT_EQ(header.compressed_size + 12, std::uint32_t{record.size});
        expected_offset = (record.offset + record.size + 15) / 16 * 16;
        total += record.size;
    }
    EXPECT_EQ(archive.TotalTrackBytes(), total);
}

TEST_F(RoundTrip, TracksThatDoNotFitLeaveNothingBehind) {
    // 25046328 - 4096 bytes hold at most about 50 million samples.
    std::vector<TrackSource> sources(1);
    sources[0].title = "big";
    sources[0].sample_rate = 22050;
    sources[0].samples.resize(50'000'000);
    try {
        Build(sources);
        FAIL() << "an oversized track was accepted";
    } catch (const MixError& failure) {
        EXPECT_NE(std::string(failure.what()).find("Juniper archive holds 25046328"),
                  std::string::npos)
            << failure.what();
    }
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(RoundTrip, BadSourcesAreRefusedBeforeAnythingIsWritten) {
    EXPECT_THROW(Build({}), MixError);
    EXPECT_THROW(Build({{"slow", 99, {1, 2}}}), MixError);
    EXPECT_THROW(Build({{"empty", 22050, {}}}), MixError);
    EXPECT_THROW(BuildArchive(Archive(), Juniper(), dir / "no such folder", {{"t", 22050, {1, 2}}}),
                 MixError);
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(RoundTrip, RebuildingReplacesBothFiles) {
    Build({{"old", 22050, Noise(100, 1)}, {"older", 22050, Noise(100, 2)}});
    Build({{"new", 11025, Noise(300, 3)}});
    ArchiveReader archive(Archive(), dir.Path().string());
    ASSERT_EQ(archive.TrackCount(), 1);
    EXPECT_STREQ(archive.Track(0).title, "new");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"Juniper.MIX", "test.mix"}));
}

// The player would answer these with message boxes; the reader refuses them
// itself, with no box (checked after every test of this fixture).
TEST_F(RoundTrip, ReaderRefusesWhatThePlayerWouldBoxAbout) {
    auto message_of = [&](const std::string& archive, const std::string& index_dir) {
        try {
            ArchiveReader reader(archive, index_dir);
        } catch (const MixError& failure) {
            return std::string(failure.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(message_of(dir / "absent.mix", dir.Path().string()),
              "cannot open " + (dir / "absent.mix"));

    WriteBytes(dir.Path() / "small.mix", std::vector<std::uint8_t>(1000));
    EXPECT_EQ(
        message_of(dir / "small.mix", dir.Path().string()),
        dir / "small.mix" +
            ": Not a valid Kestrel MIX file! (1000 bytes is not the size of a known archive)");

    Build({{"t", 22050, Noise(10, 1)}});
    ScratchDir elsewhere;
    EXPECT_EQ(message_of(Archive(), elsewhere.Path().string()),
              "missing index file " + elsewhere.Path().string() + "/Juniper.MIX");

    // An index of 59 bytes loads as an empty catalogue: nothing to list.
    WriteBytes(dir.Path() / "Juniper.MIX", std::vector<std::uint8_t>(59));
    EXPECT_EQ(message_of(Archive(), dir.Path().string()),
              "index file " + dir.Path().string() + "/Juniper.MIX holds no track record");
}

TEST_F(RoundTrip, ExtractingRefusesBadHeadersAndMissingTracks) {
    Build({{"good", 22050, Noise(100, 1)}, {"bad", 22050, Noise(100, 2)}});
    // Point the second record at the zeros between the tracks.
    WriteIndex(dir / "Juniper.MIX", {IndexEntry{4096, 74, 22050, "good", "", true},
                                     IndexEntry{1000, 74, 22050, "bad", "", true}});
    ArchiveReader archive(Archive(), dir.Path().string());
    EXPECT_EQ(ExtractTrack(archive, 0).samples.size(), 100u);
    try {
        ExtractTrack(archive, 1);
        FAIL() << "a track without a header was extracted";
    } catch (const MixError& failure) {
        // Messages number tracks from 1, as users see them.
        EXPECT_STREQ(failure.what(), "track 2: Not a valid Kestrel MIX file!");
    }
    EXPECT_THROW(ExtractTrack(archive, 2), MixError);
    EXPECT_THROW(ExtractTrack(archive, -1), MixError);
    // A refused track leaves the reader usable.
    EXPECT_EQ(ExtractTrack(archive, 0).samples.size(), 100u);
}

TEST_F(RoundTrip, ReaderLeavesNoHandleOpen) {
    long before = standin::OpenHandleCount();
    Build({{"t", 22050, Noise(10, 1)}});
    {
        ArchiveReader archive(Archive(), dir.Path().string());
        ExtractTrack(archive, 0);
        EXPECT_GT(standin::OpenHandleCount(), before);
    }
    EXPECT_EQ(standin::OpenHandleCount(), before);
}

} // namespace
