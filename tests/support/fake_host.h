// The host's side of the plug-in record for in-process tests: an output
// device that takes everything at once and keeps it, no-op analysis,
// visualisation and DSP stages, and a main window that records what the
// plug-in posts to it. The output's room and whether it is still playing are
// set by the test, so a test decides when the playback thread may go on.
#pragma once

#include "core/plugin_record.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace fakehost {

struct Flush {
    std::size_t at_byte; // of everything written so far
    int ms;
};

class FakeHost {
public:
    // Fills the host's slots of `record` (main window, output, services).
    // One fake host at a time.
    explicit FakeHost(PluginRecord& record);
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    HWND MainWindow() const { return window_; }

    // What can_write reports; 0 holds the playback thread before its next block.
    void SetRoom(int bytes) { room_ = bytes; }
    // What is_playing reports.
    void SetPlaying(bool playing) { playing_ = playing; }
    // Opening number n from now on (1 = the next) fails; 0: none does.
    void FailOpen(int n) { fail_open_at_ = n > 0 ? opens_ + n : 0; }
    // Called on the playback thread each time is_playing reports 0.
    void OnPlayedOut(std::function<void()> call);
    // The visualisation feed sends a message to the main window with every
    // block and waits for the answer, as a real host's stage may.
    void SetSendingStage(bool sending) { sending_ = sending; }
    static constexpr UINT kStageMessage = WM_APP + 7;

    // Dispatches whatever waits in the calling thread's queue.
    void PumpMessages();
    // Messages the main window received, by number.
    int Received(UINT message);
    int RestartRequests() { return Received(kRestartRequest); }
    int EndOfStreamNotices() { return Received(kEndOfStreamNotice); }

    std::vector<char> Written();
    std::vector<Flush> Flushes();
    int Opens() const { return opens_; }
    int Closes() const { return closes_; }
    bool IsOpen() const { return open_; }
    bool IsPaused() const { return paused_; }
    // Calls that broke the device's contract: open while open, close while
    // closed, write while closed.
    int Violations() const { return violations_; }
    // The timestamps the analysis feed was given, one per block.
    std::vector<int> Timestamps();

    // The 16-bit samples written from byte `from` up to byte `to`.
    std::vector<std::int16_t> SamplesWritten(std::size_t from, std::size_t to);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM first, LPARAM second);

    PluginRecord& record_;
    PluginRecord saved_;
    OutputServices services_{};
    HWND window_ = nullptr;

    std::atomic<int> room_{1 << 20};
    std::atomic<bool> playing_{false};
    std::atomic<int> opens_{0};
    std::atomic<int> closes_{0};
    std::atomic<int> fail_open_at_{0};
    std::atomic<bool> open_{false};
    std::atomic<bool> paused_{false};
    std::atomic<bool> sending_{false};
    std::atomic<int> violations_{0};
    std::function<void()> on_played_out_;

    std::mutex lock_;
    std::vector<char> written_;
    std::vector<Flush> flushes_;
    std::vector<UINT> received_;
    std::vector<int> timestamps_;

    friend struct Slots;
};

} // namespace fakehost
