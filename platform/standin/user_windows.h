// Windows and their message queues: enough of the window manager for a
// headless host, the plug-in's messages to it, and dialogs with controls.
// Included by platform/standin/windows.h; not to be included on its own.
#pragma once

using ATOM = WORD;
using HMENU = void*;
using HICON = void*;
using HCURSOR = void*;
using HBRUSH = void*;
using WNDPROC = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);
using DLGPROC = INT_PTR(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
using LPMSG = MSG*;

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};

#define HWND_MESSAGE (reinterpret_cast<HWND>(static_cast<std::intptr_t>(-3)))
#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u
#define QS_POSTMESSAGE 0x0008u
#define QS_SENDMESSAGE 0x0040u
#define QS_ALLPOSTMESSAGE 0x0100u
#define QS_ALLINPUT 0x04FFu
#define PM_QS_SENDMESSAGE (QS_SENDMESSAGE << 16)
#define PM_QS_POSTMESSAGE ((QS_POSTMESSAGE | 0x0080u | 0x0010u) << 16)
#define SW_HIDE 0
#define SW_SHOW 5
#define ERROR_INVALID_WINDOW_HANDLE 1400u
#define ERROR_CLASS_DOES_NOT_EXIST 1411u

STANDIN_API ATOM RegisterClassA(const WNDCLASSA* window_class);
STANDIN_API BOOL UnregisterClassA(LPCSTR class_name, HINSTANCE instance);
STANDIN_API HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR text, DWORD style, int x,
                                 int y, int width, int height, HWND parent, HMENU menu,
                                 HINSTANCE instance, LPVOID parameter);
STANDIN_API BOOL DestroyWindow(HWND window);
STANDIN_API BOOL IsWindow(HWND window);
STANDIN_API LRESULT DefWindowProcA(HWND window, UINT message, WPARAM first, LPARAM second);

STANDIN_API BOOL PostMessageA(HWND window, UINT message, WPARAM first, LPARAM second);
STANDIN_API LRESULT SendMessageA(HWND window, UINT message, WPARAM first, LPARAM second);
STANDIN_API BOOL GetMessageA(LPMSG message, HWND window, UINT first, UINT last);
STANDIN_API BOOL PeekMessageA(LPMSG message, HWND window, UINT first, UINT last, UINT remove);
STANDIN_API BOOL TranslateMessage(const MSG* message);
STANDIN_API LRESULT DispatchMessageA(const MSG* message);
STANDIN_API void PostQuitMessage(int exit_code);
STANDIN_API DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all,
                                            DWORD milliseconds, DWORD wake_mask);

STANDIN_API BOOL SetWindowTextA(HWND window, LPCSTR text);
STANDIN_API int GetWindowTextA(HWND window, LPSTR text, int size);
STANDIN_API BOOL ShowWindow(HWND window, int command);
STANDIN_API BOOL IsWindowVisible(HWND window);
STANDIN_API HWND GetDlgItem(HWND dialog, int id);
STANDIN_API int GetDlgCtrlID(HWND window);
STANDIN_API HWND GetParent(HWND window);
STANDIN_API DWORD GetWindowThreadProcessId(HWND window, LPDWORD process_id);
STANDIN_API DWORD GetTickCount();
