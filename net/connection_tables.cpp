#include "net/connection_tables.h"

#include <cstdint>

#include "inspect/file_info.h"

namespace {

constexpr uint32_t kDefaultSystemProcessId = 2;

bool SameEndpoint(uint32_t address, uint32_t port, const PortInfoRecord& record) {
    return (port & 0xFFFF) == (static_cast<uint32_t>(record.port) & 0xFFFF) && address == record.address;
}

bool MayTakeOver(uint32_t owner, const PortInfoRecord& record, uint32_t systemProcessId) {
    return owner == 0 || (owner == systemProcessId && record.processId != systemProcessId);
}

bool StateFitsKind(uint32_t state, uint32_t kind) {
    if (state == kTcpStateEstablished) return kind == KV_ENDPOINT_CONNECTION;
    if (state == kTcpStateListening) return kind == KV_ENDPOINT_ADDRESS;
    return true;
}

}  // namespace

size_t ConnectionRowSize(ConnectionKind kind) {
    switch (kind) {
        case kConnectionTcp: return sizeof(TcpOwnerRow);
        case kConnectionTcp6: return sizeof(Tcp6OwnerRow);
        case kConnectionUdp: return sizeof(UdpOwnerRow);
        case kConnectionUdp6: return sizeof(Udp6OwnerRow);
    }
    return sizeof(TcpOwnerRow);
}

size_t OwnerTableBytes(uint32_t count, size_t rowSize) {
    const size_t slack = 8;  // the count and four spare bytes
    if (rowSize && count > (SIZE_MAX - slack) / rowSize) return 0;
    return static_cast<size_t>(count) * rowSize + slack;
}

uint32_t SystemProcessId(const HashTable* processTable) {
    IdList* ids = nullptr;
    // "System" is all single-byte letters: a name can only equal it byte for byte in
    // folded case, whatever the code page's lead bytes.
    const LeadByteOps singleByte = {nullptr, nullptr};
    FindProcessIdsByName(processTable, &ids, "System", singleByte);
    const uint32_t id = ids && ids->count ? static_cast<uint32_t>(IdListNumber(ids, 0)) : kDefaultSystemProcessId;
    FreeIdList(ids);
    return id;
}

void GiveTcpOwner(TcpOwnerTable* table, const PortInfoRecord& record, uint32_t systemProcessId) {
    if (!table) return;
    if (record.device == KV_DEVICE_TCP) {
        for (uint32_t i = 0; i < table->count; ++i) {
            TcpOwnerRow& row = table->rows[i];
            if (SameEndpoint(row.localAddress, row.localPort, record) && StateFitsKind(row.state, record.endpointKind) &&
                MayTakeOver(row.owner, record, systemProcessId)) {
                row.owner = record.processId;
                return;
            }
        }
    } else if (record.device == KV_DEVICE_UDP) {
        for (uint32_t i = 0; i < table->count; ++i) {
            TcpOwnerRow& row = table->rows[i];
            if (row.owner == 0 && SameEndpoint(row.localAddress, row.localPort, record)) row.owner = systemProcessId;
        }
    }
}

void GiveUdpOwner(UdpOwnerTable* table, const PortInfoRecord& record, uint32_t systemProcessId) {
    if (!table || record.device != KV_DEVICE_UDP) return;
    for (uint32_t i = 0; i < table->count; ++i) {
        UdpOwnerRow& row = table->rows[i];
        if (SameEndpoint(row.localAddress, row.localPort, record) && MayTakeOver(row.owner, record, systemProcessId)) {
            row.owner = record.processId;
            return;
        }
    }
}
