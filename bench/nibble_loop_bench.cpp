// The bare ADPCM step over one track's codes in memory: the most any decoder
// of that track could reach, the mark scripts/bench.sh holds `mixtool
// extract` of the same track against. Prints the samples and the best rate,
// by the clock and by the CPU time the loop was given (on a busy machine the
// two differ; the CPU time is the one to compare with another program's).
//   nibble_loop_bench ARCHIVE INDEX_DIR TRACK
#include "bench/bench_tracks.h"
#include "bench/nibble_loop.h"
#include "tools/mixlib/archive_reader.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 5;
constexpr std::size_t kBlockSamples = 576; // what a playback block holds

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: nibble_loop_bench ARCHIVE INDEX_DIR TRACK\n");
        return 2;
    }
    try {
        ArchiveReader archive(argv[1], argv[2]);
        const std::vector<std::uint8_t> codes =
            TrackCodes(archive.Source(), archive.Track(std::stoi(argv[3])).offset);
        std::vector<std::int16_t> block(kBlockSamples);
        double best_s = 0;
        double best_cpu_s = 0;
        std::int64_t checksum = 0;
        for (int run = 0; run < kRuns; ++run) {
            const double cpu_begin = CpuSeconds();
            const auto begin = std::chrono::steady_clock::now();
            DecodeCodesInBlocks(codes, block, [&] { checksum += block[0]; });
            const double s =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            const double cpu_s = CpuSeconds() - cpu_begin;
            if (run == 0 || s < best_s)
                best_s = s;
            if (run == 0 || cpu_s < best_cpu_s)
                best_cpu_s = cpu_s;
        }
        const double samples = static_cast<double>(codes.size()) * 2;
        std::printf("samples %.0f, best of %d: %.3f s, %.1f Msamples/s; CPU %.3f s, %.1f "
                    "Msamples/s (checksum %lld)\n",
                    samples, kRuns, best_s, samples / best_s / 1e6, best_cpu_s,
                    samples / best_cpu_s / 1e6, static_cast<long long>(checksum));
        return 0;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "nibble_loop_bench: %s\n", failure.what());
        return 1;
    }
}
