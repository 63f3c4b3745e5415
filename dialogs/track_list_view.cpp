// Driving the list control through its messages.
#include "dialogs/track_list_view.h"

namespace {

// The control only reads the text it is given.
LPSTR TextArgument(const char* text) {
    return const_cast<LPSTR>(text);
}

} // namespace

int TrackListView::InsertColumn(int index, const char* text, int width_px, int alignment) {
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = alignment;
    column.cx = width_px;
    column.pszText = TextArgument(text);
    column.iSubItem = index;
    return static_cast<int>(SendMessageA(list_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index),
                                         reinterpret_cast<LPARAM>(&column)));
}

int TrackListView::InsertRow(int row, int sub_item, const char* text) {
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_STATE;
    item.iItem = row;
    item.iSubItem = sub_item;
    item.pszText = TextArgument(text);
    item.state = 0;
    item.stateMask = 0;
    return static_cast<int>(
        SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

int TrackListView::SetCellText(int row, int sub_item, const char* text) {
    LVITEMA item{};
    item.iSubItem = sub_item;
    item.pszText = TextArgument(text);
    SendMessageA(list_, LVM_SETITEMTEXTA, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
    return 0;
}

UINT TrackListView::GetRowState(int row, UINT mask) const {
    return static_cast<UINT>(
        SendMessageA(list_, LVM_GETITEMSTATE, static_cast<WPARAM>(row), static_cast<LPARAM>(mask)));
}

int TrackListView::SetRowState(int row, UINT state, UINT mask) {
    LVITEMA item{};
    item.state = state;
    item.stateMask = mask;
    SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
    return 0;
}
