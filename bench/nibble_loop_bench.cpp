// The bare ADPCM step over one track's codes in memory: the most any decoder
// of that track could reach, the mark scripts/bench.sh holds `mixtool
// extract` of the same track against. Prints the samples and the best rate.
//   nibble_loop_bench ARCHIVE INDEX_DIR TRACK
#include "bench/nibble_loop.h"
#include "decoder/track_stream.h"
#include "tools/mixlib/archive_reader.h"
#include "tools/mixlib/mix_error.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 5;
constexpr std::size_t kBlockSamples = 576; // what a playback block holds

// The data of the track's chunks, one after another, up to the first chunk
// the decoder would stop at.
std::vector<std::uint8_t> TrackCodes(ArchiveReader& archive, int index) {
    std::vector<std::uint8_t> codes;
    std::uint64_t at = std::uint64_t{archive.Track(index).offset} + kTrackHeaderBytes;
    for (;;) {
        ChunkHeader header{};
        if (archive.Source().ReadAt(at, &header, kChunkHeaderBytes) != kChunkHeaderBytes ||
            header.signature != kChunkSignature || header.data_size == 0 ||
            header.data_size > kChunkDataBytes)
            break;
        at += kChunkHeaderBytes;
        const std::size_t had = codes.size();
        codes.resize(had + header.data_size);
        const std::size_t got = archive.Source().ReadAt(at, codes.data() + had, header.data_size);
        codes.resize(had + got);
        if (got < header.data_size)
            break;
        at += got;
    }
    return codes;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: nibble_loop_bench ARCHIVE INDEX_DIR TRACK\n");
        return 2;
    }
    try {
        ArchiveReader archive(argv[1], argv[2]);
        const std::vector<std::uint8_t> codes = TrackCodes(archive, std::stoi(argv[3]));
        std::vector<std::int16_t> block(kBlockSamples);
        double best_s = 0;
        std::int64_t checksum = 0;
        for (int run = 0; run < kRuns; ++run) {
            const auto begin = std::chrono::steady_clock::now();
            DecodeCodesInBlocks(codes, block, [&] { checksum += block[0]; });
            const double s =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            if (run == 0 || s < best_s)
                best_s = s;
        }
        const double samples = static_cast<double>(codes.size()) * 2;
        std::printf("samples %.0f, best of %d: %.3f s, %.1f Msamples/s (checksum %lld)\n", samples,
                    kRuns, best_s, samples / best_s / 1e6, static_cast<long long>(checksum));
        return 0;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "nibble_loop_bench: %s\n", failure.what());
        return 1;
    }
}
