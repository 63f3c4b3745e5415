// Writes the fuzz targets' seed corpora with the project's own ADPCM encoder
// and index writer: valid indexes and track streams, and the edge cases the
// formats have (text lengths at and past their fields, chunks of size 0 and
// 513, a wrong signature, headers and chunks cut short).
//
// usage: make_seeds CORPUS_DIR   (writes CORPUS_DIR/<target>/<name>)
#include "catalogue/track_record.h"
#include "decoder/track_stream.h"
#include "tools/mixlib/adpcm_encoder.h"
#include "tools/mixlib/index_writer.h"
#include "tools/mixlib/mix_error.h"
#include "tools/mixlib/tone.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::filesystem::path corpus;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
    std::filesystem::path folder = corpus / target;
    std::filesystem::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw MixError("cannot write " + (folder / name).string());
}

void PutLe(Bytes& bytes, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// --- Track indexes -------------------------------------------------------

Bytes Scrambled(std::vector<StoredRecord> records) {
    Bytes bytes;
    for (StoredRecord& record : records) {
        DescrambleRecord(record.data()); // the XOR is its own inverse
        bytes.insert(bytes.end(), record.begin(), record.end());
    }
    return bytes;
}

IndexEntry Entry(std::uint32_t offset, std::uint32_t size, std::uint16_t rate, std::string title,
                 std::string short_text, bool enabled = true) {
    IndexEntry entry;
    entry.offset = offset;
    entry.size = size;
    entry.sample_rate = rate;
    entry.title = std::move(title);
    entry.short_text = std::move(short_text);
    entry.enabled = enabled;
    return entry;
}

// A record whose stored length bytes say what they like.
StoredRecord WithLengths(const IndexEntry& entry, std::uint8_t title_length,
                         std::uint8_t short_length) {
    StoredRecord record = MakeStoredRecord(entry);
    record[kStoredTitleLength] = title_length;
    record[kStoredShortTextLength] = short_length;
    return record;
}

void IndexSeeds() {
    const std::string target = "fuzz_track_index";
    const std::string full(39, 'T');
    std::vector<StoredRecord> valid = {
        MakeStoredRecord(Entry(4096, 520000, 22050, "Opening Theme", "OPEN")),
        MakeStoredRecord(Entry(524112, 31200, 11025, "", "")),
        MakeStoredRecord(Entry(555328, 1040, 44100, full, "EIGHTCHR")),
    };
    Bytes three = Scrambled(valid);
    Write(target, "three_tracks", three);
    Write(target, "empty", {});
    Write(target, "one_short_of_a_record", Bytes(three.begin(), three.begin() + 59));
    Write(target, "two_and_59_bytes", Bytes(three.begin(), three.begin() + 2 * 60 + 59));
    Write(target, "one_track", Bytes(three.begin(), three.begin() + 60));

    std::vector<StoredRecord> lengths = {
        WithLengths(Entry(4096, 1000, 22050, full, "ABCDEFGH"), 0, 0),
        WithLengths(Entry(8192, 2000, 22050, full, "ABCDEFGH"), 39, 8),
        WithLengths(Entry(12288, 3000, 22050, full, "ABCDEFGH"), 40, 9),
        WithLengths(Entry(16384, 4000, 22050, full, "ABCDEFGH"), 0xFF, 0xFF), // -1
        WithLengths(Entry(20480, 5000, 22050, full, "ABCDEFGH"), 0x7F, 0x80),
    };
    Write(target, "text_lengths", Scrambled(lengths));

    // Some tracks left disabled in the file, and sizes whose sum wraps.
    std::vector<StoredRecord> mixed = {
        MakeStoredRecord(Entry(4096, 0xFFFFFFF0u, 22050, "Disabled", "", false)),
        MakeStoredRecord(Entry(8192, 0x20, 100, "Enabled", "X", true)),
        MakeStoredRecord(Entry(0xFFFFFFFFu, 0, 0, "Disabled too", "", false)),
        MakeStoredRecord(Entry(12288, 64, 65535, "Last", "Y", false)),
    };
    Write(target, "mixed_flags", Scrambled(mixed));
}

// --- Track streams -------------------------------------------------------

// A track as EncodeTrack lays it out, split into its header and the ADPCM
// data of all its chunks.
struct Track {
    Bytes header;
    Bytes codes;
};

Track EncodedTone(double frequency, double seconds, std::uint16_t rate) {
    Tone tone;
    tone.frequency = frequency;
    tone.seconds = seconds;
    tone.sample_rate = rate;
    EncodedTrack encoded = EncodeTrack(MakeTone(tone), rate);
    Track track;
    track.header.assign(encoded.bytes.begin(), encoded.bytes.begin() + kTrackHeaderBytes);
    for (std::size_t at = kTrackHeaderBytes; at + kChunkHeaderBytes <= encoded.bytes.size();) {
        ChunkHeader chunk;
        std::memcpy(&chunk, encoded.bytes.data() + at, kChunkHeaderBytes);
        at += kChunkHeaderBytes;
        track.codes.insert(track.codes.end(), encoded.bytes.begin() + at,
                           encoded.bytes.begin() + at + chunk.data_size);
        at += chunk.data_size;
    }
    return track;
}

void PutChunkHeader(Bytes& bytes, std::uint32_t data_size,
                    std::uint16_t signature = kChunkSignature) {
    PutLe(bytes, data_size, 2);
    PutLe(bytes, data_size * kPcmBytesPerDataByte, 2);
    PutLe(bytes, signature, 2);
    PutLe(bytes, 0, 2);
}

// The codes cut into chunks of the given sizes, taken in turn from the start.
Bytes Chunks(const Bytes& codes, const std::vector<std::size_t>& sizes) {
    Bytes bytes;
    std::size_t at = 0;
    for (std::size_t size : sizes) {
        PutChunkHeader(bytes, static_cast<std::uint32_t>(size));
        for (std::size_t i = 0; i < size; ++i)
            bytes.push_back(codes[(at + i) % codes.size()]);
        at += size;
    }
    return bytes;
}

struct Operation {
    int kind;  // 0 decode, 1 forward by, 2 rewind to, 3 forward to
    int value; // 0..16383; from 16128 on, blocks and absolute seeks are huge
};

constexpr int kPadded = 0x20;             // 13 bytes in front of the track header
constexpr int kRepeatedEightTimes = 0x40; // the chunk stream, in the file
constexpr int kRepeated64Times = 0x80;

// The fuzzer's input: operation count and layout, the operations, the track.
Bytes StreamInput(int layout, const std::vector<Operation>& operations, const Bytes& track) {
    Bytes bytes;
    bytes.push_back(static_cast<std::uint8_t>(operations.size() | layout));
    for (const Operation& operation : operations) {
        bytes.push_back(static_cast<std::uint8_t>(operation.kind | ((operation.value >> 8) << 2)));
        bytes.push_back(static_cast<std::uint8_t>(operation.value & 0xFF));
    }
    bytes.insert(bytes.end(), track.begin(), track.end());
    return bytes;
}

Bytes Join(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

void StreamSeeds() {
    const std::string target = "fuzz_track_stream";
    const std::vector<Operation> mixed = {{0, 15}, {1, 100},  {0, 1160}, {2, 300},
                                          {0, 8},  {0, 7},    {3, 50},   {2, 0},
                                          {1, 4},  {0, 2000}, {2, 999},  {0, 11}};
    Track short_tone = EncodedTone(440, 0.01, 22050); // 221 samples, 111 data bytes
    Track long_tone = EncodedTone(1000, 1.0, 11025);  // 5513 data bytes

    // As the encoder wrote it: one chunk.
    Bytes whole = Join(short_tone.header, Chunks(short_tone.codes, {short_tone.codes.size()}));
    Write(target, "one_chunk", StreamInput(0, {}, whole));
    Write(target, "one_chunk_padded", StreamInput(kPadded, mixed, whole));

    Bytes three = Join(short_tone.header, Chunks(short_tone.codes, {40, 1, 70}));
    Write(target, "three_short_chunks", StreamInput(0, mixed, three));

    // Long enough for three seek checkpoints (every 8192 PCM bytes), then
    // the same with its last chunk cut short.
    const std::vector<Operation> late = {{2, 6000}, {0, 5000}, {2, 2800}, {3, 4000}, {0, 9000},
                                         {2, 4},    {1, 9000}, {0, 4000}, {2, 5900}, {3, 6100}};
    Bytes longer =
        Join(long_tone.header, Chunks(long_tone.codes, std::vector<std::size_t>(9, 512)));
    Write(target, "nine_full_chunks", StreamInput(kPadded, mixed, longer));
    // Repeated: a track as long as the fuzzer makes them, with more checkpoints.
    Write(target, "nine_chunks_eight_times", StreamInput(kRepeatedEightTimes, late, longer));
    Write(target, "three_chunks_64_times",
          StreamInput(kPadded | kRepeated64Times, late,
                      Join(short_tone.header, Chunks(short_tone.codes, {40, 1, 70, 511}))));
    Bytes cut(longer.begin(), longer.end() - 300);
    Write(target, "last_chunk_cut_short", StreamInput(0, late, cut));

    // Blocks and seeks of nearly 2^31 bytes, from the start and at the end.
    const std::vector<Operation> huge = {{2, 0},     {0, 16128}, {2, 40},    {3, 16131},
                                         {0, 16200}, {2, 0},     {0, 16383}, {3, 16383}};
    Write(target, "huge_counts", StreamInput(0, huge, three));

    Bytes zero = Join(short_tone.header, Chunks(short_tone.codes, {40}));
    PutChunkHeader(zero, 0);
    zero = Join(zero, Chunks(short_tone.codes, {30}));
    Write(target, "chunk_of_size_0", StreamInput(0, mixed, zero));

    Bytes oversized = Join(short_tone.header, Chunks(short_tone.codes, {40, 513}));
    Write(target, "chunk_of_size_513", StreamInput(0, mixed, oversized));

    Bytes bad = Join(short_tone.header, Chunks(short_tone.codes, {40}));
    PutChunkHeader(bad, 30, 0xDEAE);
    bad = Join(bad, Bytes(short_tone.codes.begin(), short_tone.codes.begin() + 30));
    Write(target, "bad_signature", StreamInput(0, mixed, bad));

    Bytes cut_chunk_header = Join(short_tone.header, Chunks(short_tone.codes, {40}));
    cut_chunk_header.insert(cut_chunk_header.end(), {0x10, 0x00, 0x40, 0x00, 0xAF});
    Write(target, "chunk_header_cut_short", StreamInput(0, mixed, cut_chunk_header));

    Bytes cut_data = Join(short_tone.header, Chunks(short_tone.codes, {40, 100}));
    cut_data.resize(cut_data.size() - 70);
    Write(target, "chunk_data_cut_short", StreamInput(0, mixed, cut_data));

    Bytes no_data = Join(short_tone.header, Chunks(short_tone.codes, {40}));
    PutChunkHeader(no_data, 20);
    Write(target, "chunk_without_data", StreamInput(0, mixed, no_data));

    Write(target, "header_only", StreamInput(0, mixed, short_tone.header));
    Write(target, "header_cut_short",
          StreamInput(0, {}, Bytes(short_tone.header.begin(), short_tone.header.begin() + 7)));

    Bytes bad_magic = three;
    bad_magic[11] = 0x64;
    Write(target, "bad_magic", StreamInput(0, mixed, bad_magic));
    Bytes low_rate = three;
    low_rate[0] = 99;
    low_rate[1] = 0;
    Write(target, "rate_below_100", StreamInput(0, {}, low_rate));
}

// --- Text formatters -----------------------------------------------------

// A record in memory form, then the value for FormatDecimal.
Bytes TextInput(std::uint32_t size, std::uint16_t rate, std::uint64_t value) {
    TrackRecord record{};
    record.size = size;
    record.sample_rate = rate;
    std::strcpy(record.title, "Seed");
    record.flags = kTrackEnabled;
    Bytes bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    PutLe(bytes, static_cast<std::uint32_t>(value), 4);
    PutLe(bytes, static_cast<std::uint32_t>(value >> 32), 4);
    return bytes;
}

void TextSeeds() {
    const std::string target = "fuzz_text_format";
    Write(target, "46_seconds", TextInput(520000, 22050, 1000000));
    Write(target, "size_0", TextInput(0, 44100, 0));
    Write(target, "rate_99", TextInput(520000, 99, 4000000));
    Write(target, "rate_100", TextInput(520000, 100, 9));
    Write(target, "wraps_32_bits", TextInput(109051930, 100, 536870912ull * 4));
    Write(target, "largest", TextInput(0xFFFFFFFFu, 100, UINT64_MAX));
    Write(target, "record_only", Bytes(sizeof(TrackRecord), 0x5A));
    Write(target, "short", Bytes{0x10, 0x27});
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds CORPUS_DIR\n");
        return 2;
    }
    corpus = argv[1];
    try {
        IndexSeeds();
        StreamSeeds();
        TextSeeds();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_seeds: %s\n", error.what());
        return 1;
    }
    return 0;
}
