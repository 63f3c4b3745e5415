#include "host/message_box_watch.h"

#include <cstring>

namespace {

constexpr char kMessageBoxClass[] = "#32770";
constexpr int kMessageTextId = 0xFFFF;
constexpr int kTextChars = 1024;
constexpr int kClassChars = 64;

MessageBoxWatch* active = nullptr; // the hook has no context of its own

} // namespace

MessageBoxWatch::MessageBoxWatch(EventLog* log) : log_(log) {
    active = this;
    hook_ = SetWindowsHookExA(WH_CBT, HookProc, nullptr, GetCurrentThreadId());
}

MessageBoxWatch::~MessageBoxWatch() {
    if (hook_)
        UnhookWindowsHookEx(hook_);
    if (active == this)
        active = nullptr;
}

LRESULT CALLBACK MessageBoxWatch::HookProc(int code, WPARAM first, LPARAM second) {
    if (code == HCBT_ACTIVATE && active)
        active->Activated(reinterpret_cast<HWND>(first));
    // A later box may get the handle of one that is gone.
    if (code == HCBT_DESTROYWND && active && reinterpret_cast<HWND>(first) == active->last_box_)
        active->last_box_ = nullptr;
    return CallNextHookEx(active ? active->hook_ : nullptr, code, first, second);
}

void MessageBoxWatch::Activated(HWND box) {
    char class_name[kClassChars] = {};
    GetClassNameA(box, class_name, kClassChars);
    if (std::strcmp(class_name, kMessageBoxClass) != 0 || box == last_box_)
        return;
    last_box_ = box;
    char caption[kTextChars] = {};
    char text[kTextChars] = {};
    GetWindowTextA(box, caption, kTextChars);
    if (HWND label = GetDlgItem(box, kMessageTextId))
        GetWindowTextA(label, text, kTextChars);
    seen_.push_back(SeenMessageBox{caption, text});
    log_->Event("message_box").Str("caption", caption).Str("text", text);
    // The box's own loop takes this once it runs, and ends with OK.
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}
