// The About box (resource 101): the plug-in's name between two icons, closed
// only by the window's close command.
#pragma once

#include "platform/win32.h"

INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM first, LPARAM second);
