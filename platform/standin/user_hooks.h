// Window hooks: a thread-local CBT hook sees the windows its thread
// activates, message boxes included. Included by platform/standin/windows.h;
// not to be included on its own.
#pragma once

using HHOOK = struct StandinHook*;
using HOOKPROC = LRESULT(CALLBACK*)(int code, WPARAM first, LPARAM second);

struct CBTACTIVATESTRUCT {
    BOOL fMouse;
    HWND hWndActive;
};

#define WH_CBT 5
#define HCBT_ACTIVATE 5
#define HCBT_DESTROYWND 4
#define ERROR_HOOK_NOT_INSTALLED 1431u

// Only thread-local hooks (module null, thread given) of kind WH_CBT.
STANDIN_API HHOOK SetWindowsHookExA(int kind, HOOKPROC proc, HINSTANCE module, DWORD thread);
STANDIN_API BOOL UnhookWindowsHookEx(HHOOK hook);
STANDIN_API LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM first, LPARAM second);
STANDIN_API int GetClassNameA(HWND window, LPSTR name, int size);

namespace standin {
// Runs the calling thread's CBT hooks, newest first, until one returns
// non-zero (which on Windows prevents the action). Returns that result.
STANDIN_API LRESULT CallCbtHooks(int code, WPARAM first, LPARAM second);
} // namespace standin
