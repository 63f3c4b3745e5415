// Drives the plug-in's Sound Info dialog from inside kestrel-play, the way
// the media player and its user do: once the stream has played to a given
// time, the info box is opened on the host's thread, and a list of steps is
// carried out inside its modal loop (and inside the About box that "Cool!"
// opens), one step per timer tick. Each step and what the dialogs show are
// written to a log of their own, one JSON object a line.
//
//   --info-box AT:STEP,STEP,...   open the info box once the plug-in's output
//                                 time reaches AT ms, then run the steps
//   --dialog-events OUT.jsonl     where the steps are logged
//   --shots DIR                   where shot=NAME waits for NAME.done
//
// Steps act on the dialog in front: read (log its rows, fields and size),
// select=N / deselect=N / deselect=all, done, cancel, cool, escape, enter,
// close (the window's close command), expect=CAPTION (that dialog is in
// front and open), shot=NAME (log the dialog's size, then wait until the
// file DIR/NAME.done exists, while the dialog stays live so that a
// screenshot can be taken). Steps that open or close a dialog wait for it
// before the next step runs.
#pragma once

#include "host/event_log.h"
#include "core/plugin_record.h"

#include <string>
#include <vector>

struct DialogAutomationOptions {
    int at_ms = -1; // -1: no automation
    std::vector<std::string> steps;
    std::string events_path;
    std::string shots_dir = ".";
};

// Takes the automation's options out of argv, leaving the rest for the
// player's own command line. False with a reason in `error` for a bad value.
bool TakeDialogAutomationOptions(int* argc, char** argv, DialogAutomationOptions* options,
                                 std::string* error);

// Exit status when a step could not be carried out or an expectation failed.
constexpr int kExitAutomationFailed = 4;

class DialogAutomation {
public:
    explicit DialogAutomation(DialogAutomationOptions options);
    ~DialogAutomation();
    DialogAutomation(const DialogAutomation&) = delete;
    DialogAutomation& operator=(const DialogAutomation&) = delete;

    // Arms the automation for the plug-in at `plugin_path`, which the player
    // is about to load and play `archive` with. Does nothing without
    // --info-box. False if the plug-in or the log cannot be opened.
    bool Start(const std::string& plugin_path, const std::string& archive);

    // The player's exit status, or kExitAutomationFailed if the automation
    // did not run to its end.
    int Finish(int player_status);

private:
    enum class Phase { Waiting, InDialog, Over };
    enum class Wait { None, MoreDialogs, FewerDialogs, ShotDone };

    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void OnTick();
    void OpenInfoBox();
    void RunStep(HWND dialog);
    bool WaitOver();
    void Fail(const char* what, const std::string& step);
    HWND FrontDialog();
    void LogRead(HWND dialog);
    void LogGeometry(EventLog::Line& line, HWND dialog);

    static LRESULT CALLBACK CbtHook(int code, WPARAM first, LPARAM second);

    DialogAutomationOptions options_;
    EventLog log_;
    HMODULE module_ = nullptr;
    PluginRecord* record_ = nullptr;
    std::string archive_;
    UINT_PTR timer_ = 0;
    HHOOK hook_ = nullptr;

    Phase phase_ = Phase::Waiting;
    std::size_t next_step_ = 0;
    std::vector<HWND> dialogs_; // open dialogs, the front one last
    Wait wait_ = Wait::None;
    std::size_t wait_count_ = 0;
    std::string wait_file_;
    DWORD wait_since_ = 0;
    int failures_ = 0;
};
