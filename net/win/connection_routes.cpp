#include "net/win/connection_routes.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <cstddef>
#include <cstring>

#include "driver/win/driver_channel.h"
#include "net/connection_tables.h"

// The owner tables of the system are the program's tables as they are.
static_assert(sizeof(MIB_TCPROW_OWNER_PID) == sizeof(TcpOwnerRow) &&
                  sizeof(MIB_UDPROW_OWNER_PID) == sizeof(UdpOwnerRow) &&
                  sizeof(MIB_TCP6ROW_OWNER_PID) == sizeof(Tcp6OwnerRow) &&
                  sizeof(MIB_UDP6ROW_OWNER_PID) == sizeof(Udp6OwnerRow),
              "owner rows");
static_assert(offsetof(MIB_TCPTABLE_OWNER_PID, table) == 4 && offsetof(MIB_UDPTABLE_OWNER_PID, table) == 4 &&
                  offsetof(MIB_TCP6TABLE_OWNER_PID, table) == 4 && offsetof(MIB_UDP6TABLE_OWNER_PID, table) == 4,
              "rows follow the count");
static_assert(offsetof(MIB_TCPROW_OWNER_PID, dwOwningPid) == offsetof(TcpOwnerRow, owner) &&
                  offsetof(MIB_TCP6ROW_OWNER_PID, dwRemotePort) == offsetof(Tcp6OwnerRow, remotePort) &&
                  offsetof(MIB_TCP6ROW_OWNER_PID, dwOwningPid) == offsetof(Tcp6OwnerRow, owner) &&
                  offsetof(MIB_UDP6ROW_OWNER_PID, dwOwningPid) == offsetof(Udp6OwnerRow, owner),
              "owner fields");

namespace {

constexpr size_t kPlainTcpRowSize = 20;  // the owner row without its owner
constexpr size_t kPlainUdpRowSize = 8;

DWORD CallEx(AllocateAndGetExTableFn call, void** tableOut, BOOL sorted, HANDLE heap, DWORD flags, DWORD family) {
    if (!tableOut) return ERROR_INVALID_PARAMETER;
    void* table = nullptr;
    const DWORD result = call ? call(&table, sorted, heap, flags, family) : kConnectionTableUnavailable;
    *tableOut = result == 0 ? table : nullptr;
    return result;
}

// The plain table widened to rows of ownerRowSize bytes with owner 0, on the process heap.
DWORD Widen(AllocateAndGetTableFn call, size_t plainRowSize, size_t ownerRowSize, void** tableOut, BOOL sorted,
            HANDLE heap, DWORD flags) {
    if (!tableOut) return ERROR_INVALID_PARAMETER;
    *tableOut = nullptr;
    if (!call) return kConnectionTableUnavailable;
    void* plain = nullptr;
    const DWORD result = call(&plain, sorted, heap, flags);
    if (result != 0) return result;
    if (!plain) return ERROR_INVALID_DATA;
    // Only the rows that lie inside the system's block are taken.
    uint32_t count = 0;
    std::memcpy(&count, plain, sizeof count);
    const SIZE_T block = HeapSize(heap, 0, plain);
    if (block != static_cast<SIZE_T>(-1) && block >= 4 && count > (block - 4) / plainRowSize) {
        count = static_cast<uint32_t>((block - 4) / plainRowSize);
    }
    const size_t bytes = OwnerTableBytes(count, ownerRowSize);
    auto* table = static_cast<uint8_t*>(bytes ? HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes) : nullptr);
    if (table) {
        std::memcpy(table, &count, sizeof count);
        for (uint32_t i = 0; i < count; ++i) {
            std::memcpy(table + 4 + i * ownerRowSize, static_cast<const uint8_t*>(plain) + 4 + i * plainRowSize,
                        plainRowSize);
        }
    }
    HeapFree(heap, 0, plain);
    *tableOut = table;
    return table ? 0 : ERROR_NOT_ENOUGH_MEMORY;
}

// The system's owner table of tableClass for family: asked again with the size the
// system names while the table grows between the calls.
DWORD CallExtended(GetExtendedTableFn call, DWORD tableClass, size_t rowSize, void** tableOut, BOOL sorted,
                   HANDLE heap, DWORD family) {
    constexpr int kAttempts = 6;
    constexpr DWORD kFirstRows = 64;
    constexpr DWORD kSpareRows = 16;  // room for rows that come between the two calls
    if (!tableOut) return ERROR_INVALID_PARAMETER;
    *tableOut = nullptr;
    if (!call) return kConnectionTableUnavailable;
    const DWORD row = static_cast<DWORD>(rowSize);
    DWORD size = 4 + kFirstRows * row;
    DWORD result = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < kAttempts && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        if (size > 0x7FFFFFFF - 4 - kSpareRows * row) return ERROR_NOT_ENOUGH_MEMORY;
        const DWORD room = size + kSpareRows * row;
        // Four spare bytes after what the system may fill, zero like the rest.
        auto* table = static_cast<uint8_t*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, room + 4));
        if (!table) return ERROR_NOT_ENOUGH_MEMORY;
        size = room;
        result = call(table, &size, sorted, family, tableClass, 0);
        if (result == NO_ERROR) {
            // Only the rows that lie inside the block are taken.
            uint32_t count = 0;
            std::memcpy(&count, table, sizeof count);
            if (count > (room - 4) / row) count = (room - 4) / row;
            std::memcpy(table, &count, sizeof count);
            *tableOut = table;
            return 0;
        }
        HeapFree(heap, 0, table);
    }
    return result;
}

struct Matching {
    void* table;
    uint32_t systemProcessId;
};

void MatchTcp(void* context, const PortInfoRecord& record) {
    auto* m = static_cast<Matching*>(context);
    GiveTcpOwner(static_cast<TcpOwnerTable*>(m->table), record, m->systemProcessId);
}

void MatchUdp(void* context, const PortInfoRecord& record) {
    auto* m = static_cast<Matching*>(context);
    GiveUdpOwner(static_cast<UdpOwnerTable*>(m->table), record, m->systemProcessId);
}

void GiveOwners(SystemProbe* probe, HashTable* processTable, void* table, PortRecordVisitor match) {
    if (probe->driverDevice == INVALID_HANDLE_VALUE) return;
    Matching matching = {table, SystemProcessId(processTable)};
    CollectPortRecords(probe->driverDevice, match, &matching);
}

}  // namespace

DWORD GetTcpTableEx(SystemProbe* probe, HashTable*, void** tableOut, BOOL sorted, HANDLE heap, DWORD flags,
                    DWORD family) {
    return CallEx(probe->allocateAndGetTcpExTableFromStack, tableOut, sorted, heap, flags, family);
}

DWORD GetUdpTableEx(SystemProbe* probe, HashTable*, void** tableOut, BOOL sorted, HANDLE heap, DWORD flags,
                    DWORD family) {
    return CallEx(probe->allocateAndGetUdpExTableFromStack, tableOut, sorted, heap, flags, family);
}

DWORD GetTcpTablePlain(SystemProbe* probe, HashTable* processTable, void** tableOut, BOOL sorted, HANDLE heap,
                       DWORD flags, DWORD) {
    const DWORD result = Widen(probe->allocateAndGetTcpTableFromStack, kPlainTcpRowSize, sizeof(TcpOwnerRow),
                               tableOut, sorted, heap, flags);
    if (result == 0) GiveOwners(probe, processTable, *tableOut, MatchTcp);
    return result;
}

DWORD GetUdpTablePlain(SystemProbe* probe, HashTable* processTable, void** tableOut, BOOL sorted, HANDLE heap,
                       DWORD flags, DWORD) {
    const DWORD result = Widen(probe->allocateAndGetUdpTableFromStack, kPlainUdpRowSize, sizeof(UdpOwnerRow),
                               tableOut, sorted, heap, flags);
    if (result == 0) GiveOwners(probe, processTable, *tableOut, MatchUdp);
    return result;
}

DWORD GetTcpTableExtended(SystemProbe* probe, HashTable*, void** tableOut, BOOL sorted, HANDLE heap, DWORD,
                          DWORD family) {
    const size_t row = family == AF_INET6 ? sizeof(Tcp6OwnerRow) : sizeof(TcpOwnerRow);
    return CallExtended(probe->getExtendedTcpTable, TCP_TABLE_OWNER_PID_ALL, row, tableOut, sorted, heap, family);
}

DWORD GetUdpTableExtended(SystemProbe* probe, HashTable*, void** tableOut, BOOL sorted, HANDLE heap, DWORD,
                          DWORD family) {
    const size_t row = family == AF_INET6 ? sizeof(Udp6OwnerRow) : sizeof(UdpOwnerRow);
    return CallExtended(probe->getExtendedUdpTable, UDP_TABLE_OWNER_PID, row, tableOut, sorted, heap, family);
}

bool QueryConnectionTable(SystemProbe* probe, ConnectionKind kind, void** tableOut, HashTable* processTable) {
    *tableOut = nullptr;
    bool queried = false;
    switch (kind) {
        case kConnectionTcp: queried = probe->QueryTcpTable(tableOut, processTable); break;
        case kConnectionTcp6: queried = probe->QueryTcp6Table(tableOut, processTable); break;
        case kConnectionUdp: queried = probe->QueryUdpTable(tableOut, processTable); break;
        case kConnectionUdp6: queried = probe->QueryUdp6Table(tableOut, processTable); break;
    }
    if (!queried) *tableOut = nullptr;
    return queried && *tableOut;
}
