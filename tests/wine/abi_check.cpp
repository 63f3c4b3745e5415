// abi_check.exe PLUGIN_DLL ARCHIVE: the plug-in's calling contract as a
// 32-bit media player sees it. The archive's first two tracks are "One", 2 s
// at 22050 Hz, and a short one at 11025 Hz; its index is beside the plug-in.
// The exports beside the record (the extended file-info query and the
// extended read) are found by name and called the same way.
//
// The record is read as the player reads it, 38 machine words, without the
// plug-in's own header: every function slot is called through a small
// assembler wrapper that pushes known arguments, calls, and compares ESP and
// the callee-saved registers before and after, so a slot whose routine
// removes its own arguments (stdcall) or keeps them in registers shows up.
// Every host service is an assembler stub that hands the raw stack words to
// a logger; the test checks each call's arguments in order, and that the
// stack depth at each call site never moves, which catches a plug-in that
// expects a service to remove its arguments wherever it calls that service
// again from the same frame (the playback thread's calls, every pass), or
// from a routine without a frame pointer (whose return then goes astray). A
// service called only once from a routine that keeps a frame pointer leaves
// no trace once that routine has returned, and none is looked for.
// No floating point: i686 code uses x87, which is slow under emulation.
#include "platform/win32.h"
#include "tests/wine/pump_until.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <vector>

static_assert(sizeof(void*) == 4, "the calling contract checked here is the 32-bit one");

using Word = std::uint32_t;

struct CallProbe {
    Word esp_before, esp_after, ebx, esi, edi, ebp_after, ebp_before;
};

extern "C" {
CallProbe abi_probe;
Word abi_call_slot(const void* routine, const Word* args, int count);
Word abi_service(int service, const Word* args, Word return_address);
extern void* const abi_service_stubs[];
}

// abi_call_slot(routine, args, count): pushes args[count-1] .. args[0], sets
// EBX, ESI and EDI to markers, calls, and leaves ESP, the markers and EBP as
// the routine left them in abi_probe before restoring its own frame.
// The service stubs push their number and share one body, which passes the
// address of the first argument and the return address to abi_service and
// returns with a plain ret: the caller removes the arguments.
asm(R"(
    .text
    .globl _abi_call_slot
_abi_call_slot:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  movl 8(%ebp), %eax
    movl %esp, _abi_probe
    movl %ebp, _abi_probe+24
    movl $0xb0b0b0b0, %ebx
    movl $0x51515151, %esi
    movl $0xd1d1d1d1, %edi
    call *%eax
    movl %esp, _abi_probe+4
    movl %ebx, _abi_probe+8
    movl %esi, _abi_probe+12
    movl %edi, _abi_probe+16
    movl %ebp, _abi_probe+20
    movl _abi_probe+24, %ebp
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret

abi_service_common:
    pushl %ebp
    movl %esp, %ebp
    pushl 8(%ebp)
    leal 12(%ebp), %eax
    pushl %eax
    pushl 4(%ebp)
    call _abi_service
    addl $12, %esp
    popl %ebp
    addl $4, %esp
    ret

    .irp n, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22
abi_service_\n:
    pushl $\n
    jmp abi_service_common
    .endr

    .section .rdata,"dr"
    .globl _abi_service_stubs
_abi_service_stubs:
    .irp n, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22
    .long abi_service_\n
    .endr
    .text
)");

namespace {

// The record's words, counted from 0.
enum Slot {
    kVersion = 0,
    kDescription = 1,
    kMainWindow = 2,
    kInstance = 3,
    kFileTypes = 4,
    kSeekable = 5,
    kUsesOutput = 6,
    kConfigure = 7,
    kAbout,
    kInit,
    kQuit,
    kGetFileInfo,
    kInfoBox,
    kIsOurFile,
    kPlay,
    kPause,
    kUnpause,
    kIsPaused,
    kStop,
    kGetLength,
    kGetOutputTime,
    kSetOutputTime,
    kSetVolume,
    kSetPan,
    kEqSet = 35,
    kOutput = 37,
    kRecordWords = 38
};
constexpr int kOutputWords = 20;
constexpr int kOutputLeadingWords = 9;

enum Service {
    kAnalysisInit,
    kAnalysisDeinit,
    kAnalysisAddPcm,
    kAnalysisGetMode,
    kAnalysisAdd,
    kVisAddPcm,
    kVisGetMode,
    kVisAdd,
    kVisSetFormat,
    kDspIsActive,
    kDspProcess,
    kSetStreamInfo,
    kOpen,
    kClose,
    kWrite,
    kCanWrite,
    kIsPlaying,
    kOutputPause,
    kOutputSetVolume,
    kOutputSetPan,
    kFlush,
    kOutputTime,
    kWrittenTime,
    kServices
};

static_assert(kServices == 23, "one assembler stub for each service");

struct ServiceInfo {
    const char* name;
    int word; // in the record, or kOutput * 100 + word in the output device
    int args;
    bool called; // the plug-in calls it at all
};

constexpr int kInOutput = kOutput * 100;
constexpr ServiceInfo kServiceTable[kServices] = {
    {"analysis_init", 24, 2, true},
    {"analysis_deinit", 25, 0, true},
    {"analysis_add_pcm", 26, 4, true},
    {"analysis_get_mode", 27, 0, false},
    {"analysis_add", 28, 3, false},
    {"vis_add_pcm", 29, 4, true},
    {"vis_get_mode", 30, 2, false},
    {"vis_add", 31, 2, false},
    {"vis_set_format", 32, 2, true},
    {"dsp_is_active", 33, 0, true},
    {"dsp_process", 34, 5, true},
    {"set_stream_info", 36, 4, true},
    {"output open", kInOutput + 9, 5, true},
    {"output close", kInOutput + 10, 0, true},
    {"output write", kInOutput + 11, 2, true},
    {"output can_write", kInOutput + 12, 0, true},
    {"output is_playing", kInOutput + 13, 0, true},
    {"output pause", kInOutput + 14, 1, true},
    {"output set_volume", kInOutput + 15, 1, true},
    {"output set_pan", kInOutput + 16, 1, true},
    {"output flush", kInOutput + 17, 1, true},
    {"output get_output_time", kInOutput + 18, 0, true},
    {"output get_written_time", kInOutput + 19, 0, true},
};

// The plug-in routine in record word `slot`, or null for a value or a host slot.
const char* SlotName(int slot) {
    static const char* const kNames[] = {"configure",
                                         "about",
                                         "init",
                                         "quit",
                                         "get_file_info",
                                         "info_box",
                                         "is_our_file",
                                         "play",
                                         "pause",
                                         "unpause",
                                         "is_paused",
                                         "stop",
                                         "get_length",
                                         "get_output_time",
                                         "set_output_time",
                                         "set_volume",
                                         "set_pan"};
    if (slot >= kConfigure && slot <= kSetPan)
        return kNames[slot - kConfigure];
    return slot == kEqSet ? "eq_set" : nullptr;
}

constexpr Word kLatencyMs = 1234;
constexpr Word kOutputTimeMs = 5000;
constexpr Word kWrittenTimeMs = 5050;
constexpr int kBlockBytes = 576 * 2;
constexpr int kFirstRate = 22050;
constexpr int kSecondRate = 11025;
constexpr DWORD kWaitMs = 20000;
constexpr UINT kRestartRequest = WM_USER;
constexpr UINT kEndOfStreamNotice = WM_USER + 2;
constexpr const char* kInfoCaption = "Kestrel - Sound Info";
constexpr const char* kAboutCaption = "About me?!";

struct Call {
    int service;
    bool host_thread;
    Word args[5];
};

constexpr int kMaxCalls = 1 << 16;
Call calls[kMaxCalls];
volatile LONG call_count = 0;
CRITICAL_SECTION log_lock;

// Stack depth of each call site, per caller: the entry point the host was in,
// or -1 on the playback thread (depth counted from the thread's stack base).
struct Site {
    int context;
    Word return_address;
    Word depth;
    bool reported;
};
constexpr int kMaxSites = 512;
Site sites[kMaxSites];
int site_count = 0;

DWORD host_thread = 0;
int current_slot = -1;
Word record[kRecordWords];
Word* live_record = nullptr;
void* output_device[kOutputWords];
volatile LONG credit = 0;
volatile LONG restart_requests = 0;
volatile LONG end_notices = 0;
volatile LONG bad_messages = 0;
volatile LONG failures = 0;

__attribute__((format(gnu_printf, 1, 2))) void Fail(const char* format, ...) {
    InterlockedIncrement(&failures);
    std::va_list args;
    va_start(args, format);
    std::printf("FAIL: ");
    std::vprintf(format, args);
    std::printf("\n");
    va_end(args);
}

// Stack depth of a call site, compared with the first call from there.
void CheckDepth(int service, int context, Word return_address, Word depth) {
    for (int i = 0; i < site_count; ++i) {
        Site& site = sites[i];
        if (site.context != context || site.return_address != return_address)
            continue;
        if (site.depth != depth && !site.reported) {
            site.reported = true;
            Fail("%s called from %#x (%s) at stack depth %u, earlier at %u: the plug-in and "
                 "the host disagree on who removes the arguments",
                 kServiceTable[service].name, return_address,
                 context < 0 ? "playback thread" : SlotName(context), depth, site.depth);
        }
        return;
    }
    if (site_count < kMaxSites)
        sites[site_count++] = {context, return_address, depth, false};
}

} // namespace

extern "C" Word abi_service(int service, const Word* args, Word return_address) {
    const bool on_host = GetCurrentThreadId() == host_thread;
    const Word here = reinterpret_cast<Word>(args);
    Word base; // NT_TIB.StackBase of this thread
    asm("movl %%fs:4, %0" : "=r"(base));
    EnterCriticalSection(&log_lock);
    if (!kServiceTable[service].called)
        Fail("the plug-in called %s, which it never calls", kServiceTable[service].name);
    CheckDepth(service, on_host ? current_slot : -1, return_address,
               on_host ? abi_probe.esp_before - here : base - here);
    if (call_count < kMaxCalls) {
        Call& call = calls[call_count];
        call.service = service;
        call.host_thread = on_host;
        for (int i = 0; i < 5; ++i)
            call.args[i] = i < kServiceTable[service].args ? args[i] : 0;
        InterlockedIncrement(&call_count);
    }
    LeaveCriticalSection(&log_lock);

    switch (service) {
    case kOpen:
        return kLatencyMs;
    case kCanWrite:
        return credit > 0 ? static_cast<Word>(credit) : 0;
    case kWrite:
        InterlockedExchangeAdd(&credit, -static_cast<LONG>(args[1]));
        return 0;
    case kDspIsActive:
        return 1;
    case kDspProcess:
        return args[1];
    case kOutputTime:
        return kOutputTimeMs;
    case kWrittenTime:
        return kWrittenTimeMs;
    default:
        return 0; // is_playing: everything written has been heard
    }
}

namespace {

Word W(const void* pointer) {
    return reinterpret_cast<Word>(pointer);
}
Word W(int value) {
    return static_cast<Word>(value);
}

// Calls a plug-in slot with the C calling convention and checks that the
// stack and the callee-saved registers are as they were.
Word CallSlot(int slot, std::initializer_list<Word> args) {
    current_slot = slot;
    const Word result = abi_call_slot(reinterpret_cast<void*>(live_record[slot]), args.begin(),
                                      static_cast<int>(args.size()));
    const CallProbe& p = abi_probe;
    if (p.esp_after != p.esp_before)
        Fail("%s: ESP moved by %d bytes over the call: the routine does not leave its %u "
             "arguments to the caller",
             SlotName(slot), static_cast<int>(p.esp_after - p.esp_before),
             static_cast<unsigned>(args.size()));
    if (p.ebx != 0xb0b0b0b0 || p.esi != 0x51515151 || p.edi != 0xd1d1d1d1 ||
        p.ebp_after != p.ebp_before)
        Fail("%s: EBX, ESI, EDI or EBP changed over the call", SlotName(slot));
    current_slot = -1;
    return result;
}

// Calls an export found by its undecorated name, with the same checks.
Word CallExport(HMODULE module, const char* name, std::initializer_list<Word> args) {
    FARPROC routine = GetProcAddress(module, name);
    if (!routine) {
        Fail("no export %s", name);
        return 0;
    }
    const Word result = abi_call_slot(reinterpret_cast<void*>(routine), args.begin(),
                                      static_cast<int>(args.size()));
    const CallProbe& p = abi_probe;
    if (p.esp_after != p.esp_before)
        Fail("%s: ESP moved by %d bytes over the call", name,
             static_cast<int>(p.esp_after - p.esp_before));
    if (p.ebx != 0xb0b0b0b0 || p.esi != 0x51515151 || p.edi != 0xd1d1d1d1 ||
        p.ebp_after != p.ebp_before)
        Fail("%s: EBX, ESI, EDI or EBP changed over the call", name);
    return result;
}

// The extended file-info query and the extended read on track 1 ("One",
// 2 s at 22050 Hz: 88200 bytes of PCM).
void CheckExtendedExports(HMODULE module, const char* archive) {
    char entry[MAX_PATH + 8];
    std::snprintf(entry, sizeof entry, "%s|1.MIX", archive);
    char out[64];
    const char* info = "winampGetExtendedFileInfo";
    if (CallExport(module, info, {W(""), W("type"), W(out), W(2)}) != 1 || std::strcmp(out, "0"))
        Fail("type with an empty name gave %s", out);
    if (CallExport(module, info, {W(entry), W("TITLE"), W(out), W(3)}) != 1 ||
        std::strcmp(out, "On"))
        Fail("the title of %s in 3 bytes gave %s", entry, out);
    if (CallExport(module, info, {W(entry), W("length"), W(out), W(sizeof out)}) != 1 ||
        std::strcmp(out, "2000"))
        Fail("the length of %s gave %s", entry, out);
    if (CallExport(module, info, {W(entry), W("no such field"), W(out), W(sizeof out)}) != 0)
        Fail("an unknown field was answered");

    int size = 0, bps = 0, channels = 0, rate = 0;
    const Word read = CallExport(module, "winampGetExtendedRead_open",
                                 {W(entry), W(&size), W(&bps), W(&channels), W(&rate)});
    if (!read || size != 88200 || bps != 16 || channels != 1 || rate != kFirstRate) {
        Fail("extended read open gave handle %#x, %d bytes, %d bits, %d channels, %d Hz", read,
             size, bps, channels, rate);
        return;
    }
    static char pcm[4096];
    int kill = 0;
    const Word got =
        CallExport(module, "winampGetExtendedRead_getData", {read, W(pcm), W(4096), W(&kill)});
    if (got != 4096)
        Fail("extended read getData gave %u of 4096 bytes", got);
    if (CallExport(module, "winampGetExtendedRead_setTime", {read, W(1000)}) != 1)
        Fail("extended read setTime failed");
    CallExport(module, "winampGetExtendedRead_close", {read});
}

struct Expected {
    int service;
    std::vector<Word> args;
};

// The host-thread calls logged since `from` must be exactly `expected`.
void ExpectHostCalls(const char* during, LONG from, const std::vector<Expected>& expected) {
    auto next = expected.begin();
    for (LONG i = from; i < call_count; ++i) {
        const Call& call = calls[i];
        if (!call.host_thread)
            continue;
        if (next == expected.end()) {
            Fail("%s: unexpected call of %s", during, kServiceTable[call.service].name);
            continue;
        }
        int k = 0;
        bool same = call.service == next->service;
        for (Word arg : next->args)
            same = same && call.args[k++] == arg;
        if (!same)
            Fail("%s: %s(%d, %d, %d, %d, %d) where %s was expected", during,
                 kServiceTable[call.service].name, static_cast<int>(call.args[0]),
                 static_cast<int>(call.args[1]), static_cast<int>(call.args[2]),
                 static_cast<int>(call.args[3]), static_cast<int>(call.args[4]),
                 kServiceTable[next->service].name);
        ++next;
    }
    for (; next != expected.end(); ++next)
        Fail("%s: no call of %s", during, kServiceTable[next->service].name);
}

// What a track's start asks of the host at `rate`.
std::vector<Expected> TrackStart(int rate) {
    return {{kOpen, {W(rate), 1, 16, W(-1), W(-1)}},
            {kSetStreamInfo, {W(rate * 16 / 1000), W(rate / 1000), 1, 1}},
            {kAnalysisInit, {kLatencyMs, W(rate)}},
            {kVisSetFormat, {W(rate), 1}},
            {kOutputSetVolume, {W(-666)}}};
}

// The last playback-thread call of `service` logged since `from`, or null.
const Call* LastThreadCall(int service, LONG from) {
    const Call* last = nullptr;
    for (LONG i = from; i < call_count; ++i)
        if (!calls[i].host_thread && calls[i].service == service)
            last = &calls[i];
    return last;
}

LONG CountThreadCalls(int service, LONG from) {
    LONG count = 0;
    for (LONG i = from; i < call_count; ++i)
        count += !calls[i].host_thread && calls[i].service == service;
    return count;
}

// Lets the playback thread decode `blocks` blocks (the DSP stage is active,
// so each needs room for two) and waits until it has written them.
bool PlayBlocks(int blocks) {
    const LONG from = call_count;
    InterlockedExchange(&credit, (blocks + 1) * kBlockBytes);
    const DWORD start = GetTickCount();
    while (CountThreadCalls(kWrite, from) < blocks) {
        if (GetTickCount() - start > kWaitMs) {
            Fail("the playback thread wrote %ld of %d blocks", CountThreadCalls(kWrite, from),
                 blocks);
            return false;
        }
        Sleep(5);
    }
    Sleep(50); // a further pass would find too little room
    return true;
}

// Each block goes through analysis, visualisation and the DSP stage to the
// output, from the plug-in's one PCM buffer, with the track's format.
void CheckBlocks(LONG from, int rate, Word first_timestamp) {
    Word buffer = 0;
    Word timestamp = first_timestamp;
    int blocks = 0;
    for (LONG i = from; i < call_count; ++i) {
        const Call& call = calls[i];
        if (call.host_thread)
            continue;
        const Word* a = call.args;
        switch (call.service) {
        case kAnalysisAddPcm:
            if (!buffer)
                buffer = a[0];
            if (a[0] != buffer || a[1] != 1 || a[2] != 16 || a[3] != timestamp)
                Fail("analysis_add_pcm got channels %u, bits %u, time %u", a[1], a[2], a[3]);
            break;
        case kVisAddPcm:
            if (a[0] != buffer || a[1] != 1 || a[2] != 16 || a[3] != timestamp)
                Fail("vis_add_pcm got channels %u, bits %u, time %u", a[1], a[2], a[3]);
            timestamp += 576000 / rate;
            break;
        case kDspProcess:
            if (a[0] != buffer || a[1] != 576 || a[2] != 16 || a[3] != 1 || a[4] != W(rate))
                Fail("dsp_process got %u frames, %u bits, rate %u", a[1], a[2], a[4]);
            break;
        case kWrite:
            if (a[0] != buffer || a[1] != kBlockBytes)
                Fail("write got %u bytes from %#x", a[1], a[0]);
            ++blocks;
            break;
        }
    }
    if (!buffer || blocks == 0)
        Fail("no block reached the output");
}

LRESULT CALLBACK HostWindow(HWND window, UINT message, WPARAM first, LPARAM second) {
    if (message == kRestartRequest) {
        if (first != 0 || second != 102)
            InterlockedIncrement(&bad_messages);
        InterlockedIncrement(&restart_requests);
        return 0;
    }
    if (message == kEndOfStreamNotice) {
        InterlockedIncrement(&end_notices);
        return 0;
    }
    return DefWindowProcA(window, message, first, second);
}

// Works the modal dialogs from a timer on the host's thread: in the Sound
// Info dialog "Cool!" opens the About box, which is closed, then "Cancel".
int dialog_step = 0;
void CALLBACK DialogTimer(HWND, UINT, UINT_PTR, DWORD) {
    HWND about = FindWindowA(nullptr, kAboutCaption);
    HWND info = FindWindowA(nullptr, kInfoCaption);
    if (about) {
        PostMessageA(about, WM_CLOSE, 0, 0);
        dialog_step = 2;
    } else if (info && dialog_step == 0) {
        PostMessageA(info, WM_COMMAND, 1010, 0);
        dialog_step = 1;
    } else if (info && dialog_step == 2) {
        PostMessageA(info, WM_COMMAND, 1009, 0);
        dialog_step = 3;
    }
}

LONG WINAPI Crashed(EXCEPTION_POINTERS* exception) {
    Fail("exception %#lx at %p on the %s thread", exception->ExceptionRecord->ExceptionCode,
         exception->ExceptionRecord->ExceptionAddress,
         GetCurrentThreadId() == host_thread ? "host's" : "playback");
    std::fflush(stdout);
    ExitProcess(3);
}

bool SameText(Word address, const char* text, size_t bytes) {
    return address && std::memcmp(reinterpret_cast<const char*>(address), text, bytes) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: abi_check PLUGIN_DLL ARCHIVE\n");
        return 2;
    }
    SetUnhandledExceptionFilter(Crashed);
    host_thread = GetCurrentThreadId();
    InitializeCriticalSection(&log_lock);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    char archive[MAX_PATH];
    GetFullPathNameA(argv[2], MAX_PATH, archive, nullptr);
    const char* archive_name = std::strrchr(archive, '\\') + 1;
    HMODULE module = LoadLibraryA(argv[1]);
    FARPROC get = module ? GetProcAddress(module, "winampGetInModule2") : nullptr;
    if (!get) {
        Fail("cannot load %s or find winampGetInModule2 in it", argv[1]);
        return 1;
    }
    live_record = reinterpret_cast<Word*>(abi_call_slot(reinterpret_cast<void*>(get), nullptr, 0));
    if (abi_probe.esp_after != abi_probe.esp_before)
        Fail("winampGetInModule2 moved ESP");
    std::memcpy(record, live_record, sizeof record);

    // What the plug-in puts into the record.
    static const char kTypes[] = "MIX\0Kestrel Audio File (*.MIX)\0";
    if (record[kVersion] != 0x100 ||
        !SameText(record[kDescription], "Kestrel sound player v. 2.5b (x86)", 35) ||
        !SameText(record[kFileTypes], kTypes, sizeof kTypes) || record[kSeekable] != 1 ||
        record[kUsesOutput] != 1)
        Fail("the record's version, description, file types or flags are not the documented ones");
    for (int slot = 0; slot < kRecordWords; ++slot) {
        const bool plugin_routine = SlotName(slot) != nullptr;
        const bool plugin_value = slot <= kUsesOutput && slot != kMainWindow && slot != kInstance;
        if ((plugin_routine || plugin_value) != (record[slot] != 0))
            Fail("record word %d is %#x before the host fills its slots", slot, record[slot]);
    }

    // The host's side, every service an assembler stub.
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = HostWindow;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "KestrelAbiHost";
    RegisterClassA(&window_class);
    HWND window = CreateWindowExA(0, window_class.lpszClassName, "ABI host", 0, 0, 0, 0, 0, nullptr,
                                  nullptr, window_class.hInstance, nullptr);
    for (int s = 0; s < kServices; ++s) {
        const int word = kServiceTable[s].word;
        if (word >= kInOutput)
            output_device[word - kInOutput] = abi_service_stubs[s];
        else
            live_record[word] = W(abi_service_stubs[s]);
    }
    live_record[kMainWindow] = W(window);
    live_record[kInstance] = W(module);
    live_record[kOutput] = W(output_device);

    char title[MAX_PATH];
    int length = 12345;
    char eq[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    LONG mark = call_count;
    CallSlot(kInit, {});
    CheckExtendedExports(module, archive);
    CallSlot(kConfigure, {W(window)});
    CallSlot(kEqSet, {1, W(eq), W(-7)});
    if (CallSlot(kIsOurFile, {W(archive)}) != 0)
        Fail("is_our_file did not answer 0");
    CallSlot(kGetFileInfo, {W(archive), W(title), W(&length)});
    if (length != 0 || std::strcmp(title, archive_name) != 0)
        Fail("get_file_info of the archive gave length %d and title %s", length, title);
    CallSlot(kGetFileInfo, {W("C:\\no\\such.mix"), W(title), W(&length)});
    if (length != -1000 || std::strcmp(title, "such.mix") != 0)
        Fail("get_file_info of a missing file gave length %d and title %s", length, title);
    ExpectHostCalls("init, the extended exports, configure, eq_set, is_our_file, get_file_info",
                    mark, {});

    // Play: the output is opened and the stream announced, in this order.
    InterlockedExchange(&credit, 0);
    mark = call_count;
    if (CallSlot(kPlay, {W(archive)}) != 0) {
        Fail("play failed");
        return 1;
    }
    ExpectHostCalls("play", mark, TrackStart(kFirstRate));
    if (PlayBlocks(3))
        CheckBlocks(mark, kFirstRate, 0);

    mark = call_count;
    const int time = static_cast<int>(CallSlot(kGetOutputTime, {}));
    const int expected_time = 3 * (576000 / kFirstRate) + kOutputTimeMs - kWrittenTimeMs;
    if (time != expected_time)
        Fail("get_output_time gave %d, expected %d", time, expected_time);
    ExpectHostCalls("get_output_time", mark, {{kWrittenTime, {}}, {kOutputTime, {}}});

    mark = call_count;
    CallSlot(kPause, {});
    const Word paused = CallSlot(kIsPaused, {});
    CallSlot(kUnpause, {});
    const Word unpaused = CallSlot(kIsPaused, {});
    CallSlot(kSetVolume, {77});
    CallSlot(kSetPan, {W(-33)});
    if (paused != 1 || unpaused != 0)
        Fail("is_paused gave %u while paused and %u after", paused, unpaused);
    ExpectHostCalls("pause, unpause, set_volume, set_pan", mark,
                    {{kOutputPause, {1}},
                     {kOutputPause, {0}},
                     {kOutputSetVolume, {77}},
                     {kOutputSetPan, {W(-33)}}});

    const int track_length = static_cast<int>(CallSlot(kGetLength, {}));
    if (track_length < 2000 || track_length > 2100)
        Fail("get_length gave %d for a 2 s track", track_length);
    CallSlot(kGetFileInfo, {0, W(title), W(&length)});
    if (length != track_length || std::strcmp(title, "One") != 0)
        Fail("get_file_info of the playing stream gave length %d and title %s", length, title);

    // A seek: the playback thread flushes to the whole second and goes on from there.
    mark = call_count;
    CallSlot(kSetOutputTime, {1500});
    const DWORD start = GetTickCount();
    while (!LastThreadCall(kFlush, mark) && GetTickCount() - start < kWaitMs)
        Sleep(5);
    const Call* flush = LastThreadCall(kFlush, mark);
    if (!flush || flush->args[0] != 1000)
        Fail("no flush to 1000 ms after a seek to 1500 ms");
    if (PlayBlocks(1))
        CheckBlocks(mark, kFirstRate, 1000);

    // The dialogs, run modally on this thread with the host's window as owner.
    mark = call_count;
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, DialogTimer);
    if (CallSlot(kInfoBox, {W(archive), W(window)}) != 0 || dialog_step != 3)
        Fail("the Sound Info dialog did not run its course (step %d)", dialog_step);
    dialog_step = 2;
    CallSlot(kAbout, {W(window)});
    KillTimer(nullptr, timer);
    ExpectHostCalls("info_box, about", mark, {});

    // The end of the track: the output drains, is flushed to 0 and the host
    // is asked to restart; its stop and play start the next track.
    mark = call_count;
    InterlockedExchange(&credit, 1 << 30);
    if (!PumpUntil(restart_requests, 1, kWaitMs))
        Fail("no restart request at the end of the first track");
    const Call* drained = LastThreadCall(kIsPlaying, mark);
    flush = LastThreadCall(kFlush, mark);
    if (!drained || !flush || flush->args[0] != 0)
        Fail("no is_playing and flush(0) before the restart request");
    InterlockedExchange(&credit, 0);
    mark = call_count;
    CallSlot(kStop, {});
    // Every stop lets go of the output, the one answering a restart too; the
    // play opens it again at the next track's rate.
    ExpectHostCalls("stop for a track change", mark, {{kClose, {}}, {kAnalysisDeinit, {}}});
    mark = call_count;
    CallSlot(kPlay, {W(archive)});
    ExpectHostCalls("play of the next track", mark, TrackStart(kSecondRate));
    if (PlayBlocks(2))
        CheckBlocks(mark, kSecondRate, 0);
    mark = call_count;
    CallSlot(kStop, {});
    CallSlot(kQuit, {});
    ExpectHostCalls("stop, quit", mark, {{kClose, {}}, {kAnalysisDeinit, {}}});

    if (restart_requests != 1 || end_notices != 0 || bad_messages != 0)
        Fail("%ld restart requests (%ld with other parameters) and %ld end notices, expected one "
             "restart request",
             restart_requests, bad_messages, end_notices);
    DestroyWindow(window);
    FreeLibrary(module);
    std::printf("abi: 18 plug-in routines, 5 exports and %d host services over %ld calls, %d call "
                "sites: "
                "%s\n",
                static_cast<int>(kServices), call_count, site_count,
                failures ? "FAILED" : "all as the 32-bit C calling convention has them");
    return failures ? 1 : 0;
}
