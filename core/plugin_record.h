// Where host and plug-in meet: the record of entry points and host services
// that the host gets from the library's one export, and the host's output
// device. Every function slot uses the C calling convention. Both sides
// include it, so it stands alone: nothing of the plug-in's own.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <cstdint>

struct OutputServices {
    void* unused[9]; // the output module's own identity and set-up slots
    int(__cdecl* open)(int sample_rate, int channels, int bits, int option_a, int option_b);
    void(__cdecl* close)();
    void(__cdecl* write)(char* buffer, int bytes);
    int(__cdecl* can_write)();
    int(__cdecl* is_playing)();
    void(__cdecl* pause)(int flag);
    void(__cdecl* set_volume)(int volume);
    void(__cdecl* set_pan)(int pan);
    void(__cdecl* flush)(int ms);
    int(__cdecl* get_output_time)();
    int(__cdecl* get_written_time)();
};

struct PluginRecord {
    std::intptr_t version;
    const char* description;
    HWND main_window;
    HINSTANCE instance;
    const char* file_types;
    std::intptr_t seekable;
    std::intptr_t uses_output;
    void(__cdecl* configure)(HWND parent);
    void(__cdecl* about)(HWND parent);
    void(__cdecl* init)();
    void(__cdecl* quit)();
    void(__cdecl* get_file_info)(const char* file, char* title, int* length_ms);
    int(__cdecl* info_box)(const char* file, HWND parent);
    int(__cdecl* is_our_file)(const char* file);
    int(__cdecl* play)(const char* file);
    void(__cdecl* pause)();
    void(__cdecl* unpause)();
    int(__cdecl* is_paused)();
    void(__cdecl* stop)();
    int(__cdecl* get_length)();
    int(__cdecl* get_output_time)();
    void(__cdecl* set_output_time)(int ms);
    void(__cdecl* set_volume)(int volume);
    void(__cdecl* set_pan)(int pan);
    void(__cdecl* analysis_init)(int max_latency_ms, int sample_rate);
    void(__cdecl* analysis_deinit)();
    void(__cdecl* analysis_add_pcm)(void* buffer, int channels, int bits, int timestamp_ms);
    int(__cdecl* analysis_get_mode)();
    void(__cdecl* analysis_add)(void* data, int timestamp_ms, int csa);
    void(__cdecl* vis_add_pcm)(void* buffer, int channels, int bits, int timestamp_ms);
    int(__cdecl* vis_get_mode)(int* spectrum_channels, int* waveform_channels);
    void(__cdecl* vis_add)(void* data, int timestamp_ms);
    void(__cdecl* vis_set_format)(int sample_rate, int channels);
    int(__cdecl* dsp_is_active)();
    int(__cdecl* dsp_process)(short* buffer, int samples, int bits, int channels, int sample_rate);
    void(__cdecl* eq_set)(int on, char data[10], int preamp);
    void(__cdecl* set_stream_info)(int kbps, int khz, int channels, int synched);
    OutputServices* output;
};

constexpr int kPluginRecordSlots = 38;
static_assert(sizeof(PluginRecord) == kPluginRecordSlots * sizeof(void*));
static_assert(offsetof(PluginRecord, configure) == 7 * sizeof(void*));
static_assert(offsetof(PluginRecord, analysis_init) == 24 * sizeof(void*));
static_assert(offsetof(PluginRecord, output) == 37 * sizeof(void*));
static_assert(sizeof(void*) != 4 || sizeof(PluginRecord) == 152);
static_assert(offsetof(OutputServices, open) == 9 * sizeof(void*));
static_assert(sizeof(OutputServices) == 20 * sizeof(void*));

constexpr std::intptr_t kPluginVersion = 0x100;

// Messages posted to the host's main window.
constexpr UINT kRestartRequest = WM_USER; // first parameter 0, second 102
constexpr LPARAM kRestartRequestCode = 102;
constexpr UINT kEndOfStreamNotice = WM_USER + 2; // both parameters 0
constexpr int kKeepVolume = -666;                // set_volume: keep the current volume
