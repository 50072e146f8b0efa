// Starts korvane.exe itself and follows it from the progress dialog to the main
// window and a clean exit.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/support/window_test_util.h"

namespace {

using testutil::ClassName;
using testutil::WindowText;

std::wstring ProgramPath() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L'\\') + 1) + L"korvane.exe";
}

struct Collect {
    DWORD pid;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectProc(HWND hwnd, LPARAM lParam) {
    auto* c = reinterpret_cast<Collect*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == c->pid && IsWindowVisible(hwnd) && ClassName(hwnd) == L"#32770") c->windows.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> VisibleDialogs(DWORD pid) {
    Collect c{pid, {}};
    EnumWindows(CollectProc, reinterpret_cast<LPARAM>(&c));
    return c.windows;
}

TEST(ProgramEndToEnd, StartsThroughProgressDialogShowsMainWindowAndExitsCleanly) {
    testutil::Watchdog watchdog(90000);
    std::wstring command = L"\"" + ProgramPath() + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        << "cannot start " << std::string(command.begin(), command.end());

    bool sawProgress = false;
    HWND main = nullptr;
    std::vector<std::wstring> messages;
    const DWORD start = GetTickCount();
    while (!main && GetTickCount() - start < 60000) {
        for (HWND w : VisibleDialogs(pi.dwProcessId)) {
            const std::wstring title = WindowText(w);
            if (title == L"搜索进度") {
                sawProgress = true;
            } else if (title == L"Korvane Inspector" && GetDlgItem(w, IDC_TREE)) {
                main = w;
            } else if (GetDlgItem(w, 0xFFFF)) {
                // A start-up message box: note it and answer it.
                messages.push_back(testutil::MessageBoxText(w));
                PostMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                Sleep(100);
            }
        }
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) break;
        Sleep(2);
    }
    EXPECT_TRUE(sawProgress) << "the start-up job ran without its progress dialog";
    ASSERT_NE(main, nullptr) << "no main window";
    EXPECT_EQ(WindowText(main), L"Korvane Inspector");
    EXPECT_NE(GetMenu(main), nullptr);
    for (const std::wstring& m : messages) {
        // The only message the start-up may show is the failed process list.
        EXPECT_EQ(m, L"严重错误:无法建立进程列表");
    }

    PostMessageW(main, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0) << "korvane.exe did not exit";
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

}  // namespace
