// lifetime_handles.exe PLUGIN_DLL ARCHIVE CYCLES: loads the real plug-in as
// the media player does and runs CYCLES rounds of init, play, seek, the track
// change the plug-in asks for, stop and quit against an output that plays
// everything at once; fails unless the process's handle count after the
// rounds is what it was after the first ones.
#include "core/plugin_record.h"
#include "tests/wine/pump_until.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kWarmUpCycles = 2;
constexpr DWORD kStepTimeoutMs = 10000;
constexpr const char* kWindowClass = "KestrelLifetimeHost";

PluginRecord* record = nullptr;
LONG opens = 0;
LONG restarts = 0;
LONG notices = 0;
bool playing = false;
const char* archive = nullptr;
int failures = 0;

// An output that hears everything as soon as it is written.
int __cdecl Open(int, int, int, int, int) {
    InterlockedIncrement(&opens);
    return 0;
}
void __cdecl Close() {}
void __cdecl Write(char*, int) {}
int __cdecl CanWrite() {
    return 1 << 16;
}
int __cdecl IsPlaying() {
    return 0;
}
void __cdecl OutputPause(int) {}
void __cdecl SetVolume(int) {}
void __cdecl SetPan(int) {}
void __cdecl Flush(int) {}
int __cdecl GetTime() {
    return 0;
}
void __cdecl AnalysisInit(int, int) {}
void __cdecl AnalysisDeinit() {}
void __cdecl AddPcm(void*, int, int, int) {}
void __cdecl VisSetFormat(int, int) {}
int __cdecl DspIsActive() {
    return 0;
}
int __cdecl DspProcess(short*, int samples, int, int, int) {
    return samples;
}
void __cdecl SetStreamInfo(int, int, int, int) {}

void Stop() {
    if (playing)
        record->stop();
    playing = false;
}

void Play() {
    Stop();
    if (record->play(archive) == 0)
        playing = true;
    else
        ++failures;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM first, LPARAM second) {
    if (message == kRestartRequest && second == kRestartRequestCode) {
        ++restarts;
        Play();
        return 0;
    }
    if (message == kEndOfStreamNotice) {
        ++notices;
        Stop();
        return 0;
    }
    return DefWindowProcA(window, message, first, second);
}

void Settle() {
    for (int round = 0; round < 50; ++round) {
        Stop();
        Sleep(5);
        MSG message;
        bool any = false;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
            any = true;
        }
        if (!any && !playing)
            return;
    }
    Stop();
}

bool Cycle() {
    record->init();
    Play();
    bool ok = playing;
    record->set_output_time(100);
    ok = ok && PumpUntil(restarts, restarts + 1, kStepTimeoutMs);
    Settle();
    record->quit();
    return ok;
}

DWORD HandleCount() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: lifetime_handles PLUGIN_DLL ARCHIVE CYCLES\n");
        return 2;
    }
    archive = argv[2];
    const int cycles = std::atoi(argv[3]);
    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    auto get = reinterpret_cast<PluginRecord*(__cdecl*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "winampGetInModule2")));
    if (!get) {
        std::fprintf(stderr, "no winampGetInModule2 in %s\n", argv[1]);
        return 1;
    }
    record = get();

    WNDCLASSA window_class{};
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = kWindowClass;
    RegisterClassA(&window_class);
    HWND window = CreateWindowExA(0, kWindowClass, "Lifetime host", 0, 0, 0, 0, 0, nullptr, nullptr,
                                  window_class.hInstance, nullptr);
    static OutputServices output{};
    output.open = Open;
    output.close = Close;
    output.write = Write;
    output.can_write = CanWrite;
    output.is_playing = IsPlaying;
    output.pause = OutputPause;
    output.set_volume = SetVolume;
    output.set_pan = SetPan;
    output.flush = Flush;
    output.get_output_time = GetTime;
    output.get_written_time = GetTime;
    record->main_window = window;
    record->instance = module;
    record->output = &output;
    record->analysis_init = AnalysisInit;
    record->analysis_deinit = AnalysisDeinit;
    record->analysis_add_pcm = AddPcm;
    record->vis_add_pcm = AddPcm;
    record->vis_set_format = VisSetFormat;
    record->dsp_is_active = DspIsActive;
    record->dsp_process = DspProcess;
    record->set_stream_info = SetStreamInfo;

    int broken = 0;
    for (int i = 0; i < kWarmUpCycles; ++i)
        broken += Cycle() ? 0 : 1;
    const DWORD before = HandleCount();
    for (int i = 0; i < cycles; ++i)
        broken += Cycle() ? 0 : 1;
    const DWORD after = HandleCount();
    std::printf("lifetime under Wine: %d cycles, %ld track changes, %ld outputs opened, "
                "process handles %lu -> %lu\n",
                cycles, static_cast<long>(restarts), static_cast<long>(opens),
                static_cast<unsigned long>(before), static_cast<unsigned long>(after));
    DestroyWindow(window);
    FreeLibrary(module);
    if (broken || failures) {
        std::fprintf(stderr, "%d cycles did not change track, %d plays failed\n", broken, failures);
        return 1;
    }
    if (after != before) {
        std::fprintf(stderr, "the process's handle count changed over the cycles\n");
        return 1;
    }
    return 0;
}
