// The host's about and info_box entry points: each runs its dialog modally
// from the plug-in's own module.
#include "core/entry_points.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "dialogs/about_dialog.h"
#include "dialogs/info_dialog.h"
#include "dialogs/resource_ids.h"

void __cdecl About(HWND parent) {
    DialogBoxParamA(plugin_record.instance, MAKEINTRESOURCEA(IDD_ABOUT), parent, AboutDialogProc,
                    0);
}

int __cdecl InfoBox(const char* file, HWND parent) {
    // Before init there is no player for the dialog to show.
    if (!player_instance)
        return 0;
    RememberInfoFile(file);
    DialogBoxParamA(plugin_record.instance, MAKEINTRESOURCEA(IDD_SOUND_INFO), parent,
                    InfoDialogThunk, 0);
    return 0;
}
