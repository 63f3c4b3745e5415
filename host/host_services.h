// The host's other services in the plug-in record: the analysis and
// visualisation feeds, the DSP stage and the stream information. They log
// what they are given; the DSP stage can be a test stage that changes the
// block's length.
#pragma once

#include "core/plugin_record.h"
#include "host/event_log.h"

#include <string>

enum class DspMode {
    Off,    // dsp_is_active answers 0
    Double, // every sample frame twice: the block comes back twice as long
    Half,   // every other frame: the block comes back half as long
    Zero,   // nothing comes back
};

// "double", "half" or "zero"; false for anything else.
bool ParseDspMode(const std::string& text, DspMode* mode);

struct StreamInfo {
    int kbps = 0;
    int khz = 0;
    int channels = 0;
};

class HostServices {
public:
    HostServices(DspMode mode, EventLog* log);
    ~HostServices();
    HostServices(const HostServices&) = delete;
    HostServices& operator=(const HostServices&) = delete;

    // Fills the record's service slots (all but `output`) with this host's.
    void Install(PluginRecord* record);

    // What the services were told, for the host's display.
    StreamInfo LastStreamInfo();
    long long BlocksAnalysed();

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
    DspMode mode_;
    EventLog* log_;
    CRITICAL_SECTION lock_;
    StreamInfo info_;
    long long blocks_ = 0;
};
