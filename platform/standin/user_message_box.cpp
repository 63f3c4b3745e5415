// MessageBoxA: nobody is there to click, so every box is recorded for tests,
// printed to standard error, and answered with its first button.
#include "platform/standin/testing.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex boxes_lock;
std::vector<standin::MessageBoxRecord>& Boxes() {
    static auto* boxes = new std::vector<standin::MessageBoxRecord>;
    return *boxes;
}
} // namespace

namespace standin {

std::vector<MessageBoxRecord> MessageBoxes() {
    std::lock_guard<std::mutex> hold(boxes_lock);
    return Boxes();
}

void ClearMessageBoxes() {
    std::lock_guard<std::mutex> hold(boxes_lock);
    Boxes().clear();
}

} // namespace standin

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    standin::MessageBoxRecord box{text ? text : "", caption ? caption : "Error", type, owner};
    {
        std::lock_guard<std::mutex> hold(boxes_lock);
        Boxes().push_back(box);
    }
    std::fprintf(stderr, "[message box] %s: %s\n", box.caption.c_str(), box.text.c_str());
    return IDOK;
}
