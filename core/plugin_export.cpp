// The library's only export, and its entry routine.
#include "core/entry_points.h"

KESTREL_EXPORT PluginRecord* __cdecl winampGetInModule2() {
    return &plugin_record;
}

// Nothing runs at load time: the host's init sets the player up.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
