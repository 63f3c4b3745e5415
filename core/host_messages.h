// The two messages the plug-in posts to the host's main window, and what the
// host's queue shows of them. A posted message waits in the queue of the
// window's thread until the host's loop takes it; the plug-in looks (on that
// thread only) without taking anything, and takes back a restart request
// that the user's stop has made pointless.
#pragma once

#include "platform/win32.h"

void PostRestartRequest(HWND main_window);
void PostEndOfStreamNotice(HWND main_window);

// Whether the message is still in the queue of `main_window`, as far as the
// calling thread can tell: only the window's own thread can look, and only
// at the first message of its kind; anything it cannot see counts as still
// waiting.
bool RestartRequestQueued(HWND main_window);
bool EndOfStreamNoticeQueued(HWND main_window);

// Takes the restart request back out of the queue, if it is the first of
// its kind there and the caller is the window's thread.
void WithdrawRestartRequest(HWND main_window);
