// For the Windows test programs: the host's message loop, run until one of
// its window's counters reaches a target.
#pragma once

#include "platform/win32.h"

// Dispatches the calling thread's messages until `counter` reaches `target`
// or `limit_ms` passes; returns whether it got there.
inline bool PumpUntil(volatile LONG& counter, LONG target, DWORD limit_ms) {
    const DWORD start = GetTickCount();
    while (counter < target) {
        if (GetTickCount() - start > limit_ms)
            return false;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(1);
    }
    return true;
}
