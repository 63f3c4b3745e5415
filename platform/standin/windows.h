// A small stand-in for the part of the Win32 API that the plug-in, its host
// and its tools use, so the same sources build and run on Linux. Each call
// keeps the Windows signature, results and failure values; paths use the
// backslash as separator, as on Windows, and are mapped to the host's
// file system inside the calls.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define APIENTRY
#define __cdecl
#define __stdcall

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using INT = int;
using SIZE_T = std::size_t;
using LONG_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using INT_PTR = std::intptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using CHAR = char;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using PVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using PLONG = LONG*;
using HANDLE = void*;
using HGLOBAL = void*;
using HWND = struct StandinWindow*;
using HINSTANCE = struct StandinModule*;
using HMODULE = HINSTANCE;
using FARPROC = void (*)();

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#define INVALID_FILE_SIZE (static_cast<DWORD>(0xFFFFFFFF))
#define INVALID_SET_FILE_POINTER (static_cast<DWORD>(0xFFFFFFFF))
#define INFINITE 0xFFFFFFFFu

// CreateFileA
#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u

// GetLastError values the stand-in reports.
#define NO_ERROR 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_READ_FAULT 30u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_NEGATIVE_SEEK 131u
#define ERROR_INSUFFICIENT_BUFFER 122u

// GlobalAlloc
#define GMEM_FIXED 0x0000u
#define GMEM_ZEROINIT 0x0040u
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)

// Waits
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

// MessageBoxA
#define MB_OK 0x00000000u
#define MB_ICONHAND 0x00000010u
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define IDOK 1
#define IDCANCEL 2

// Window messages
#define WM_NULL 0x0000u
#define WM_CLOSE 0x0010u
#define WM_QUIT 0x0012u
#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define WM_TIMER 0x0113u
#define WM_MOUSEACTIVATE 0x0021u
#define WM_COPYDATA 0x004Au
#define WM_USER 0x0400u
#define WM_APP 0x8000u

// WM_COPYDATA's second parameter: a block of bytes handed to a window.
struct COPYDATASTRUCT {
    ULONG_PTR dwData;
    DWORD cbData;
    PVOID lpData;
};

#define LOWORD(l) (static_cast<WORD>(static_cast<std::uintptr_t>(l) & 0xFFFF))
#define HIWORD(l) (static_cast<WORD>((static_cast<std::uintptr_t>(l) >> 16) & 0xFFFF))
#define MAKEINTRESOURCEA(i)                                                                        \
    (reinterpret_cast<LPSTR>(static_cast<std::uintptr_t>(static_cast<WORD>(i))))

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID);

// A critical section: a recursive lock owned by one thread at a time.
struct CRITICAL_SECTION {
    void* lock; // the stand-in's mutex, made by InitializeCriticalSection
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

#define STANDIN_API extern "C" __attribute__((visibility("default")))

// Errors
STANDIN_API DWORD GetLastError();
STANDIN_API void SetLastError(DWORD error);

// Files
STANDIN_API HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD attributes, HANDLE template_file);
STANDIN_API BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD to_read, LPDWORD read,
                          LPOVERLAPPED overlapped);
STANDIN_API DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method);
STANDIN_API DWORD GetFileSize(HANDLE file, LPDWORD size_high);
STANDIN_API BOOL CloseHandle(HANDLE object);
STANDIN_API DWORD GetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* file_part);

// Memory
STANDIN_API HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
STANDIN_API HGLOBAL GlobalFree(HGLOBAL memory);

// Time
union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    long long QuadPart;
};
STANDIN_API BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
STANDIN_API BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);

// Threads and locks
STANDIN_API HANDLE CreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stack_size,
                                LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                LPDWORD thread_id);
STANDIN_API DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
STANDIN_API BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code);
STANDIN_API DWORD GetCurrentThreadId();
STANDIN_API void Sleep(DWORD milliseconds);
STANDIN_API void InitializeCriticalSection(LPCRITICAL_SECTION section);
STANDIN_API void EnterCriticalSection(LPCRITICAL_SECTION section);
STANDIN_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
STANDIN_API void LeaveCriticalSection(LPCRITICAL_SECTION section);
STANDIN_API void DeleteCriticalSection(LPCRITICAL_SECTION section);

// Events
#include "platform/standin/kernel_events.h"

// Modules
STANDIN_API DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

// Strings
STANDIN_API LPSTR lstrcpyA(LPSTR destination, LPCSTR source);
STANDIN_API LPSTR lstrcpynA(LPSTR destination, LPCSTR source, int size);
STANDIN_API LPSTR lstrcatA(LPSTR destination, LPCSTR source);
STANDIN_API int lstrlenA(LPCSTR text);
STANDIN_API int lstrcmpiA(LPCSTR first, LPCSTR second);

// User interface
STANDIN_API int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Modules
STANDIN_API HMODULE LoadLibraryA(LPCSTR path);
STANDIN_API FARPROC GetProcAddress(HMODULE module, LPCSTR name);
STANDIN_API BOOL FreeLibrary(HMODULE module);
STANDIN_API HMODULE GetModuleHandleA(LPCSTR name);

// Windows, message queues and dialogs.
#include "platform/standin/user_windows.h"
// Hooks on a thread's windows.
#include "platform/standin/user_hooks.h"
#include "platform/standin/user_dialogs.h"
#include "platform/standin/user_timers.h"
