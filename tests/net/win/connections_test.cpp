// The connection table routes under Wine: the older routes on sockets the test opens
// (the TCP Ex call and the plain UDP table with the driver on 5.2, the plain tables on
// 98, in second runs), the owner-table calls against a table that grows, and a listing
// whose host name comes after its row is shown. Rows, texts and owners are tested
// natively, the owner tables on the test's sockets and the connections dialog in
// korvane.exe's end-to-end run.
#include <gtest/gtest.h>

#include "tests/net/win/connections_windows.h"

#include <cstring>

#include "net/connection_rows.h"
#include "net/win/connection_list.h"
#include "net/win/connection_routes.h"
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

// The older systems' routes: TCP and UDP only, without owners (Wine knows none, and its
// driver finds no transport handles). Current systems' owner tables list these sockets
// in korvane.exe's end-to-end run.
TEST(ConnectionTables, TheTestsSocketsAppearInTheTables) {
    if (ExpectedFamily() == kOsWindowsNt6) GTEST_SKIP() << "run under older versions by UnderOtherWindowsVersions";
    conntest::OpenSockets sockets;
    ASSERT_TRUE(sockets.Ok());
    SystemProbe probe;
    OwnedTable processes;
    probe.ListProcesses(processes.get(), nullptr);
    void* tables[4] = {};
    for (ConnectionKind kind : kConnectionKinds) {
        EXPECT_EQ(QueryConnectionTable(&probe, kind, &tables[kind], processes.get()),
                  kind == kConnectionTcp || kind == kConnectionUdp) << kind;
    }
    ConnectionRow listener, datagram;
    ASSERT_TRUE(FindRow(tables[kConnectionTcp], kConnectionTcp, sockets.tcpPort, &listener));
    EXPECT_EQ(listener.state, kTcpStateListening);
    ASSERT_TRUE(FindRow(tables[kConnectionUdp], kConnectionUdp, sockets.udpPort, &datagram));
    for (const ConnectionRow* row : {&listener, &datagram}) {
        EXPECT_EQ(std::memcmp(row->localAddress.bytes, "\x7f\0\0\x01", 4), 0);
        EXPECT_EQ(row->owner, 0u);
    }
    for (void* table : tables) HeapFree(GetProcessHeap(), 0, table);
}

TEST(ConnectionTables, UnderOtherWindowsVersions) {
    for (const char* version : {"winxp64", "win98"}) {
        EXPECT_EQ(RunUnderWineVersion(version, "ConnectionTables.TheTestsSocketsAppearInTheTables"), 1) << version;
    }
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
    const struct { ConnectionTableOp route; DWORD error; } failures[] = {{GetTcpTablePlain, ERROR_INVALID_PARAMETER},
                    {GetUdpTableEx, kConnectionTableUnavailable},
                    {GetTcpTableExtended, ERROR_INVALID_PARAMETER}};
    for (const auto& f : failures) {
        void* table = reinterpret_cast<void*>(0x5678);
        EXPECT_EQ(f.route(&probe, nullptr, &table, TRUE, GetProcessHeap(), 2, 2), f.error);
        EXPECT_EQ(table, nullptr);
    }
}

// One established row to a remote address, whose host name comes late.
DWORD WINAPI OneRemoteRow(void** table, BOOL, HANDLE heap, DWORD) {
    auto* block = static_cast<uint32_t*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 4 + 20));
    if (!block) return ERROR_NOT_ENOUGH_MEMORY;
    const uint32_t row[] = {1, kTcpStateEstablished, 0x0100007F, 0x1900, 0x0302010A, 0xD204};
    std::memcpy(block, row, sizeof row);
    *table = block;
    return 0;
}
constexpr char kLateHost[] = "a-rather-long-host-name-for-the-column.example.com";
bool LateHostName(void*, const NetAddress&, char* out, size_t size) {
    Sleep(200);  // after the row is shown, well before the listing's deadline
    CopyText(out, size, kLateHost);
    return true;
}
bool NoService(void*, uint16_t, char*, size_t) { return false; }

// A host name that arrives after its row was shown widens its column, as any cell does.
TEST(ConnectionList, LateHostNameWidensItsColumn) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    SystemProbe probe;
    probe.Teardown();
    probe.allocateAndGetTcpTableFromStack = OneRemoteRow;
    probe.getTcpConnectionTable = GetTcpTablePlain;
    HWND list = CreateWindowW(WC_LISTVIEWW, L"", WS_POPUP | LVS_REPORT, 0, 0, 600, 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(list, nullptr);
    for (int column = 8; column >= 0; --column) InsertListColumn(list, L"c", 0, column);
    const NameServiceOps late = {nullptr, LateHostName, NoService};
    ConnectionNames names(late, "host");
    EXPECT_EQ(FillConnectionList(list, nullptr, &probe, names), 0u);
    const auto rows = conntest::ListTexts(GetCurrentProcess(), list, 9);  // the headers, then the row
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][4], std::wstring(kLateHost, kLateHost + sizeof kLateHost - 1));
    EXPECT_GE(ListView_GetColumnWidth(list, 4),
              SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(rows[1][4].c_str())));
    DestroyWindow(list);
}

}  // namespace
