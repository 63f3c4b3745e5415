// What one wake of a thread that sleeps costs on this machine: the floor
// under the playback thread's CPU use, which polls the output every 20 ms
// while it is full.
#include "platform/win32.h"

#include <benchmark/benchmark.h>

#include <ctime>

namespace {

constexpr DWORD kFullSleepMs = 20; // the playback loop's sleep on a full output
constexpr double kWakesPerSecond = 1000.0 / kFullSleepMs;

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void BM_SleepWake(benchmark::State& state) {
    double begin = ThreadCpuSeconds();
    for (auto _ : state)
        Sleep(kFullSleepMs);
    double per_wake = (ThreadCpuSeconds() - begin) / static_cast<double>(state.iterations());
    state.counters["cpu_us_per_wake"] = per_wake * 1e6;
    // CPU of a thread doing nothing but these sleeps, in percent of one core.
    state.counters["floor_percent_of_core"] = per_wake * kWakesPerSecond * 100;
}
BENCHMARK(BM_SleepWake)->Iterations(150)->Unit(benchmark::kMillisecond);

} // namespace
