// Modal dialogs and the list control of the common controls. Included by
// platform/standin/windows.h; not to be included on its own.
#pragma once

#define MAKEINTRESOURCE MAKEINTRESOURCEA
#define IS_INTRESOURCE(r) ((reinterpret_cast<std::uintptr_t>(r) >> 16) == 0)
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814u

// Window and dialog styles.
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_SYSMENU 0x00080000u
#define WS_GROUP 0x00020000u
#define WS_TABSTOP 0x00010000u
#define WS_EX_DLGMODALFRAME 0x00000001u
#define WS_EX_TOOLWINDOW 0x00000080u
#define WS_EX_CLIENTEDGE 0x00000200u
#define DS_SETFONT 0x0040u
#define DS_MODALFRAME 0x0080u
#define DS_CENTER 0x0800u
#define DS_CENTERMOUSE 0x1000u

// Static and button controls.
#define SS_LEFT 0x0000u
#define SS_CENTER 0x0001u
#define SS_RIGHT 0x0002u
#define SS_ICON 0x0003u
#define SS_NOPREFIX 0x0080u
#define SS_SUNKEN 0x1000u
#define BS_PUSHBUTTON 0x0000u
#define BS_DEFPUSHBUTTON 0x0001u
#define BS_GROUPBOX 0x0007u
#define BS_FLAT 0x8000u

#define WM_SYSCOMMAND 0x0112u
#define SC_CLOSE 0xF060u

// The list control, "SysListView32".
#define WC_LISTVIEWA "SysListView32"
#define LVS_REPORT 0x0001u
#define LVS_SINGLESEL 0x0004u

#define LVM_FIRST 0x1000u
#define LVM_GETITEMCOUNT (LVM_FIRST + 4)
#define LVM_INSERTITEMA (LVM_FIRST + 7)
#define LVM_GETCOLUMNA (LVM_FIRST + 25)
#define LVM_INSERTCOLUMNA (LVM_FIRST + 27)
#define LVM_SETITEMSTATE (LVM_FIRST + 43)
#define LVM_GETITEMSTATE (LVM_FIRST + 44)
#define LVM_GETITEMTEXTA (LVM_FIRST + 45)
#define LVM_SETITEMTEXTA (LVM_FIRST + 46)

#define LVIF_TEXT 0x0001u
#define LVIF_IMAGE 0x0002u
#define LVIF_PARAM 0x0004u
#define LVIF_STATE 0x0008u

#define LVIS_FOCUSED 0x0001u
#define LVIS_SELECTED 0x0002u
#define LVIS_CUT 0x0004u
#define LVIS_DROPHILITED 0x0008u

#define LVCF_FMT 0x0001u
#define LVCF_WIDTH 0x0002u
#define LVCF_TEXT 0x0004u
#define LVCF_SUBITEM 0x0008u

#define LVCFMT_LEFT 0x0000
#define LVCFMT_RIGHT 0x0001
#define LVCFMT_CENTER 0x0002

// As laid out by the Windows headers (up to Windows XP's fields).
struct LVITEMA {
    UINT mask;
    int iItem;
    int iSubItem;
    UINT state;
    UINT stateMask;
    LPSTR pszText;
    int cchTextMax;
    int iImage;
    LPARAM lParam;
    int iIndent;
    int iGroupId;
    UINT cColumns;
    UINT* puColumns;
};
using LPLVITEMA = LVITEMA*;

struct LVCOLUMNA {
    UINT mask;
    int fmt;
    int cx;
    LPSTR pszText;
    int cchTextMax;
    int iSubItem;
    int iImage;
    int iOrder;
};
using LPLVCOLUMNA = LVCOLUMNA*;

static_assert(sizeof(void*) != 4 || sizeof(LVITEMA) == 52);
static_assert(sizeof(void*) != 4 || sizeof(LVCOLUMNA) == 32);

// Runs a dialog of the templates the stand-in knows (the plug-in's 101 and
// 103) modally on the calling thread's queue; returns EndDialog's result, or
// -1 for a template it does not know.
STANDIN_API INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc,
                                    LPARAM init_param);
STANDIN_API BOOL EndDialog(HWND dialog, INT_PTR result);

// The common controls: a process registers their window classes before any
// dialog that holds one is made. The stand-in's list control is always there.
struct INITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
};
using LPINITCOMMONCONTROLSEX = INITCOMMONCONTROLSEX*;
#define ICC_LISTVIEW_CLASSES 0x00000001u
STANDIN_API BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls);
