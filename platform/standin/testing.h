// What tests can see and steer inside the Win32 stand-in: the message boxes
// shown, the handles still open, and calls made to fail on purpose.
#pragma once

#include "platform/standin/windows.h"

#include <functional>
#include <string>
#include <vector>

// C++ functions (they take and return C++ types), exported like the rest.
#define STANDIN_TESTING_API __attribute__((visibility("default")))

namespace standin {

struct MessageBoxRecord {
    std::string text;
    std::string caption;
    UINT flags = 0;
    HWND owner = nullptr;
};

// Every box shown since the last ClearMessageBoxes, oldest first.
STANDIN_TESTING_API std::vector<MessageBoxRecord> MessageBoxes();
STANDIN_TESTING_API void ClearMessageBoxes();

// Handles (files, threads, windows, modules) not yet closed.
STANDIN_TESTING_API long OpenHandleCount();

// Blocks from GlobalAlloc not yet given back with GlobalFree.
STANDIN_TESTING_API long LiveGlobalBlocks();

// Calls that fault injection can make fail.
enum class Fault { ReadFile, GlobalAlloc, CreateFileA, CreateThread, Count };

// Makes the n-th call of that kind from now on fail (1 = the next one);
// 0 switches injection off for that kind.
STANDIN_TESTING_API void FailNthCall(Fault kind, long n);
// Calls of that kind made since the last ResetFaults.
STANDIN_TESTING_API long CallCount(Fault kind);
// Switches every injection off and sets every count to zero.
STANDIN_TESTING_API void ResetFaults();

// Whether the current call of that kind is to fail; counts it. For the
// stand-in's own calls, and for host stand-ins that take part in injection.
STANDIN_TESTING_API bool ShouldFail(Fault kind);

// Runs `script` on the next modal dialog to open, on that dialog's thread,
// once WM_INITDIALOG has been handled and the dialog's queue first runs
// empty (when Windows would show it). The script reads and drives the dialog
// with ordinary calls. A dialog that ends before then drops the script.
STANDIN_TESTING_API void SetDialogScript(std::function<void(HWND dialog)> script);
// Whether EndDialog has been called for a modal dialog that is still running.
STANDIN_TESTING_API bool DialogEnded(HWND dialog);

} // namespace standin
