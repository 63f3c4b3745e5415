#include "core/message_boxes.h"
#include "platform/win32.h"

#include <cstdio>

void ShowNotValidArchive() {
    MessageBoxA(nullptr, "Not a valid Kestrel MIX file!", "Error", MB_OK | MB_ICONWARNING);
}

void ShowNoSuchTrack(int number, const char* archive, int track_count) {
    char text[384]; // a whole path and the words around it
    std::snprintf(text, sizeof text, "There is no track %d in %s: it holds %d tracks.", number,
                  archive, track_count);
    MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONWARNING);
}

void ShowMissingFile(const char* path) {
    MessageBoxA(nullptr, path, "Missing file", MB_OK | MB_ICONWARNING);
}
