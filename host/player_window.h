// The host's main window, the one the plug-in posts its two messages to. It
// is never shown (a message-only window); its procedure hands the restart
// request and the end-of-stream notice to the player.
#pragma once

#include "platform/win32.h"

class PlayerWindowHandler {
public:
    virtual ~PlayerWindowHandler() = default;
    virtual void OnRestartRequest() = 0;
    virtual void OnEndOfStream() = 0;
};

class PlayerWindow {
public:
    explicit PlayerWindow(PlayerWindowHandler* handler);
    ~PlayerWindow();
    PlayerWindow(const PlayerWindow&) = delete;
    PlayerWindow& operator=(const PlayerWindow&) = delete;

    HWND Handle() const { return window_; }

    // Dispatches every message waiting in the thread's queue. False once
    // WM_QUIT has been taken.
    bool PumpMessages();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM first, LPARAM second);

    PlayerWindowHandler* handler_;
    HWND window_ = nullptr;
};
