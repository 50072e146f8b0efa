// Drives the real common file dialogs under Wine.
#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>

#include <string>

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

TEST(FileDialog, ReturnsTheChosenFileOrNothing) {
    testutil::Watchdog watchdog(60000);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = temp, existing = folder + "existing.log";
    HANDLE file = CreateFileA(existing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    // The extension a bare name gets depends on the system's dialog, so names are typed whole.
    const std::wstring report = std::wstring(folder.begin(), folder.end()) + L"report.log";
    const std::wstring opened(existing.begin(), existing.end());
    const wchar_t filter[] = L"文本文件 (*.txt;*.log)|*.txt;*.log|所有文件 (*.*)|*.*||";
    const struct { FileDialogOptions options; const wchar_t* typed; size_t pathSize; std::string path; } cases[] = {
        {{true, L"log", L"korvane.log", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, filter, nullptr}, report.c_str(),
         MAX_PATH, folder + "report.log"},
        {{false, L"log", nullptr, OFN_HIDEREADONLY, filter, nullptr}, opened.c_str(), MAX_PATH, existing},
        {{false, L"log", nullptr, OFN_HIDEREADONLY, filter, nullptr}, nullptr, MAX_PATH, ""},
        // a path that does not fit is not returned cut
        {{false, nullptr, nullptr, OFN_HIDEREADONLY, filter, nullptr}, L"C:\\windows\\win.ini", 8, ""},
    };
    for (const auto& c : cases) {
        HANDLE thread = CreateThread(nullptr, 0, AnswerFileDialog, const_cast<wchar_t*>(c.typed), 0, nullptr);
        char path[MAX_PATH] = "stale";
        const bool confirmed = RunFileDialog(c.options, path, c.pathSize);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        EXPECT_EQ(confirmed, !c.path.empty()) << c.path;
        EXPECT_EQ(path, c.path);
    }
    DeleteFileA(existing.c_str());
}

}  // namespace
