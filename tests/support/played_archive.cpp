#include "support/played_archive.h"
#include "tools/mixlib/archive_builder.h"
#include "tools/mixlib/archive_names.h"
#include "tools/mixlib/archive_reader.h"
#include "tools/mixlib/track_extractor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace played {

PlayedArchive BuildNoiseArchive(const std::string& dir, const std::vector<TrackSpec>& tracks,
                                std::uint32_t seed) {
    std::vector<TrackSource> sources;
    std::uint32_t state = seed;
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        TrackSource source{
            "Noise " + std::to_string(t), static_cast<std::uint16_t>(tracks[t].sample_rate), {}};
        auto count = static_cast<std::size_t>(tracks[t].seconds * tracks[t].sample_rate);
        double smooth = 0;
        for (std::size_t n = 0; n < count; ++n) {
            state = state * 1664525u + 1013904223u;
            double white = static_cast<double>(static_cast<std::int32_t>(state)) / 2147483648.0;
            smooth = 0.6 * smooth + 0.4 * white; // audible noise, not full-scale hiss
            source.samples.push_back(static_cast<std::int16_t>(smooth * 20000));
        }
        sources.push_back(std::move(source));
    }
    PlayedArchive archive;
    archive.path = dir + "noise.mix";
    BuiltArchive built =
        BuildArchive(archive.path, *FindKnownArchiveByName("Juniper"), dir, sources);
    for (const BuiltTrack& track : built.tracks)
        archive.entries.push_back(track.entry);
    ArchiveReader reader(archive.path, dir);
    for (int t = 0; t < reader.TrackCount(); ++t)
        archive.extractions.push_back(ExtractTrack(reader, t).samples);
    return archive;
}

HMODULE LoadPluginCopy(const std::string& build_dir, const std::string& dir) {
    std::error_code error;
    std::string copy = dir + "in_kestrel.so";
    std::filesystem::copy_file(build_dir + "/core/in_kestrel.so", copy,
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error)
        return nullptr;
    return LoadLibraryA(copy.c_str());
}

// ---- Slices

SliceIndex::SliceIndex(const std::vector<std::vector<std::int16_t>>& tracks) : tracks_(tracks) {
    for (std::size_t t = 0; t < tracks.size(); ++t)
        for (std::size_t i = 0; i + 4 <= tracks[t].size(); ++i)
            starts_.emplace(Key(&tracks[t][i]), std::make_pair(static_cast<int>(t), i));
}

std::uint64_t SliceIndex::Key(const std::int16_t* samples) {
    std::uint64_t key = 0;
    std::memcpy(&key, samples, sizeof key);
    return key;
}

bool SliceIndex::Contains(const char* bytes, int count, int track) const {
    if (count <= 0 || count % 2 != 0)
        return false;
    std::vector<std::int16_t> block(static_cast<std::size_t>(count) / 2);
    std::memcpy(block.data(), bytes, static_cast<std::size_t>(count));
    auto matches = [&](int in, std::size_t at) {
        if (track >= 0 && in != track)
            return false;
        const auto& samples = tracks_[static_cast<std::size_t>(in)];
        return at + block.size() <= samples.size() &&
               std::memcmp(samples.data() + at, block.data(), count) == 0;
    };
    if (block.size() >= 4) {
        auto [first, last] = starts_.equal_range(Key(block.data()));
        for (auto it = first; it != last; ++it)
            if (matches(it->second.first, it->second.second))
                return true;
        return false;
    }
    for (std::size_t t = 0; t < tracks_.size(); ++t)
        for (std::size_t i = 0; i + block.size() <= tracks_[t].size(); ++i)
            if (matches(static_cast<int>(t), i))
                return true;
    return false;
}

// ---- Watchdog

namespace {
std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

Watchdog::Watchdog(int limit_ms) : limit_ms_(limit_ms), watcher_([this] { Watch(); }) {}

Watchdog::~Watchdog() {
    quit_ = true;
    watcher_.join();
}

void Watchdog::Enter(const char* what) {
    what_ = what;
    started_ns_ = NowNs();
}

void Watchdog::Leave() {
    double ms = static_cast<double>(NowNs() - started_ns_.exchange(0)) / 1e6;
    if (ms > longest_ms_)
        longest_ms_ = ms;
}

void Watchdog::Watch() {
    while (!quit_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::int64_t started = started_ns_;
        if (started != 0 && NowNs() - started > std::int64_t{limit_ms_} * 1000000) {
            std::fprintf(stderr, "watchdog: the host's call '%s' has lasted over %d ms\n",
                         what_.load(), limit_ms_);
            std::fflush(stderr);
            std::abort();
        }
    }
}

} // namespace played
