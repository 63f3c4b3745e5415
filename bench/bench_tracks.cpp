#include "bench/bench_tracks.h"
#include "decoder/track_stream.h"
#include "tools/mixlib/archive_builder.h"
#include "tools/mixlib/mix_error.h"
#include "tools/mixlib/tone.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <stdexcept>

namespace {

constexpr double kToneHz = 440;
constexpr std::uint32_t kNoiseSeed = 20240611;

// A small generator of its own, so that every build makes the same tracks.
class Noise {
public:
    explicit Noise(std::uint32_t seed) : state_(seed) {}
    std::uint32_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_;
    }
    // -1 to 1.
    double Signed() { return static_cast<double>(Next() >> 8) / (1 << 23) - 1; }

private:
    std::uint32_t state_;
};

// Chords that change every two seconds, struck on every beat and dying away,
// over a bass note, with a noise burst on every other beat and a quiet noise
// floor: about the mix of tones and noise a game's music holds.
std::vector<std::int16_t> MusicSamples(std::uint16_t rate, double seconds) {
    // A minor, F major, C major, G major, as frequencies of three notes.
    static constexpr double kChords[4][3] = {
        {220.00, 261.63, 329.63},
        {174.61, 220.00, 261.63},
        {261.63, 329.63, 392.00},
        {196.00, 246.94, 293.66},
    };
    constexpr double kBeatSeconds = 0.5;
    constexpr double kChordSeconds = 2.0;
    const double two_pi = 2 * std::numbers::pi;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(rate * seconds));
    Noise noise(kNoiseSeed);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double* chord = kChords[static_cast<std::size_t>(t / kChordSeconds) % 4];
        const double since_beat = std::fmod(t, kBeatSeconds);
        const double struck = std::exp(-3 * since_beat);
        double v = 0;
        for (int note = 0; note < 3; ++note)
            v += 4500 * struck * std::sin(two_pi * chord[note] * t);
        v += 6000 * std::sin(two_pi * chord[0] / 2 * t);
        const bool drum_beat = static_cast<long>(t / kBeatSeconds) % 2 == 1;
        v += (drum_beat ? 9000 * std::exp(-25 * since_beat) : 0) * noise.Signed();
        v += 600 * noise.Signed();
        samples[i] = static_cast<std::int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
    }
    return samples;
}

// Writes random bytes over the data of every chunk of the track at
// `track_offset`, leaving the chunk headers as they are.
void ReplaceCodesWithNoise(const std::string& archive_path, std::uint64_t track_offset) {
    std::fstream file(archive_path, std::ios::in | std::ios::out | std::ios::binary);
    Noise noise(kNoiseSeed);
    std::uint64_t at = track_offset + kTrackHeaderBytes;
    std::vector<char> data(kChunkDataBytes);
    for (;;) {
        ChunkHeader header{};
        file.seekg(static_cast<std::streamoff>(at));
        if (!file.read(reinterpret_cast<char*>(&header), kChunkHeaderBytes) ||
            header.signature != kChunkSignature || header.data_size == 0 ||
            header.data_size > kChunkDataBytes)
            break;
        at += kChunkHeaderBytes;
        for (std::size_t i = 0; i < header.data_size; ++i)
            data[i] = static_cast<char>(noise.Next() >> 24);
        file.seekp(static_cast<std::streamoff>(at));
        file.write(data.data(), header.data_size);
        at += header.data_size;
    }
    file.clear();
    if (!file.flush())
        throw std::runtime_error("cannot write random codes into " + archive_path);
}

} // namespace

const char* CodeKindName(CodeKind kind) {
    switch (kind) {
    case CodeKind::kTone:
        return "tone";
    case CodeKind::kRandom:
        return "random";
    case CodeKind::kMusic:
        return "music";
    }
    return "?";
}

bool ParseCodeKind(const std::string& name, CodeKind* kind) {
    for (CodeKind each : {CodeKind::kTone, CodeKind::kRandom, CodeKind::kMusic}) {
        if (name == CodeKindName(each)) {
            *kind = each;
            return true;
        }
    }
    return false;
}

IndexEntry BuildBenchArchive(CodeKind kind, const std::string& archive_path,
                             const KnownArchive& known, const std::string& index_dir,
                             std::uint16_t sample_rate, double seconds) {
    TrackSource track{CodeKindName(kind), sample_rate, {}};
    switch (kind) {
    case CodeKind::kTone:
        track.samples = MakeTone(Tone{kToneHz, seconds, sample_rate, track.title});
        break;
    case CodeKind::kRandom:
        // Any samples of the length: their codes are replaced below.
        track.samples.assign(static_cast<std::size_t>(sample_rate * seconds), 0);
        break;
    case CodeKind::kMusic:
        track.samples = MusicSamples(sample_rate, seconds);
        break;
    }
    const BuiltArchive built = BuildArchive(archive_path, known, index_dir, {track});
    if (kind == CodeKind::kRandom)
        ReplaceCodesWithNoise(archive_path, built.tracks[0].entry.offset);
    return built.tracks[0].entry;
}

std::vector<std::uint8_t> TrackCodes(ByteSource& source, std::uint64_t track_offset) {
    std::vector<std::uint8_t> codes;
    std::uint64_t at = track_offset + kTrackHeaderBytes;
    for (;;) {
        ChunkHeader header{};
        if (source.ReadAt(at, &header, kChunkHeaderBytes) != kChunkHeaderBytes ||
            header.signature != kChunkSignature || header.data_size == 0 ||
            header.data_size > kChunkDataBytes)
            break;
        at += kChunkHeaderBytes;
        const std::size_t had = codes.size();
        codes.resize(had + header.data_size);
        const std::size_t got = source.ReadAt(at, codes.data() + had, header.data_size);
        codes.resize(had + got);
        if (got < header.data_size)
            break;
        at += got;
    }
    return codes;
}
