// The library's one record: what the plug-in offers and where the host puts
// its services.
#include "core/plugin_record.h"
#include "core/entry_points.h"

PluginRecord plugin_record = {
    kPluginVersion,
    "Kestrel sound player v. 2.5b (x86)",
    nullptr, // main_window: the host's
    nullptr, // instance: the host's
    "MIX\0Kestrel Audio File (*.MIX)\0",
    1, // seekable
    1, // uses_output
    Configure,
    About,
    Init,
    Quit,
    GetFileInfo,
    InfoBox,
    IsOurFile,
    Play,
    Pause,
    Unpause,
    IsPaused,
    Stop,
    GetLength,
    GetOutputTime,
    SetOutputTime,
    SetVolume,
    SetPan,
    nullptr, // analysis and visualisation feeds, DSP and stream info: the host's
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    EqSet,
    nullptr,
    nullptr, // output: the host's
};
