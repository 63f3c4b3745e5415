// Decoding speed. DecodeBlock runs as the playback thread runs it: 1152-byte
// blocks from a track in a real archive file, chunk reads included. Beside
// it, the bare ADPCM step over the same codes in memory: the most any block
// decoder could reach, the mark the block path is measured against.
#include "bench/nibble_loop.h"
#include "core/player_state.h"
#include "decoder/track_stream.h"
#include "tools/mixlib/archive_builder.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kBlockBytes = 1152; // 576 samples, what the playback loop asks for
constexpr std::uint16_t kRate = 22050;
constexpr int kSeconds = 60;

// Something like music: a few partials whose levels drift, and some noise, so
// that the codes vary the way real tracks make them.
std::vector<std::int16_t> MusicLikeSamples() {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(kRate) * kSeconds);
    std::uint32_t noise = 12345;
    const double pi = std::acos(-1.0);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        double t = static_cast<double>(i) / kRate;
        double level = 0.5 + 0.5 * std::sin(2 * pi * 0.25 * t);
        double v = 9000 * level * std::sin(2 * pi * 220 * t) +
                   5000 * std::sin(2 * pi * 330.5 * t + 1) +
                   3000 * (1 - level) * std::sin(2 * pi * 1760 * t);
        noise = noise * 1664525u + 1013904223u;
        v += static_cast<double>(static_cast<std::int32_t>(noise >> 16) - 32768) / 16;
        samples[i] = static_cast<std::int16_t>(std::lround(v));
    }
    return samples;
}

// An archive with one track, built once for all benchmarks, and the track's
// ADPCM codes (the chunks' data without their headers) read back from it.
class BenchArchive {
public:
    BenchArchive() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestrel-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        dir_ = pattern + "/";
        archive_path_ = dir_ + "bench.mix";
        built_ = BuildArchive(archive_path_, kKnownArchives[2], dir_,
                              {TrackSource{"Bench", kRate, MusicLikeSamples()}});
        ReadCodes();
    }
    ~BenchArchive() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    const std::string& Dir() const { return dir_; }
    const std::string& ArchivePath() const { return archive_path_; }
    const std::vector<std::uint8_t>& Codes() const { return codes_; }
    const std::vector<std::int16_t>& Decoded() const { return built_.tracks[0].decoded; }
    const IndexEntry& Track() const { return built_.tracks[0].entry; }

private:
    void ReadCodes() {
        const IndexEntry& entry = built_.tracks[0].entry;
        std::ifstream in(archive_path_, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(entry.offset) + kTrackHeaderBytes);
        std::uint64_t left = entry.size - kTrackHeaderBytes;
        while (left >= static_cast<std::uint64_t>(kChunkHeaderBytes)) {
            ChunkHeader header{};
            in.read(reinterpret_cast<char*>(&header), kChunkHeaderBytes);
            std::size_t at = codes_.size();
            codes_.resize(at + header.data_size);
            in.read(reinterpret_cast<char*>(codes_.data() + at), header.data_size);
            left -= kChunkHeaderBytes + header.data_size;
        }
        if (!in)
            throw std::runtime_error("cannot read the track back");
    }

    std::string dir_;
    std::string archive_path_;
    BuiltArchive built_;
    std::vector<std::uint8_t> codes_;
};

BenchArchive& Archive() {
    static BenchArchive archive;
    return archive;
}

void BM_DecodeBlockFromArchive(benchmark::State& state) {
    BenchArchive& archive = Archive();
    PlayerState player;
    player.InitPlayer(nullptr, archive.Dir().c_str());
    if (player.OpenArchive(archive.ArchivePath().c_str()) != 0 || player.SelectTrack(0) != 1) {
        state.SkipWithError("the bench archive does not open");
        return;
    }
    std::vector<char> block(kBlockBytes);

    // Once, untimed: the block path gives what the encoder says it should.
    player.SeekStream(0, 1);
    std::vector<std::int16_t> heard;
    for (int got; (got = player.DecodeBlock(block.data(), kBlockBytes)) > 0;) {
        auto* samples = reinterpret_cast<const std::int16_t*>(block.data());
        heard.insert(heard.end(), samples, samples + got / 2);
    }
    if (heard != archive.Decoded()) {
        state.SkipWithError("decoded samples differ from the encoder's");
        return;
    }

    std::int64_t samples = 0;
    for (auto _ : state) {
        player.SeekStream(0, 1);
        for (int got; (got = player.DecodeBlock(block.data(), kBlockBytes)) > 0;) {
            player.output_position += got;
            samples += got / 2;
            benchmark::DoNotOptimize(block.data());
            benchmark::ClobberMemory();
        }
    }
    state.counters["samples_per_second"] =
        benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);

    CloseHandle(player.archive_file);
    player.FreePlayer();
}
BENCHMARK(BM_DecodeBlockFromArchive)->Unit(benchmark::kMillisecond);

void BM_DecodeNibbleInMemory(benchmark::State& state) {
    const std::vector<std::uint8_t>& codes = Archive().Codes();
    std::vector<std::int16_t> block(kBlockBytes / 2);
    std::int64_t samples = 0;
    for (auto _ : state) {
        DecodeCodesInBlocks(codes, block, [&] {
            benchmark::DoNotOptimize(block.data());
            benchmark::ClobberMemory();
        });
        samples += static_cast<std::int64_t>(codes.size()) * 2;
    }
    state.counters["samples_per_second"] =
        benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeNibbleInMemory)->Unit(benchmark::kMillisecond);

// The chunk reads alone, as the chunk reader makes them (header, then data),
// without decoding: what the block path pays on top of the ADPCM step.
void BM_ChunkReadsOnly(benchmark::State& state) {
    BenchArchive& archive = Archive();
    HANDLE file =
        CreateFileA(archive.ArchivePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        state.SkipWithError("the bench archive does not open");
        return;
    }
    std::vector<std::uint8_t> data(kChunkDataBytes);
    std::int64_t samples = 0;
    std::int64_t reads = 0;
    for (auto _ : state) {
        SetArchivePosition(file, std::uint64_t{archive.Track().offset} + kTrackHeaderBytes);
        for (;;) {
            ChunkHeader header{};
            DWORD got = 0;
            ReadFile(file, &header, kChunkHeaderBytes, &got, nullptr);
            ++reads;
            if (got != kChunkHeaderBytes || header.signature != kChunkSignature ||
                header.data_size == 0 || header.data_size > kChunkDataBytes)
                break;
            ReadFile(file, data.data(), header.data_size, &got, nullptr);
            ++reads;
            samples += 2 * static_cast<std::int64_t>(header.data_size);
        }
    }
    state.counters["samples_per_second"] =
        benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
    state.counters["reads_per_second"] =
        benchmark::Counter(static_cast<double>(reads), benchmark::Counter::kIsRate);
    CloseHandle(file);
}
BENCHMARK(BM_ChunkReadsOnly)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
