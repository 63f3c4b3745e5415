#pragma once

#include "platform/win32.h"

// The playback thread's entry routine; its parameter is the address of the
// player's stop flag.
DWORD WINAPI PlaybackThread(LPVOID stop_flag);
