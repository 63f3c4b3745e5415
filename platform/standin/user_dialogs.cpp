// Modal dialogs. The stand-in cannot read a module's resources, so it builds
// the plug-in's two dialogs from a description of their templates: the
// controls' classes, ids, texts and styles; positions are left out, as
// nothing here draws.
#include "platform/standin/list_view_model.h"
#include "platform/standin/testing.h"

#include <functional>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace {

constexpr int kNoId = -1;

struct ControlTemplate {
    const char* class_name;
    const char* text;
    int id;
    DWORD style;
    DWORD ex_style;
};

struct DialogTemplate {
    WORD number;
    const char* caption;
    DWORD style;
    DWORD ex_style;
    std::vector<ControlTemplate> controls;
};

constexpr DWORD kButtonStyle = BS_FLAT | WS_TABSTOP;
constexpr DWORD kValueStyle = SS_SUNKEN | WS_BORDER;

const std::vector<DialogTemplate>& Templates() {
    static const std::vector<DialogTemplate> templates = {
        {101,
         "About me?!",
         DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU,
         WS_EX_TOOLWINDOW,
         {
             {"Static", "#108", kNoId, SS_ICON, 0},
             {"Static", "#110", kNoId, SS_ICON, 0},
             {"Static", "Kestrel", kNoId, SS_CENTER, 0},
             {"Static", "Sound Player Plugin", kNoId, SS_CENTER, 0},
             {"Static", "Plug-in by the Kestrel team", kNoId, SS_CENTER, 0},
         }},
        {103,
         "Kestrel - Sound Info",
         DS_SETFONT | DS_MODALFRAME | DS_CENTER | DS_CENTERMOUSE | WS_POPUP | WS_CAPTION |
             WS_SYSMENU,
         WS_EX_TOOLWINDOW | WS_EX_CLIENTEDGE,
         {
             {WC_LISTVIEWA, "", 1000, LVS_REPORT | WS_BORDER | WS_TABSTOP, 0},
             {"Button", "", kNoId, BS_GROUPBOX | BS_FLAT, 0},
             {"Static", "Playing:", kNoId, SS_LEFT, 0},
             {"Static", "", 1002, SS_LEFT | SS_NOPREFIX | kValueStyle, 0},
             {"Static", "Frequency:", kNoId, SS_LEFT, 0},
             {"Static", "", 1003, SS_LEFT | kValueStyle, 0},
             {"Static", "Duration:", kNoId, SS_LEFT, 0},
             {"Static", "", 1006, SS_LEFT | kValueStyle, 0},
             {"Static", "Volume Size:", kNoId, SS_LEFT, 0},
             {"Static", "", 1004, SS_RIGHT | kValueStyle, 0},
             {"Static", "Uncompressed:", kNoId, SS_LEFT, 0},
             {"Static", "", 1005, SS_RIGHT | kValueStyle, 0},
             {"Button", "Done", 1008, BS_DEFPUSHBUTTON | kButtonStyle, WS_EX_DLGMODALFRAME},
             {"Button", "Cancel", 1009, BS_PUSHBUTTON | kButtonStyle, WS_EX_DLGMODALFRAME},
             {"Button", "Cool!", 1010, BS_PUSHBUTTON | kButtonStyle, WS_EX_DLGMODALFRAME},
         }},
    };
    return templates;
}

const DialogTemplate* FindTemplate(LPCSTR name) {
    if (!IS_INTRESOURCE(name))
        return nullptr;
    auto number = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(name));
    for (const DialogTemplate& found : Templates())
        if (found.number == number)
            return &found;
    return nullptr;
}

struct ModalState {
    bool ended = false;
    INT_PTR result = 0;
};

// Running modal dialogs; EndDialog may come from any thread.
std::mutex dialogs_lock;
std::unordered_map<HWND, ModalState>& Running() {
    static auto* running = new std::unordered_map<HWND, ModalState>;
    return *running;
}

std::mutex script_lock;
std::function<void(HWND)>& PendingScript() {
    static auto* script = new std::function<void(HWND)>;
    return *script;
}

std::function<void(HWND)> TakeScript() {
    std::lock_guard<std::mutex> hold(script_lock);
    return std::exchange(PendingScript(), nullptr);
}

bool Ended(HWND dialog, INT_PTR* result) {
    std::lock_guard<std::mutex> hold(dialogs_lock);
    const ModalState& state = Running()[dialog];
    *result = state.result;
    return state.ended;
}

// What DefDlgProc does with what the dialog procedure left unhandled: the
// window's close command closes the window, and closing it is "Cancel".
class DialogModel : public standin::ControlModel {
public:
    explicit DialogModel(DLGPROC proc) : proc_(proc) {}

    bool Handle(HWND dialog, UINT message, WPARAM first, LPARAM second, LRESULT* result) override {
        *result = proc_(dialog, message, first, second);
        if (*result)
            return true;
        if (message == WM_SYSCOMMAND && (first & 0xFFF0) == SC_CLOSE)
            SendMessageA(dialog, WM_CLOSE, 0, 0);
        else if (message == WM_CLOSE)
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
        return true;
    }

private:
    DLGPROC proc_;
};

// The id of the dialog's default push button, or IDOK when it has none.
int DefaultId(HWND dialog) {
    for (HWND child : standin::LookUpWindow(dialog)->children) {
        StandinWindow* control = standin::LookUpWindow(child);
        if (control->class_name == "Button" && (control->style & 0xF) == BS_DEFPUSHBUTTON)
            return control->id;
    }
    return IDOK;
}

// The dialog manager's keys: Escape is "Cancel" and Enter the default
// button. True if the message was one of them.
bool DialogKey(HWND dialog, const MSG& message) {
    if (message.message != WM_KEYDOWN ||
        (message.hwnd != dialog && GetParent(message.hwnd) != dialog))
        return false;
    int id = 0;
    if (message.wParam == VK_ESCAPE)
        id = IDCANCEL;
    else if (message.wParam == VK_RETURN)
        id = DefaultId(dialog);
    else
        return false;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    return true;
}

HWND BuildDialog(const DialogTemplate& from, HINSTANCE instance, HWND owner, DLGPROC proc) {
    HWND dialog = standin::MakeWindow("#32770", from.caption, from.style, owner, 0);
    StandinWindow* made = standin::LookUpWindow(dialog);
    made->dialog_proc = proc;
    made->control = std::make_unique<DialogModel>(proc);
    made->instance = instance;
    made->ex_style = from.ex_style;
    for (const ControlTemplate& control : from.controls) {
        HWND child = standin::MakeWindow(control.class_name, control.text,
                                         control.style | WS_CHILD | WS_VISIBLE, dialog, control.id);
        StandinWindow* item = standin::LookUpWindow(child);
        item->ex_style = control.ex_style;
        item->instance = instance;
        item->visible = true;
        if (control.class_name == std::string(WC_LISTVIEWA))
            item->control = standin::MakeListViewModel(control.style);
    }
    return dialog;
}

} // namespace

namespace standin {

void SetDialogScript(std::function<void(HWND dialog)> script) {
    std::lock_guard<std::mutex> hold(script_lock);
    PendingScript() = std::move(script);
}

bool DialogEnded(HWND dialog) {
    std::lock_guard<std::mutex> hold(dialogs_lock);
    auto found = Running().find(dialog);
    return found != Running().end() && found->second.ended;
}

} // namespace standin

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc,
                        LPARAM init_param) {
    const DialogTemplate* from = FindTemplate(name);
    if (!from || !proc) {
        SetLastError(from ? ERROR_INVALID_PARAMETER : ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    HWND dialog = BuildDialog(*from, instance, owner, proc);
    {
        std::lock_guard<std::mutex> hold(dialogs_lock);
        Running()[dialog] = ModalState{};
    }
    std::function<void(HWND)> script = TakeScript();

    standin::CallWindow(dialog, WM_INITDIALOG, 0, init_param);
    // As in Windows, the dialog shows when its queue first runs empty; that
    // is also when a test's script gets it.
    bool shown = false;
    INT_PTR result = 0;
    while (!Ended(dialog, &result)) {
        MSG message;
        if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!shown) {
                shown = true;
                ShowWindow(dialog, SW_SHOW);
                // Showing activates the dialog, which the thread's CBT hooks see.
                CBTACTIVATESTRUCT activation{FALSE, nullptr};
                standin::CallCbtHooks(HCBT_ACTIVATE, reinterpret_cast<WPARAM>(dialog),
                                      reinterpret_cast<LPARAM>(&activation));
                if (script)
                    std::exchange(script, nullptr)(dialog);
                continue;
            }
            GetMessageA(&message, nullptr, 0, 0);
        }
        if (message.message == WM_QUIT) {
            // Left in the queue for the caller's own loop.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (!DialogKey(dialog, message))
            DispatchMessageA(&message);
    }
    {
        std::lock_guard<std::mutex> hold(dialogs_lock);
        Running().erase(dialog);
    }
    DestroyWindow(dialog);
    return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    {
        std::lock_guard<std::mutex> hold(dialogs_lock);
        auto found = Running().find(dialog);
        if (found == Running().end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        found->second.ended = true;
        found->second.result = result;
    }
    // Wakes the dialog's loop if it waits for a message on another thread.
    PostMessageA(dialog, WM_NULL, 0, 0);
    return TRUE;
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) {
    return controls && controls->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}
