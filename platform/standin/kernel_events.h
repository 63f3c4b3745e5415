// Event objects: a flag one thread sets and another waits for.
// Included by platform/standin/windows.h; not to be included on its own.
#pragma once

STANDIN_API HANDLE CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL manual_reset, BOOL initial_state,
                                LPCSTR name);
STANDIN_API BOOL SetEvent(HANDLE event);
STANDIN_API BOOL ResetEvent(HANDLE event);
