#include "host/player_window.h"

#include "core/plugin_record.h"

namespace {

constexpr char kClassName[] = "KestrelPlayHost";

PlayerWindowHandler* handler_of_window = nullptr; // one player window per process

} // namespace

PlayerWindow::PlayerWindow(PlayerWindowHandler* handler) : handler_(handler) {
    handler_of_window = handler_;
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
    if (handler_of_window == handler_)
        handler_of_window = nullptr;
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

LRESULT CALLBACK PlayerWindow::WindowProc(HWND window, UINT message, WPARAM first, LPARAM second) {
    if (handler_of_window) {
        if (message == kRestartRequest && second == kRestartRequestCode) {
            handler_of_window->OnRestartRequest();
            return 0;
        }
        if (message == kEndOfStreamNotice) {
            handler_of_window->OnEndOfStream();
            return 0;
        }
    }
    return DefWindowProcA(window, message, first, second);
}
