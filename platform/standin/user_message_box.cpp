// MessageBoxA: nobody is there to click, so every box is recorded for tests,
// printed to standard error, and answered with its first button. While it is
// up the box is a "#32770" window, as on Windows, with the caption as its
// text and the message in the static control 0xFFFF, shown to the thread's
// CBT hooks (a headless host reads and closes boxes that way).
#include "platform/standin/testing.h"
#include "platform/standin/window_model.h"

#include <cstdio>
#include <mutex>

namespace {
constexpr int kMessageTextId = 0xFFFF;
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

    HWND window = standin::MakeWindow("#32770", box.caption, 0, owner, 0);
    standin::MakeWindow("Static", box.text, 0, window, kMessageTextId);
    standin::LookUpWindow(window)->visible = true;
    CBTACTIVATESTRUCT activation{FALSE, nullptr};
    standin::CallCbtHooks(HCBT_ACTIVATE, reinterpret_cast<WPARAM>(window),
                          reinterpret_cast<LPARAM>(&activation));
    standin::CallCbtHooks(HCBT_DESTROYWND, reinterpret_cast<WPARAM>(window), 0);
    DestroyWindow(window);
    return IDOK;
}
