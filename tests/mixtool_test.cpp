// mixtool and the parts of mixlib it is made of: WAV files, tones, index
// records, archive names, and the command line itself run as a program.
#include "core/player_state.h"
#include "platform/standin/testing.h"
#include "support/mix_fixtures.h"
#include "tools/mixlib/archive_names.h"
#include "tools/mixlib/archive_reader.h"
#include "tools/mixlib/index_writer.h"
#include "tools/mixlib/mix_error.h"
#include "tools/mixlib/tone.h"
#include "tools/mixlib/track_extractor.h"
#include "tools/mixlib/wav_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

using namespace mixtest;

// ---- WAV files

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void Put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutChunk(std::vector<std::uint8_t>& out, const char* tag,
              const std::vector<std::uint8_t>& body) {
    out.insert(out.end(), tag, tag + 4);
    Put32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2)
        out.push_back(0);
}

std::vector<std::uint8_t> Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                              std::uint16_t bits) {
    std::vector<std::uint8_t> fmt;
    Put16(fmt, tag);
    Put16(fmt, channels);
    Put32(fmt, rate);
    Put32(fmt, rate * channels * bits / 8);
    Put16(fmt, static_cast<std::uint16_t>(channels * bits / 8));
    Put16(fmt, bits);
    return fmt;
}

std::vector<std::uint8_t> Riff(const std::vector<std::uint8_t>& chunks) {
    std::vector<std::uint8_t> out = {'R', 'I', 'F', 'F'};
    Put32(out, static_cast<std::uint32_t>(chunks.size() + 4));
    out.insert(out.end(), {'W', 'A', 'V', 'E'});
    out.insert(out.end(), chunks.begin(), chunks.end());
    return out;
}

std::vector<std::uint8_t> Samples(std::initializer_list<std::int16_t> values) {
    std::vector<std::uint8_t> data;
    for (std::int16_t value : values)
        Put16(data, static_cast<std::uint16_t>(value));
    return data;
}

std::string ParseError(const std::vector<std::uint8_t>& image) {
    try {
        ParseWav(image, "in.wav");
    } catch (const MixError& failure) {
        return failure.what();
    }
    return "accepted";
}

TEST(MixWavFile, WrittenFileReadsBackWithTheStandardHeader) {
    std::vector<std::int16_t> samples = {0, 1, -1, 32767, -32768, 1234};
    std::vector<std::uint8_t> image = MakeWav(samples, 11025);
    ASSERT_EQ(image.size(), 44u + 12);
    EXPECT_EQ(std::memcmp(image.data(), "RIFF", 4), 0);
    EXPECT_EQ(image[4], 36 + 12); // RIFF size
    EXPECT_EQ(image[22], 1);      // mono
    EXPECT_EQ(image[24] | image[25] << 8, 11025);
    EXPECT_EQ(image[34], 16);       // bits
    EXPECT_EQ(image[40], 12);       // data size
    EXPECT_EQ(image[44 + 6], 0xFF); // 32767, little-endian
    EXPECT_EQ(image[44 + 7], 0x7F);
    WavAudio audio = ParseWav(image, "x.wav");
    EXPECT_EQ(audio.sample_rate, 11025u);
    EXPECT_EQ(audio.samples, samples);
}

TEST(MixWavFile, UnknownAndOddSizedChunksAreSkipped) {
    std::vector<std::uint8_t> chunks;
    PutChunk(chunks, "LIST", {1, 2, 3}); // odd size: one pad byte follows
    PutChunk(chunks, "fmt ", Fmt(1, 1, 8000, 16));
    PutChunk(chunks, "fact", {0, 0, 0, 0});
    PutChunk(chunks, "data", Samples({5, -5, 7}));
    std::vector<std::uint8_t> image = Riff(chunks);
    image.insert(image.end(), {'j', 'u', 'n', 'k'}); // beyond the RIFF size
    WavAudio audio = ParseWav(image, "in.wav");
    EXPECT_EQ(audio.sample_rate, 8000u);
    EXPECT_EQ(audio.samples, (std::vector<std::int16_t>{5, -5, 7}));
}

TEST(MixWavFile, StereoIsAveragedAndExtensiblePcmAccepted) {
    std::vector<std::uint8_t> fmt = Fmt(0xFFFE, 2, 44100, 16);
    Put16(fmt, 22); // extension size
    Put16(fmt, 16); // valid bits
    Put32(fmt, 3);  // channel mask
    Put16(fmt, 1);  // sub-format: PCM, then the rest of its GUID
    fmt.insert(fmt.end(), {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38,
                           0x9B, 0x71});
    std::vector<std::uint8_t> chunks;
    PutChunk(chunks, "fmt ", fmt);
    PutChunk(chunks, "data", Samples({100, 300, -32768, -32768, 32767, 32767, 7, -8}));
    WavAudio audio = ParseWav(Riff(chunks), "in.wav");
    EXPECT_EQ(audio.samples, (std::vector<std::int16_t>{200, -32768, 32767, 0}));
}

TEST(MixWavFile, BadFilesAreRefusedWithTheReason) {
    std::vector<std::uint8_t> good_fmt;
    PutChunk(good_fmt, "fmt ", Fmt(1, 1, 8000, 16));
    std::vector<std::uint8_t> data;
    PutChunk(data, "data", Samples({1, 2}));

    EXPECT_EQ(ParseError({'R', 'I', 'F', 'F'}), "in.wav: not a WAV file");
    std::vector<std::uint8_t> not_wave = Riff(good_fmt);
    std::memcpy(not_wave.data() + 8, "AVI ", 4);
    EXPECT_EQ(ParseError(not_wave), "in.wav: not a WAV file");

    std::vector<std::uint8_t> whole = good_fmt;
    whole.insert(whole.end(), data.begin(), data.end());
    std::vector<std::uint8_t> cut = Riff(whole);
    cut.pop_back();
    EXPECT_EQ(ParseError(cut), "in.wav: WAV file is cut short");

    std::vector<std::uint8_t> eight_bit;
    PutChunk(eight_bit, "fmt ", Fmt(1, 1, 8000, 8));
    EXPECT_EQ(ParseError(Riff(eight_bit)), "in.wav: only 16-bit PCM WAV files are supported");
    std::vector<std::uint8_t> float_fmt;
    PutChunk(float_fmt, "fmt ", Fmt(3, 1, 8000, 16));
    EXPECT_EQ(ParseError(Riff(float_fmt)), "in.wav: only 16-bit PCM WAV files are supported");
    std::vector<std::uint8_t> three;
    PutChunk(three, "fmt ", Fmt(1, 3, 8000, 16));
    EXPECT_EQ(ParseError(Riff(three)),
              "in.wav: only mono or stereo WAV files are supported (this one has 3 channels)");
    std::vector<std::uint8_t> short_fmt;
    PutChunk(short_fmt, "fmt ", {1, 0, 1, 0});
    EXPECT_EQ(ParseError(Riff(short_fmt)), "in.wav: malformed WAV format chunk");

    EXPECT_EQ(ParseError(Riff(data)), "in.wav: WAV data comes before its format chunk");
    EXPECT_EQ(ParseError(Riff(good_fmt)), "in.wav: WAV file has no data chunk");
    std::vector<std::uint8_t> half_frame = good_fmt;
    PutChunk(half_frame, "data", {1, 2, 3});
    EXPECT_EQ(ParseError(Riff(half_frame)),
              "in.wav: WAV data is not a whole number of sample frames");

    EXPECT_THROW(ReadWav("/nonexistent/in.wav"), MixError);
}

// ---- Tones

TEST(MixTone, FieldsAndDefaults) {
    Tone plain = ParseTone("tone:440:2");
    EXPECT_EQ(plain.frequency, 440);
    EXPECT_EQ(plain.seconds, 2);
    EXPECT_EQ(plain.sample_rate, 22050);
    EXPECT_EQ(plain.title, "Tone 440 Hz");

    Tone full = ParseTone("tone:261.5:0.25:8000:Middle C: at last");
    EXPECT_EQ(full.frequency, 261.5);
    EXPECT_EQ(full.sample_rate, 8000);
    EXPECT_EQ(full.title, "Middle C: at last");
    EXPECT_EQ(ParseTone("tone:100:1::Named").sample_rate, 22050);

    for (const char* bad :
         {"tone:", "tone:440", "tone:abc:1", "tone:440:1x", "tone:0:1", "tone:-5:1", "tone:12000:1",
          "tone:440:0", "tone:440:3601", "tone:440:1:99", "tone:440:1:65536", "tone:440:1:22050.5",
          "tone:inf:1", "tone:440:nan"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(ParseTone(bad), MixError);
    }
    EXPECT_FALSE(IsToneArgument("tones.wav"));
}

TEST(MixTone, SineOfHalfScaleAtTheRequestedPitch) {
    std::vector<std::int16_t> samples = MakeTone(ParseTone("tone:1000:0.5:8000"));
    ASSERT_EQ(samples.size(), 4000u);
    // 1000 Hz at 8000 Hz: eight samples a period, peaks at 2 and 6.
    EXPECT_EQ(samples[0], 0);
    EXPECT_EQ(samples[2], 16384);
    EXPECT_EQ(samples[4], 0);
    EXPECT_EQ(samples[6], -16384);
    EXPECT_EQ(samples[10], 16384);
    EXPECT_EQ(*std::max_element(samples.begin(), samples.end()), 16384);
}

// ---- Index records

TEST(MixIndexWriter, StoredRecordIsScrambledWithTheKey) {
    ScratchDir dir;
    WriteIndex(dir / "i.MIX", {IndexEntry{0x11223344, 0x55667788, 22050, "AB", "xyz", true}});
    std::vector<std::uint8_t> bytes = ReadBytes(dir.Path() / "i.MIX");
    ASSERT_EQ(bytes.size(), 60u);
    // Worked out by hand from the key 3C 71 E2 09 5A B4 17 C8 6E 23 9F D0.
    EXPECT_EQ(bytes[0], 0x44 ^ 0x3C);
    EXPECT_EQ(bytes[3], 0x11 ^ 0x09);
    EXPECT_EQ(bytes[4], 0x88 ^ 0x5A);
    EXPECT_EQ(bytes[8], (22050 & 0xFF) ^ 0x6E);
    EXPECT_EQ(bytes[10], 2 ^ 0x9F); // title length
    EXPECT_EQ(bytes[11], 'A' ^ 0xD0);
    EXPECT_EQ(bytes[12], 'B' ^ 0x3C);  // the key starts over at 12
    EXPECT_EQ(bytes[50], 3 ^ 0xE2);    // short text length; 50 mod 12 = 2
    EXPECT_EQ(bytes[59], 0x80 ^ 0xD0); // enabled
}

TEST(MixIndexWriter, RecordsLoadThroughThePlayersCatalogue) {
    ScratchDir dir;
    const std::string long_title(45, 'T');
    WriteIndex(dir / "Juniper.MIX",
               {IndexEntry{4096, 520, 22050, "First", "short", true},
                IndexEntry{8192, 1040, 11025, long_title, "much too long", false},
                IndexEntry{12288, 12, 8000, std::string(39, 'x'), "", true}});
    PlayerState player;
    player.InitPlayer(nullptr, (dir.Path().string() + "/").c_str());
    ASSERT_EQ(player.LoadTrackIndex(25046328), 1);
    ASSERT_EQ(player.track_count, 3);
    EXPECT_EQ(player.tracks[0].offset, 4096u);
    EXPECT_EQ(player.tracks[0].size, 520u);
    EXPECT_EQ(player.tracks[0].sample_rate, 22050);
    EXPECT_STREQ(player.tracks[0].title, "First");
    EXPECT_STREQ(player.tracks[0].short_text, "short");
    EXPECT_STREQ(player.tracks[1].title, std::string(39, 'T').c_str());
    EXPECT_STREQ(player.tracks[1].short_text, "much too");
    EXPECT_EQ(player.tracks[1].sample_rate, 11025);
    EXPECT_STREQ(player.tracks[2].title, std::string(39, 'x').c_str());
    EXPECT_EQ(player.total_size, 520 + 1040 + 12);
    player.FreePlayer();
}

TEST(MixIndexWriter, DamagedRecordsAndRawBytesAreWrittenAsGiven) {
    ScratchDir dir;
    StoredRecord record = MakeStoredRecord(IndexEntry{1, 2, 3, "ok", "", true});
    record[kStoredTitleLength] = 0xC8; // a length no title has
    WriteStoredRecords(dir / "bad.MIX", {record});
    std::vector<std::uint8_t> bytes = ReadBytes(dir.Path() / "bad.MIX");
    ASSERT_EQ(bytes.size(), 60u);
    DescrambleRecord(bytes.data());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), record.begin()));

    WriteIndexBytes(dir / "raw.MIX", {1, 2, 3});
    EXPECT_EQ(ReadBytes(dir.Path() / "raw.MIX"), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"bad.MIX", "raw.MIX"}));
}

// ---- Archive names

TEST(MixArchiveNames, NamesMatchIgnoringCaseAndIndexPathsGetASeparator) {
    ASSERT_NE(FindKnownArchiveByName("pEwTeR"), nullptr);
    EXPECT_EQ(FindKnownArchiveByName("pewter")->size, 51332268u);
    EXPECT_EQ(ArchiveName(*FindKnownArchive(454605294)), "Quarry");
    EXPECT_EQ(FindKnownArchiveByName("Pewter.MIX"), nullptr);
    EXPECT_EQ(FindKnownArchiveByName("Pewte"), nullptr);
    EXPECT_EQ(FindKnownArchiveByName(""), nullptr);
    // A separator given is kept; a missing one is the system's own.
    EXPECT_EQ(IndexDirectory("dir"), "dir/");
    EXPECT_EQ(IndexDirectory("dir/"), "dir/");
    EXPECT_EQ(IndexDirectory("c:\\x\\"), "c:\\x\\");
    EXPECT_EQ(IndexPath("a", *FindKnownArchive(25046328)), "a/Juniper.MIX");
}

// ---- The command line

class Mixtool : public ::testing::Test {
protected:
    CommandResult Run(const std::vector<std::string>& arguments) {
        return RunProgram(MixtoolPath(), arguments, dir.Path());
    }
    // A failure: a non-zero status and exactly one line, from mixtool itself.
    void ExpectOneLineFailure(const std::vector<std::string>& arguments,
                              const std::string& expected_part) {
        std::string shown;
        for (const std::string& argument : arguments)
            shown += argument + " ";
        SCOPED_TRACE(shown);
        CommandResult result = Run(arguments);
        EXPECT_NE(result.exit_code, 0);
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.err.rfind("mixtool: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(expected_part), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("[message box]"), std::string::npos) << result.err;
    }
    std::string IndexDir() const { return dir.Path().string(); }
    void BuildDemo() {
        CommandResult built = Run({"build", "--index-dir", IndexDir(), "-o", "demo.mix",
                                   "tone:440:2", "tone:880:61.2:8000:Long one"});
        ASSERT_EQ(built.exit_code, 0) << built.err;
    }

    ScratchDir dir;
};

TEST_F(Mixtool, BuildListAndExtract) {
    BuildDemo();
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"Juniper.MIX", "demo.mix"}));
    EXPECT_EQ(std::filesystem::file_size(dir.Path() / "demo.mix"), 25046328u);

    CommandResult list = Run({"list", "--index-dir", IndexDir(), "demo.mix"});
    ASSERT_EQ(list.exit_code, 0) << list.err;
    EXPECT_EQ(list.err, "");
    // Numbered from 1, as the player shows them.
    EXPECT_NE(list.out.find("   1  Tone 440 Hz"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("00:02"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("   2  Long one"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("01:01"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("25046328 bytes (Juniper.MIX), 2 tracks"), std::string::npos)
        << list.out;

    CommandResult one =
        Run({"extract", "--index-dir", IndexDir(), "demo.mix", "--track", "2", "-o", "one.wav"});
    ASSERT_EQ(one.exit_code, 0) << one.err;
    CommandResult all = Run({"extract", "--index-dir", IndexDir(), "demo.mix", "-o", "all"});
    ASSERT_EQ(all.exit_code, 0) << all.err;
    EXPECT_EQ(all.err, ""); // no progress unless on a terminal

    // The files hold exactly what the player's decoder gives.
    ArchiveReader archive(dir / "demo.mix", IndexDir());
    ExtractedTrack first = ExtractTrack(archive, 0);
    ExtractedTrack second = ExtractTrack(archive, 1);
    EXPECT_EQ(ReadBytes(dir.Path() / "one.wav"), MakeWav(second.samples, 8000));
    EXPECT_EQ(ReadBytes(dir.Path() / "all" / "02 Long one.wav"), MakeWav(second.samples, 8000));
    EXPECT_EQ(ReadBytes(dir.Path() / "all" / "01 Tone 440 Hz.wav"), MakeWav(first.samples, 22050));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path() / "all"),
                            std::filesystem::directory_iterator()),
              2);
}

TEST_F(Mixtool, ArchiveSizeByNameOrBytes) {
    CommandResult pewter = Run(
        {"build", "--known", "pewter", "--index-dir", IndexDir(), "-o", "p.mix", "tone:300:0.1"});
    ASSERT_EQ(pewter.exit_code, 0) << pewter.err;
    EXPECT_EQ(std::filesystem::file_size(dir.Path() / "p.mix"), 51332268u);
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "Pewter.MIX"));

    CommandResult by_size = Run(
        {"build", "--size", "25046328", "--index-dir", IndexDir(), "-o", "j.mix", "tone:300:0.1"});
    ASSERT_EQ(by_size.exit_code, 0) << by_size.err;
    EXPECT_EQ(std::filesystem::file_size(dir.Path() / "j.mix"), 25046328u);
    EXPECT_EQ(dir.Entries(),
              (std::vector<std::string>{"Juniper.MIX", "Pewter.MIX", "j.mix", "p.mix"}));
}

TEST_F(Mixtool, IndexDefaultsToTheProgramsFolder) {
    // A copy of the program in the scratch folder looks for indexes there.
    std::filesystem::create_directory(dir.Path() / "bin");
    std::filesystem::copy_file(MixtoolPath(), dir.Path() / "bin" / "mixtool");
    const std::string program = (dir.Path() / "bin" / "mixtool").string();
    CommandResult built = RunProgram(program, {"build", "-o", "d.mix", "tone:440:0.2"}, dir.Path());
    ASSERT_EQ(built.exit_code, 0) << built.err;
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "bin" / "Juniper.MIX"));
    // The index's path is shown as the system writes paths.
    EXPECT_NE(built.out.find(" and " + (dir.Path() / "bin" / "Juniper.MIX").string() + "\n"),
              std::string::npos)
        << built.out;
    CommandResult list = RunProgram(program, {"list", "d.mix"}, dir.Path());
    EXPECT_EQ(list.exit_code, 0) << list.err;
    // The installed mixtool has no index beside it.
    ExpectOneLineFailure({"list", "d.mix"}, "missing index file");
}

TEST_F(Mixtool, BadInputGetsOneLineAndAFailureStatus) {
    BuildDemo();
    WriteBytes(dir.Path() / "small.mix", std::vector<std::uint8_t>(1000));
    WriteBytes(dir.Path() / "noise.wav", {'n', 'o', 'p', 'e'});
    ScratchDir empty;

    ExpectOneLineFailure({}, "no command");
    ExpectOneLineFailure({"frobnicate"}, "unknown command 'frobnicate'");
    ExpectOneLineFailure({"build", "--index-dir", IndexDir(), "tone:440:1"}, "needs -o");
    ExpectOneLineFailure({"build", "--index-dir", IndexDir(), "-o", "x.mix"}, "at least one TRACK");
    ExpectOneLineFailure({"build", "--colour", "red", "-o", "x.mix", "tone:440:1"},
                         "unknown option --colour");
    ExpectOneLineFailure({"build", "--index-dir"}, "needs a value");
    ExpectOneLineFailure({"build", "-o", "x.mix", "-o", "y.mix", "tone:440:1"}, "given twice");
    ExpectOneLineFailure(
        {"build", "--known", "Juniper", "--size", "25046328", "-o", "x.mix", "tone:440:1"},
        "not both");
    ExpectOneLineFailure(
        {"build", "--size", "12345", "--index-dir", IndexDir(), "-o", "x.mix", "tone:440:1"},
        "12345 bytes is not the size of a known archive; known: Quarry");
    ExpectOneLineFailure({"build", "--size", "25MB", "-o", "x.mix", "tone:440:1"},
                         "--size must be a whole number");
    ExpectOneLineFailure({"build", "--known", "Birch", "-o", "x.mix", "tone:440:1"},
                         "'Birch' is not a known archive");
    ExpectOneLineFailure({"build", "--index-dir", IndexDir(), "-o", "x.mix", "tone:440"},
                         "bad tone 'tone:440'");
    ExpectOneLineFailure({"build", "--index-dir", IndexDir(), "-o", "x.mix", "absent.wav"},
                         "cannot open absent.wav");
    ExpectOneLineFailure({"build", "--index-dir", IndexDir(), "-o", "x.mix", "noise.wav"},
                         "noise.wav: not a WAV file");
    ExpectOneLineFailure({"build", "--index-dir", dir / "nowhere", "-o", "x.mix", "tone:440:1"},
                         "does not exist");
    ExpectOneLineFailure({"list", "--index-dir", IndexDir()}, "exactly one archive");
    ExpectOneLineFailure({"list", "--index-dir", IndexDir(), "absent.mix"},
                         "cannot open absent.mix");
    ExpectOneLineFailure({"list", "--index-dir", IndexDir(), "small.mix"},
                         "small.mix: Not a valid Kestrel MIX file! (1000 bytes");
    ExpectOneLineFailure({"list", "--index-dir", empty.Path().string(), "demo.mix"},
                         "missing index file " + empty.Path().string() + "/Juniper.MIX");
    ExpectOneLineFailure({"extract", "--index-dir", IndexDir(), "demo.mix", "--track", "3"},
                         "track 3 does not exist (the archive has 2 tracks, numbered from 1)");
    ExpectOneLineFailure({"extract", "--index-dir", IndexDir(), "demo.mix", "--track", "0"},
                         "track 0 does not exist (the archive has 2 tracks, numbered from 1)");
    ExpectOneLineFailure({"extract", "--index-dir", IndexDir(), "demo.mix", "--track", "-1"},
                         "--track must be a whole number");
    ExpectOneLineFailure({"extract", "--index-dir", IndexDir(), "demo.mix", "-o", "small.mix"},
                         "cannot create folder small.mix");

    // Nothing half-made was left behind by any of them.
    EXPECT_EQ(dir.Entries(),
              (std::vector<std::string>{"Juniper.MIX", "demo.mix", "noise.wav", "small.mix"}));
    EXPECT_EQ(std::filesystem::file_size(dir.Path() / "small.mix"), 1000u);
}

TEST_F(Mixtool, DamagedIndexOrHeaderFailsWithoutMessageBoxes) {
    BuildDemo();
    // Track 2 now points into the zeros before the first track.
    WriteIndex(dir / "Juniper.MIX", {IndexEntry{4096, 100, 22050, "good", "", true},
                                     IndexEntry{100, 100, 22050, "bad", "", true}});
    ExpectOneLineFailure(
        {"extract", "--index-dir", IndexDir(), "demo.mix", "--track", "2", "-o", "bad.wav"},
        "track 2: Not a valid Kestrel MIX file!");
    ExpectOneLineFailure({"extract", "--index-dir", IndexDir(), "demo.mix", "-o", "out"},
                         "track 2: Not a valid Kestrel MIX file!");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "bad.wav"));
    // The track before the bad one was written whole.
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "out" / "01 good.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "out" / "02 bad.wav"));

    CommandResult list = Run({"list", "--index-dir", IndexDir(), "demo.mix"});
    EXPECT_NE(list.exit_code, 0);
    EXPECT_NE(list.out.find("--:--"), std::string::npos) << list.out;
    EXPECT_EQ(list.err, "mixtool: 1 track header(s) rejected (shown as --:--)\n");

    WriteIndexBytes(dir / "Juniper.MIX", std::vector<std::uint8_t>(59, 0xAA));
    ExpectOneLineFailure({"list", "--index-dir", IndexDir(), "demo.mix"}, "holds no track record");
}

TEST_F(Mixtool, PlaylistHasAnEntryTitleAndLengthPerTrack) {
    BuildDemo();
    // The index's titles are Windows-1252 bytes; a third record points into
    // the zeros before the first track, a header the player rejects.
    const TrackRecord first = ArchiveReader(dir / "demo.mix", IndexDir()).Track(0);
    const TrackRecord second = ArchiveReader(dir / "demo.mix", IndexDir()).Track(1);
    WriteIndex(dir / "Juniper.MIX",
               {IndexEntry{first.offset, first.size, 22050, "Tone\n440", "", true},
                IndexEntry{second.offset, second.size, 8000, "Caf\xE9 \x93", "", true},
                IndexEntry{100, 100, 22050, "bad", "", true}});
    const std::string tracks = "#EXTINF:2,Tone 440\r\n%s|1.MIX\r\n"
                               "#EXTINF:61,Caf\xC3\xA9 \xE2\x80\x9C\r\n%s|2.MIX\r\n"
                               "#EXTINF:-1,bad\r\n%s|3.MIX\r\n";
    const auto expected = [&](const std::string& archive) {
        std::string text = "#EXTM3U\r\n" + tracks;
        for (std::size_t at; (at = text.find("%s")) != std::string::npos;)
            text.replace(at, 2, archive);
        return text;
    };
    auto text = [&](const std::filesystem::path& path) {
        std::vector<std::uint8_t> bytes = ReadBytes(path);
        return std::string(bytes.begin(), bytes.end());
    };

    // Beside the archive (the default place): the archive's file name.
    CommandResult beside = Run({"playlist", "--index-dir", IndexDir(), "demo.mix"});
    ASSERT_EQ(beside.exit_code, 0) << beside.err;
    EXPECT_EQ(beside.err, "");
    EXPECT_EQ(text(dir.Path() / "demo.m3u8"), expected("demo.mix"));
    // Elsewhere, or on standard output: its absolute path.
    const std::string absolute = (std::filesystem::canonical(dir.Path()) / "demo.mix").string();
    std::filesystem::create_directory(dir.Path() / "lists");
    CommandResult elsewhere =
        Run({"playlist", "--index-dir", IndexDir(), "demo.mix", "-o", "lists/x.m3u8"});
    ASSERT_EQ(elsewhere.exit_code, 0) << elsewhere.err;
    EXPECT_EQ(text(dir.Path() / "lists" / "x.m3u8"), expected(absolute));
    CommandResult out = Run({"playlist", "--index-dir", IndexDir(), "demo.mix", "-o", "-"});
    EXPECT_EQ(out.out, expected(absolute));

    // A folder whose path makes the full names longer than the player
    // keeps: a warning, and the entries the file name alone; on standard
    // output there is no short form left.
    const std::filesystem::path deep = dir.Path() / std::string(120, 'd') / std::string(120, 'e');
    std::filesystem::create_directories(deep);
    std::filesystem::create_symlink(dir.Path() / "demo.mix", deep / "demo.mix");
    CommandResult cut =
        RunProgram(MixtoolPath(), {"playlist", "--index-dir", IndexDir(), "demo.mix"}, deep);
    ASSERT_EQ(cut.exit_code, 0) << cut.err;
    EXPECT_NE(cut.err.find("mixtool: warning: 3 of 3 entries (from track 1) are longer than 259"),
              std::string::npos)
        << cut.err;
    EXPECT_EQ(text(deep / "demo.m3u8"), expected("demo.mix"));
    CommandResult none = RunProgram(
        MixtoolPath(), {"playlist", "--index-dir", IndexDir(), "demo.mix", "-o", "-"}, deep);
    EXPECT_NE(none.exit_code, 0);
    EXPECT_NE(none.err.find("track 1: its entry is longer than 259 characters"), std::string::npos)
        << none.err;
}

TEST_F(Mixtool, FailedBuildKeepsTheOldArchiveAndIndex) {
    BuildDemo();
    std::vector<std::uint8_t> archive = ReadBytes(dir.Path() / "demo.mix");
    std::vector<std::uint8_t> index = ReadBytes(dir.Path() / "Juniper.MIX");
    ExpectOneLineFailure(
        {"build", "--index-dir", IndexDir(), "-o", "demo.mix", "tone:500:1", "tone:500:1:7"},
        "bad tone 'tone:500:1:7'");
    EXPECT_EQ(ReadBytes(dir.Path() / "demo.mix"), archive);
    EXPECT_EQ(ReadBytes(dir.Path() / "Juniper.MIX"), index);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"Juniper.MIX", "demo.mix"}));
}

} // namespace
