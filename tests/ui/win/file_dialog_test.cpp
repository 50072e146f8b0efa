// The common file dialog under Wine beyond what korvane.exe's Save and Load show: a
// cancelled dialog and a chosen path that does not fit the caller's buffer give nothing.
#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>

#include "tests/support/window_test_util.h"
#include "ui/file_dialog.h"

namespace {

// Waits for the file dialog, types a name into its file-name field and confirms, or
// (no name) cancels.
DWORD WINAPI AnswerFileDialog(void* typed) {
    HWND dialog = testutil::WaitForProcessWindow(GetCurrentProcessId(), nullptr, 10000);
    if (!dialog) return 1;
    Sleep(200);
    if (typed) SetDlgItemTextW(dialog, 0x47C, static_cast<const wchar_t*>(typed));  // the explorer-style name box
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(typed ? IDOK : IDCANCEL, BN_CLICKED), 0);
    return 0;
}

TEST(FileDialog, CancelledOrTooLongForTheBufferGivesNothing) {
    testutil::Watchdog watchdog(60000);
    const FileDialogOptions options = {false, L"log", nullptr, OFN_HIDEREADONLY, L"所有文件 (*.*)|*.*||", nullptr};
    for (const wchar_t* typed : {static_cast<const wchar_t*>(nullptr), L"C:\\windows\\win.ini"}) {
        HANDLE thread = CreateThread(nullptr, 0, AnswerFileDialog, const_cast<wchar_t*>(typed), 0, nullptr);
        char path[8] = "stale";
        EXPECT_FALSE(RunFileDialog(options, path, sizeof path));
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        EXPECT_STREQ(path, "");
    }
}

}  // namespace
