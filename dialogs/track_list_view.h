// The Sound Info dialog's list control: one list-control message per
// operation, sent to the control's window.
#pragma once

#include "platform/win32.h"

class TrackListView {
public:
    explicit TrackListView(HWND list) : list_(list) {}

    HWND Window() const { return list_; }

    // Adds a column; its index is also its sub-item. The new column's index,
    // or -1.
    int InsertColumn(int index, const char* text, int width_px, int alignment);
    // Adds a row with its first cell's text and no state bits set. The new
    // row's index, or -1.
    int InsertRow(int row, int sub_item, const char* text);
    // Sets one cell's text. Returns 0.
    int SetCellText(int row, int sub_item, const char* text);
    // The row's state bits under `mask` (LVIS_*).
    UINT GetRowState(int row, UINT mask) const;
    // Sets the row's state bits under `mask` to those of `state`. Returns 0.
    int SetRowState(int row, UINT state, UINT mask);

private:
    HWND list_;
};
