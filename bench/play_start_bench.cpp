// Time from the host's play() to the plug-in's first output write, on an
// archive of the largest known size (Marlin, 500577414 bytes, sparse) with an
// index of 1,000 short tones. The plug-in is linked in and driven through its
// record, with a minimal output whose write notes the time.
#include "core/entry_points.h"
#include "core/plugin_record.h"
#include "tools/mixlib/archive_builder.h"
#include "tools/mixlib/archive_names.h"
#include "tools/mixlib/tone.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint32_t kMarlinSize = 500577414;
constexpr int kTracks = 1000;
constexpr int kOutputLatencyMs = 2000;

using Clock = std::chrono::steady_clock;

// Filled by the first write of a play, 0 until then.
std::atomic<std::int64_t> first_write_ns{0};

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// The output takes one block and then reports itself full, so the playback
// thread sleeps instead of running through the track and changing tracks.
int __cdecl Open(int, int, int, int, int) {
    return kOutputLatencyMs;
}
void __cdecl Close() {}
void __cdecl Write(char*, int) {
    std::int64_t none = 0;
    first_write_ns.compare_exchange_strong(none, NowNs());
}
int __cdecl CanWrite() {
    return first_write_ns.load() == 0 ? INT_MAX / 2 : 0;
}
int __cdecl IsPlaying() {
    return 0;
}
void __cdecl Pause(int) {}
void __cdecl SetVolume(int) {}
void __cdecl SetPan(int) {}
void __cdecl Flush(int) {}
int __cdecl GetTime() {
    return 0;
}
void __cdecl AnalysisInit(int, int) {}
void __cdecl AnalysisDeinit() {}
void __cdecl AddPcm(void*, int, int, int) {}
void __cdecl SetFormat(int, int) {}
int __cdecl DspIsActive() {
    return 0;
}
void __cdecl StreamInfo(int, int, int, int) {}

OutputServices output{{},    Open,      Close,  Write, CanWrite, IsPlaying,
                      Pause, SetVolume, SetPan, Flush, GetTime,  GetTime};

// The plug-in looks for its index beside its module, which, linked in, is
// this program: the index goes there for the run and is removed after it.
class MarlinArchive {
public:
    MarlinArchive() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestrel-play-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        dir_ = pattern;
        path_ = dir_ + "/marlin.mix";
        std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
        index_dir_ = program.substr(0, program.rfind('/') + 1);
        std::vector<TrackSource> sources;
        for (int i = 0; i < kTracks; ++i) {
            Tone tone;
            tone.frequency = 200 + i;
            tone.seconds = 0.5;
            sources.push_back(
                TrackSource{"Tone " + std::to_string(i), tone.sample_rate, MakeTone(tone)});
        }
        index_path_ =
            BuildArchive(path_, *FindKnownArchive(kMarlinSize), index_dir_, sources).index_path;
    }
    ~MarlinArchive() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
        std::filesystem::remove(index_path_, ignored);
    }
    const std::string& Path() const { return path_; }

private:
    std::string dir_;
    std::string path_;
    std::string index_dir_;
    std::string index_path_;
};

// The host's side of the record: filled once, init called once.
void InstallHost() {
    static bool done = [] {
        plugin_record.main_window = nullptr;
        plugin_record.instance = nullptr;
        plugin_record.init();
        plugin_record.analysis_init = AnalysisInit;
        plugin_record.analysis_deinit = AnalysisDeinit;
        plugin_record.analysis_add_pcm = AddPcm;
        plugin_record.vis_add_pcm = AddPcm;
        plugin_record.vis_set_format = SetFormat;
        plugin_record.dsp_is_active = DspIsActive;
        plugin_record.set_stream_info = StreamInfo;
        plugin_record.output = &output;
        return true;
    }();
    (void)done;
}

void BM_PlayToFirstWrite(benchmark::State& state) {
    static MarlinArchive archive;
    InstallHost();
    double play_call_ms = 0;
    for (auto _ : state) {
        first_write_ns = 0;
        std::int64_t begin = NowNs();
        int result = plugin_record.play(archive.Path().c_str());
        std::int64_t returned = NowNs();
        if (result != 0) {
            state.SkipWithError("play failed");
            return;
        }
        while (first_write_ns.load() == 0)
            std::this_thread::yield();
        state.SetIterationTime(static_cast<double>(first_write_ns.load() - begin) / 1e9);
        play_call_ms += static_cast<double>(returned - begin) / 1e6;
        plugin_record.stop();
    }
    state.counters["play_call_ms"] = play_call_ms / static_cast<double>(state.iterations());
    state.counters["tracks"] = kTracks;
}
// Each run ends with a stop that waits out the playback thread's 20 ms sleep,
// so a fixed count keeps the wall time down.
BENCHMARK(BM_PlayToFirstWrite)->Iterations(100)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace
