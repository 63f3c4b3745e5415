// The one Win32 include of the plug-in, its host and its tools.
// On Windows it is the system's own headers; elsewhere it is the small
// stand-in under platform/standin, which implements the same calls with
// the same results and failure values.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>
#define KESTREL_EXPORT extern "C" __declspec(dllexport)
#else
#include "platform/standin/windows.h"
#define KESTREL_EXPORT extern "C" __attribute__((visibility("default")))
#endif
