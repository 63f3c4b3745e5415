// Seek latency on a 15-minute track at 22050 Hz. A seek is what the playback
// thread does with a host's request: a whole second's byte position, reached
// with SeekStream, rewinding when it lies behind. Targets lie in audio
// already decoded (the whole track is decoded first), with the file in the
// page cache. Worst and median over 1,000 random targets, with the seek
// checkpoints and without them (the plain rewind-and-decode); and the first
// seek to the track's end right after the start, beside decoding the whole
// track with DecodeBlock.
#include "core/player_state.h"
#include "decoder/track_stream.h"
#include "tools/mixlib/archive_builder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t kRate = 22050;
constexpr int kTrackSeconds = 15 * 60;
constexpr int kSeeks = 1000;
constexpr int kBlockBytes = 1152;
constexpr std::uint32_t kJuniperSize = 25046328; // room for 15 minutes of ADPCM

using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// CPU time of the calling thread: tells the seek's own work from the time the
// machine gave to other processes while it ran.
double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Times the scheduler took the calling thread off the CPU against its will.
long Preemptions() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nivcsw;
}

// A slow sweep with noise: the step size keeps moving, as with music.
std::vector<std::int16_t> SweepSamples() {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(kRate) * kTrackSeconds);
    std::uint32_t noise = 2024;
    const double pi = std::acos(-1.0);
    double phase = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        double t = static_cast<double>(i) / kRate;
        phase += 2 * pi * (150 + 100 * std::sin(2 * pi * t / 60)) / kRate;
        noise = noise * 1664525u + 1013904223u;
        double v = 11000 * std::sin(phase) +
                   static_cast<double>(static_cast<std::int32_t>(noise >> 16) - 32768) / 20;
        samples[i] = static_cast<std::int16_t>(std::lround(v));
    }
    return samples;
}

// The archive with the one long track, built on first use and removed at exit.
class LongArchive {
public:
    LongArchive() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestrel-seek-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        dir_ = pattern + "/";
        path_ = dir_ + "long.mix";
        const KnownArchive* known = FindKnownArchive(kJuniperSize);
        BuildArchive(path_, *known, dir_, {TrackSource{"Long sweep", kRate, SweepSamples()}});
    }
    ~LongArchive() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    const std::string& Dir() const { return dir_; }
    const std::string& Path() const { return path_; }

private:
    std::string dir_;
    std::string path_;
};

LongArchive& Archive() {
    static LongArchive archive;
    return archive;
}

// A player on the long track, set up as StartTrack sets up the stream:
// sizes from the header, checkpoints sized for the track, a rewind.
class TrackPlayer {
public:
    explicit TrackPlayer(benchmark::State& state) {
        LongArchive& archive = Archive();
        p.InitPlayer(nullptr, archive.Dir().c_str());
        TrackHeader header{};
        if (p.OpenArchive(archive.Path().c_str()) != 0 || p.SelectTrack(0) != 1 ||
            !p.ReadTrackHeader(&header)) {
            state.SkipWithError("the long archive does not open");
            return;
        }
        p.output_length = static_cast<int>(header.output_size);
        p.sample_rate = header.sample_rate;
        p.bytes_per_frame = 2;
        ok_ = true;
        Start();
    }
    ~TrackPlayer() {
        if (p.archive_file != INVALID_HANDLE_VALUE)
            CloseHandle(p.archive_file);
        p.FreePlayer();
    }
    bool ok() const { return ok_; }

    // The stream as a track start leaves it: no checkpoints yet, at byte 0.
    void Start() {
        p.output_position = 0;
        p.decoder.checkpoints().Prepare(p.output_length);
        p.SeekStream(0, 1);
    }

    // Decodes from where the stream stands to the end, as playback does.
    std::int64_t DecodeToEnd() {
        char block[kBlockBytes];
        std::int64_t bytes = 0;
        for (int got; (got = p.DecodeBlock(block, kBlockBytes)) > 0;) {
            p.output_position += got;
            bytes += got;
            benchmark::DoNotOptimize(block);
        }
        return bytes;
    }

    // One seek as the playback loop makes it for a request of `ms`.
    void SeekToMs(int ms) {
        int target = (ms / 1000) * kRate * 2;
        p.SeekStream(target, target < p.output_position);
    }

    PlayerState p;

private:
    bool ok_ = false;
};

// Worst and median of 1,000 seeks to random whole seconds of audio already
// decoded. One iteration: the worst case is the figure, not an average.
void SeekLatency(benchmark::State& state, bool checkpoints) {
    TrackPlayer track(state);
    if (!track.ok())
        return;
    PlayerState& p = track.p;
    track.DecodeToEnd();
    if (checkpoints && p.decoder.checkpoints().count() == 0) {
        state.SkipWithError("no checkpoints were noted while decoding");
        return;
    }
    if (!checkpoints)
        p.decoder.checkpoints().Release();
    const int length_ms = static_cast<int>(static_cast<std::int64_t>(p.output_length) * 1000 /
                                           (static_cast<std::int64_t>(kRate) * 2));
    std::mt19937 random(15);
    std::uniform_int_distribution<int> anywhere(0, length_ms - 1);
    std::vector<double> ms(kSeeks);
    std::vector<double> cpu_ms(kSeeks);
    std::vector<double> undisturbed_ms; // seeks that kept the CPU throughout
    for (auto _ : state) {
        double total = 0;
        for (int i = 0; i < kSeeks; ++i) {
            int request = anywhere(random);
            long preempted = Preemptions();
            double cpu_begin = ThreadCpuMs();
            Clock::time_point begin = Clock::now();
            track.SeekToMs(request);
            Clock::time_point end = Clock::now();
            cpu_ms[i] = ThreadCpuMs() - cpu_begin;
            if (Preemptions() == preempted)
                undisturbed_ms.push_back(MsBetween(begin, end));
            if (p.output_position < (request / 1000) * kRate * 2 || p.end_of_stream) {
                state.SkipWithError("a seek did not reach its target");
                return;
            }
            ms[i] = MsBetween(begin, end);
            total += ms[i];
        }
        state.SetIterationTime(total / 1000);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu_ms.begin(), cpu_ms.end());
    state.counters["worst_ms"] = ms.back();
    state.counters["median_ms"] = ms[kSeeks / 2];
    state.counters["p99_ms"] = ms[kSeeks * 99 / 100];
    state.counters["worst_cpu_ms"] = cpu_ms.back();
    state.counters["median_cpu_ms"] = cpu_ms[kSeeks / 2];
    state.counters["undisturbed_seeks"] = static_cast<double>(undisturbed_ms.size());
    if (!undisturbed_ms.empty())
        state.counters["worst_undisturbed_ms"] =
            *std::max_element(undisturbed_ms.begin(), undisturbed_ms.end());
    state.counters["seeks"] = kSeeks;
    state.counters["checkpoints"] = p.decoder.checkpoints().count();
    // The next benchmark starts with a table again.
    p.decoder.checkpoints().Prepare(p.output_length);
}

void BM_SeekDecodedWithCheckpoints(benchmark::State& state) {
    SeekLatency(state, true);
}
BENCHMARK(BM_SeekDecodedWithCheckpoints)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_SeekDecodedWithoutCheckpoints(benchmark::State& state) {
    SeekLatency(state, false);
}
BENCHMARK(BM_SeekDecodedWithoutCheckpoints)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Right after the track starts nothing has been decoded, so the first seek
// to the end decodes the whole track whatever the checkpoints; it should
// cost about what decoding the track with DecodeBlock costs.
void BM_FirstSeekToTheEnd(benchmark::State& state) {
    TrackPlayer track(state);
    if (!track.ok())
        return;
    PlayerState& p = track.p;
    double seek_ms = 0;
    double decode_ms = 0;
    for (auto _ : state) {
        track.Start();
        Clock::time_point begin = Clock::now();
        std::int64_t decoded = track.DecodeToEnd();
        Clock::time_point end = Clock::now();
        decode_ms += MsBetween(begin, end);

        track.Start();
        begin = Clock::now();
        p.SeekStream(p.output_length, 0);
        end = Clock::now();
        if (p.output_position != decoded) {
            state.SkipWithError("the seek to the end stopped elsewhere than decoding did");
            return;
        }
        seek_ms += MsBetween(begin, end);
        state.SetIterationTime(MsBetween(begin, end) / 1000);
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["seek_to_end_ms"] = seek_ms / runs;
    state.counters["decode_whole_track_ms"] = decode_ms / runs;
    state.counters["seek_over_decode"] = seek_ms / decode_ms;
}
BENCHMARK(BM_FirstSeekToTheEnd)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
