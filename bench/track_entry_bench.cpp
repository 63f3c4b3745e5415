// Queries about single tracks: get_file_info of track entries over an archive
// of 1,000 short tones, with the index cache emptied before each query (cold)
// and kept (warm), and a whole playlist of the 1,000 entries from an empty
// cache; then the converter's extended read of a minute of music-like codes
// against the extractor's decoding of the same track, in MB/s of PCM.
#include "bench/bench_tracks.h"
#include "core/entry_points.h"
#include "core/extended_read.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "tools/mixlib/archive_builder.h"
#include "tools/mixlib/archive_names.h"
#include "tools/mixlib/archive_reader.h"
#include "tools/mixlib/tone.h"
#include "tools/mixlib/track_extractor.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kEntries = 1000;
constexpr int kPieceBytes = 65536;

// A temporary folder holding the archives and their indexes; the player
// looks for indexes there while a benchmark runs.
class BenchFolder {
public:
    BenchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestrel-entry-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        dir_ = pattern + "/";
        std::vector<TrackSource> sources;
        for (int i = 0; i < kEntries; ++i) {
            Tone tone;
            tone.frequency = 200 + i;
            tone.seconds = 0.05;
            sources.push_back(
                TrackSource{"Tone " + std::to_string(i), tone.sample_rate, MakeTone(tone)});
        }
        BuildArchive(dir_ + "tones.mix", *FindKnownArchiveByName("Juniper"), dir_, sources);
        for (int i = 0; i < kEntries; ++i)
            entries_.push_back(dir_ + "tones.mix|" + std::to_string(i + 1) + ".MIX");
        BuildBenchArchive(CodeKind::kMusic, dir_ + "music.mix", *FindKnownArchiveByName("Pewter"),
                          dir_, 22050, 60);
    }
    ~BenchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    const std::string& Dir() const { return dir_; }
    const std::string& Entry(int i) const { return entries_[i % kEntries]; }
    std::string Music() const { return dir_ + "music.mix"; }

private:
    std::string dir_;
    std::vector<std::string> entries_;
};

BenchFolder& Folder() {
    static BenchFolder folder;
    return folder;
}

// The player, set up once, looks for indexes in the bench folder for the
// scope of one benchmark.
class UseFolder {
public:
    UseFolder() {
        if (!player.stream_lock.ready()) {
            plugin_record.instance = nullptr;
            plugin_record.init();
        }
        lstrcpynA(saved_, player.plugin_directory, kPathChars);
        lstrcpynA(player.plugin_directory, Folder().Dir().c_str(), kPathChars);
        player.index_cache.Forget();
    }
    ~UseFolder() {
        lstrcpynA(player.plugin_directory, saved_, kPathChars);
        player.index_cache.Forget();
    }

private:
    char saved_[kPathChars] = {};
};

void QueryEntry(int i, benchmark::State& state) {
    char title[kPathChars];
    int length = 0;
    GetFileInfo(Folder().Entry(i).c_str(), title, &length);
    if (length <= 0)
        state.SkipWithError("no length for a track entry");
    benchmark::DoNotOptimize(title[0]);
}

void BM_FileInfoPerEntryCold(benchmark::State& state) {
    UseFolder use;
    int i = 0;
    for (auto _ : state) {
        player.index_cache.Forget();
        QueryEntry(i++, state);
    }
}
BENCHMARK(BM_FileInfoPerEntryCold)->Unit(benchmark::kMicrosecond);

void BM_FileInfoPerEntryWarm(benchmark::State& state) {
    UseFolder use;
    QueryEntry(0, state);
    int i = 0;
    for (auto _ : state)
        QueryEntry(i++, state);
}
BENCHMARK(BM_FileInfoPerEntryWarm)->Unit(benchmark::kMicrosecond);

// A playlist of every entry, as the player fills it: the index is read at
// the first entry and kept for the other 999.
void BM_FileInfoPlaylistOf1000(benchmark::State& state) {
    UseFolder use;
    for (auto _ : state) {
        player.index_cache.Forget();
        for (int i = 0; i < kEntries; ++i)
            QueryEntry(i, state);
    }
    state.counters["entries"] = kEntries;
}
BENCHMARK(BM_FileInfoPlaylistOf1000)->Unit(benchmark::kMillisecond);

void BM_ExtendedReadOfAMinute(benchmark::State& state) {
    UseFolder use;
    const std::string entry = Folder().Music() + "|1.MIX";
    std::vector<char> buffer(kPieceBytes);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        int size = 0, bps = 0, channels = 0, rate = 0;
        const std::intptr_t read =
            ExtendedReadOpen(player, entry.c_str(), &size, &bps, &channels, &rate);
        if (!read) {
            state.SkipWithError("the extended read did not open");
            return;
        }
        int kill = 0;
        for (int got; (got = ExtendedReadData(read, buffer.data(), kPieceBytes, &kill)) > 0;)
            bytes += got;
        ExtendedReadClose(read);
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ExtendedReadOfAMinute)->Unit(benchmark::kMillisecond);

void BM_ExtractorOfTheSameMinute(benchmark::State& state) {
    std::int64_t bytes = 0;
    for (auto _ : state) {
        ArchiveReader archive(Folder().Music(), Folder().Dir());
        DecodeTrack(archive, 0, [&](const char*, std::size_t got) { bytes += got; });
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ExtractorOfTheSameMinute)->Unit(benchmark::kMillisecond);

} // namespace
