#include "host/dialog_automation.h"
#include "host/command_line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT kTickMs = 50;
constexpr DWORD kDialogWaitMs = 10000; // for a dialog to open or close
constexpr DWORD kShotWaitMs = 60000;   // for a screenshot to be taken
constexpr int kTextChars = 512;
constexpr int kClassChars = 64;
constexpr char kDialogClass[] = "#32770";
constexpr char kExport[] = "winampGetInModule2";

// The plug-in's Sound Info dialog and its controls.
constexpr int kTrackList = 1000;
constexpr int kDone = 1008;
constexpr int kCancel = 1009;
constexpr int kCool = 1010;
constexpr struct {
    const char* name;
    int id;
} kValueFields[] = {{"playing", 1002},
                    {"frequency", 1003},
                    {"duration", 1006},
                    {"volume_size", 1004},
                    {"uncompressed", 1005}};

constexpr const char* kStepNames[] = {"read",   "select", "deselect", "done",   "cancel", "cool",
                                      "escape", "enter",  "close",    "expect", "shot"};

using GetModule = PluginRecord*(__cdecl*)();

DialogAutomation* active = nullptr; // timers and hooks have no context of their own

// "name=value" split at the first '='.
void SplitStep(const std::string& step, std::string* name, std::string* value) {
    std::size_t at = step.find('=');
    *name = step.substr(0, at);
    *value = at == std::string::npos ? "" : step.substr(at + 1);
}

bool ValidStep(const std::string& step) {
    std::string name, value;
    SplitStep(step, &name, &value);
    for (const char* known : kStepNames)
        if (name == known)
            return true;
    return false;
}

bool ParseInfoBox(const std::string& text, DialogAutomationOptions* options) {
    std::size_t colon = text.find(':');
    if (colon == std::string::npos || !ParseInt(text.substr(0, colon), &options->at_ms) ||
        options->at_ms < 0)
        return false;
    std::string rest = text.substr(colon + 1);
    options->steps.clear();
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t comma = rest.find(',', start);
        std::string step = rest.substr(start, comma == std::string::npos ? comma : comma - start);
        if (!ValidStep(step))
            return false;
        options->steps.push_back(step);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return true;
}

std::string Text(HWND window) {
    char text[kTextChars] = {};
    GetWindowTextA(window, text, kTextChars);
    return text;
}

std::string ClassOf(HWND window) {
    char name[kClassChars] = {};
    GetClassNameA(window, name, kClassChars);
    return name;
}

bool FileExists(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

void PressButton(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void SetRowSelected(HWND list, int row, bool selected) {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

std::string CellText(HWND list, int row, int sub_item) {
    char text[kTextChars] = {};
    LVITEMA item{};
    item.iSubItem = sub_item;
    item.pszText = text;
    item.cchTextMax = kTextChars;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

} // namespace

bool TakeDialogAutomationOptions(int* argc, char** argv, DialogAutomationOptions* options,
                                 std::string* error) {
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        std::string word = argv[i];
        bool ours = word == "--info-box" || word == "--dialog-events" || word == "--shots";
        if (!ours) {
            argv[kept++] = argv[i];
            continue;
        }
        if (i + 1 >= *argc) {
            *error = word + " needs a value";
            return false;
        }
        std::string value = argv[++i];
        if (word == "--info-box" && !ParseInfoBox(value, options)) {
            *error = "--info-box takes AT:STEP,..., e.g. 500:read,deselect=0,done";
            return false;
        }
        if (word == "--dialog-events")
            options->events_path = value;
        if (word == "--shots")
            options->shots_dir = value;
    }
    *argc = kept;
    argv[kept] = nullptr;
    return true;
}

DialogAutomation::DialogAutomation(DialogAutomationOptions options)
    : options_(std::move(options)) {}

DialogAutomation::~DialogAutomation() {
    if (timer_)
        KillTimer(nullptr, timer_);
    if (hook_)
        UnhookWindowsHookEx(hook_);
    if (module_)
        FreeLibrary(module_);
    if (active == this)
        active = nullptr;
}

bool DialogAutomation::Start(const std::string& plugin_path, const std::string& archive) {
    if (options_.at_ms < 0)
        return true;
    if (!options_.events_path.empty() && !log_.Open(options_.events_path))
        return false;
    // The same module the player loads: its record is the one the player fills.
    module_ = LoadLibraryA(plugin_path.c_str());
    auto get_module = module_ ? reinterpret_cast<GetModule>(
                                    reinterpret_cast<void (*)()>(GetProcAddress(module_, kExport)))
                              : nullptr;
    record_ = get_module ? get_module() : nullptr;
    if (!record_)
        return false;
    char full[MAX_PATH] = {};
    DWORD size = GetFullPathNameA(archive.c_str(), MAX_PATH, full, nullptr);
    archive_ = size > 0 && size < MAX_PATH ? full : archive;
    active = this;
    hook_ = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    timer_ = SetTimer(nullptr, 0, kTickMs, Tick);
    log_.Event("automation_armed")
        .Int("at", options_.at_ms)
        .Int("steps", static_cast<std::int64_t>(options_.steps.size()));
    return hook_ && timer_;
}

int DialogAutomation::Finish(int player_status) {
    if (options_.at_ms < 0)
        return player_status;
    if (phase_ == Phase::Waiting)
        Fail("the stream never reached the time to open the info box", "");
    log_.Event("automation_finished").Int("failures", failures_).Int("status", player_status);
    return failures_ > 0 ? kExitAutomationFailed : player_status;
}

void CALLBACK DialogAutomation::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (active)
        active->OnTick();
}

LRESULT CALLBACK DialogAutomation::CbtHook(int code, WPARAM first, LPARAM second) {
    if (code == HCBT_ACTIVATE && active && active->phase_ == Phase::InDialog) {
        HWND window = reinterpret_cast<HWND>(first);
        bool known = false;
        for (HWND dialog : active->dialogs_)
            known = known || dialog == window;
        if (!known && ClassOf(window) == kDialogClass) {
            active->dialogs_.push_back(window);
            active->log_.Event("dialog_opened").Str("caption", Text(window).c_str());
        }
    }
    return CallNextHookEx(active ? active->hook_ : nullptr, code, first, second);
}

void DialogAutomation::OnTick() {
    if (phase_ == Phase::Waiting) {
        // Only once a stream plays: its length is known and its time runs.
        if (!record_->output || record_->get_length() <= 0 ||
            record_->get_output_time() < options_.at_ms)
            return;
        OpenInfoBox();
        return;
    }
    if (phase_ != Phase::InDialog)
        return;
    std::erase_if(dialogs_, [](HWND dialog) { return !IsWindow(dialog); });
    if (!WaitOver())
        return;
    if (next_step_ < options_.steps.size() && !dialogs_.empty()) {
        RunStep(dialogs_.back());
        return;
    }
    // Out of steps with a dialog still open, or no dialog ever shown: do not
    // hang the player.
    if (GetTickCount() - wait_since_ > kDialogWaitMs) {
        Fail(dialogs_.empty() ? "no dialog showed" : "dialogs left open after the last step", "");
        for (HWND dialog : dialogs_)
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        wait_since_ = GetTickCount();
    }
}

void DialogAutomation::OpenInfoBox() {
    phase_ = Phase::InDialog;
    wait_since_ = GetTickCount();
    log_.Event("info_box")
        .Str("file", archive_.c_str())
        .Int("plugin_time", record_->get_output_time());
    int result = record_->info_box(archive_.c_str(), record_->main_window);
    log_.Event("info_box_returned")
        .Int("result", result)
        .Int("steps_run", static_cast<std::int64_t>(next_step_));
    if (next_step_ < options_.steps.size())
        Fail("the info box closed before every step ran", options_.steps[next_step_]);
    phase_ = Phase::Over;
    KillTimer(nullptr, timer_);
    timer_ = 0;
}

bool DialogAutomation::WaitOver() {
    bool over = false;
    switch (wait_) {
    case Wait::None:
        return true;
    case Wait::MoreDialogs:
        over = dialogs_.size() > wait_count_;
        break;
    case Wait::FewerDialogs:
        over = dialogs_.size() < wait_count_;
        break;
    case Wait::ShotDone:
        over = FileExists(wait_file_);
        break;
    }
    DWORD limit = wait_ == Wait::ShotDone ? kShotWaitMs : kDialogWaitMs;
    if (!over && GetTickCount() - wait_since_ > limit) {
        Fail("timed out", options_.steps[next_step_ - 1]);
        over = true;
    }
    if (over) {
        wait_ = Wait::None;
        wait_since_ = GetTickCount();
    }
    return over;
}

void DialogAutomation::Fail(const char* what, const std::string& step) {
    ++failures_;
    log_.Event("automation_failed").Str("what", what).Str("step", step.c_str());
}

void DialogAutomation::RunStep(HWND dialog) {
    const std::string& step = options_.steps[next_step_++];
    std::string name, value;
    SplitStep(step, &name, &value);
    log_.Event("dialog_step")
        .Str("step", step.c_str())
        .Str("front", Text(dialog).c_str())
        .Int("open_dialogs", static_cast<std::int64_t>(dialogs_.size()));
    HWND list = GetDlgItem(dialog, kTrackList);
    auto wait_for = [&](Wait wait) {
        wait_ = wait;
        wait_count_ = dialogs_.size();
        wait_since_ = GetTickCount();
    };

    if (name == "read") {
        LogRead(dialog);
    } else if (name == "select" || name == "deselect") {
        int row = -1; // every row
        if (!list || (value != "all" && !ParseInt(value, &row))) {
            Fail("no such row or no list", step);
            return;
        }
        SetRowSelected(list, row, name == "select");
    } else if (name == "done" || name == "cancel") {
        PressButton(dialog, name == "done" ? kDone : kCancel);
        wait_for(Wait::FewerDialogs);
    } else if (name == "cool") {
        PressButton(dialog, kCool);
        wait_for(Wait::MoreDialogs);
    } else if (name == "escape" || name == "enter") {
        // Through the dialog manager, as a key press on the dialog.
        PostMessageA(dialog, WM_KEYDOWN, name == "escape" ? VK_ESCAPE : VK_RETURN, 0);
    } else if (name == "close") {
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        wait_for(Wait::FewerDialogs);
    } else if (name == "expect") {
        bool open = IsWindowVisible(dialog) && Text(dialog) == value;
        log_.Event("dialog_expect").Str("caption", value.c_str()).Bool("open", open);
        if (!open)
            Fail("another dialog is in front, or it is hidden", step);
    } else if (name == "shot") {
        EventLog::Line line = log_.Event("screenshot_point");
        line.Str("name", value.c_str()).Str("caption", Text(dialog).c_str());
        LogGeometry(line, dialog);
        wait_file_ = options_.shots_dir + "/" + value + ".done";
        wait_for(Wait::ShotDone);
    }
}

void DialogAutomation::LogGeometry(EventLog::Line& line, HWND dialog) {
    RECT window{}, client{};
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    // Four horizontal and eight vertical dialog units are one base unit each.
    RECT base{0, 0, 4, 8};
    MapDialogRect(dialog, &base);
    line.Int("window_w", window.right - window.left)
        .Int("window_h", window.bottom - window.top)
        .Int("client_w", client.right - client.left)
        .Int("client_h", client.bottom - client.top)
        .Int("base_x", base.right)
        .Int("base_y", base.bottom);
}

void DialogAutomation::LogRead(HWND dialog) {
    HWND list = GetDlgItem(dialog, kTrackList);
    int rows = list ? static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
    {
        EventLog::Line line = log_.Event("dialog_read");
        line.Str("caption", Text(dialog).c_str()).Int("rows", rows);
        LogGeometry(line, dialog);
    }
    if (!list)
        return;
    for (int column = 0;; ++column) {
        char title[kTextChars] = {};
        LVCOLUMNA info{};
        info.mask = LVCF_TEXT | LVCF_WIDTH;
        info.pszText = title;
        info.cchTextMax = kTextChars;
        if (!SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(column),
                          reinterpret_cast<LPARAM>(&info)))
            break;
        log_.Event("dialog_column").Int("index", column).Str("title", title).Int("width", info.cx);
    }
    for (int row = 0; row < rows; ++row) {
        bool selected =
            SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) != 0;
        log_.Event("dialog_row")
            .Int("row", row)
            .Str("title", CellText(list, row, 0).c_str())
            .Str("duration", CellText(list, row, 1).c_str())
            .Bool("selected", selected);
    }
    EventLog::Line fields = log_.Event("dialog_fields");
    for (const auto& field : kValueFields)
        fields.Str(field.name, Text(GetDlgItem(dialog, field.id)).c_str());
}
