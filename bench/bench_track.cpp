// Builds an archive of the smallest known size holding one track of the
// given kind of codes, for scripts/bench.sh to time `mixtool extract` on.
//   bench_track tone|random|music SECONDS ARCHIVE INDEX_DIR
#include "bench/bench_tracks.h"
#include "tools/mixlib/archive_names.h"

#include <cstdio>
#include <exception>
#include <string>

namespace {

constexpr std::uint16_t kRate = 22050;

} // namespace

int main(int argc, char** argv) {
    CodeKind kind{};
    if (argc != 5 || !ParseCodeKind(argv[1], &kind)) {
        std::fprintf(stderr, "usage: bench_track tone|random|music SECONDS ARCHIVE INDEX_DIR\n");
        return 2;
    }
    try {
        BuildBenchArchive(kind, argv[3], *FindKnownArchiveByName("Juniper"), argv[4], kRate,
                          std::stod(argv[2]));
        return 0;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "bench_track: %s\n", failure.what());
        return 1;
    }
}
