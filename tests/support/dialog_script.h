// Acting inside the running Sound Info dialog as a user would: choosing rows
// and pressing buttons, from a script the stand-in runs once the dialog shows.
#pragma once

#include "platform/win32.h"

#include <functional>
#include <string>

namespace dialogscript {

void Select(HWND dialog, int row, bool selected);
void Press(HWND dialog, int id);
// Selects the rows whose bit is set in `rows` (row 0 is bit 0) and clears the
// others, of the first `count`.
void Choose(HWND dialog, unsigned rows, int count);

// True if the dialog is still there, shown, not ended and not about to close.
bool StaysOpen(HWND dialog);

struct RunResult {
    bool script_ran = false;
    // The script left the dialog open with no close on its way, and the run
    // had to close it.
    bool forced_close = false;
};

// Runs the host's info_box for `file` with `script` acting inside the dialog.
RunResult RunInfoBox(const std::string& file, HWND parent, std::function<void(HWND)> script);

} // namespace dialogscript
