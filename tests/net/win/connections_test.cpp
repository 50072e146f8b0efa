// Connections under Wine: each table route on sockets the test opens (the owner tables
// on Wine's default version, 7; the TCP Ex call and the plain UDP table with the driver
// on 5.2 and the plain tables on 98, in second runs), the owner-table calls against a
// table that grows, and the connections dialog. The rows' texts and owners are tested
// natively, the dialog's rows in korvane.exe's end-to-end test.
#include <gtest/gtest.h>

#include "tests/net/win/connections_windows.h"

#include <cstring>
#include <string>

#include "jobs/win/worker_job.h"
#include "net/connection_rows.h"
#include "net/win/connection_list.h"
#include "net/win/connection_routes.h"
#include "net/win/connections_dialog.h"
#include "resources/resource.h"
#include "tests/support/layout_checks.h"
#include "tests/support/probe_test_util.h"

namespace {

using namespace probetest;

// The row of a table of kind with the local port; false when there is none.
bool FindRow(const void* table, ConnectionKind kind, unsigned short port, ConnectionRow* row) {
    for (uint32_t i = 0; i < ConnectionRowCount(table); ++i) {
        *row = ConnectionRowAt(table, kind, i);
        if ((row->localPort & 0xFFFF) == htons(port)) return true;
    }
    return false;
}

TEST(ConnectionTables, TheTestsSocketsAppearInTheTables) {
    conntest::OpenSockets sockets;
    ASSERT_TRUE(sockets.Ok());
    const bool current = ExpectedFamily() == kOsWindowsNt6;
    SystemProbe probe;
    OwnedTable processes;
    probe.ListProcesses(processes.get(), nullptr);
    void* tables[4] = {};
    for (ConnectionKind kind : kConnectionKinds) {
        EXPECT_EQ(QueryConnectionTable(&probe, kind, &tables[kind], processes.get()),
                  current || kind == kConnectionTcp || kind == kConnectionUdp) << kind;
    }
    ConnectionRow listener, datagram, listener6;
    ASSERT_TRUE(FindRow(tables[kConnectionTcp], kConnectionTcp, sockets.tcpPort, &listener));
    EXPECT_EQ(listener.state, kTcpStateListening);
    ASSERT_TRUE(FindRow(tables[kConnectionUdp], kConnectionUdp, sockets.udpPort, &datagram));
    for (const ConnectionRow* row : {&listener, &datagram}) {
        EXPECT_EQ(std::memcmp(row->localAddress.bytes, "\x7f\0\0\x01", 4), 0);
        EXPECT_EQ(row->owner, 0u);  // Wine knows no owners, and its driver finds no transport handles
    }
    if (current) {
        ASSERT_TRUE(FindRow(tables[kConnectionTcp6], kConnectionTcp6, sockets.tcp6Port, &listener6));
        EXPECT_EQ(listener6.state, kTcpStateListening);
        EXPECT_EQ(listener6.localAddress.bytes[15], 1);
    }
    for (void* table : tables) HeapFree(GetProcessHeap(), 0, table);
}

TEST(ConnectionTables, UnderOtherWindowsVersions) {
    EXPECT_EQ(RunUnderWineVersion("winxp64", "ConnectionTables.TheTestsSocketsAppearInTheTables"), 1);
    EXPECT_EQ(RunUnderWineVersion("win98", "ConnectionTables.TheTestsSocketsAppearInTheTables"), 1);
}

DWORD WINAPI FailingPlainTable(void** table, BOOL, HANDLE, DWORD) {
    *table = reinterpret_cast<void*>(0x1234);
    return ERROR_INVALID_PARAMETER;
}
DWORD WINAPI FailingOwnerTable(void*, DWORD*, BOOL, ULONG, DWORD, ULONG) { return ERROR_INVALID_PARAMETER; }

// An owner table that grows by 10 rows each time it is asked for, as on a busy machine:
// the route must ask again with the size the system names. Row i's owner is 1000 + i;
// with overclaim the count claims more rows than the block holds. Class 5 is TCP's.
struct GrowingTable {
    static inline uint32_t rows, calls, filled;
    static inline bool overclaim;
    static DWORD WINAPI Call(void* table, DWORD* size, BOOL, ULONG family, DWORD tableClass, ULONG) {
        ++calls;
        const DWORD row = family == AF_INET6 ? (tableClass == 5 ? 56 : 28) : (tableClass == 5 ? 24 : 12);
        const DWORD needed = 4 + rows * row;
        rows += 10;
        if (*size < needed) return *size = needed, ERROR_INSUFFICIENT_BUFFER;
        filled = (needed - 4) / row;
        const uint32_t count = overclaim ? 0xFFFFFFF0u : filled;
        std::memcpy(table, &count, 4);
        for (uint32_t i = 0, owner = 1000; i < filled; ++i, ++owner) {
            std::memcpy(static_cast<uint8_t*>(table) + 4 + (i + 1) * row - 4, &owner, 4);  // the last field
        }
        return NO_ERROR;
    }
};

TEST(ConnectionTables, OwnerTableRoutesAskAgainAsTheTableGrowsAndKeepTheOwners) {
    SystemProbe probe;
    probe.getExtendedTcpTable = GrowingTable::Call;
    probe.getExtendedUdpTable = GrowingTable::Call;
    const struct {
        ConnectionTableOp route;
        ConnectionKind kind;
        DWORD family;
        bool overclaim;
    } cases[] = {{GetTcpTableExtended, kConnectionTcp, AF_INET, false},
                 {GetTcpTableExtended, kConnectionTcp6, AF_INET6, true},
                 {GetUdpTableExtended, kConnectionUdp, AF_INET, true},
                 {GetUdpTableExtended, kConnectionUdp6, AF_INET6, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        GrowingTable::rows = 100;
        GrowingTable::calls = 0;
        GrowingTable::overclaim = c.overclaim;
        void* table = nullptr;
        ASSERT_EQ(c.route(&probe, nullptr, &table, TRUE, GetProcessHeap(), 2, c.family), 0u);
        EXPECT_GE(GrowingTable::calls, 2u);
        const uint32_t count = ConnectionRowCount(table);
        EXPECT_TRUE(c.overclaim ? count >= GrowingTable::filled : count == GrowingTable::filled) << count;
        // Never more rows than the block holds, four spare bytes after them.
        EXPECT_LE(4 + count * ConnectionRowSize(c.kind) + 4, HeapSize(GetProcessHeap(), 0, table));
        for (uint32_t i = 0; i < GrowingTable::filled; ++i) ASSERT_EQ(ConnectionRowAt(table, c.kind, i).owner, 1000 + i);
        HeapFree(GetProcessHeap(), 0, table);
    }

    // Failed and missing calls leave no table.
    probe.allocateAndGetTcpTableFromStack = FailingPlainTable;
    probe.allocateAndGetUdpExTableFromStack = nullptr;
    probe.getExtendedTcpTable = FailingOwnerTable;
    const struct {
        ConnectionTableOp route;
        DWORD error;
    } failures[] = {{GetTcpTablePlain, ERROR_INVALID_PARAMETER},
                    {GetUdpTableEx, kConnectionTableUnavailable},
                    {GetTcpTableExtended, ERROR_INVALID_PARAMETER}};
    for (const auto& f : failures) {
        void* table = reinterpret_cast<void*>(0x5678);
        EXPECT_EQ(f.route(&probe, nullptr, &table, TRUE, GetProcessHeap(), 2, 2), f.error);
        EXPECT_EQ(table, nullptr);
    }
}

// What the thread that drives the dialog saw.
struct DialogRun {
    std::vector<std::wstring> headers;
    int rowsAtStart = -1, rows = -1, rowsAfterSecondCheck = -1, rowsAfterStoppedCheck = -1;
    int widthBefore = 0, widthWider = 0, widthAfterShort = 0;
    bool saveEnabled = true;
    std::string layoutFaults;
    RECT client[2] = {}, list[3] = {};  // start and maximised; start, maximised, restored
};

void Check(HWND dialog) { SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CONNECTIONS_CHECK, BN_CLICKED), 0); }

DWORD WINAPI DriveDialog(void* argument) {
    auto* run = static_cast<DialogRun*>(argument);
    HWND dialog = testutil::WaitForProcessWindow(GetCurrentProcessId(), L"检查活动连接", 20000);
    if (!dialog) return 1;
    HWND list = GetDlgItem(dialog, IDC_CONNECTIONS_LIST);
    for (int c = 0; c < 9; ++c) {
        wchar_t text[64] = {};
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT;
        column.pszText = text;
        column.cchTextMax = 64;
        if (SendMessageW(list, LVM_GETCOLUMNW, c, reinterpret_cast<LPARAM>(&column))) run->headers.push_back(text);
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

    // Check lists the rows; checking again replaces them.
    Check(dialog);
    run->rows = ListView_GetItemCount(list);
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
    run->rowsAfterStoppedCheck = ListView_GetItemCount(list);  // a stopped check leaves none
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return 0;
}

TEST(ConnectionsDialog, ColumnsLayoutChecksAndStop) {
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

    EXPECT_EQ(run.headers, std::vector<std::wstring>(kConnectionColumnHeaders, kConnectionColumnHeaders + 9));
    EXPECT_EQ(run.rowsAtStart, 0);
    EXPECT_FALSE(run.saveEnabled);
    EXPECT_EQ(run.layoutFaults, "");
    EXPECT_GT(run.client[1].right, run.client[0].right) << "the dialog did not maximise";
    for (int i = 0; i < 2; ++i) EXPECT_EQ(run.list[i].right, run.client[i].right) << i;
    EXPECT_GT(run.list[1].bottom, run.list[0].bottom);
    EXPECT_TRUE(EqualRect(&run.list[0], &run.list[2])) << "restoring did not bring the list back";
    EXPECT_GE(run.rows, 3) << "the test's three sockets are not listed";
    EXPECT_EQ(run.rowsAfterSecondCheck, run.rows);
    EXPECT_EQ(run.rowsAfterStoppedCheck, 0);
    EXPECT_GT(run.widthWider, run.widthBefore);
    EXPECT_EQ(run.widthAfterShort, run.widthWider);
}

}  // namespace
