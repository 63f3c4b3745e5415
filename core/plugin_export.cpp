// The library's exports, and its entry routine. The player finds each
// export by its undecorated name; all use the C calling convention.
#include "core/entry_points.h"
#include "core/extended_file_info.h"
#include "core/extended_read.h"
#include "core/player_state.h"

#include <cstdint>

KESTREL_EXPORT PluginRecord* __cdecl winampGetInModule2() {
    return &plugin_record;
}

// Metadata of a playlist entry, or of the playing stream for an empty name.
KESTREL_EXPORT int __cdecl winampGetExtendedFileInfo(const char* file, const char* field, char* out,
                                                     int out_size) {
    return ExtendedFileInfo(player, file, field, out, out_size);
}

// A track's PCM for the player's converter, through handles of their own.
KESTREL_EXPORT std::intptr_t __cdecl winampGetExtendedRead_open(const char* file, int* size,
                                                                int* bps, int* nch, int* srate) {
    return ExtendedReadOpen(player, file, size, bps, nch, srate);
}

KESTREL_EXPORT std::intptr_t __cdecl winampGetExtendedRead_getData(std::intptr_t handle, char* dest,
                                                                   int len, int* killswitch) {
    return ExtendedReadData(handle, dest, len, killswitch);
}

KESTREL_EXPORT int __cdecl winampGetExtendedRead_setTime(std::intptr_t handle, int ms) {
    return ExtendedReadSeek(handle, ms);
}

KESTREL_EXPORT void __cdecl winampGetExtendedRead_close(std::intptr_t handle) {
    ExtendedReadClose(handle);
}

// Nothing runs at load time: the host's init sets the player up.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
