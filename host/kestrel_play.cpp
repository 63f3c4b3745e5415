// kestrel-play: a headless stand-in for the media player. It loads the
// plug-in, plays archives, track entries and playlists through it on a
// modelled output device, and can record what was heard and everything that
// happened, ask the plug-in's metadata and read audio as a converter does.
#include "host/command_line.h"
#include "host/dialog_automation.h"
#include "host/player.h"

#include <cstdio>
#include <string>

namespace {

// The plug-in beside this program, as the media player keeps its plug-ins
// in its own folder.
std::string PluginBesideProgram() {
    char path[MAX_PATH] = {};
    DWORD size = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string program(path, size < MAX_PATH ? size : 0);
    std::size_t slash = program.find_last_of('\\');
    std::string folder = slash == std::string::npos ? "" : program.substr(0, slash + 1);
    return folder + KESTREL_PLUGIN_FILE;
}

} // namespace

int main(int argc, char** argv) {
    CommandLine command;
    std::string error;
    DialogAutomationOptions automation_options;
    if (!TakeDialogAutomationOptions(&argc, argv, &automation_options, &error) ||
        !ParseCommandLine(argc, argv, &command, &error)) {
        std::fprintf(stderr, "kestrel-play: %s\n%s", error.c_str(), kUsage);
        return kExitSetUpFailed;
    }
    if (command.help) {
        std::fputs(kUsage, stdout);
        return kExitPlayed;
    }
    if (command.options.plugin_path.empty())
        command.options.plugin_path = PluginBesideProgram();
    std::vector<PlayEntry> entries;
    if (!ExpandPlaylists(command.names, &entries, &error)) {
        std::fprintf(stderr, "kestrel-play: %s\n", error.c_str());
        return kExitSetUpFailed;
    }
    if (entries.empty()) {
        std::fprintf(stderr, "kestrel-play: the playlists list nothing to play\n");
        return kExitSetUpFailed;
    }
    DialogAutomation automation(automation_options);
    if (!automation.Start(command.options.plugin_path, entries.front().name)) {
        std::fprintf(stderr, "kestrel-play: cannot set up the dialog automation\n");
        return kExitSetUpFailed;
    }
    Player player(command.options);
    return automation.Finish(player.Run(entries));
}
