// The Sound Info dialog (resource 103): the loaded archive's tracks, the
// current one's details, and the choice of tracks that take part in playback.
#pragma once

#include "platform/win32.h"

// Remembers the file the host's info box was opened for; the dialog loads it
// when no catalogue is loaded.
void RememberInfoFile(const char* file);
const char* RememberedInfoFile();

// The dialog procedure the window manager calls: the player's InfoDialogProc,
// reached through the player instance.
INT_PTR CALLBACK InfoDialogThunk(HWND window, UINT message, WPARAM first, LPARAM second);
