#include "support/fake_host.h"

#include <algorithm>
#include <cstring>

namespace fakehost {
namespace {

FakeHost* current = nullptr;
constexpr const char* kWindowClass = "KestrelFakeHost";

} // namespace

// The record's slots are plain functions; they reach the one fake host.
struct Slots {
    static int Open(int, int, int, int, int) {
        if (current->open_)
            ++current->violations_;
        if (++current->opens_ == current->fail_open_at_)
            return -1;
        current->open_ = true;
        current->paused_ = false;
        return 0;
    }
    static void Close() {
        if (!current->open_)
            ++current->violations_;
        ++current->closes_;
        current->open_ = false;
        current->paused_ = false;
    }
    static void Write(char* buffer, int bytes) {
        if (!current->open_)
            ++current->violations_;
        std::lock_guard<std::mutex> hold(current->lock_);
        current->written_.insert(current->written_.end(), buffer, buffer + std::max(bytes, 0));
    }
    static int CanWrite() { return current->room_; }
    static int IsPlaying() {
        if (current->playing_)
            return 1;
        if (current->on_played_out_)
            current->on_played_out_();
        return 0;
    }
    static void Pause(int flag) { current->paused_ = flag != 0; }
    static void SetVolume(int) {}
    static void SetPan(int) {}
    static void FlushOutput(int ms) {
        std::lock_guard<std::mutex> hold(current->lock_);
        current->flushes_.push_back(Flush{current->written_.size(), ms});
    }
    static int GetTime() { return 0; }

    static void AnalysisInit(int, int) {}
    static void AnalysisDeinit() {}
    static void AnalysePcm(void*, int, int, int timestamp) {
        std::lock_guard<std::mutex> hold(current->lock_);
        current->timestamps_.push_back(timestamp);
    }
    static void VisPcm(void*, int, int, int) {
        if (current->sending_)
            SendMessageA(current->window_, FakeHost::kStageMessage, 0, 0);
    }
    static void VisSetFormat(int, int) {}
    static int DspIsActive() { return 0; }
    static int DspProcess(short*, int samples, int, int, int) { return samples; }
    static void SetStreamInfo(int, int, int, int) {}
};

FakeHost::FakeHost(PluginRecord& record) : record_(record), saved_(record) {
    current = this;
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = WindowProc;
    window_class.lpszClassName = kWindowClass;
    RegisterClassA(&window_class);
    window_ = CreateWindowExA(0, kWindowClass, "Fake host", 0, 0, 0, 0, 0, nullptr, nullptr,
                              nullptr, nullptr);

    services_.open = Slots::Open;
    services_.close = Slots::Close;
    services_.write = Slots::Write;
    services_.can_write = Slots::CanWrite;
    services_.is_playing = Slots::IsPlaying;
    services_.pause = Slots::Pause;
    services_.set_volume = Slots::SetVolume;
    services_.set_pan = Slots::SetPan;
    services_.flush = Slots::FlushOutput;
    services_.get_output_time = Slots::GetTime;
    services_.get_written_time = Slots::GetTime;

    record.main_window = window_;
    record.output = &services_;
    record.analysis_init = Slots::AnalysisInit;
    record.analysis_deinit = Slots::AnalysisDeinit;
    record.analysis_add_pcm = Slots::AnalysePcm;
    record.vis_add_pcm = Slots::VisPcm;
    record.vis_set_format = Slots::VisSetFormat;
    record.dsp_is_active = Slots::DspIsActive;
    record.dsp_process = Slots::DspProcess;
    record.set_stream_info = Slots::SetStreamInfo;
}

FakeHost::~FakeHost() {
    DestroyWindow(window_);
    UnregisterClassA(kWindowClass, nullptr);
    record_ = saved_;
    current = nullptr;
}

LRESULT CALLBACK FakeHost::WindowProc(HWND, UINT message, WPARAM, LPARAM) {
    std::lock_guard<std::mutex> hold(current->lock_);
    current->received_.push_back(message);
    return 0;
}

void FakeHost::OnPlayedOut(std::function<void()> call) {
    on_played_out_ = std::move(call);
}

std::vector<int> FakeHost::Timestamps() {
    std::lock_guard<std::mutex> hold(lock_);
    return timestamps_;
}

void FakeHost::PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

int FakeHost::Received(UINT message) {
    std::lock_guard<std::mutex> hold(lock_);
    return static_cast<int>(std::count(received_.begin(), received_.end(), message));
}

std::vector<char> FakeHost::Written() {
    std::lock_guard<std::mutex> hold(lock_);
    return written_;
}

std::vector<Flush> FakeHost::Flushes() {
    std::lock_guard<std::mutex> hold(lock_);
    return flushes_;
}

std::vector<std::int16_t> FakeHost::SamplesWritten(std::size_t from, std::size_t to) {
    std::lock_guard<std::mutex> hold(lock_);
    to = std::min(to, written_.size());
    std::vector<std::int16_t> samples(to > from ? (to - from) / 2 : 0);
    if (!samples.empty())
        std::memcpy(samples.data(), written_.data() + from, samples.size() * 2);
    return samples;
}

} // namespace fakehost
