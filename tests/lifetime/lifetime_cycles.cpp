// kestrel_lifetime CYCLES BUILD_DIR: runs CYCLES rounds of the host's whole
// life with the plug-in (init, play, seek, the track change the plug-in asks
// for, stop, quit) and fails unless open file descriptors, the stand-in's
// handles and GlobalAlloc blocks are exactly what they were after the first
// rounds and the heap in use (in builds without a sanitizer) has not grown.
#include "core/entry_points.h"
#include "core/plugin_record.h"
#include "platform/standin/testing.h"
#include "support/clocked_host.h"
#include "support/mix_fixtures.h"
#include "support/played_archive.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <malloc.h>
#include <string>
#include <thread>

namespace {

constexpr double kClockSpeed = 200;
constexpr int kWarmUpCycles = 3;
constexpr int kStepTimeoutMs = 5000;
constexpr int kCallLimitMs = 5000; // generous: valgrind runs this too
constexpr int kHeapSampleCycles = 50;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kPlainHeap = false;
#else
constexpr bool kPlainHeap = true;
#endif

struct Usage {
    long descriptors = 0;
    long handles = 0;
    long blocks = 0;
    std::size_t heap = 0;
};

Usage Measure() {
    // A playback thread that has signalled its end may still be unwinding
    // (the stand-in's threads are detached); let it finish first.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Usage usage;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++usage.descriptors;
    usage.handles = standin::OpenHandleCount();
    usage.blocks = standin::LiveGlobalBlocks();
    if (kPlainHeap)
        usage.heap = mallinfo2().uordblks;
    return usage;
}

// One life of the plug-in; false if a step did not happen.
bool Cycle(clockedhost::ClockedHost& host, played::Watchdog& watchdog, const std::string& file) {
    auto call = [&](const char* what, auto action) {
        watchdog.Enter(what);
        action();
        watchdog.Leave();
    };
    call("init", [] { plugin_record.init(); });
    host.ClearSessions();
    bool ok = host.Play(file) == 0;
    std::int64_t written = host.Output().BytesWritten();
    ok = ok &&
         host.ServeUntil([&] { return host.Output().BytesWritten() > written; }, kStepTimeoutMs);
    call("set_output_time", [] { plugin_record.set_output_time(300); });
    // The first track ends; the host answers the restart request.
    ok = ok && host.ServeUntil([&] { return host.Sessions().size() >= 2; }, kStepTimeoutMs);
    ok = ok && host.Playing();
    host.Settle();
    call("quit", [] { plugin_record.quit(); });
    return ok;
}

int Run(int cycles, const std::string& build_dir) {
    mixtest::ScratchDir scratch;
    const std::string dir = scratch.Path().string() + "/";
    played::PlayedArchive archive =
        played::BuildNoiseArchive(dir, {{22050, 0.5}, {11025, 0.3}, {22050, 0.3}}, 3);
    HMODULE module = played::LoadPluginCopy(build_dir, dir);
    if (!module) {
        std::fprintf(stderr, "cannot load the plug-in from %s/core\n", build_dir.c_str());
        return 1;
    }
    int failed = 0;
    Usage before;
    Usage after;
    // The stand-in's queues and tables keep a little memory that comes and
    // goes with the timing of each cycle (a few hundred bytes), so the heap
    // at the end is held against the most it took in the first half: a leak
    // of one byte per cycle shows over a few hundred cycles.
    std::size_t first_half_heap = 0;
    const auto started = std::chrono::steady_clock::now();
    {
        clockedhost::ClockedHost host(plugin_record, kClockSpeed);
        plugin_record.instance = module;
        host.Output().KeepWritten(false);
        played::Watchdog watchdog(kCallLimitMs);
        host.SetCallHooks([&](const char* what) { watchdog.Enter(what); },
                          [&] { watchdog.Leave(); });
        for (int i = 0; i < kWarmUpCycles; ++i)
            failed += Cycle(host, watchdog, archive.path) ? 0 : 1;
        before = Measure();
        first_half_heap = before.heap;
        for (int i = 1; i <= cycles; ++i) {
            failed += Cycle(host, watchdog, archive.path) ? 0 : 1;
            if (i <= cycles / 2 && i % kHeapSampleCycles == 0)
                first_half_heap = std::max(first_half_heap, Measure().heap);
        }
        after = Measure();
        if (!standin::MessageBoxes().empty()) {
            std::fprintf(stderr, "message box: %s\n", standin::MessageBoxes()[0].text.c_str());
            ++failed;
        }
    }
    FreeLibrary(module);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::printf("lifetime: %d cycles in %.1f s; file descriptors %ld -> %ld, handles %ld -> %ld, "
                "GlobalAlloc blocks %ld -> %ld",
                cycles, seconds, before.descriptors, after.descriptors, before.handles,
                after.handles, before.blocks, after.blocks);
    if (kPlainHeap)
        std::printf(", heap in use %zu -> %zu bytes (at most %zu in the first half)", before.heap,
                    after.heap, first_half_heap);
    std::printf("\n");
    bool flat = before.descriptors == after.descriptors && before.handles == after.handles &&
                before.blocks == after.blocks && after.heap <= first_half_heap;
    if (failed)
        std::fprintf(stderr, "%d cycles did not play, seek and change track\n", failed);
    if (!flat)
        std::fprintf(stderr, "resources grew over the cycles\n");
    return failed == 0 && flat ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kestrel_lifetime CYCLES BUILD_DIR\n");
        return 2;
    }
    try {
        return Run(std::atoi(argv[1]), argv[2]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrel_lifetime: %s\n", error.what());
        return 1;
    }
}
