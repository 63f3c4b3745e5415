// The list control of the common controls: columns, rows and row states,
// enough of LVM_* for report views.
#include "platform/standin/list_view_model.h"

#include <algorithm>
#include <cstring>

namespace {

struct Column {
    std::string text;
    int width = 0;
    int format = LVCFMT_LEFT;
    int sub_item = 0;
};

struct Row {
    std::vector<std::string> cells{std::string()};
    UINT state = 0;
};

// Copies `text` into a caller's buffer of `size` bytes, cut and terminated;
// returns the characters copied.
int CopyOut(const std::string& text, LPSTR buffer, int size) {
    if (!buffer || size <= 0)
        return 0;
    int n = std::min(static_cast<int>(text.size()), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

class ListViewModel : public standin::ControlModel {
public:
    explicit ListViewModel(DWORD style) : style_(style) {}

    bool Handle(HWND, UINT message, WPARAM first, LPARAM second, LRESULT* result) override {
        switch (message) {
        case LVM_GETITEMCOUNT:
            *result = static_cast<LRESULT>(rows_.size());
            return true;
        case LVM_INSERTCOLUMNA:
            *result = InsertColumn(static_cast<int>(first), reinterpret_cast<LVCOLUMNA*>(second));
            return true;
        case LVM_GETCOLUMNA:
            *result = GetColumn(static_cast<int>(first), reinterpret_cast<LVCOLUMNA*>(second));
            return true;
        case LVM_INSERTITEMA:
            *result = InsertItem(reinterpret_cast<LVITEMA*>(second));
            return true;
        case LVM_SETITEMTEXTA:
            *result = SetItemText(static_cast<int>(first), reinterpret_cast<LVITEMA*>(second));
            return true;
        case LVM_GETITEMTEXTA:
            *result = GetItemText(static_cast<int>(first), reinterpret_cast<LVITEMA*>(second));
            return true;
        case LVM_GETITEMSTATE:
            *result = ValidRow(static_cast<int>(first))
                          ? rows_[first].state & static_cast<UINT>(second)
                          : 0;
            return true;
        case LVM_SETITEMSTATE:
            *result = SetItemState(static_cast<int>(first), reinterpret_cast<LVITEMA*>(second));
            return true;
        default:
            return false;
        }
    }

private:
    bool ValidRow(int row) const { return row >= 0 && row < static_cast<int>(rows_.size()); }

    LRESULT InsertColumn(int index, const LVCOLUMNA* column) {
        if (!column || index < 0)
            return -1;
        Column made;
        if (column->mask & LVCF_TEXT)
            made.text = column->pszText ? column->pszText : "";
        if (column->mask & LVCF_WIDTH)
            made.width = column->cx;
        if (column->mask & LVCF_FMT)
            made.format = column->fmt;
        index = std::min(index, static_cast<int>(columns_.size()));
        made.sub_item = column->mask & LVCF_SUBITEM ? column->iSubItem : index;
        columns_.insert(columns_.begin() + index, made);
        return index;
    }

    LRESULT GetColumn(int index, LVCOLUMNA* column) const {
        if (!column || index < 0 || index >= static_cast<int>(columns_.size()))
            return FALSE;
        const Column& found = columns_[index];
        if (column->mask & LVCF_TEXT)
            CopyOut(found.text, column->pszText, column->cchTextMax);
        if (column->mask & LVCF_WIDTH)
            column->cx = found.width;
        if (column->mask & LVCF_FMT)
            column->fmt = found.format;
        if (column->mask & LVCF_SUBITEM)
            column->iSubItem = found.sub_item;
        return TRUE;
    }

    LRESULT InsertItem(const LVITEMA* item) {
        // Only whole rows are inserted; sub-items are set afterwards.
        if (!item || item->iItem < 0 || item->iSubItem != 0)
            return -1;
        Row row;
        if (item->mask & LVIF_TEXT)
            row.cells[0] = item->pszText ? item->pszText : "";
        int index = std::min(item->iItem, static_cast<int>(rows_.size()));
        rows_.insert(rows_.begin() + index, row);
        if (item->mask & LVIF_STATE)
            ApplyState(index, item->state, item->stateMask);
        return index;
    }

    LRESULT SetItemText(int row, const LVITEMA* item) {
        if (!item || !ValidRow(row) || item->iSubItem < 0)
            return FALSE;
        auto& cells = rows_[row].cells;
        if (static_cast<std::size_t>(item->iSubItem) >= cells.size())
            cells.resize(item->iSubItem + 1);
        cells[item->iSubItem] = item->pszText ? item->pszText : "";
        return TRUE;
    }

    LRESULT GetItemText(int row, LVITEMA* item) const {
        if (!item || !ValidRow(row) || item->iSubItem < 0)
            return 0;
        const auto& cells = rows_[row].cells;
        std::string text =
            static_cast<std::size_t>(item->iSubItem) < cells.size() ? cells[item->iSubItem] : "";
        return CopyOut(text, item->pszText, item->cchTextMax);
    }

    // Row -1 stands for every row, as in Windows.
    LRESULT SetItemState(int row, const LVITEMA* item) {
        if (!item)
            return FALSE;
        if (row == -1) {
            for (int i = 0; i < static_cast<int>(rows_.size()); ++i)
                ApplyState(i, item->state, item->stateMask);
            return TRUE;
        }
        if (!ValidRow(row))
            return FALSE;
        ApplyState(row, item->state, item->stateMask);
        return TRUE;
    }

    void ApplyState(int row, UINT state, UINT mask) {
        // One row at most is selected, and one focused, when the style says so.
        bool single = style_ & LVS_SINGLESEL;
        for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
            if (i == row)
                continue;
            if (single && (mask & state & LVIS_SELECTED))
                rows_[i].state &= ~LVIS_SELECTED;
            if (mask & state & LVIS_FOCUSED)
                rows_[i].state &= ~LVIS_FOCUSED;
        }
        rows_[row].state = (rows_[row].state & ~mask) | (state & mask);
    }

    DWORD style_;
    std::vector<Column> columns_;
    std::vector<Row> rows_;
};

} // namespace

namespace standin {

std::unique_ptr<ControlModel> MakeListViewModel(DWORD style) {
    return std::make_unique<ListViewModel>(style);
}

} // namespace standin
