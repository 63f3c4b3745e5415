#include "host/player_window.h"

#include "core/plugin_record.h"

#include <cstring>

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
    playlist_ = CreateWindowExA(0, kClassName, "kestrel-play playlist", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, window_class.hInstance, nullptr);
}

PlayerWindow::~PlayerWindow() {
    if (playlist_)
        DestroyWindow(playlist_);
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
    if (self && self->handler_ && window == self->playlist_)
        return PlaylistMessage(self->handler_, message, first, second);
    if (self && self->handler_) {
        if (message == kRestartRequest && second == kRestartRequestCode) {
            self->handler_->OnRestartRequest();
            return 0;
        }
        if (message == WM_USER) {
            switch (second) {
            case kIpcGetVersion:
                return kPlayerVersion;
            case kIpcGetListPosition:
                return self->handler_->ListPosition();
            case kIpcGetPlaylistFile:
                return reinterpret_cast<LRESULT>(self->handler_->ListName(static_cast<int>(first)));
            case kIpcGetWindow:
                return first == kIpcPlaylistWindow ? reinterpret_cast<LRESULT>(self->playlist_) : 0;
            default:
                break;
            }
        }
        if (message == kEndOfStreamNotice) {
            self->handler_->OnEndOfStream();
            return 0;
        }
    }
    return DefWindowProcA(window, message, first, second);
}

LRESULT PlayerWindow::PlaylistMessage(PlayerWindowHandler* handler, UINT message, WPARAM first,
                                      LPARAM second) {
    if (message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(second);
        if (!data || data->dwData != kIpcInsertName || data->cbData < sizeof(InsertedName) ||
            !data->lpData)
            return 0;
        InsertedName inserted;
        std::memcpy(&inserted, data->lpData, sizeof inserted);
        // A name that fills its field is cut at the field's end.
        inserted.file[MAX_PATH - 1] = '\0';
        return handler->InsertName(inserted.index, inserted.file) >= 0;
    }
    if (message == WM_USER) {
        if (first == kIpcListPosition)
            return handler->ListPosition();
        if (first == kIpcListCount)
            return handler->ListCount();
        if (first == kIpcDeleteIndex)
            return handler->DeleteName(static_cast<int>(second));
    }
    return 0;
}
