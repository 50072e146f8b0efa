#include "ui/dialog.h"

const wchar_t kProductName[] = L"Korvane Inspector";

namespace {
HWND g_mainWindow = nullptr;

// Messages whose result a dialog procedure returns directly instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
    case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX: case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC: case WM_COMPAREITEM:
    case WM_VKEYTOITEM: case WM_CHARTOITEM: case WM_QUERYDRAGICON: case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}
}  // namespace

void SetApplicationMainWindow(HWND hwnd) { g_mainWindow = hwnd; }
HWND GetApplicationMainWindow() { return g_mainWindow; }

HWND DefaultOwnerWindow() {
    if (g_mainWindow && IsWindow(g_mainWindow)) return GetLastActivePopup(g_mainWindow);
    return GetActiveWindow();
}

Dialog::Dialog(int templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() = default;

INT_PTR Dialog::DoModal() {
    HWND owner = parent_ ? parent_ : DefaultOwnerWindow();
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), owner,
                           DialogProc, reinterpret_cast<LPARAM>(this));
}

void Dialog::EndDialog(INT_PTR result) {
    if (hwnd_) ::EndDialog(hwnd_, result);
}

BOOL Dialog::OnInitDialog() { return TRUE; }

bool Dialog::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT*) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) { OnOK(); return true; }
        if (LOWORD(wParam) == IDCANCEL) { OnCancel(); return true; }
    }
    return false;
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->hwnd_ = hwnd;
        self->DoDataExchange();
        return self->OnInitDialog();
    }
    self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    LRESULT result = 0;
    const bool handled = self->OnMessage(message, wParam, lParam, &result);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
    }
    if (!handled) return FALSE;
    if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

int ShowMessageBox(const wchar_t* text, UINT type, HWND owner) {
    return MessageBoxW(owner ? owner : DefaultOwnerWindow(), text, kProductName, type);
}

bool LoadResourceString(UINT id, wchar_t* buffer, int bufferChars) {
    if (bufferChars <= 0) return false;
    buffer[0] = L'\0';
    return LoadStringW(GetModuleHandleW(nullptr), id, buffer, bufferChars) > 0;
}
