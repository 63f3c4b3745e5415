// The host's other services in the plug-in record: the analysis and
// visualisation feeds, the DSP stage and the stream information. They log
// what they are given; the DSP stage can be a test stage that changes the
// block's length, or one that talks to the host's window as real stages do.
#pragma once

#include "core/plugin_record.h"
#include "host/event_log.h"

#include <string>

enum class DspMode {
    Off,    // dsp_is_active answers 0
    Double, // every sample frame twice: the block comes back twice as long
    Half,   // every other frame: the block comes back half as long
    Zero,   // nothing comes back
    // The block comes back as it was, but the stage and the visualisation
    // feed each send the host's window kStageMessage (player_window.h) and
    // wait for its answer, from the plug-in's playback thread.
    Send,
};

// "double", "half", "zero" or "send"; false for anything else.
bool ParseDspMode(const std::string& text, DspMode* mode);

struct StreamInfo {
    int kbps = 0;
    int khz = 0;
    int channels = 0;
};

class HostServices {
public:
    // `host_window` is the window the Send stage talks to.
    HostServices(DspMode mode, HWND host_window, EventLog* log);
    ~HostServices();
    HostServices(const HostServices&) = delete;
    HostServices& operator=(const HostServices&) = delete;

    // Fills the record's service slots (all but `output`) with this host's.
    void Install(PluginRecord* record);

    // What the services were told, for the host's display.
    StreamInfo LastStreamInfo();
    long long BlocksAnalysed();
    // Messages the Send stage sent, and those the window answered rightly.
    long long StageMessagesSent();
    long long StageMessagesAnswered();

    // The slots' behaviour.
    void AnalysisInit(int max_latency_ms, int sample_rate);
    void AnalysisDeinit();
    void AnalysisAddPcm(void* buffer, int channels, int bits, int timestamp_ms);
    void VisAddPcm(void* buffer, int channels, int bits, int timestamp_ms);
    void VisSetFormat(int sample_rate, int channels);
    int DspIsActive();
    int DspProcess(short* buffer, int samples, int bits, int channels, int sample_rate);
    void SetStreamInfo(int kbps, int khz, int channels, int synched);
    void Unexpected(const char* slot);

private:
    // A copy of `field`, read under the lock.
    template <typename T> T Locked(const T& field);
    void TalkToHost();

    DspMode mode_;
    HWND host_window_;
    EventLog* log_;
    CRITICAL_SECTION lock_;
    StreamInfo info_;
    long long blocks_ = 0;
    long long stage_sent_ = 0;
    long long stage_answered_ = 0;
};
