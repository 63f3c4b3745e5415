#include "host/player_window.h"

#include "core/plugin_record.h"

namespace {

constexpr char kClassName[] = "KestrelPlayHost";

// One player window per process. The stage message may reach the procedure
// on another thread (a cross-thread send run where it was sent), hence atomic.
std::atomic<PlayerWindow*> the_window{nullptr};

} // namespace

PlayerWindow::PlayerWindow(PlayerWindowHandler* handler)
    : handler_(handler), thread_(GetCurrentThreadId()) {
    the_window = this;
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = kClassName;
    RegisterClassA(&window_class);
    window_ = CreateWindowExA(0, kClassName, "kestrel-play", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              window_class.hInstance, nullptr);
}

PlayerWindow::~PlayerWindow() {
    if (window_)
        DestroyWindow(window_);
    UnregisterClassA(kClassName, GetModuleHandleA(nullptr));
    PlayerWindow* self = this;
    the_window.compare_exchange_strong(self, nullptr);
}

bool PlayerWindow::PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            return false;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return true;
}

bool PlayerWindow::PumpOne() {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) || message.message == WM_QUIT)
        return false;
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return true;
}

bool PlayerWindow::RestartRequestWaits() const {
    MSG message;
    return PeekMessageA(&message, window_, 0, 0, PM_NOREMOVE) &&
           message.message == kRestartRequest && message.lParam == kRestartRequestCode;
}

bool PlayerWindow::EndOfStreamNoticeWaits() const {
    MSG message;
    return PeekMessageA(&message, window_, kEndOfStreamNotice, kEndOfStreamNotice, PM_NOREMOVE);
}

LRESULT CALLBACK PlayerWindow::WindowProc(HWND window, UINT message, WPARAM first, LPARAM second) {
    PlayerWindow* self = the_window;
    if (self && message == kStageMessage) {
        // Only counters here: on a stand-in whose SendMessage runs the
        // procedure on the sender's thread, this runs on the playback thread.
        ++self->stage_answered_;
        if (GetCurrentThreadId() != self->thread_)
            ++self->stage_elsewhere_;
        return StageAnswer(first);
    }
    if (self && self->handler_) {
        if (message == kRestartRequest && second == kRestartRequestCode) {
            self->handler_->OnRestartRequest();
            return 0;
        }
        if (message == kEndOfStreamNotice) {
            self->handler_->OnEndOfStream();
            return 0;
        }
    }
    return DefWindowProcA(window, message, first, second);
}
