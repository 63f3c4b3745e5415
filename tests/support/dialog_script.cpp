#include "support/dialog_script.h"

#include "core/entry_points.h"
#include "dialogs/resource_ids.h"
#include "platform/standin/testing.h"

namespace dialogscript {

void Select(HWND dialog, int row, bool selected) {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    SendMessageA(GetDlgItem(dialog, IDC_TRACK_LIST), LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
}

void Press(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, static_cast<WPARAM>(id), 0);
}

void Choose(HWND dialog, unsigned rows, int count) {
    for (int row = 0; row < count; ++row)
        Select(dialog, row, (rows >> row) & 1u);
}

bool StaysOpen(HWND dialog) {
    MSG pending;
    bool closing = PeekMessageA(&pending, dialog, WM_CLOSE, WM_CLOSE, PM_NOREMOVE);
    return IsWindow(dialog) && IsWindowVisible(dialog) && !standin::DialogEnded(dialog) && !closing;
}

RunResult RunInfoBox(const std::string& file, HWND parent, std::function<void(HWND)> script) {
    RunResult result;
    standin::SetDialogScript([&](HWND dialog) {
        result.script_ran = true;
        script(dialog);
        if (StaysOpen(dialog)) {
            result.forced_close = true;
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        }
    });
    InfoBox(file.c_str(), parent);
    standin::SetDialogScript(nullptr);
    return result;
}

} // namespace dialogscript
