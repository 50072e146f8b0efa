// Connections under Wine: the probe's table routes on sockets the test opens (the
// plain routes on Wine's default version, the TCP Ex call and the UDP plain route
// with the driver on 5.2, in a second run), and the connections dialog filled by its
// job. Wine gives every row owner 0, so owners are tested natively with fake tables.
#include <gtest/gtest.h>

#include "tests/net/win/connections_windows.h"

#include <cstring>
#include <string>

#include "inspect/os_family.h"
#include "jobs/win/worker_job.h"
#include "net/connection_tables.h"
#include "net/win/connection_list.h"
#include "net/win/connection_routes.h"
#include "net/win/connections_dialog.h"
#include "resources/resource.h"
#include "tests/support/layout_checks.h"
#include "tests/support/probe_test_util.h"
#include "tests/support/window_test_util.h"

namespace {

using namespace probetest;

const TcpOwnerRow* FindTcp(const void* table, unsigned short port) {
    const auto* t = static_cast<const TcpOwnerTable*>(table);
    for (uint32_t i = 0; i < t->count; ++i) {
        if ((t->rows[i].localPort & 0xFFFF) == htons(port)) return &t->rows[i];
    }
    return nullptr;
}

const UdpOwnerRow* FindUdp(const void* table, unsigned short port) {
    const auto* t = static_cast<const UdpOwnerTable*>(table);
    for (uint32_t i = 0; i < t->count; ++i) {
        if ((t->rows[i].localPort & 0xFFFF) == htons(port)) return &t->rows[i];
    }
    return nullptr;
}

TEST(ConnectionTables, TheTestsSocketsAppearInBothTables) {
    conntest::OpenSockets sockets;
    ASSERT_TRUE(sockets.Ok());
    SystemProbe probe;
    const bool nt = ExpectedFamily() == kOsWindowsDotNet;
    EXPECT_EQ(probe.getTcpConnectionTable, nt ? GetTcpTableEx : GetTcpTablePlain);
    EXPECT_EQ(probe.getUdpConnectionTable, GetUdpTablePlain);
    EXPECT_EQ(probe.driverDevice != INVALID_HANDLE_VALUE, nt);
    OwnedTable processes;
    probe.ListProcesses(processes.get(), nullptr);
    void* tcp = nullptr;
    void* udp = nullptr;
    ASSERT_TRUE(probe.QueryTcpTable(&tcp, processes.get()));
    ASSERT_TRUE(probe.QueryUdpTable(&udp, processes.get()));
    const TcpOwnerRow* listener = FindTcp(tcp, sockets.tcpPort);
    ASSERT_NE(listener, nullptr);
    EXPECT_EQ(listener->state, kTcpStateListening);
    EXPECT_EQ(listener->localAddress, htonl(INADDR_LOOPBACK));
    const UdpOwnerRow* datagram = FindUdp(udp, sockets.udpPort);
    ASSERT_NE(datagram, nullptr);
    EXPECT_EQ(datagram->localAddress, htonl(INADDR_LOOPBACK));
    // Wine knows no owners, and its driver finds no transport handles.
    EXPECT_EQ(listener->owner, 0u);
    EXPECT_EQ(datagram->owner, 0u);
    HeapFree(GetProcessHeap(), 0, tcp);
    HeapFree(GetProcessHeap(), 0, udp);
}

TEST(ConnectionTables, UnderWindowsDotNetServer) {
    EXPECT_EQ(RunUnderWinXp64("ConnectionTables.TheTestsSocketsAppearInBothTables"), 1);
}

DWORD WINAPI FailingPlainTable(void** table, BOOL, HANDLE, DWORD) {
    *table = reinterpret_cast<void*>(0x1234);
    return ERROR_INVALID_PARAMETER;
}
DWORD WINAPI FailingExTable(void** table, BOOL, HANDLE, DWORD, DWORD) {
    *table = reinterpret_cast<void*>(0x1234);
    return ERROR_NOT_ENOUGH_MEMORY;
}

TEST(ConnectionTables, FailedCallsLeaveNoTable) {
    SystemProbe probe;
    probe.allocateAndGetTcpTableFromStack = FailingPlainTable;
    probe.allocateAndGetUdpTableFromStack = FailingPlainTable;
    probe.allocateAndGetTcpExTableFromStack = FailingExTable;
    probe.allocateAndGetUdpExTableFromStack = nullptr;
    const struct {
        ConnectionTableOp route;
        DWORD error;
    } cases[] = {{GetTcpTablePlain, ERROR_INVALID_PARAMETER},
                 {GetUdpTablePlain, ERROR_INVALID_PARAMETER},
                 {GetTcpTableEx, ERROR_NOT_ENOUGH_MEMORY},
                 {GetUdpTableEx, kConnectionTableUnavailable}};
    for (const auto& c : cases) {
        void* table = reinterpret_cast<void*>(0x5678);
        EXPECT_EQ(c.route(&probe, nullptr, &table, TRUE, GetProcessHeap(), 2, 2), c.error);
        EXPECT_EQ(table, nullptr);
    }
}

// What the thread that drives the dialog saw.
struct DialogRun {
    std::vector<std::wstring> headers;
    int rowsAtStart = -1;
    std::vector<std::vector<std::string>> rows;
    int rowsAfterSecondCheck = -1;
    int rowsAfterStoppedCheck = -1;
    int widthBefore = 0, widthWider = 0, widthAfterShort = 0;
    bool saveEnabled = true;
    std::string layoutFaults;
    RECT client[2] = {}, list[3] = {};  // start and maximised; start, maximised, restored
    std::string error;
};

void Check(HWND dialog) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CONNECTIONS_CHECK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_CONNECTIONS_CHECK)));
}

DWORD WINAPI DriveDialog(void* argument) {
    auto* run = static_cast<DialogRun*>(argument);
    HWND dialog = testutil::WaitForProcessWindow(GetCurrentProcessId(), L"检查活动连接", 20000);
    if (!dialog) {
        run->error = "no connections dialog";
        return 1;
    }
    HWND list = GetDlgItem(dialog, IDC_CONNECTIONS_LIST);
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int c = 0; c < columns; ++c) {
        wchar_t text[64] = {};
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT;
        column.pszText = text;
        column.cchTextMax = 64;
        SendMessageW(list, LVM_GETCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
        run->headers.push_back(text);
    }
    run->saveEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_CONNECTIONS_SAVE)) != FALSE;
    run->rowsAtStart = ListView_GetItemCount(list);

    // The maximise box and back: the controls follow the client area.
    const WPARAM commands[3] = {0, SC_MAXIMIZE, SC_RESTORE};
    for (int i = 0; i < 3; ++i) {
        if (commands[i]) SendMessageW(dialog, WM_SYSCOMMAND, commands[i], 0);
        run->layoutFaults += testutil::LayoutFaults(dialog);
        if (i < 2) GetClientRect(dialog, &run->client[i]);
        run->list[i] = testutil::ClientRectOf(dialog, list);
    }

    Check(dialog);
    run->rows = conntest::ListRows(GetCurrentProcess(), list, 9);
    Check(dialog);
    run->rowsAfterSecondCheck = ListView_GetItemCount(list);

    // A cell wider than its column widens it; a shorter one leaves it.
    HDC dc = GetDC(list);
    run->widthBefore = ListView_GetColumnWidth(list, 8);
    SetListCellText(list, 0, 8, std::string(120, 'W').c_str(), dc);
    run->widthWider = ListView_GetColumnWidth(list, 8);
    SetListCellText(list, 0, 8, "x", dc);
    run->widthAfterShort = ListView_GetColumnWidth(list, 8);
    ReleaseDC(list, dc);

    {
        StopRequest stop;
        Check(dialog);
    }
    run->rowsAfterStoppedCheck = ListView_GetItemCount(list);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return 0;
}

TEST(ConnectionsDialog, CheckListsTheSocketsAndReplacesTheRows) {
    testutil::Watchdog watchdog(120000);
    conntest::OpenSockets sockets;
    ASSERT_TRUE(sockets.Ok());
    InstallApplicationTableHooks();
    JobOperationTable()[ListConnections] = ListConnectionsOperation;
    SystemProbe probe;
    DialogRun run;
    HANDLE driver = CreateThread(nullptr, 0, DriveDialog, &run, 0, nullptr);
    ASSERT_NE(driver, nullptr);
    RunConnectionsDialog(nullptr, &probe);
    WaitForSingleObject(driver, INFINITE);
    CloseHandle(driver);
    ASSERT_EQ(run.error, "");

    ASSERT_EQ(run.headers.size(), 9u);
    for (int c = 0; c < 9; ++c) EXPECT_EQ(run.headers[c], kConnectionColumnHeaders[c]) << c;
    EXPECT_EQ(run.rowsAtStart, 0);
    EXPECT_FALSE(run.saveEnabled);
    EXPECT_EQ(run.layoutFaults, "");
    EXPECT_GT(run.client[1].right, run.client[0].right) << "the dialog did not maximise";
    for (int i = 0; i < 2; ++i) EXPECT_EQ(run.list[i].right, run.client[i].right) << i;
    EXPECT_GT(run.list[1].bottom, run.list[0].bottom);
    EXPECT_TRUE(EqualRect(&run.list[0], &run.list[2])) << "restoring did not bring the list back";

    const auto* tcp = conntest::FindRow(run.rows, "TCP", sockets.tcpPort);
    ASSERT_NE(tcp, nullptr) << "no row for the TCP listener";
    EXPECT_EQ(*tcp, (std::vector<std::string>{"TCP", (*tcp)[1], "127.0.0.1", (*tcp)[3], "*", "*", "*", "LISTENING",
                                              "???"}));
    const auto* udp = conntest::FindRow(run.rows, "UDP", sockets.udpPort);
    ASSERT_NE(udp, nullptr) << "no row for the UDP socket";
    EXPECT_EQ(*udp, (std::vector<std::string>{"UDP", (*udp)[1], "127.0.0.1", (*udp)[3], "*", "*", "*", "*", "???"}));
    // The loopback address shows the machine's name, never a lookup.
    char host[256] = {};
    gethostname(host, sizeof host);
    EXPECT_EQ((*tcp)[1], host);

    EXPECT_EQ(run.rowsAfterSecondCheck, static_cast<int>(run.rows.size()));
    EXPECT_GT(run.widthWider, run.widthBefore);
    EXPECT_EQ(run.widthAfterShort, run.widthWider);
    EXPECT_EQ(run.rowsAfterStoppedCheck, 0);
}

}  // namespace
