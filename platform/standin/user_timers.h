// Timers, window geometry and keys: what a program needs to drive dialogs
// from inside their own message loops. Included by platform/standin/windows.h;
// not to be included on its own.
#pragma once

using TIMERPROC = void(CALLBACK*)(HWND, UINT, UINT_PTR, DWORD);

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using LPRECT = RECT*;

#define WM_KEYDOWN 0x0100u
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define BN_CLICKED 0
#define MAKEWPARAM(low, high)                                                                      \
    (static_cast<WPARAM>((static_cast<DWORD>(static_cast<WORD>(low))) |                            \
                         (static_cast<DWORD>(static_cast<WORD>(high)) << 16)))

// Thread timers only (no window): `proc` runs on the calling thread from its
// message loop, every `milliseconds`, never with two ticks waiting at once.
STANDIN_API UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC proc);
STANDIN_API BOOL KillTimer(HWND window, UINT_PTR id);

// Nothing is drawn, so windows have no size: these fail with an empty rectangle.
STANDIN_API BOOL GetClientRect(HWND window, LPRECT rect);
STANDIN_API BOOL GetWindowRect(HWND window, LPRECT rect);
STANDIN_API BOOL MapDialogRect(HWND dialog, LPRECT rect);
