// The host's main window, the one the plug-in posts its two messages to. It
// is never shown (a message-only window); its procedure hands the restart
// request and the end-of-stream notice to the player, and answers the
// messages the host's own stages send it. Beside it, a playlist window
// answers the media player's playlist messages, so that a plug-in could
// read and change the list of names being played.
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

// The media player's messages about its playlist. To the main window:
// WM_USER with the request in the second parameter.
constexpr LPARAM kIpcGetVersion = 0;
constexpr LPARAM kIpcGetListPosition = 125;
constexpr LPARAM kIpcGetPlaylistFile = 211; // first parameter: the entry's index
constexpr LPARAM kIpcGetWindow = 260;       // first parameter: which window
constexpr WPARAM kIpcPlaylistWindow = 1;
constexpr LRESULT kPlayerVersion = 0x5666;
// To the playlist window: WM_COPYDATA of an InsertedName to insert one, and
// WM_USER with the request in the first parameter.
constexpr ULONG_PTR kIpcInsertName = 106;
constexpr WPARAM kIpcListPosition = 100;
constexpr WPARAM kIpcListCount = 101;
constexpr WPARAM kIpcDeleteIndex = 104; // second parameter: the entry's index
struct InsertedName {
    char file[MAX_PATH];
    int index;
};

class PlayerWindowHandler {
public:
    virtual ~PlayerWindowHandler() = default;
    virtual void OnRestartRequest() = 0;
    virtual void OnEndOfStream() = 0;
    // The playlist: the entry playing (from 0), the count, a name (null
    // outside the list), an insertion (returns the index it took) and a
    // deletion. A host without a list has one entry, the one playing.
    virtual int ListPosition() { return 0; }
    virtual int ListCount() { return 1; }
    virtual const char* ListName(int) { return nullptr; }
    virtual int InsertName(int, const char*) { return -1; }
    virtual bool DeleteName(int) { return false; }
};

class PlayerWindow {
public:
    explicit PlayerWindow(PlayerWindowHandler* handler);
    ~PlayerWindow();
    PlayerWindow(const PlayerWindow&) = delete;
    PlayerWindow& operator=(const PlayerWindow&) = delete;

    HWND Handle() const { return window_; }
    HWND PlaylistHandle() const { return playlist_; }

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
    static LRESULT PlaylistMessage(PlayerWindowHandler* handler, UINT message, WPARAM first,
                                   LPARAM second);

    PlayerWindowHandler* handler_;
    DWORD thread_;
    HWND window_ = nullptr;
    HWND playlist_ = nullptr;
    std::atomic<long long> stage_answered_{0};
    std::atomic<long long> stage_elsewhere_{0};
};
