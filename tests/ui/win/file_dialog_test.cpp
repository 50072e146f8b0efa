// Drives the real common file dialogs under Wine.
#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>

#include <string>

#include "tests/support/window_test_util.h"
#include "ui/file_dialog.h"

namespace {

struct Answer {
    std::wstring title;
    const wchar_t* typed;  // null: cancel
};

BOOL CALLBACK FindFileDialog(HWND hwnd, LPARAM lParam) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId() && IsWindowVisible(hwnd) && testutil::ClassName(hwnd) == L"#32770") {
        *reinterpret_cast<HWND*>(lParam) = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Waits for the file dialog, types a name into its file-name field and confirms, or cancels.
DWORD WINAPI AnswerFileDialog(void* context) {
    auto* answer = static_cast<Answer*>(context);
    HWND dialog = nullptr;
    for (int i = 0; i < 5000 && !dialog; ++i) {
        EnumWindows(FindFileDialog, reinterpret_cast<LPARAM>(&dialog));
        if (!dialog) Sleep(2);
    }
    if (!dialog) return 1;
    Sleep(200);
    answer->title = testutil::WindowText(dialog);
    if (!answer->typed) {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return 0;
    }
    SetDlgItemTextW(dialog, 0x47C, answer->typed);  // the file-name box of the explorer-style dialog
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return 0;
}

std::string RunDialog(const FileDialogOptions& options, Answer& answer, bool* confirmed, size_t pathSize = MAX_PATH) {
    HANDLE thread = CreateThread(nullptr, 0, AnswerFileDialog, &answer, 0, nullptr);
    char path[MAX_PATH * 2] = "stale";
    *confirmed = RunFileDialog(options, path, pathSize);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return path;
}

const wchar_t kFilter[] = L"文本文件 (*.txt;*.log)|*.txt;*.log|所有文件 (*.*)|*.*||";

TEST(FileDialog, SaveAndOpenReturnTheChosenFile) {
    testutil::Watchdog watchdog(60000);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp);
    // The extension a bare name gets depends on the system's dialog (filter or default
    // extension), so the name is typed whole.
    const std::wstring typed = std::wstring(folder.begin(), folder.end()) + L"report.log";
    bool confirmed = false;

    Answer save{L"", typed.c_str()};
    const std::string saved =
        RunDialog({true, L"log", L"korvane.log", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kFilter, nullptr}, save, &confirmed);
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(saved, folder + "report.log");

    const std::string existing = folder + "existing.log";
    HANDLE file = CreateFileA(existing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    const std::wstring typedExisting(existing.begin(), existing.end());
    Answer open{L"", typedExisting.c_str()};
    const std::string opened =
        RunDialog({false, L"log", nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kFilter, nullptr}, open, &confirmed);
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(opened, existing);
    DeleteFileA(existing.c_str());
}

TEST(FileDialog, CancelAndPathsThatDoNotFitGiveNoPath) {
    testutil::Watchdog watchdog(60000);
    bool confirmed = true;
    Answer cancel{L"", nullptr};
    const std::string none = RunDialog({false, L"log", nullptr, OFN_HIDEREADONLY, kFilter, nullptr}, cancel, &confirmed);
    EXPECT_FALSE(confirmed);
    EXPECT_EQ(none, "");

    Answer tooLong{L"", L"C:\\windows\\win.ini"};
    const std::string cut = RunDialog({false, nullptr, nullptr, OFN_HIDEREADONLY, kFilter, nullptr}, tooLong, &confirmed, 8);
    EXPECT_FALSE(confirmed) << "a path that does not fit must not be returned cut";
    EXPECT_EQ(cut, "");
}

}  // namespace
