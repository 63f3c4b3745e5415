// The model behind a "SysListView32" control.
#pragma once

#include "platform/standin/window_model.h"

namespace standin {

// A list control with the given window style (LVS_*): report columns, rows of
// cell texts and per-row state bits, driven by the LVM_* messages.
std::unique_ptr<ControlModel> MakeListViewModel(DWORD style);

} // namespace standin
