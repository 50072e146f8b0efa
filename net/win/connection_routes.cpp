#include "net/win/connection_routes.h"

#include <cstring>

#include "driver/win/driver_channel.h"
#include "net/connection_tables.h"

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
