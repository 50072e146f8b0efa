// Modal dialogs from templates with a virtual message handler: the small stand-in
// for an application framework that the program's dialogs are written on.
#pragma once

#include <windows.h>

class Dialog {
public:
    explicit Dialog(int templateId, HWND parent = nullptr);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog modally and returns the result given to EndDialog, or -1
    // when the dialog could not be created. Without a parent, the application's
    // main window (or its active pop-up) owns the dialog.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result);
    HWND GetSafeHwnd() const { return hwnd_; }
    HWND GetItem(int id) const { return GetDlgItem(hwnd_, id); }

protected:
    // Called for WM_INITDIALOG after the data exchange; TRUE lets the system set focus.
    virtual BOOL OnInitDialog();
    // Binds member controls to the dialog's child windows.
    virtual void DoDataExchange() {}
    // Handles a message. Returns true when handled, with the message result in *result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    // The default reactions to IDOK and IDCANCEL: end the dialog with that result.
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    HWND hwnd_ = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    int templateId_;
    HWND parent_;
};

// The application's main window: the default owner of dialogs and message boxes.
void SetApplicationMainWindow(HWND hwnd);
HWND GetApplicationMainWindow();
// The owner a parentless dialog or message box gets: the main window's last active pop-up.
HWND DefaultOwnerWindow();

// The program's name, the caption of its message boxes.
extern const wchar_t kProductName[];

// Message box with the product name as caption; owner defaults as for dialogs.
int ShowMessageBox(const wchar_t* text, UINT type, HWND owner = nullptr);
// Loads a string-table entry; false (and an empty buffer) when it is missing or empty.
bool LoadResourceString(UINT id, wchar_t* buffer, int bufferChars);
