#include "dialogs/about_dialog.h"

// Enter and Escape arrive as commands and are left unhandled, so the box
// stays open; only closing the window ends it.
INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM, LPARAM) {
    if (message != WM_CLOSE)
        return 0;
    ShowWindow(window, SW_HIDE);
    EndDialog(window, 0);
    return 1;
}
