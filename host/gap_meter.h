// Measures the silences a listener hears between two stretches of sound
// that the output device was flushed, opened or closed in between: the gap
// between two tracks, or around a stop and a play. Each is logged as a "gap"
// event when the sound after it begins. The output device tells it, under
// its own lock, when its clock played something and when its buffer was cut.
#pragma once

#include "host/event_log.h"

#include <cstdint>
#include <string>

class GapMeter {
public:
    // `speed`: seconds of audio the device's clock plays per real second.
    GapMeter(EventLog* log, double speed) : log_(log), speed_(speed) {}

    // The clock played `bytes` at `rate`, beginning at tick `began` if the
    // card was silent before; `heard_bytes` and `heard_ms` count what had
    // been heard in all before them. If that emptied the buffer, the sound
    // stopped at tick `ended`.
    void Played(std::int64_t began, std::int64_t ended, bool drained, std::int64_t heard_bytes,
                double heard_ms, int rate);
    // What the buffer held was let go of at tick `now` ("flush", "close",
    // "open"): the sound, if any, stops there.
    void Cut(std::int64_t now, const char* how);
    // The host paused: a gap that spans it says so.
    void HostPaused() { paused_ = true; }

private:
    EventLog* log_;
    double speed_;
    bool heard_any_ = false;
    bool sounding_ = false;
    std::int64_t silent_since_ = 0;
    std::string cuts_; // what cut the sound since it stopped, e.g. "close+open"
    bool paused_ = false;
    int rate_ = 0; // of the last sound heard
};
