// Placeholders until the Sound Info and About dialogs land.
#include "core/entry_points.h"

void __cdecl About(HWND) {}
int __cdecl InfoBox(const char*, HWND) { return 0; }
