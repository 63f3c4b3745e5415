// No heap allocation while playing. This program replaces malloc and its
// relatives (operator new reaches them too) with counting wrappers around the
// C library's own, and counts every allocation made on a thread other than
// the test's: during playback the only other thread is the plug-in's playback
// thread. It then plays a minute of audio, accelerated, through the plug-in's
// record with a fake output that never allocates, with seeks both ways and a
// track change through the host's restart request, and expects the count to
// stay at zero from the first play on.
#include "core/entry_points.h"
#include "core/plugin_record.h"
#include "support/clocked_host.h"
#include "tools/mixlib/archive_builder.h"
#include "tools/mixlib/tone.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <malloc.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

// ---- The counting allocator --------------------------------------------------

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* memory);
}

namespace {

using clockedhost::ClockedHost;

constexpr int kCallersKept = 16;

std::atomic<bool> counting{false};
pthread_t counted_main_thread;
std::atomic<long> off_main_allocations{0};
// Where the first few counted allocations were made from.
std::atomic<void*> callers[kCallersKept];

void Note(void* caller) {
    if (!counting.load(std::memory_order_acquire) ||
        pthread_equal(pthread_self(), counted_main_thread))
        return;
    long n = off_main_allocations.fetch_add(1);
    if (n < kCallersKept)
        callers[n].store(caller);
}

} // namespace

#define KESTREL_INTERPOSE extern "C" __attribute__((visibility("default")))

KESTREL_INTERPOSE void* malloc(std::size_t size) {
    Note(__builtin_return_address(0));
    return __libc_malloc(size);
}
KESTREL_INTERPOSE void* calloc(std::size_t count, std::size_t size) {
    Note(__builtin_return_address(0));
    return __libc_calloc(count, size);
}
KESTREL_INTERPOSE void* realloc(void* memory, std::size_t size) {
    Note(__builtin_return_address(0));
    return __libc_realloc(memory, size);
}
KESTREL_INTERPOSE void* memalign(std::size_t alignment, std::size_t size) {
    Note(__builtin_return_address(0));
    return __libc_memalign(alignment, size);
}
KESTREL_INTERPOSE void* aligned_alloc(std::size_t alignment, std::size_t size) {
    Note(__builtin_return_address(0));
    return __libc_memalign(alignment, size);
}
KESTREL_INTERPOSE int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    Note(__builtin_return_address(0));
    void* memory = __libc_memalign(alignment, size);
    if (!memory)
        return ENOMEM;
    *out = memory;
    return 0;
}
KESTREL_INTERPOSE void free(void* memory) {
    __libc_free(memory);
}

namespace {

void StartCounting() {
    counted_main_thread = pthread_self();
    off_main_allocations = 0;
    for (auto& caller : callers)
        caller = nullptr;
    counting.store(true, std::memory_order_release);
}

long StopCounting() {
    counting.store(false, std::memory_order_release);
    return off_main_allocations.load();
}

std::string CallersText(long count) {
    std::string text;
    for (long i = 0; i < count && i < kCallersKept; ++i) {
        void* caller = callers[i].load();
        Dl_info info{};
        char line[512];
        if (caller && dladdr(caller, &info) && info.dli_sname)
            std::snprintf(line, sizeof line, "  %p %s+%td (%s)\n", caller, info.dli_sname,
                          static_cast<char*>(caller) - static_cast<char*>(info.dli_saddr),
                          info.dli_fname);
        else // a symbol this program keeps to itself: its offset, for addr2line
            std::snprintf(line, sizeof line, "  %s+%#tx\n", info.dli_fname ? info.dli_fname : "?",
                          static_cast<char*>(caller) - static_cast<char*>(info.dli_fbase));
        text += line;
    }
    return text;
}

// ---- The host: the in-process host on kestrel-play's output device ----------------

constexpr int kRate = 22050;
constexpr int kBytesPerSecond = kRate * 2;
constexpr double kClockSpeed = 20; // seconds of audio the device plays per second
constexpr int kFullEvery = 64;     // every so many calls, the device reports itself full
constexpr int kTrackSeconds = 40;

// The device's own can_write, behind one that now and then answers that the
// output is full, so that the loop's sleep on a full output runs too,
// however the clock and the decoder happen to meet.
OutputServices* device_slots = nullptr;
std::atomic<long> can_write_calls{0};

int __cdecl CanWriteSometimesFull() {
    if (++can_write_calls % kFullEvery == 0)
        return 0;
    return device_slots->can_write();
}

// ---- The archive ------------------------------------------------------------

// Two 40-second tones in a sparse archive; the index goes beside this program,
// which, with the plug-in linked in, is where the plug-in looks for it.
class TwoTrackArchive {
public:
    TwoTrackArchive() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestrel-alloc-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        dir_ = pattern;
        path_ = dir_ + "/two.mix";
        std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
        std::vector<TrackSource> sources;
        for (double frequency : {440.0, 660.0}) {
            Tone tone;
            tone.frequency = frequency;
            tone.seconds = kTrackSeconds;
            tone.sample_rate = kRate;
            sources.push_back(TrackSource{"Tone", kRate, MakeTone(tone)});
        }
        index_path_ = BuildArchive(path_, *FindKnownArchive(25046328),
                                   program.substr(0, program.rfind('/') + 1), sources)
                          .index_path;
    }
    ~TwoTrackArchive() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
        std::filesystem::remove(index_path_, ignored);
    }
    const std::string& Path() const { return path_; }

private:
    std::string dir_;
    std::string path_;
    std::string index_path_;
};

// ---- The test -----------------------------------------------------------------

TEST(AllocationTest, CountingSeesAnAllocationOnAnotherThread) {
    static void* volatile kept = nullptr;
    StartCounting();
    std::thread([] { kept = std::malloc(24); }).join();
    long counted = StopCounting();
    std::free(kept);
    EXPECT_EQ(counted, 1);
}

TEST(AllocationTest, NoAllocationOnThePlaybackThreadWhilePlaying) {
    TwoTrackArchive archive;

    // The host answers the restart request with stop, then play, and the
    // end-of-stream notice with stop. Nothing written is kept: that would
    // allocate on the playback thread.
    ClockedHost host(plugin_record, kClockSpeed);
    OutputDevice& device = host.Output();
    device.KeepWritten(false);
    device_slots = plugin_record.output;
    OutputServices slots = *device_slots;
    slots.can_write = CanWriteSometimesFull;
    plugin_record.output = &slots;
    plugin_record.instance = nullptr;
    plugin_record.init();

    // Seeks, by the written time of the track that plays: forward, then back.
    struct Seek {
        int track_change; // made in the track after this many changes
        int when_ms;      // once this much of the track is written
        int to_ms;
        bool done;
    };
    std::vector<Seek> seeks = {{0, 8000, 25000, false},
                               {0, 30000, 12000, false},
                               {1, 5000, 20000, false},
                               {1, 25000, 2000, false}};
    constexpr long long kMinuteBytes = 60LL * kBytesPerSecond;

    StartCounting();
    ASSERT_EQ(host.Play(archive.Path()), 0);
    auto changes = [&] { return static_cast<int>(host.Sessions().size()) - 1; };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline) {
        host.Serve();
        if (!host.Playing())
            break;
        for (Seek& seek : seeks)
            if (!seek.done && seek.track_change == changes() &&
                device.GetWrittenTime() >= seek.when_ms) {
                plugin_record.set_output_time(seek.to_ms);
                seek.done = true;
            }
        bool all_seeks =
            std::all_of(seeks.begin(), seeks.end(), [](const Seek& s) { return s.done; });
        if (all_seeks && changes() >= 1 && device.BytesWritten() >= kMinuteBytes)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    host.Stop();
    long counted = StopCounting();
    plugin_record.quit();

    // The run did what it was meant to: a minute of audio, all four seeks
    // (each one flushes), a track change and the full-output sleeps.
    EXPECT_GE(device.BytesWritten(), kMinuteBytes);
    EXPECT_GE(changes(), 1);
    EXPECT_EQ(host.PlayFailures(), 0);
    EXPECT_GE(device.Flushes(), 4 + changes());
    EXPECT_GE(can_write_calls.load(), 2 * kFullEvery);
    EXPECT_EQ(device.Violations(), 0);
    for (const Seek& seek : seeks)
        EXPECT_TRUE(seek.done) << "seek to " << seek.to_ms << " ms not made";
    EXPECT_EQ(counted, 0) << "allocations on the playback thread, first made from:\n"
                          << CallersText(counted);
}

} // namespace
