// Fuzzes the track stream: a track header and its chunks, decoded in memory
// through ReadTrackHeader and the track decoder's Read and Seek. A model
// decoder written here from the format's rules gives the PCM and the decoder
// state expected at every position; a first pass decodes the whole stream
// straight, then operations taken from the input's first bytes decode blocks
// of odd sizes and seek forward and back, each checked against the model.
//
// Input: byte 0 gives the operation count (low 5 bits), whether the track
// header has padding in front of it (bit 5) and how often the chunk stream
// repeats in the archive image (bits 6-7: 1, 8, 64 or 512 times, at most
// 16 KiB), so that small inputs make long tracks with many seek checkpoints;
// then 2 bytes per operation; the rest is the track as stored in an archive.
#include "decoder/adpcm.h"
#include "decoder/byte_source.h"
#include "decoder/track_decoder.h"
#include "decoder/track_stream.h"
#include "fuzz/fuzz_scratch.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kStraightBlockBytes = 576 * 2; // one playback block of 16-bit mono
constexpr std::uint8_t kCanary = 0xA5;
// Block and absolute seek operations with a value from here on ask for
// nearly 2^31 bytes.
constexpr int kHugeCounts = 16128;
constexpr int kPaddingBytes = 13;
constexpr std::size_t kLargestFile = 16 * 1024;

struct Decoder {
    std::int32_t step_index = 0;
    std::int32_t sample = 0;
    std::int32_t step = 0;
    bool operator==(const Decoder&) const = default;
};

// The model's ADPCM steps are left out of libFuzzer's instrumentation, as the
// decoder's arithmetic is out of its comparison tracing (CMakeLists.txt):
// tracing them took a good part of every run and tells the fuzzer nothing.
#if defined(__clang__)
#define NOT_INSTRUMENTED __attribute__((noinline, no_sanitize("coverage")))
#define NOT_INSTRUMENTED_INLINE __attribute__((always_inline, no_sanitize("coverage")))
#else
#define NOT_INSTRUMENTED
#define NOT_INSTRUMENTED_INLINE
#endif

NOT_INSTRUMENTED_INLINE inline std::int32_t Clamp(std::int32_t value, std::int32_t low,
                                                  std::int32_t high) {
    return value < low ? low : value > high ? high : value;
}

NOT_INSTRUMENTED_INLINE inline std::int16_t ModelNibble(Decoder& state, unsigned code) {
    std::int32_t delta = static_cast<std::int32_t>((code & 7) * 2 + 1) * state.step / 8;
    if (code & 8)
        delta = -delta;
    state.sample = Clamp(state.sample + delta, -32768, 32767);
    state.step_index += (code & 4) ? static_cast<std::int32_t>(code & 3) * 2 + 2 : -1;
    state.step_index = Clamp(state.step_index, 0, kStepTableSize - 1);
    state.step = kStepTable[state.step_index];
    return static_cast<std::int16_t>(state.sample);
}

// Steps `state` through `count` data bytes, low nibble first, and stores the
// samples little-endian at `pcm` unless it is null.
NOT_INSTRUMENTED void ModelBytes(Decoder& state, const std::uint8_t* codes, std::size_t count,
                                 std::uint8_t* pcm) {
    for (std::size_t k = 0; k < count; ++k) {
        for (unsigned code : {codes[k] & 0x0Fu, static_cast<unsigned>(codes[k] >> 4)}) {
            auto sample = static_cast<std::uint16_t>(ModelNibble(state, code));
            if (pcm) {
                *pcm++ = static_cast<std::uint8_t>(sample & 0xFF);
                *pcm++ = static_cast<std::uint8_t>(sample >> 8);
            }
        }
    }
}

unsigned Le16(const std::uint8_t* bytes) {
    return bytes[0] | (bytes[1] << 8);
}

std::uint32_t Le32(const std::uint8_t* bytes) {
    return Le16(bytes) | static_cast<std::uint32_t>(Le16(bytes + 2)) << 16;
}

// Data bytes between the decoder states the model keeps; a state between
// them is found by stepping on from the one before.
constexpr std::size_t kModelStateEvery = 64;

// The whole stream as playback would give it: the PCM, every data byte as
// decoded, and the decoder state before every kModelStateEvery-th of them.
struct Model {
    std::vector<std::uint8_t> pcm;
    std::vector<std::uint8_t> codes;
    std::vector<Decoder> states;
    int Total() const { return static_cast<int>(pcm.size()); }
    Decoder At(int position) const {
        const std::size_t bytes = static_cast<std::size_t>(position) / kPcmBytesPerDataByte;
        const std::size_t from = bytes / kModelStateEvery;
        Decoder state = states[from];
        const std::size_t start = from * kModelStateEvery;
        ModelBytes(state, codes.data() + start, bytes - start, nullptr);
        return state;
    }
};

// `stream` is what follows the track header. The chunk buffer starts zeroed,
// as a new decoder's does; a chunk cut short decodes its tail from it.
Model DecodeModel(const std::uint8_t* stream, std::size_t size) {
    Model model;
    // Enough for a stream of whole chunks, so that it rarely grows.
    model.codes.reserve(size);
    model.pcm.reserve(size * kPcmBytesPerDataByte);
    model.states.reserve(size / kModelStateEvery + 2);
    std::uint8_t buffer[kChunkDataBytes] = {};
    Decoder state;
    std::size_t at = 0;
    while (size - at >= static_cast<std::size_t>(kChunkHeaderBytes)) {
        unsigned data_size = Le16(stream + at);
        unsigned signature = Le16(stream + at + 4);
        at += kChunkHeaderBytes;
        if (signature != kChunkSignature || data_size == 0 || data_size > kChunkDataBytes)
            break;
        std::size_t available = std::min<std::size_t>(data_size, size - at);
        if (available == 0)
            break;
        std::memcpy(buffer, stream + at, available);
        at += available;
        const std::size_t had = model.codes.size();
        model.codes.insert(model.codes.end(), buffer, buffer + data_size);
        model.pcm.resize((had + data_size) * kPcmBytesPerDataByte);
        // In runs that end where the model keeps a state.
        for (std::size_t k = 0; k < data_size;) {
            const std::size_t byte = had + k;
            if (byte % kModelStateEvery == 0)
                model.states.push_back(state);
            const std::size_t run =
                std::min<std::size_t>(data_size - k, kModelStateEvery - byte % kModelStateEvery);
            ModelBytes(state, buffer + k, run, model.pcm.data() + byte * kPcmBytesPerDataByte);
            k += run;
        }
    }
    // The state after the last byte, when it begins a new stretch.
    if (model.codes.size() % kModelStateEvery == 0)
        model.states.push_back(state);
    return model;
}

// What the decoder is expected to stand at, kept beside it.
struct Expected {
    const Model& model;
    int position = 0;
    bool ended = false;
};

void CheckState(const TrackDecoder& decoder, const Expected& expected) {
    const AdpcmState adpcm = decoder.state();
    FUZZ_CHECK(adpcm.step_index >= 0 && adpcm.step_index < kStepTableSize);
    FUZZ_CHECK(adpcm.sample >= -32768 && adpcm.sample <= 32767);
    // Only the state a rewind leaves has a step outside the table.
    FUZZ_CHECK(adpcm.step == kStepTable[adpcm.step_index] ||
               (adpcm.step == 0 && adpcm.step_index == 0 && adpcm.sample == 0));
    FUZZ_CHECK(decoder.position() % kPcmBytesPerDataByte == 0);
    FUZZ_CHECK(decoder.position() == expected.position);
    FUZZ_CHECK(decoder.ended() == expected.ended);
    Decoder actual{adpcm.step_index, adpcm.sample, adpcm.step};
    FUZZ_CHECK(actual == expected.model.At(expected.position));
}

// One Read into a buffer of exactly the rounded-up size (or, for counts far
// beyond the stream, of what is left of it).
int Decode(TrackDecoder& decoder, Expected& expected, int count) {
    const std::int64_t rounded = count > 0 ? (std::int64_t{count} + 3) / 4 * 4 : 0;
    const int available = expected.model.Total() - expected.position;
    const int room = static_cast<int>(std::min<std::int64_t>(rounded, available));
    std::unique_ptr<char[]> buffer(new char[std::max(room, 1)]);
    std::memset(buffer.get(), kCanary, std::max(room, 1));
    const int written = decoder.Read(buffer.get(), count);

    int want = 0;
    if (!expected.ended && rounded > 0) {
        want = room;
        expected.ended = rounded > available;
    }
    FUZZ_CHECK(written == want);
    FUZZ_CHECK(written % kPcmBytesPerDataByte == 0);
    FUZZ_CHECK(written == 0 ||
               std::memcmp(buffer.get(), expected.model.pcm.data() + expected.position, written) ==
                   0);
    for (int i = written; i < room; ++i)
        FUZZ_CHECK(static_cast<std::uint8_t>(buffer[i]) == kCanary);
    expected.position += written;
    CheckState(decoder, expected);
    return written;
}

void Seek(TrackDecoder& decoder, Expected& expected, int target, bool rewind) {
    decoder.Seek(target, rewind);
    if (rewind) {
        expected.position = 0;
        expected.ended = false;
    }
    if (!expected.ended && target > expected.position) {
        const std::int64_t reached = (std::int64_t{target} + 3) / 4 * 4;
        expected.ended = reached > expected.model.Total();
        expected.position =
            static_cast<int>(std::min<std::int64_t>(reached, expected.model.Total()));
    }
    CheckState(decoder, expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const int operations = std::min<int>(data[0] & 0x1F, static_cast<int>((size - 1) / 2));
    const int padding = (data[0] & 0x20) ? kPaddingBytes : 0;
    const std::uint8_t* controls = data + 1;
    const std::uint8_t* track = controls + 2 * operations;
    const std::size_t track_size = size - 1 - 2 * operations;
    const std::size_t header_bytes = std::min<std::size_t>(track_size, kTrackHeaderBytes);

    std::vector<std::uint8_t> file(padding, 0xEE);
    file.insert(file.end(), track, track + header_bytes);
    const std::size_t stream_bytes = track_size - header_bytes;
    const std::size_t repeats = std::max<std::size_t>(
        1, std::min<std::size_t>(std::size_t{1} << (3 * (data[0] >> 6)),
                                 kLargestFile / std::max<std::size_t>(stream_bytes, 1)));
    file.reserve(file.size() + repeats * stream_bytes);
    for (std::size_t i = 0; i < repeats; ++i)
        file.insert(file.end(), track + header_bytes, track + track_size);
    MemorySource archive(file.data(), file.size());

    // A chunk cut short decodes its tail from the decoder's buffer: a new
    // decoder for each input, so that runs repeat exactly.
    TrackDecoder decoder;
    decoder.Attach(&archive, static_cast<std::uint32_t>(padding));

    TrackHeader header{};
    const bool accepted = ReadTrackHeader(archive, static_cast<std::uint32_t>(padding), &header);
    const bool acceptable = track_size >= static_cast<std::size_t>(kTrackHeaderBytes) &&
                            Le16(track + 10) == kTrackHeaderMagic &&
                            Le16(track) >= static_cast<unsigned>(kLowestSampleRate);
    FUZZ_CHECK(accepted == acceptable);
    if (accepted)
        FUZZ_CHECK(std::memcmp(&header, track, kTrackHeaderBytes) == 0);

    // The decoder does not depend on the header: decode whatever follows it.
    const std::size_t stream_start = padding + header_bytes;
    const Model model = DecodeModel(file.data() + stream_start, file.size() - stream_start);
    Expected expected{model};

    // As a track start does: seek checkpoints sized by the header's output
    // size, which need not match the stream.
    const std::uint32_t output_size = track_size >= static_cast<std::size_t>(kTrackHeaderBytes)
                                          ? Le32(track + offsetof(TrackHeader, output_size))
                                          : 0;
    decoder.checkpoints().Prepare(static_cast<std::int32_t>(output_size));

    Seek(decoder, expected, 0, true);
    while (Decode(decoder, expected, kStraightBlockBytes) > 0) {
    }
    FUZZ_CHECK(expected.position == model.Total() && expected.ended);

    for (int i = 0; i < operations; ++i) {
        const std::uint8_t kind = controls[2 * i] & 3;
        const int value = ((controls[2 * i] >> 2) << 8) | controls[2 * i + 1];
        switch (kind) {
        case 0: // a block of any size, odd, zero, negative and huge ones included
            Decode(decoder, expected, value < kHugeCounts ? value - 8 : INT32_MAX - (value & 0xFF));
            break;
        case 1: // forward by a distance
            Seek(decoder, expected, expected.position + value, false);
            break;
        case 2: // back, then on to a target (a checkpoint may serve it)
            Seek(decoder, expected, value * 11 - 4, true);
            break;
        default: // to an absolute target, behind the current position or not
            Seek(decoder, expected, value < kHugeCounts ? value * 11 : INT32_MAX - (value & 0xFF),
                 false);
            break;
        }
    }
    return 0;
}
