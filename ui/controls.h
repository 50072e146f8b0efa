// Thin wrappers of control and menu handles: each holds a handle and forwards to
// the control's messages. They own nothing unless stated.
#pragma once

#include <windows.h>
#include <commctrl.h>

class WindowRef {
public:
    HWND hwnd = nullptr;
    void Attach(HWND dialog, int id) { hwnd = GetDlgItem(dialog, id); }
    bool IsValid() const { return hwnd != nullptr; }
    void Enable(bool enable) const { EnableWindow(hwnd, enable ? TRUE : FALSE); }
    bool IsEnabled() const { return IsWindowEnabled(hwnd) != FALSE; }
    void Show(bool show) const { ShowWindow(hwnd, show ? SW_SHOW : SW_HIDE); }
    bool IsVisible() const { return (GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0; }
    void SetText(const wchar_t* text) const { SetWindowTextW(hwnd, text); }
    // Data text: bytes in the system code page.
    void SetTextAnsi(const char* text) const { SetWindowTextA(hwnd, text); }
    int GetText(wchar_t* buffer, int chars) const { return GetWindowTextW(hwnd, buffer, chars); }
};

class ButtonRef : public WindowRef {
public:
    void SetCheck(bool checked) const {
        SendMessageW(hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    bool IsChecked() const { return SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED; }
};

class EditRef : public WindowRef {};

class ProgressBarRef : public WindowRef {
public:
    LRESULT SetPos(WPARAM pos) const { return SendMessageW(hwnd, PBM_SETPOS, pos, 0); }
    LRESULT SetStep(WPARAM step) const { return SendMessageW(hwnd, PBM_SETSTEP, step, 0); }
    LRESULT StepIt() const { return SendMessageW(hwnd, PBM_STEPIT, 0, 0); }
    LRESULT SetRange32(int low, int high) const { return SendMessageW(hwnd, PBM_SETRANGE32, low, high); }
    int GetPos() const { return static_cast<int>(SendMessageW(hwnd, PBM_GETPOS, 0, 0)); }
};

class TreeRef : public WindowRef {
public:
    HIMAGELIST SetStateImageList(HIMAGELIST list) const { return TreeView_SetImageList(hwnd, list, TVSIL_STATE); }
    HIMAGELIST GetStateImageList() const { return TreeView_GetImageList(hwnd, TVSIL_STATE); }
    bool DeleteAllItems() const { return TreeView_DeleteAllItems(hwnd) != FALSE; }
    HTREEITEM GetRootItem() const { return TreeView_GetRoot(hwnd); }
    HTREEITEM GetFirstVisibleItem() const { return TreeView_GetFirstVisible(hwnd); }
    HTREEITEM GetSelectedItem() const { return TreeView_GetSelection(hwnd); }
    bool SelectItem(HTREEITEM item) const { return TreeView_SelectItem(hwnd, item) != FALSE; }
    UINT GetCount() const { return TreeView_GetCount(hwnd); }
    HTREEITEM GetParentItem(HTREEITEM item) const { return TreeView_GetParent(hwnd, item); }
    HTREEITEM GetChildItem(HTREEITEM item) const { return TreeView_GetChild(hwnd, item); }
    HTREEITEM GetNextSiblingItem(HTREEITEM item) const { return TreeView_GetNextSibling(hwnd, item); }
    bool DeleteItem(HTREEITEM item) const { return TreeView_DeleteItem(hwnd, item) != FALSE; }
    LPARAM GetItemData(HTREEITEM item) const {
        TVITEMW data = {};
        data.mask = TVIF_PARAM | TVIF_HANDLE;
        data.hItem = item;
        return TreeView_GetItem(hwnd, &data) ? data.lParam : 0;
    }
    bool ItemHasChildren(HTREEITEM item) const {
        TVITEMW data = {};
        data.mask = TVIF_CHILDREN | TVIF_HANDLE;
        data.hItem = item;
        return TreeView_GetItem(hwnd, &data) && data.cChildren != 0;
    }
    // Data text: bytes in the system code page, zero-terminated in size bytes.
    void GetItemTextAnsi(HTREEITEM item, char* text, int size) const {
        if (size <= 0) return;
        text[0] = '\0';
        TVITEMA data = {};
        data.mask = TVIF_TEXT | TVIF_HANDLE;
        data.hItem = item;
        data.pszText = text;
        data.cchTextMax = size;
        SendMessageA(hwnd, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data));
        text[size - 1] = '\0';
    }
    // State-image index of an item (0 when it has none).
    UINT GetStateImage(HTREEITEM item) const {
        return (TreeView_GetItemState(hwnd, item, TVIS_STATEIMAGEMASK) & TVIS_STATEIMAGEMASK) >> 12;
    }
    void SetStateImage(HTREEITEM item, UINT image) const {
        TreeView_SetItemState(hwnd, item, INDEXTOSTATEIMAGEMASK(image), TVIS_STATEIMAGEMASK);
    }
    bool IsExpanded(HTREEITEM item) const {
        return (TreeView_GetItemState(hwnd, item, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
    }
};

class ListBoxRef : public WindowRef {
public:
    void ResetContent() const { SendMessageW(hwnd, LB_RESETCONTENT, 0, 0); }
    // Data text: bytes in the system code page.
    int AddStringAnsi(const char* text) const {
        return static_cast<int>(SendMessageA(hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
    }
    int GetCount() const { return static_cast<int>(SendMessageW(hwnd, LB_GETCOUNT, 0, 0)); }
};

// A report-style list view. Cell texts are data text (ANSI); headers are interface texts.
class ListViewRef : public WindowRef {
public:
    bool DeleteAllItems() const { return ListView_DeleteAllItems(hwnd) != FALSE; }
    int GetItemCount() const { return ListView_GetItemCount(hwnd); }
    int GetColumnWidth(int column) const { return ListView_GetColumnWidth(hwnd, column); }
    bool SetColumnWidth(int column, int width) const { return ListView_SetColumnWidth(hwnd, column, width) != FALSE; }
    int GetStringWidth(const wchar_t* text) const {
        return static_cast<int>(SendMessageW(hwnd, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text)));
    }
    int InsertColumn(int position, const LVCOLUMNW& column) const {
        return static_cast<int>(SendMessageW(hwnd, LVM_INSERTCOLUMNW, position, reinterpret_cast<LPARAM>(&column)));
    }
    // The new row's index, -1 on failure.
    int InsertItemText(int row, const char* text) const {
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<char*>(text);
        return static_cast<int>(SendMessageW(hwnd, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    }
    bool SetItemText(int row, int column, const char* text) const {
        LVITEMA item = {};
        item.iSubItem = column;
        item.pszText = const_cast<char*>(text);
        return SendMessageW(hwnd, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item)) != FALSE;
    }
    bool RedrawItems(int first, int last) const { return ListView_RedrawItems(hwnd, first, last) != FALSE; }
};

// A menu bar loaded from a resource and attached to a window, which destroys it.
class MenuRef {
public:
    HMENU handle = nullptr;
    bool Load(int resourceId) {
        handle = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resourceId));
        return handle != nullptr;
    }
    bool AttachTo(HWND window) const { return SetMenu(window, handle) != FALSE; }
    void Check(UINT command, bool checked) const {
        CheckMenuItem(handle, command, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
    }
    void Enable(UINT command, bool enabled) const {
        EnableMenuItem(handle, command, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    }
    // The item's state flags (MF_CHECKED, MF_GRAYED, ...); 0 when it has none.
    UINT GetState(UINT command) const {
        const UINT state = GetMenuState(handle, command, MF_BYCOMMAND);
        return state == static_cast<UINT>(-1) ? 0 : state;
    }
};
