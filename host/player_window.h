// The host's main window, the one the plug-in posts its two messages to. It
// is never shown (a message-only window); its procedure hands the restart
// request and the end-of-stream notice to the player, and answers the
// messages the host's own stages send it.
#pragma once

#include "platform/win32.h"

#include <atomic>

// A private message (the first of the WM_APP range) that a host stage sends
// the window from the plug-in's playback thread, as visualisation and DSP
// stages ask the player's window for its state. The window answers
// StageAnswer(first parameter).
constexpr UINT kStageMessage = WM_APP;
constexpr LRESULT StageAnswer(WPARAM first) {
    return static_cast<LRESULT>(first + 1);
}

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
    // Takes and dispatches the first message waiting, if any; true if one
    // was. A player's loop handles one message before it takes the next.
    bool PumpOne();
    // Whether the first message waiting for the window is the plug-in's
    // restart request, and whether an end-of-stream notice waits (nothing
    // is taken).
    bool RestartRequestWaits() const;
    bool EndOfStreamNoticeWaits() const;

    // Stage messages answered, and of those, how many on a thread other than
    // the window's own (which a real window never does).
    long long StageMessagesAnswered() const { return stage_answered_; }
    long long StageMessagesAnsweredElsewhere() const { return stage_elsewhere_; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM first, LPARAM second);

    PlayerWindowHandler* handler_;
    DWORD thread_;
    HWND window_ = nullptr;
    std::atomic<long long> stage_answered_{0};
    std::atomic<long long> stage_elsewhere_{0};
};
