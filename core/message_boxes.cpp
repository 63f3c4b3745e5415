#include "core/message_boxes.h"
#include "platform/win32.h"

void ShowNotValidArchive() {
    MessageBoxA(nullptr, "Not a valid Kestrel MIX file!", "Error", MB_OK | MB_ICONWARNING);
}

void ShowMissingFile(const char* path) {
    MessageBoxA(nullptr, path, "Missing file", MB_OK | MB_ICONWARNING);
}
