// The stand-in's windows, for the calls that create, find and drive them.
#pragma once

#include "platform/standin/handles.h"

#include <memory>
#include <string>
#include <vector>

namespace standin {

// What a control does with the messages sent to it (a list control keeps
// its rows here). Returns true if it handled the message.
struct ControlModel {
    virtual ~ControlModel() = default;
    virtual bool Handle(HWND window, UINT message, WPARAM first, LPARAM second,
                        LRESULT* result) = 0;
};

} // namespace standin

struct StandinWindow : standin::KernelObject {
    std::string class_name;
    std::string text;
    WNDPROC proc = nullptr;        // window procedure, for ordinary windows
    DLGPROC dialog_proc = nullptr; // dialog procedure, for dialogs
    HWND parent = nullptr;
    HINSTANCE instance = nullptr;
    int id = 0; // control id inside a dialog
    DWORD style = 0;
    DWORD ex_style = 0;
    DWORD thread = 0; // the thread whose queue gets its messages
    bool visible = false;
    std::vector<HWND> children;
    std::unique_ptr<standin::ControlModel> control;
};

namespace standin {

// The live window behind a handle, or null.
StandinWindow* LookUpWindow(HWND window);

// Makes a window owned by the calling thread (not yet visible).
HWND MakeWindow(const std::string& class_name, const std::string& text, DWORD style, HWND parent,
                int id);

// Calls the window's procedure (or dialog procedure, or control model).
LRESULT CallWindow(HWND window, UINT message, WPARAM first, LPARAM second);

} // namespace standin
