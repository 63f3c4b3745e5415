// What in-process runs of the whole plug-in play and check against: an
// archive of noise tracks built with mixlib beside a copy of the plug-in
// module (where the plug-in looks for the index), each track's extraction,
// an index that tells whether a written block is a contiguous slice of some
// extraction, and a watchdog on the host's calls.
#pragma once

#include "platform/win32.h"
#include "tools/mixlib/index_writer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace played {

struct TrackSpec {
    int sample_rate;
    double seconds;
};

struct PlayedArchive {
    std::string path;
    // Per track, every sample playback hands the output (ExtractTrack).
    std::vector<std::vector<std::int16_t>> extractions;
    // Per track, its index record as written.
    std::vector<IndexEntry> entries;
};

// Builds a Juniper-sized archive in `dir` (ending in '/') of noise tracks whose
// every stretch differs from every other, writes its index there and
// extracts each track. Throws on failure.
PlayedArchive BuildNoiseArchive(const std::string& dir, const std::vector<TrackSpec>& tracks,
                                std::uint32_t seed);

// Copies the plug-in module built beside the tests ($KESTREL_BUILD_DIR/core)
// into `dir` and loads it: its module handle makes init take `dir` as the
// plug-in's directory, as the player's would. Returns null on failure.
HMODULE LoadPluginCopy(const std::string& build_dir, const std::string& dir);

// Finds blocks inside the extractions.
class SliceIndex {
public:
    explicit SliceIndex(const std::vector<std::vector<std::int16_t>>& tracks);
    // Whether the bytes are 16-bit samples that appear, in this order and
    // without a gap, in one extraction (in that of `track`, if not -1).
    bool Contains(const char* bytes, int count, int track = -1) const;

private:
    static std::uint64_t Key(const std::int16_t* samples);
    const std::vector<std::vector<std::int16_t>>& tracks_;
    std::unordered_multimap<std::uint64_t, std::pair<int, std::size_t>> starts_;
};

// Fails the process (abort, with a message naming the call) if a call the
// host makes into the plug-in lasts longer than `limit_ms`: a deadlock or a
// hang ends the test instead of stalling it.
class Watchdog {
public:
    explicit Watchdog(int limit_ms);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void Enter(const char* what);
    void Leave();
    // The longest call seen, in ms.
    double LongestMs() const { return longest_ms_; }

private:
    void Watch();
    const int limit_ms_;
    std::atomic<bool> quit_{false};
    std::atomic<std::int64_t> started_ns_{0};
    std::atomic<const char*> what_{""};
    double longest_ms_ = 0;
    std::thread watcher_;
};

} // namespace played
