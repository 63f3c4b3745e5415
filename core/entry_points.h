// The routines the plug-in puts into its record; the host calls every one of
// them on its own thread.
#pragma once

#include "core/plugin_record.h"
#include "platform/win32.h"

void __cdecl Configure(HWND parent);
void __cdecl EqSet(int on, char data[10], int preamp);
void __cdecl About(HWND parent);
void __cdecl Init();
void __cdecl Quit();
void __cdecl GetFileInfo(const char* file, char* title, int* length_ms);
int __cdecl InfoBox(const char* file, HWND parent);
int __cdecl IsOurFile(const char* file);
int __cdecl Play(const char* file);
void __cdecl Pause();
void __cdecl Unpause();
int __cdecl IsPaused();
void __cdecl Stop();
int __cdecl GetLength();
int __cdecl GetOutputTime();
void __cdecl SetOutputTime(int ms);
void __cdecl SetVolume(int volume);
void __cdecl SetPan(int pan);

// The library's one record, which its export hands to the host.
extern PluginRecord plugin_record;

// Length of the current track in ms, or -1000 while no track has started.
int CurrentTrackLength();
