#include "host/gap_meter.h"

#include "host/host_clock.h"

void GapMeter::Played(std::int64_t began, std::int64_t ended, bool drained,
                      std::int64_t heard_bytes, double heard_ms, int rate) {
    if (!sounding_ && heard_any_ && !cuts_.empty()) {
        double ms = TicksToMs(began - silent_since_);
        log_->Event("gap")
            .Num("ms", ms)
            .Num("clock_ms", ms * speed_)
            .Str("cut", cuts_.c_str())
            .Int("from_rate", rate_)
            .Int("to_rate", rate)
            .Bool("paused", paused_)
            .Int("heard", heard_bytes)
            .Num("heard_ms", heard_ms);
    }
    if (!sounding_)
        cuts_.clear();
    paused_ = false;
    heard_any_ = true;
    rate_ = rate;
    sounding_ = !drained;
    if (drained)
        silent_since_ = ended;
}

void GapMeter::Cut(std::int64_t now, const char* how) {
    if (!heard_any_)
        return;
    if (sounding_) {
        sounding_ = false;
        silent_since_ = now;
        cuts_.clear();
    }
    if (!cuts_.empty())
        cuts_ += '+';
    cuts_ += how;
}
