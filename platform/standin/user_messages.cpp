// Posted messages. Placeholder: the window and message queue model lands
// with the headless host.
#include "platform/standin/windows.h"

BOOL PostMessageA(HWND, UINT, WPARAM, LPARAM) { return TRUE; }
