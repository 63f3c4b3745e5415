// Message boxes on a headless host: nobody is there to close them, and on
// Windows a box blocks the thread that shows it. A CBT hook on the host's
// thread sees each box as it is activated, logs its caption and text, and
// closes it with OK.
#pragma once

#include "host/event_log.h"

#include <string>
#include <vector>

struct SeenMessageBox {
    std::string caption;
    std::string text;
};

class MessageBoxWatch {
public:
    // Hooks the calling thread.
    explicit MessageBoxWatch(EventLog* log);
    ~MessageBoxWatch();
    MessageBoxWatch(const MessageBoxWatch&) = delete;
    MessageBoxWatch& operator=(const MessageBoxWatch&) = delete;

    bool Installed() const { return hook_ != nullptr; }
    const std::vector<SeenMessageBox>& Seen() const { return seen_; }

private:
    static LRESULT CALLBACK HookProc(int code, WPARAM first, LPARAM second);
    void Activated(HWND box);

    EventLog* log_;
    HHOOK hook_ = nullptr;
    HWND last_box_ = nullptr; // a box is activated more than once on Windows
    std::vector<SeenMessageBox> seen_;
};
