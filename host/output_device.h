// The host's output device, modelled on a sound card's: a buffer of about two
// seconds that a clock drains. What the clock plays is "heard" and goes to a
// sink (the WAV writer); what a flush or a close discards is never heard.
// The plug-in calls it from the host's thread and from its playback thread,
// so every operation runs under the device's own lock. kestrel-play plays
// through it, and so do the in-process tests, which also look at what the
// plug-in wrote.
#pragma once

#include "core/plugin_record.h"
#include "host/event_log.h"
#include "host/gap_meter.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

struct OutputDeviceOptions {
    // How many seconds of audio the clock plays per second of real time.
    double speed = 1.0;
    // Opening number n (1 = the first) fails; 0: none does.
    int fail_open = 0;
    int buffer_ms = 2000;
};

// Receives heard audio: bytes, count, sample rate, channels, bits.
using HeardSink = std::function<void(const char*, int, int, int, int)>;
// Sees every block the plug-in writes, on the thread that writes it.
using WriteObserver = std::function<void(const char* bytes, int count)>;

class OutputDevice {
public:
    OutputDevice(const OutputDeviceOptions& options, EventLog* log, HeardSink sink);
    ~OutputDevice();
    OutputDevice(const OutputDevice&) = delete;
    OutputDevice& operator=(const OutputDevice&) = delete;

    // The services table for the plug-in's `output` slot. Its slots reach
    // this device; one device is installed at a time.
    OutputServices* Install();

    // The operations of the services table, each logged with its arguments
    // and its result.
    int Open(int sample_rate, int channels, int bits, int option_a, int option_b);
    void Close();
    void Write(const char* buffer, int bytes);
    int CanWrite();
    int IsPlaying();
    void Pause(int flag);
    void SetVolume(int volume);
    void SetPan(int pan);
    void Flush(int ms);
    int GetOutputTime();
    int GetWrittenTime();

    // The host's own view, not logged.
    int HeardTimeMs();              // the output time
    double TotalHeardMs();          // all audio heard since the device was made
    std::int64_t TotalHeardBytes(); // the same in bytes
    bool IsOpen();
    bool IsPaused();
    int Volume();
    int Pan();
    int SampleRate();
    int Violations(); // calls that broke the device's contract
    std::int64_t HeardWhilePausedBytes();

    // Whether the host has paused the plug-in (from the return of its pause
    // until the call of its unpause). Audio the clock plays meanwhile is a
    // violation, once per pause: the user hears sound after pressing Pause.
    // Writing to the device meanwhile is fine.
    void SetHostPaused(bool paused);
    std::int64_t Flushes();

    // Whether the host has stopped the plug-in (from the return of its stop
    // until the call of its next play). A call of the device from a thread
    // other than the host's meanwhile is a violation: stop must end the
    // playback thread.
    void SetHostStopped(bool stopped);
    // Flags a call the device gets while the host has stopped the plug-in.
    void CheckCaller();

    // Stops the clock (nothing plays, no credit builds up) while the host
    // reads what a play has just started; at a fast clock a short track
    // could otherwise end before the host has asked for its title.
    void FreezeClock(bool frozen);

    // Holds the clock at output time `ms` until ClearHorizon: audio up to
    // there is heard, nothing after it. Lets a fast run act at exact times.
    void SetHorizon(int ms);
    void ClearHorizon();
    // Whether the clock has reached the horizon since it was set.
    bool HorizonReached();

    // Lets the clock play no more than `ms` of audio in all (across flushes
    // and rates), so that a run can end after an exact amount of audio.
    void SetHeardLimit(double ms);
    // Whether the clock has played all the limit allows.
    bool HeardLimitReached();

    // Lets the clock play no further than `ms` of audio heard in all (as the
    // limit above counts it) until it is moved or lifted (ms < 0): a fast run
    // holds there for the host's next scripted action.
    void HoldAtHeard(double ms);
    // Whether `ms` of audio have been heard in all (within a frame).
    bool HeardReached(double ms);

    // Opening number n from now on (1 = the next) fails; 0: none does.
    void FailOpen(int n);
    int Opens();
    // Called with every block written, outside the device's lock.
    void SetObserver(WriteObserver observer);
    // Whether written audio is kept for TakeWritten (it is not unless asked).
    void KeepWritten(bool keep);
    // Everything written since the last call, as the plug-in wrote it, with
    // the byte position of each flush in `flushes`.
    std::vector<char> TakeWritten(std::vector<std::size_t>* flushes);
    // Bytes written since the device was made.
    std::int64_t BytesWritten();

private:
    class Hold;
    void Advance();
    void PlayOut(std::int64_t bytes);
    void Take(const char* buffer, int bytes); // the write, under the lock
    std::int64_t BytesPerSecond() const;
    std::int64_t HorizonBytes() const;
    std::int64_t LimitBytes() const;
    std::int64_t BytesBefore(double heard_ms) const; // frames the clock may play until then
    int TimeOf(std::int64_t bytes) const;
    void Violation(const char* what, std::int64_t value);

    const OutputDeviceOptions options_;
    EventLog* log_;
    HeardSink sink_;
    WriteObserver observer_;
    GapMeter gaps_;
    CRITICAL_SECTION lock_;
    OutputServices services_{};

    bool open_ = false;
    int opens_ = 0;
    int fail_open_at_ = 0;
    int sample_rate_ = 0;
    int channels_ = 0;
    int bits_ = 0;
    int frame_ = 0; // bytes per sample frame
    int last_rate_ = 0;
    bool paused_ = false;
    int volume_ = 255;
    int pan_ = 0;

    std::vector<char> ring_;
    std::int64_t written_ = 0; // bytes since the last flush or open
    std::int64_t played_ = 0;  // of those, heard
    int base_ms_ = 0;          // the time the last flush restarted from
    double credit_ = 0;        // bytes the clock owes but had nothing to play
    std::int64_t last_tick_ = 0;

    bool horizon_set_ = false;
    int horizon_ms_ = 0;
    bool horizon_reached_ = false;

    bool limit_set_ = false;
    double limit_ms_ = 0;
    bool limit_reached_ = false;
    double hold_ms_ = -1;

    bool frozen_ = false;
    bool host_paused_ = false;
    std::atomic<bool> host_stopped_{false};
    DWORD host_thread_ = 0;
    std::int64_t heard_in_this_pause_ = 0;
    std::int64_t heard_while_paused_ = 0;

    double heard_ms_ = 0;
    std::int64_t heard_bytes_ = 0;
    int violations_ = 0;
    std::int64_t flushes_ = 0;

    std::int64_t total_written_ = 0;
    bool keep_ = false;
    std::vector<char> kept_;
    std::vector<std::size_t> kept_flushes_;
};
