// korvane.exe itself: its menu opens the connections dialog, and Check lists a TCP
// listener and a UDP socket that this test holds open.
#include <gtest/gtest.h>

#include "tests/net/win/connections_windows.h"

#include <string>

#include "resources/resource.h"
#include "tests/support/window_test_util.h"

namespace {

std::wstring ProgramPath() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L'\\') + 1) + L"korvane.exe";
}

// The main window once the start-up job has ended. A message box the start-up shows
// (the process list fails where no process operation is installed) is answered.
HWND WaitForMainWindow(DWORD pid) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(20)) {
        HWND found = testutil::FindProcessWindow(pid, L"Korvane Inspector");
        if (!found) continue;
        if (GetDlgItem(found, IDC_TREE) && !testutil::FindProcessWindow(pid, L"搜索进度")) return found;
        if (GetDlgItem(found, 0xFFFF)) PostMessageW(found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    return nullptr;
}

// Waits until the process shows no progress dialog for a while.
void WaitForProgressToEnd(DWORD pid) {
    for (int quiet = 0; quiet < 10; Sleep(50)) {
        quiet = testutil::FindProcessWindow(pid, L"搜索进度") ? 0 : quiet + 1;
    }
}

TEST(ConnectionsEndToEnd, MenuOpensTheDialogAndCheckListsTheSockets) {
    testutil::Watchdog watchdog(120000);
    conntest::OpenSockets sockets;
    ASSERT_TRUE(sockets.Ok());
    std::wstring command = L"\"" + ProgramPath() + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));

    HWND main = WaitForMainWindow(pi.dwProcessId);
    HWND dialog = nullptr;
    std::vector<std::vector<std::string>> rows;
    if (main) {
        WaitForProgressToEnd(pi.dwProcessId);
        PostMessageW(main, WM_COMMAND, MAKEWPARAM(ID_VIEW_CONNECTIONS, 0), 0);
        dialog = testutil::WaitForProcessWindow(pi.dwProcessId, L"检查活动连接", 20000, 20);
    }
    if (dialog) {
        HWND list = GetDlgItem(dialog, IDC_CONNECTIONS_LIST);
        EXPECT_EQ(ListView_GetItemCount(list), 0);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CONNECTIONS_CHECK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_CONNECTIONS_CHECK)));
        for (DWORD start = GetTickCount(); ListView_GetItemCount(list) == 0 && GetTickCount() - start < 30000;) {
            Sleep(50);
        }
        WaitForProgressToEnd(pi.dwProcessId);
        rows = conntest::ListRows(pi.hProcess, list, 9);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        for (DWORD start = GetTickCount(); IsWindow(dialog) && GetTickCount() - start < 10000;) Sleep(20);
    }
    if (main) PostMessageW(main, WM_CLOSE, 0, 0);
    const bool exited = WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0;
    if (!exited) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    ASSERT_NE(main, nullptr) << "no main window";
    ASSERT_NE(dialog, nullptr) << "menu 32777 opened no connections dialog";
    EXPECT_TRUE(exited);
    const auto* tcp = conntest::FindRow(rows, "TCP", sockets.tcpPort);
    ASSERT_NE(tcp, nullptr) << "no row for the TCP listener among " << rows.size();
    EXPECT_EQ((*tcp)[2], "127.0.0.1");
    EXPECT_EQ((*tcp)[7], "LISTENING");
    EXPECT_EQ((*tcp)[4], "*");
    const auto* udp = conntest::FindRow(rows, "UDP", sockets.udpPort);
    ASSERT_NE(udp, nullptr) << "no row for the UDP socket";
    EXPECT_EQ((*udp)[2], "127.0.0.1");
    EXPECT_EQ((*udp)[7], "*");
}

}  // namespace
