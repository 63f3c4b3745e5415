#include "core/host_messages.h"
#include "core/plugin_record.h"

namespace {

// Only posted messages are looked at: nothing sent to the thread's windows
// is answered from inside a host call.
constexpr UINT kLookOnly = PM_NOREMOVE | PM_QS_POSTMESSAGE;
constexpr UINT kTakeBack = PM_REMOVE | PM_QS_POSTMESSAGE;

bool OwnedByCaller(HWND window) {
    return window && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

enum class Seen { Nothing, Ours, Other };

Seen FirstQueued(HWND window, UINT message, WPARAM first, LPARAM second) {
    MSG queued{};
    if (!PeekMessageA(&queued, window, message, message, kLookOnly))
        return Seen::Nothing;
    return queued.wParam == first && queued.lParam == second ? Seen::Ours : Seen::Other;
}

bool StillQueued(HWND window, UINT message, LPARAM second) {
    if (!OwnedByCaller(window))
        return true;
    return FirstQueued(window, message, 0, second) != Seen::Nothing;
}

} // namespace

void PostRestartRequest(HWND main_window) {
    PostMessageA(main_window, kRestartRequest, 0, kRestartRequestCode);
}

void PostEndOfStreamNotice(HWND main_window) {
    PostMessageA(main_window, kEndOfStreamNotice, 0, 0);
}

bool RestartRequestQueued(HWND main_window) {
    return StillQueued(main_window, kRestartRequest, kRestartRequestCode);
}

bool EndOfStreamNoticeQueued(HWND main_window) {
    return StillQueued(main_window, kEndOfStreamNotice, 0);
}

void WithdrawRestartRequest(HWND main_window) {
    if (!OwnedByCaller(main_window) ||
        FirstQueued(main_window, kRestartRequest, 0, kRestartRequestCode) != Seen::Ours)
        return;
    MSG taken{};
    PeekMessageA(&taken, main_window, kRestartRequest, kRestartRequest, kTakeBack);
}
