#include "host/output_device.h"

#include "host/host_clock.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

OutputDevice* installed = nullptr;

int __cdecl SlotOpen(int rate, int channels, int bits, int a, int b) {
    installed->CheckCaller();
    return installed->Open(rate, channels, bits, a, b);
}
void __cdecl SlotClose() {
    installed->CheckCaller();
    installed->Close();
}
void __cdecl SlotWrite(char* buffer, int bytes) {
    installed->CheckCaller();
    installed->Write(buffer, bytes);
}
int __cdecl SlotCanWrite() {
    installed->CheckCaller();
    return installed->CanWrite();
}
int __cdecl SlotIsPlaying() {
    installed->CheckCaller();
    return installed->IsPlaying();
}
void __cdecl SlotPause(int flag) {
    installed->CheckCaller();
    installed->Pause(flag);
}
void __cdecl SlotSetVolume(int volume) {
    installed->CheckCaller();
    installed->SetVolume(volume);
}
void __cdecl SlotSetPan(int pan) {
    installed->CheckCaller();
    installed->SetPan(pan);
}
void __cdecl SlotFlush(int ms) {
    installed->CheckCaller();
    installed->Flush(ms);
}
int __cdecl SlotGetOutputTime() {
    installed->CheckCaller();
    return installed->GetOutputTime();
}
int __cdecl SlotGetWrittenTime() {
    installed->CheckCaller();
    return installed->GetWrittenTime();
}

constexpr int kOpenLatencyMs = 2000; // what open reports: the buffer's length
constexpr int kMaxRate = 384000;
constexpr int kMaxChannels = 8;

} // namespace

// The device's lock, held for the length of one operation.
class OutputDevice::Hold {
public:
    explicit Hold(OutputDevice* device) : device_(device) {
        EnterCriticalSection(&device_->lock_);
        device_->Advance();
    }
    ~Hold() { LeaveCriticalSection(&device_->lock_); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    OutputDevice* device_;
};

OutputDevice::OutputDevice(const OutputDeviceOptions& options, EventLog* log, HeardSink sink)
    : options_(options), log_(log), sink_(std::move(sink)), gaps_(log, options.speed),
      fail_open_at_(options.fail_open) {
    InitializeCriticalSection(&lock_);
    last_tick_ = ClockTicks();
}

OutputDevice::~OutputDevice() {
    if (installed == this)
        installed = nullptr;
    DeleteCriticalSection(&lock_);
}

OutputServices* OutputDevice::Install() {
    services_.open = SlotOpen;
    services_.close = SlotClose;
    services_.write = SlotWrite;
    services_.can_write = SlotCanWrite;
    services_.is_playing = SlotIsPlaying;
    services_.pause = SlotPause;
    services_.set_volume = SlotSetVolume;
    services_.set_pan = SlotSetPan;
    services_.flush = SlotFlush;
    services_.get_output_time = SlotGetOutputTime;
    services_.get_written_time = SlotGetWrittenTime;
    installed = this;
    return &services_;
}

std::int64_t OutputDevice::BytesPerSecond() const {
    return static_cast<std::int64_t>(sample_rate_) * frame_;
}

int OutputDevice::TimeOf(std::int64_t bytes) const {
    std::int64_t rate = BytesPerSecond();
    return base_ms_ + static_cast<int>(rate > 0 ? bytes * 1000 / rate : 0);
}

std::int64_t OutputDevice::HorizonBytes() const {
    std::int64_t bytes =
        std::max<std::int64_t>(horizon_ms_ - base_ms_, 0) * BytesPerSecond() / 1000;
    return frame_ > 0 ? bytes - bytes % frame_ : 0;
}

void OutputDevice::Advance() {
    std::int64_t now = ClockTicks();
    const std::int64_t since = last_tick_;
    double elapsed_ms = TicksToMs(now - last_tick_);
    last_tick_ = now;
    if (!open_ || paused_ || frozen_ || frame_ == 0)
        return;
    credit_ += elapsed_ms * options_.speed * static_cast<double>(BytesPerSecond()) / 1000.0;
    // The clock cannot play ahead of what it holds, by more than the buffer.
    credit_ = std::min(credit_, static_cast<double>(ring_.size()));
    std::int64_t playable = written_ - played_;
    if (horizon_set_)
        playable = std::min(playable, std::max<std::int64_t>(HorizonBytes() - played_, 0));
    if (limit_set_)
        playable = std::min(playable, LimitBytes());
    if (hold_ms_ >= 0)
        playable = std::min(playable, BytesBefore(hold_ms_));
    std::int64_t bytes = std::min(playable, static_cast<std::int64_t>(credit_));
    bytes -= bytes % frame_;
    if (bytes > 0) {
        const std::int64_t heard_before = heard_bytes_;
        const double heard_ms_before = heard_ms_;
        PlayOut(bytes);
        credit_ -= static_cast<double>(bytes);
        // Emptied: the sound stopped where the credit left over began.
        const bool drained = written_ == played_;
        const double idle_s = credit_ / (options_.speed * static_cast<double>(BytesPerSecond()));
        const auto idle =
            static_cast<std::int64_t>(idle_s * static_cast<double>(ClockTicksPerSecond()));
        gaps_.Played(since, now - idle, drained, heard_before, heard_ms_before, sample_rate_);
    }
    // An empty buffer builds up no credit: the card just idles.
    if (written_ == played_)
        credit_ = 0;
    if (horizon_set_ && played_ >= HorizonBytes())
        horizon_reached_ = true;
    if (limit_set_ && LimitBytes() < frame_)
        limit_reached_ = true;
}

std::int64_t OutputDevice::LimitBytes() const {
    return BytesBefore(limit_ms_);
}

std::int64_t OutputDevice::BytesBefore(double heard_ms) const {
    double left = (heard_ms - heard_ms_) * static_cast<double>(BytesPerSecond()) / 1000.0;
    // Within a hundredth of a byte counts as there: the sum of pieces in ms
    // need not add up exactly.
    std::int64_t bytes = left > 0 ? static_cast<std::int64_t>(left + 0.01) : 0;
    return bytes - bytes % frame_;
}

void OutputDevice::PlayOut(std::int64_t bytes) {
    const std::int64_t size = static_cast<std::int64_t>(ring_.size());
    while (bytes > 0) {
        std::int64_t at = played_ % size;
        int piece = static_cast<int>(std::min(bytes, size - at));
        if (sink_)
            sink_(ring_.data() + at, piece, sample_rate_, channels_, bits_);
        if (host_paused_) {
            if (heard_in_this_pause_ == 0)
                Violation("heard while paused", piece);
            heard_in_this_pause_ += piece;
            heard_while_paused_ += piece;
        }
        played_ += piece;
        heard_bytes_ += piece;
        heard_ms_ += static_cast<double>(piece) * 1000.0 / static_cast<double>(BytesPerSecond());
        bytes -= piece;
    }
}

void OutputDevice::SetHostStopped(bool stopped) {
    host_thread_ = GetCurrentThreadId();
    host_stopped_ = stopped;
}

void OutputDevice::CheckCaller() {
    // Once the host's stop has returned, the plug-in's thread is gone: a
    // call from any other thread means it was left running.
    if (host_stopped_ && GetCurrentThreadId() != host_thread_) {
        Hold hold(this);
        Violation("output called from another thread after stop", 0);
    }
}

void OutputDevice::Violation(const char* what, std::int64_t value) {
    ++violations_;
    log_->Event("violation").Str("what", what).Int("value", value);
}

int OutputDevice::Open(int sample_rate, int channels, int bits, int option_a, int option_b) {
    Hold hold(this);
    ++opens_;
    auto line = log_->Event("out.open");
    line.Int("rate", sample_rate)
        .Int("channels", channels)
        .Int("bits", bits)
        .Int("a", option_a)
        .Int("b", option_b)
        .Int("heard", heard_bytes_);
    if (open_)
        Violation("open while open", opens_);
    gaps_.Cut(ClockTicks(), "open");
    if (fail_open_at_ == opens_ || sample_rate <= 0 || sample_rate > kMaxRate || channels <= 0 ||
        channels > kMaxChannels || (bits != 8 && bits != 16)) {
        open_ = false;
        line.Int("result", -1);
        return -1;
    }
    if (last_rate_ != 0 && last_rate_ != sample_rate)
        log_->Event("rate_change")
            .Int("from", last_rate_)
            .Int("to", sample_rate)
            .Int("heard", heard_bytes_);
    last_rate_ = sample_rate;
    open_ = true;
    sample_rate_ = sample_rate;
    channels_ = channels;
    bits_ = bits;
    frame_ = channels * bits / 8;
    std::int64_t size = BytesPerSecond() * options_.buffer_ms / 1000;
    ring_.assign(static_cast<std::size_t>(size - size % frame_), 0);
    written_ = played_ = 0;
    base_ms_ = 0;
    credit_ = 0;
    paused_ = false;
    line.Int("result", kOpenLatencyMs);
    return kOpenLatencyMs;
}

void OutputDevice::Close() {
    Hold hold(this);
    log_->Event("out.close").Int("discarded", written_ - played_).Int("heard", heard_bytes_);
    if (!open_)
        Violation("close while closed", 0);
    gaps_.Cut(ClockTicks(), "close");
    open_ = false;
    paused_ = false;
    written_ = played_ = 0;
}

void OutputDevice::Write(const char* buffer, int bytes) {
    WriteObserver observer;
    {
        Hold hold(this);
        observer = observer_;
        Take(buffer, bytes);
    }
    // Outside the lock: an observer may look at the player, whose thread
    // this is, or call back into the device.
    if (observer && bytes > 0)
        observer(buffer, bytes);
}

void OutputDevice::Take(const char* buffer, int bytes) {
    if (bytes > 0) {
        total_written_ += bytes;
        if (keep_)
            kept_.insert(kept_.end(), buffer, buffer + bytes);
    }
    std::int64_t room = open_ ? static_cast<std::int64_t>(ring_.size()) - (written_ - played_) : 0;
    log_->Event("out.write").Int("bytes", bytes).Int("room", room).Int("heard", heard_bytes_);
    if (!open_) {
        Violation("write while closed", bytes);
        return;
    }
    if (bytes < 0 || bytes % frame_ != 0)
        Violation("write of a partial frame", bytes);
    if (bytes > room)
        Violation("write beyond the room reported", bytes - room);
    std::int64_t take = std::clamp<std::int64_t>(bytes, 0, room);
    take -= take % frame_;
    const std::int64_t size = static_cast<std::int64_t>(ring_.size());
    for (std::int64_t done = 0; done < take;) {
        std::int64_t at = written_ % size;
        std::int64_t piece = std::min(take - done, size - at);
        std::copy(buffer + done, buffer + done + piece, ring_.begin() + at);
        written_ += piece;
        done += piece;
    }
}

int OutputDevice::CanWrite() {
    Hold hold(this);
    int room =
        open_ ? static_cast<int>(static_cast<std::int64_t>(ring_.size()) - (written_ - played_))
              : 0;
    log_->Event("out.can_write").Int("result", room);
    return room;
}

int OutputDevice::IsPlaying() {
    Hold hold(this);
    int playing = open_ && written_ > played_ ? 1 : 0;
    log_->Event("out.is_playing").Int("result", playing).Int("heard", heard_bytes_);
    return playing;
}

void OutputDevice::Pause(int flag) {
    Hold hold(this);
    log_->Event("out.pause").Int("flag", flag).Int("time", TimeOf(played_));
    paused_ = flag != 0;
}

void OutputDevice::SetVolume(int volume) {
    Hold hold(this);
    log_->Event("out.set_volume").Int("volume", volume);
    if (volume != kKeepVolume)
        volume_ = std::clamp(volume, 0, 255);
}

void OutputDevice::SetPan(int pan) {
    Hold hold(this);
    log_->Event("out.set_pan").Int("pan", pan);
    pan_ = std::clamp(pan, -128, 128);
}

void OutputDevice::Flush(int ms) {
    Hold hold(this);
    log_->Event("out.flush")
        .Int("ms", ms)
        .Int("time", TimeOf(played_))
        .Int("discarded", written_ - played_)
        .Int("heard", heard_bytes_);
    ++flushes_;
    gaps_.Cut(ClockTicks(), "flush");
    if (keep_)
        kept_flushes_.push_back(kept_.size());
    written_ = played_ = 0;
    base_ms_ = ms;
    credit_ = 0;
}

int OutputDevice::GetOutputTime() {
    Hold hold(this);
    int time = TimeOf(played_);
    log_->Event("out.get_output_time").Int("result", time);
    return time;
}

int OutputDevice::GetWrittenTime() {
    Hold hold(this);
    int time = TimeOf(written_);
    log_->Event("out.get_written_time").Int("result", time);
    return time;
}

int OutputDevice::HeardTimeMs() {
    Hold hold(this);
    return TimeOf(played_);
}

double OutputDevice::TotalHeardMs() {
    Hold hold(this);
    return heard_ms_;
}

std::int64_t OutputDevice::TotalHeardBytes() {
    Hold hold(this);
    return heard_bytes_;
}

bool OutputDevice::IsOpen() {
    Hold hold(this);
    return open_;
}

bool OutputDevice::IsPaused() {
    Hold hold(this);
    return paused_;
}

int OutputDevice::Volume() {
    Hold hold(this);
    return volume_;
}

int OutputDevice::Pan() {
    Hold hold(this);
    return pan_;
}

int OutputDevice::SampleRate() {
    Hold hold(this);
    return sample_rate_;
}

std::int64_t OutputDevice::Flushes() {
    Hold hold(this);
    return flushes_;
}

std::int64_t OutputDevice::HeardWhilePausedBytes() {
    Hold hold(this);
    return heard_while_paused_;
}

void OutputDevice::SetHostPaused(bool paused) {
    // The hold plays what was due before the change under the old state.
    Hold hold(this);
    if (host_paused_ && !paused && heard_in_this_pause_ > 0)
        log_->Event("heard_while_paused")
            .Int("bytes", heard_in_this_pause_)
            .Int("heard", heard_bytes_);
    host_paused_ = paused;
    heard_in_this_pause_ = 0;
    if (paused)
        gaps_.HostPaused();
}

void OutputDevice::FreezeClock(bool frozen) {
    Hold hold(this);
    frozen_ = frozen;
}

int OutputDevice::Violations() {
    Hold hold(this);
    return violations_;
}

void OutputDevice::SetHorizon(int ms) {
    Hold hold(this);
    horizon_set_ = true;
    horizon_ms_ = ms;
    horizon_reached_ = open_ && played_ >= HorizonBytes();
}

void OutputDevice::ClearHorizon() {
    Hold hold(this);
    horizon_set_ = false;
    horizon_reached_ = false;
}

bool OutputDevice::HorizonReached() {
    Hold hold(this);
    return horizon_reached_;
}

void OutputDevice::SetHeardLimit(double ms) {
    Hold hold(this);
    limit_set_ = true;
    limit_ms_ = ms;
}

void OutputDevice::HoldAtHeard(double ms) {
    Hold hold(this);
    hold_ms_ = ms;
}

bool OutputDevice::HeardReached(double ms) {
    Hold hold(this);
    return heard_ms_ >= ms || (frame_ > 0 && BytesBefore(ms) < frame_);
}

void OutputDevice::FailOpen(int n) {
    Hold hold(this);
    fail_open_at_ = n > 0 ? opens_ + n : 0;
}

int OutputDevice::Opens() {
    Hold hold(this);
    return opens_;
}

void OutputDevice::SetObserver(WriteObserver observer) {
    Hold hold(this);
    observer_ = std::move(observer);
}

void OutputDevice::KeepWritten(bool keep) {
    Hold hold(this);
    keep_ = keep;
}

std::vector<char> OutputDevice::TakeWritten(std::vector<std::size_t>* flushes) {
    Hold hold(this);
    std::vector<std::size_t> marks = std::exchange(kept_flushes_, {});
    if (flushes)
        *flushes = std::move(marks);
    return std::exchange(kept_, {});
}

std::int64_t OutputDevice::BytesWritten() {
    Hold hold(this);
    return total_written_;
}

bool OutputDevice::HeardLimitReached() {
    Hold hold(this);
    return limit_reached_ || (limit_set_ && heard_ms_ >= limit_ms_);
}
