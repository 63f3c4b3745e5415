// Decoding speed on each kind of codes (bench_tracks.h): a tone, random codes
// and music-like codes, a minute of each. DecodeBlock runs as the playback
// thread runs it: 1152-byte blocks from a track in a real archive file, chunk
// reads included. The track decoder runs on the track's bytes in memory, as
// mixtool, the tests and the fuzzers run it, timed turn about with the bare
// ADPCM step over the same codes, the most any decoder of them could reach.
// Rates are per second of CPU time, so that a busy machine does not skew them.
#include "bench/bench_tracks.h"
#include "bench/nibble_loop.h"
#include "core/player_state.h"
#include "decoder/track_decoder.h"
#include "decoder/track_stream.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kBlockBytes = 1152; // 576 samples, what the playback loop asks for
constexpr std::uint16_t kRate = 22050;
constexpr int kSeconds = 60;

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// An archive with one track of a kind, built on first use, with the track's
// bytes (header and chunks) and its ADPCM codes read back from it.
class BenchArchive {
public:
    explicit BenchArchive(CodeKind kind) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestrel-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        dir_ = pattern + "/";
        archive_path_ = dir_ + "bench.mix";
        const IndexEntry track =
            BuildBenchArchive(kind, archive_path_, kKnownArchives[2], dir_, kRate, kSeconds);
        track_bytes_.resize(track.size);
        std::ifstream in(archive_path_, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(track.offset));
        in.read(reinterpret_cast<char*>(track_bytes_.data()),
                static_cast<std::streamsize>(track_bytes_.size()));
        if (!in)
            throw std::runtime_error("cannot read the track back");
        track_offset_ = track.offset;
        MemorySource source(track_bytes_.data(), track_bytes_.size());
        codes_ = TrackCodes(source, 0);
    }
    ~BenchArchive() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    const std::string& Dir() const { return dir_; }
    const std::string& ArchivePath() const { return archive_path_; }
    std::uint32_t TrackOffset() const { return track_offset_; }
    const std::vector<std::uint8_t>& TrackBytes() const { return track_bytes_; }
    const std::vector<std::uint8_t>& Codes() const { return codes_; }

    // The samples of the bare step over the codes.
    std::vector<std::int16_t> Decoded() const {
        std::vector<std::int16_t> all(codes_.size() * 2);
        DecodeCodesInBlocks(codes_, all, [] {});
        return all;
    }

private:
    std::string dir_;
    std::string archive_path_;
    std::uint32_t track_offset_ = 0;
    std::vector<std::uint8_t> track_bytes_;
    std::vector<std::uint8_t> codes_;
};

BenchArchive& Archive(CodeKind kind) {
    static std::unique_ptr<BenchArchive> archives[3];
    std::unique_ptr<BenchArchive>& archive = archives[static_cast<int>(kind)];
    if (!archive)
        archive = std::make_unique<BenchArchive>(kind);
    return *archive;
}

void BM_DecodeBlockFromArchive(benchmark::State& state, CodeKind kind) {
    BenchArchive& archive = Archive(kind);
    PlayerState player;
    player.InitPlayer(nullptr, archive.Dir().c_str());
    if (player.OpenArchive(archive.ArchivePath().c_str()) != 0 || player.SelectTrack(0) != 1) {
        state.SkipWithError("the bench archive does not open");
        return;
    }
    std::vector<char> block(kBlockBytes);

    // Once, untimed: the block path gives what the bare step does.
    player.SeekStream(0, 1);
    std::vector<std::int16_t> heard;
    for (int got; (got = player.DecodeBlock(block.data(), kBlockBytes)) > 0;) {
        auto* samples = reinterpret_cast<const std::int16_t*>(block.data());
        heard.insert(heard.end(), samples, samples + got / 2);
    }
    if (heard != archive.Decoded()) {
        state.SkipWithError("decoded samples differ from the bare step's");
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
BENCHMARK_CAPTURE(BM_DecodeBlockFromArchive, tone, CodeKind::kTone)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeBlockFromArchive, random, CodeKind::kRandom)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeBlockFromArchive, music, CodeKind::kMusic)
    ->Unit(benchmark::kMillisecond);

// The track decoder over the track's bytes in memory, and after each pass,
// untimed, the bare step over the same codes: `of_bare_loop` is the first's
// speed as a share of the second's, both by CPU time.
void BM_DecodeTrackInMemory(benchmark::State& state, CodeKind kind) {
    BenchArchive& archive = Archive(kind);
    MemorySource source(archive.TrackBytes().data(), archive.TrackBytes().size());
    TrackDecoder decoder;
    decoder.Attach(&source, 0);
    std::vector<char> pcm(kBlockBytes);
    std::vector<std::int16_t> block(kBlockBytes / 2);
    std::int64_t samples = 0;
    double decoder_s = 0;
    double bare_s = 0;
    for (auto _ : state) {
        const double begin = ThreadCpuSeconds();
        decoder.Seek(0, true);
        for (int got; (got = decoder.Read(pcm.data(), kBlockBytes)) > 0;) {
            samples += got / 2;
            benchmark::DoNotOptimize(pcm.data());
            benchmark::ClobberMemory();
        }
        const double decoded = ThreadCpuSeconds();
        state.PauseTiming();
        const double bare_begin = ThreadCpuSeconds();
        DecodeCodesInBlocks(archive.Codes(), block, [&] {
            benchmark::DoNotOptimize(block.data());
            benchmark::ClobberMemory();
        });
        bare_s += ThreadCpuSeconds() - bare_begin;
        decoder_s += decoded - begin;
        state.ResumeTiming();
    }
    state.counters["samples_per_second"] =
        benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
    state.counters["of_bare_loop"] = decoder_s > 0 ? bare_s / decoder_s : 0;
}
BENCHMARK_CAPTURE(BM_DecodeTrackInMemory, tone, CodeKind::kTone)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeTrackInMemory, random, CodeKind::kRandom)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeTrackInMemory, music, CodeKind::kMusic)->Unit(benchmark::kMillisecond);

// The bare step over the track's codes in memory, a playback block at a time.
void BM_BareTableLoop(benchmark::State& state, CodeKind kind) {
    const std::vector<std::uint8_t>& codes = Archive(kind).Codes();
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
BENCHMARK_CAPTURE(BM_BareTableLoop, tone, CodeKind::kTone)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BareTableLoop, random, CodeKind::kRandom)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BareTableLoop, music, CodeKind::kMusic)->Unit(benchmark::kMillisecond);

// The chunk reads alone, as the chunk reader makes them (header, then data),
// without decoding: what the block path pays on top of the ADPCM step. The
// kind of codes makes no difference here.
void BM_ChunkReadsOnly(benchmark::State& state) {
    BenchArchive& archive = Archive(CodeKind::kMusic);
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
        SetArchivePosition(file, std::uint64_t{archive.TrackOffset()} + kTrackHeaderBytes);
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
