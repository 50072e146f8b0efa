// The connection table routes under Wine: the older routes on sockets the test opens
// (the TCP Ex call and the plain UDP table with the driver on 5.2, the plain tables on
// 98, in second runs), and the owner-table calls against a table that grows. Rows, texts
// and owners are tested natively, the owner tables on the test's sockets and the
// connections dialog in korvane.exe's end-to-end run.
#include <gtest/gtest.h>

#include "tests/net/win/connections_windows.h"

#include <cstring>

#include "net/connection_rows.h"
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

}  // namespace
