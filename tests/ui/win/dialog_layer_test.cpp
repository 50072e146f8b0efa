// The dialog layer under Wine beyond what korvane.exe's own run shows: a cancelled file
// dialog and a chosen path that does not fit the caller's buffer give nothing; the
// manifest the program carries (the test programs carry it too) brings common controls 6
// and DPI awareness; a window's DPI comes from GetDpiForWindow where the system has it
// and from the window's device context where it has not.
#include <windows.h>
#include <commdlg.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/window_test_util.h"
#include "ui/dpi.h"
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

TEST(Manifest, CommonControlsSixAndDpiAwareness) {
    wchar_t module[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(GetModuleHandleW(L"comctl32.dll"), module, MAX_PATH), 0u);
    EXPECT_NE(std::wstring(module).find(L"common-controls_6595b64144ccf1df_6."), std::wstring::npos);
    EXPECT_TRUE(IsProcessDPIAware());
}

UINT WINAPI HighDpi(HWND) { return 144; }
UINT WINAPI NoAnswer(HWND) { return 0; }

TEST(Dpi, WindowDpiFromEitherSource) {
    HWND window = CreateWindowW(L"STATIC", L"dpi", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    HDC dc = GetDC(window);
    const int deviceDpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(window, dc);
    EXPECT_EQ(WindowDpi(window), deviceDpi);  // Wine has GetDpiForWindow, as Windows 10 does
    EXPECT_EQ(WindowDpi(window, HighDpi), 144);
    EXPECT_EQ(WindowDpi(window, NoAnswer), deviceDpi);  // a system without the call
    EXPECT_EQ(WindowDpi(nullptr, HighDpi), deviceDpi);  // the screen's
    DestroyWindow(window);
}

}  // namespace
