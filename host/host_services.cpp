#include "host/host_services.h"

#include "host/player_window.h"

namespace {

HostServices* installed = nullptr;

void __cdecl AnalysisInit(int latency, int rate) {
    installed->AnalysisInit(latency, rate);
}
void __cdecl AnalysisDeinit() {
    installed->AnalysisDeinit();
}
void __cdecl AnalysisAddPcm(void* buffer, int channels, int bits, int stamp) {
    installed->AnalysisAddPcm(buffer, channels, bits, stamp);
}
int __cdecl AnalysisGetMode() {
    installed->Unexpected("analysis_get_mode");
    return 0;
}
void __cdecl AnalysisAdd(void*, int, int) {
    installed->Unexpected("analysis_add");
}
void __cdecl VisAddPcm(void* buffer, int channels, int bits, int stamp) {
    installed->VisAddPcm(buffer, channels, bits, stamp);
}
int __cdecl VisGetMode(int*, int*) {
    installed->Unexpected("vis_get_mode");
    return 0;
}
void __cdecl VisAdd(void*, int) {
    installed->Unexpected("vis_add");
}
void __cdecl VisSetFormat(int rate, int channels) {
    installed->VisSetFormat(rate, channels);
}
int __cdecl DspIsActive() {
    return installed->DspIsActive();
}
int __cdecl DspProcess(short* buffer, int samples, int bits, int channels, int rate) {
    return installed->DspProcess(buffer, samples, bits, channels, rate);
}
void __cdecl SetStreamInfo(int kbps, int khz, int channels, int synched) {
    installed->SetStreamInfo(kbps, khz, channels, synched);
}

} // namespace

bool ParseDspMode(const std::string& text, DspMode* mode) {
    if (text == "double")
        *mode = DspMode::Double;
    else if (text == "half")
        *mode = DspMode::Half;
    else if (text == "zero")
        *mode = DspMode::Zero;
    else if (text == "send")
        *mode = DspMode::Send;
    else
        return false;
    return true;
}

HostServices::HostServices(DspMode mode, HWND host_window, EventLog* log)
    : mode_(mode), host_window_(host_window), log_(log) {
    InitializeCriticalSection(&lock_);
}

HostServices::~HostServices() {
    if (installed == this)
        installed = nullptr;
    DeleteCriticalSection(&lock_);
}

void HostServices::Install(PluginRecord* record) {
    installed = this;
    record->analysis_init = ::AnalysisInit;
    record->analysis_deinit = ::AnalysisDeinit;
    record->analysis_add_pcm = ::AnalysisAddPcm;
    record->analysis_get_mode = ::AnalysisGetMode;
    record->analysis_add = ::AnalysisAdd;
    record->vis_add_pcm = ::VisAddPcm;
    record->vis_get_mode = ::VisGetMode;
    record->vis_add = ::VisAdd;
    record->vis_set_format = ::VisSetFormat;
    record->dsp_is_active = ::DspIsActive;
    record->dsp_process = ::DspProcess;
    record->set_stream_info = ::SetStreamInfo;
}

template <typename T> T HostServices::Locked(const T& field) {
    EnterCriticalSection(&lock_);
    T value = field;
    LeaveCriticalSection(&lock_);
    return value;
}

StreamInfo HostServices::LastStreamInfo() {
    return Locked(info_);
}

long long HostServices::BlocksAnalysed() {
    return Locked(blocks_);
}

long long HostServices::StageMessagesSent() {
    return Locked(stage_sent_);
}

long long HostServices::StageMessagesAnswered() {
    return Locked(stage_answered_);
}

void HostServices::TalkToHost() {
    if (mode_ != DspMode::Send)
        return;
    EnterCriticalSection(&lock_);
    WPARAM sequence = static_cast<WPARAM>(++stage_sent_);
    LeaveCriticalSection(&lock_);
    // Not under the lock: this waits until the window's thread has answered,
    // and that thread may want the lock meanwhile.
    LRESULT answer = SendMessageA(host_window_, kStageMessage, sequence, 0);
    EnterCriticalSection(&lock_);
    if (answer == StageAnswer(sequence))
        ++stage_answered_;
    LeaveCriticalSection(&lock_);
}

void HostServices::AnalysisInit(int max_latency_ms, int sample_rate) {
    log_->Event("analysis_init").Int("max_latency", max_latency_ms).Int("rate", sample_rate);
}

void HostServices::AnalysisDeinit() {
    log_->Event("analysis_deinit");
}

void HostServices::AnalysisAddPcm(void*, int channels, int bits, int timestamp_ms) {
    EnterCriticalSection(&lock_);
    ++blocks_;
    LeaveCriticalSection(&lock_);
    log_->Event("analysis_add_pcm")
        .Int("channels", channels)
        .Int("bits", bits)
        .Int("timestamp", timestamp_ms);
}

void HostServices::VisAddPcm(void*, int channels, int bits, int timestamp_ms) {
    log_->Event("vis_add_pcm")
        .Int("channels", channels)
        .Int("bits", bits)
        .Int("timestamp", timestamp_ms);
    TalkToHost();
}

void HostServices::VisSetFormat(int sample_rate, int channels) {
    log_->Event("vis_set_format").Int("rate", sample_rate).Int("channels", channels);
}

int HostServices::DspIsActive() {
    int active = mode_ == DspMode::Off ? 0 : 1;
    log_->Event("dsp_is_active").Int("result", active);
    return active;
}

int HostServices::DspProcess(short* buffer, int samples, int bits, int channels, int sample_rate) {
    int frames = samples;
    if (bits != 16 || channels <= 0 || samples < 0) {
        log_->Event("violation").Str("what", "dsp_process format").Int("value", bits);
    } else if (mode_ == DspMode::Double) {
        // From the end backwards, so no frame is overwritten before it is copied.
        for (int f = samples - 1; f >= 0; --f)
            for (int c = channels - 1; c >= 0; --c) {
                short value = buffer[f * channels + c];
                buffer[(2 * f) * channels + c] = value;
                buffer[(2 * f + 1) * channels + c] = value;
            }
        frames = samples * 2;
    } else if (mode_ == DspMode::Half) {
        frames = (samples + 1) / 2;
        for (int f = 0; f < frames; ++f)
            for (int c = 0; c < channels; ++c)
                buffer[f * channels + c] = buffer[(2 * f) * channels + c];
    } else if (mode_ == DspMode::Zero) {
        frames = 0;
    } else if (mode_ == DspMode::Send) {
        TalkToHost();
    }
    log_->Event("dsp_process")
        .Int("samples", samples)
        .Int("bits", bits)
        .Int("channels", channels)
        .Int("rate", sample_rate)
        .Int("result", frames);
    return frames;
}

void HostServices::SetStreamInfo(int kbps, int khz, int channels, int synched) {
    EnterCriticalSection(&lock_);
    info_ = StreamInfo{kbps, khz, channels};
    LeaveCriticalSection(&lock_);
    log_->Event("set_stream_info")
        .Int("kbps", kbps)
        .Int("khz", khz)
        .Int("channels", channels)
        .Int("synched", synched);
}

void HostServices::Unexpected(const char* slot) {
    log_->Event("violation").Str("what", "unexpected call").Str("slot", slot);
}
