#include "support/clocked_host.h"
#include "core/player_state.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <utility>

namespace clockedhost {
namespace {

constexpr int kBufferMs = 2000;
constexpr const char* kWindowClass = "KestrelClockedHost";

std::atomic<ClockedOutput*> live_output{nullptr};
ClockedHost* live_host = nullptr;
std::atomic<int> dsp_active{0};

ClockedOutput& Live() {
    return *live_output.load();
}

int OpenSlot(int rate, int channels, int bits, int a, int b) {
    return Live().Open(rate, channels, bits, a, b);
}
void CloseSlot() {
    Live().Close();
}
void WriteSlot(char* buffer, int bytes) {
    Live().Write(buffer, bytes);
}
int CanWriteSlot() {
    return Live().CanWrite();
}
int IsPlayingSlot() {
    return Live().IsPlaying();
}
void PauseSlot(int flag) {
    Live().Pause(flag);
}
void SetVolumeSlot(int volume) {
    Live().SetVolume(volume);
}
void SetPanSlot(int pan) {
    Live().SetPan(pan);
}
void FlushSlot(int ms) {
    Live().Flush(ms);
}
int OutputTimeSlot() {
    return Live().GetOutputTime();
}
int WrittenTimeSlot() {
    return Live().GetWrittenTime();
}

void AnalysisInit(int, int) {}
void AnalysisDeinit() {}
void AddPcm(void*, int, int, int) {}
void VisSetFormat(int, int) {}
int DspIsActive() {
    return dsp_active;
}
int DspProcess(short*, int samples, int, int, int) {
    return samples;
}
void SetStreamInfo(int, int, int, int) {}

} // namespace

// ---- Output

ClockedOutput::ClockedOutput(double speed)
    : speed_(speed), last_(std::chrono::steady_clock::now()) {
    services_.open = OpenSlot;
    services_.close = CloseSlot;
    services_.write = WriteSlot;
    services_.can_write = CanWriteSlot;
    services_.is_playing = IsPlayingSlot;
    services_.pause = PauseSlot;
    services_.set_volume = SetVolumeSlot;
    services_.set_pan = SetPanSlot;
    services_.flush = FlushSlot;
    services_.get_output_time = OutputTimeSlot;
    services_.get_written_time = WrittenTimeSlot;
}

void ClockedOutput::FailOpen(int n) {
    std::lock_guard<std::mutex> hold(lock_);
    fail_open_at_ = n > 0 ? opens_ + n : 0;
}

void ClockedOutput::SetObserver(WriteObserver observer) {
    std::lock_guard<std::mutex> hold(lock_);
    observer_ = std::move(observer);
}

void ClockedOutput::Hold(bool held) {
    std::lock_guard<std::mutex> hold(lock_);
    Advance();
    held_ = held;
}

void ClockedOutput::KeepWritten(bool keep) {
    std::lock_guard<std::mutex> hold(lock_);
    keep_ = keep;
}

int ClockedOutput::Opens() {
    std::lock_guard<std::mutex> hold(lock_);
    return opens_;
}

bool ClockedOutput::IsOpen() {
    std::lock_guard<std::mutex> hold(lock_);
    return open_;
}

bool ClockedOutput::IsPaused() {
    std::lock_guard<std::mutex> hold(lock_);
    return paused_;
}

void ClockedOutput::HostPaused(bool paused) {
    std::lock_guard<std::mutex> hold(lock_);
    Advance();
    host_paused_ = paused;
}

int ClockedOutput::Violations() {
    std::lock_guard<std::mutex> hold(lock_);
    return violations_;
}

std::int64_t ClockedOutput::BytesWritten() {
    std::lock_guard<std::mutex> hold(lock_);
    return total_written_;
}

std::vector<char> ClockedOutput::TakeWritten(std::vector<std::size_t>* flushes) {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::size_t> marks = std::exchange(kept_flushes_, {});
    if (flushes)
        *flushes = std::move(marks);
    return std::exchange(kept_, {});
}

std::int64_t ClockedOutput::BytesPerSecond() const {
    return static_cast<std::int64_t>(rate_) * frame_;
}

std::int64_t ClockedOutput::Capacity() const {
    return BytesPerSecond() * kBufferMs / 1000;
}

void ClockedOutput::Advance() {
    auto now = std::chrono::steady_clock::now();
    double seconds = std::chrono::duration<double>(now - last_).count();
    last_ = now;
    if (!open_ || paused_ || held_)
        return;
    credit_ += seconds * speed_ * static_cast<double>(BytesPerSecond());
    auto drained = std::min<std::int64_t>(buffered_, static_cast<std::int64_t>(credit_));
    if (drained > 0 && host_paused_)
        ++violations_;
    buffered_ -= drained;
    played_ += drained;
    credit_ -= static_cast<double>(drained);
    if (buffered_ == 0)
        credit_ = 0; // an empty device owes nothing for the time it idled
}

int ClockedOutput::Open(int sample_rate, int channels, int bits, int, int) {
    std::lock_guard<std::mutex> hold(lock_);
    ++opens_;
    if (open_)
        ++violations_;
    if (fail_open_at_ != 0 && opens_ == fail_open_at_)
        return -1;
    open_ = true;
    paused_ = false;
    rate_ = sample_rate;
    frame_ = std::max(1, channels * bits / 8);
    buffered_ = written_ = played_ = 0;
    base_ms_ = 0;
    credit_ = 0;
    last_ = std::chrono::steady_clock::now();
    return kBufferMs;
}

void ClockedOutput::Close() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_)
        ++violations_;
    open_ = false;
    paused_ = false;
    buffered_ = 0;
}

void ClockedOutput::Write(const char* buffer, int bytes) {
    WriteObserver observer;
    {
        std::lock_guard<std::mutex> hold(lock_);
        Advance();
        if (!open_ || bytes < 0 || bytes > Capacity() - buffered_)
            ++violations_;
        bytes = std::max(bytes, 0);
        buffered_ += bytes;
        written_ += bytes;
        total_written_ += bytes;
        if (keep_)
            kept_.insert(kept_.end(), buffer, buffer + bytes);
        observer = observer_;
    }
    if (observer && bytes > 0)
        observer(buffer, bytes);
}

int ClockedOutput::CanWrite() {
    std::lock_guard<std::mutex> hold(lock_);
    Advance();
    return open_ ? static_cast<int>(Capacity() - buffered_) : 0;
}

int ClockedOutput::IsPlaying() {
    std::lock_guard<std::mutex> hold(lock_);
    Advance();
    return buffered_ > 0 ? 1 : 0;
}

void ClockedOutput::Pause(int flag) {
    std::lock_guard<std::mutex> hold(lock_);
    Advance();
    paused_ = flag != 0;
}

void ClockedOutput::SetVolume(int) {}
void ClockedOutput::SetPan(int) {}

void ClockedOutput::Flush(int ms) {
    std::lock_guard<std::mutex> hold(lock_);
    Advance();
    buffered_ = written_ = played_ = 0;
    base_ms_ = ms;
    credit_ = 0;
    if (keep_)
        kept_flushes_.push_back(kept_.size());
}

int ClockedOutput::GetOutputTime() {
    std::lock_guard<std::mutex> hold(lock_);
    Advance();
    return BytesPerSecond() ? base_ms_ + static_cast<int>(played_ * 1000 / BytesPerSecond())
                            : base_ms_;
}

int ClockedOutput::GetWrittenTime() {
    std::lock_guard<std::mutex> hold(lock_);
    Advance();
    return BytesPerSecond() ? base_ms_ + static_cast<int>(written_ * 1000 / BytesPerSecond())
                            : base_ms_;
}

// ---- Host

ClockedHost::ClockedHost(PluginRecord& record, double speed)
    : record_(record), saved_(record), output_(speed) {
    live_output = &output_;
    live_host = this;
    dsp_active = 0;
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = WindowProc;
    window_class.lpszClassName = kWindowClass;
    RegisterClassA(&window_class);
    window_ = CreateWindowExA(0, kWindowClass, "Clocked host", 0, 0, 0, 0, 0, nullptr, nullptr,
                              nullptr, nullptr);
    record.main_window = window_;
    record.output = output_.Services();
    record.analysis_init = AnalysisInit;
    record.analysis_deinit = AnalysisDeinit;
    record.analysis_add_pcm = AddPcm;
    record.vis_add_pcm = AddPcm;
    record.vis_set_format = VisSetFormat;
    record.dsp_is_active = DspIsActive;
    record.dsp_process = DspProcess;
    record.set_stream_info = SetStreamInfo;
}

ClockedHost::~ClockedHost() {
    DestroyWindow(window_);
    UnregisterClassA(kWindowClass, nullptr);
    record_ = saved_;
    live_host = nullptr;
    live_output = nullptr;
}

void ClockedHost::SetDsp(bool active) {
    dsp_active = active ? 1 : 0;
}

void ClockedHost::SetCallHooks(std::function<void(const char*)> enter,
                               std::function<void()> leave) {
    enter_ = std::move(enter);
    leave_ = std::move(leave);
}

void ClockedHost::Enter(const char* what) {
    if (enter_)
        enter_(what);
}

void ClockedHost::Leave() {
    if (leave_)
        leave_();
}

LRESULT CALLBACK ClockedHost::WindowProc(HWND window, UINT message, WPARAM first, LPARAM second) {
    if (live_host && window == live_host->window_ &&
        (message == kRestartRequest || message == kEndOfStreamNotice)) {
        live_host->inbox_.push_back(
            Posted{message, second, live_host->sessions_.size(), live_host->user_commands_});
        return 0;
    }
    return DefWindowProcA(window, message, first, second);
}

void ClockedHost::Pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

int ClockedHost::Play(const std::string& file) {
    output_.HostPaused(false);
    Pump(); // what came before the user's play belongs to the stream before
    ++user_commands_;
    return PlayStream(file);
}

void ClockedHost::Stop() {
    Pump(); // what came before the user's stop belongs to the stream stopped
    ++user_commands_;
    StopStream();
    output_.HostPaused(false);
}

int ClockedHost::PlayStream(const std::string& file) {
    if (playing_)
        StopStream();
    file_ = file;
    Enter("play");
    int result = record_.play(file.c_str());
    Leave();
    if (result == 0) {
        sessions_.push_back(Session{});
        playing_ = true;
    } else {
        ++play_failures_;
    }
    return result;
}

void ClockedHost::StopStream() {
    if (!playing_)
        return;
    // Whatever the stream posted before it is stopped belongs to it.
    Pump();
    bool ended = player.thread != NO_THREAD && player.thread != nullptr &&
                 WaitForSingleObject(player.thread, 0) == WAIT_OBJECT_0;
    Enter("stop");
    record_.stop();
    Leave();
    playing_ = false;
    sessions_.back().ended_by_itself = ended;
    Pump();
}

void ClockedHost::Pause() {
    // As a player's pause button: nothing to pause while nothing plays.
    if (!playing_)
        return;
    Enter("pause");
    record_.pause();
    Leave();
    output_.HostPaused(true);
}

void ClockedHost::Unpause() {
    output_.HostPaused(false);
    Enter("unpause");
    record_.unpause();
    Leave();
}

void ClockedHost::Settle() {
    output_.Hold(true);
    for (int round = 0; round < 50; ++round) {
        Stop();
        if (Serve() == 0 && !playing_)
            break;
    }
    Stop();
    output_.Hold(false);
}

int ClockedHost::Serve() {
    Pump();
    int handled = 0;
    while (!inbox_.empty()) {
        Posted posted = inbox_.front();
        inbox_.erase(inbox_.begin());
        ++handled;
        // Sessions are numbered from 1 in the inbox: 0 means before any play.
        Session* from = posted.session > 0 ? &sessions_[posted.session - 1] : nullptr;
        bool current = posted.user_commands == user_commands_ && playing_;
        if (posted.message == kEndOfStreamNotice) {
            if (from)
                ++from->notices;
            if (current)
                Stop();
        } else if (posted.message == kRestartRequest && posted.second == kRestartRequestCode) {
            if (from)
                ++from->restarts;
            Answer answer = answer_ ? answer_() : Answer::StopPlay;
            if (answer == Answer::StopPlay)
                PlayStream(file_);
            else if (answer == Answer::Seek && current) {
                Enter("set_output_time");
                record_.set_output_time(0);
                Leave();
            }
        }
        Pump();
    }
    return handled;
}

bool ClockedHost::ServeUntil(const std::function<bool()>& done, int timeout_ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        Serve();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace clockedhost
