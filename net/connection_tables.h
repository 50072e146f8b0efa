// The connection tables the table routes hand to their consumers, and the matching of
// the driver's port records against their rows that gives each row its owner.
//
// A table is one block: a 32-bit count, then count rows, then four spare bytes. Rows
// hold addresses and ports in network byte order (the port in the low 16 bits of its
// field), exactly as the system's tables deliver them. IPv4 tables come from every
// route; IPv6 tables only from the owner tables of NT 6 and later, whose layout the
// IPv6 rows keep.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/driver_protocol.h"
#include "inspect/hash_table.h"

struct TcpOwnerRow {
    uint32_t state;  // TCP state 1-12 (2 listening, 5 established)
    uint32_t localAddress;
    uint32_t localPort;
    uint32_t remoteAddress;
    uint32_t remotePort;
    uint32_t owner;  // owning process ID; 0 when none was found
};

struct UdpOwnerRow {
    uint32_t localAddress;
    uint32_t localPort;
    uint32_t owner;
};

struct TcpOwnerTable {
    uint32_t count;
    TcpOwnerRow rows[1];
};

struct UdpOwnerTable {
    uint32_t count;
    UdpOwnerRow rows[1];
};

struct Tcp6OwnerRow {
    uint8_t localAddress[16];
    uint32_t localScopeId;
    uint32_t localPort;
    uint8_t remoteAddress[16];
    uint32_t remoteScopeId;
    uint32_t remotePort;
    uint32_t state;
    uint32_t owner;
};

struct Udp6OwnerRow {
    uint8_t localAddress[16];
    uint32_t localScopeId;
    uint32_t localPort;
    uint32_t owner;
};

static_assert(sizeof(TcpOwnerRow) == 24 && sizeof(UdpOwnerRow) == 12, "row layouts");
static_assert(sizeof(Tcp6OwnerRow) == 56 && sizeof(Udp6OwnerRow) == 28, "IPv6 row layouts");
static_assert(offsetof(TcpOwnerTable, rows) == 4 && offsetof(UdpOwnerTable, rows) == 4, "rows follow the count");

// The four tables, in the order listings and reports show them.
enum ConnectionKind : uint32_t {
    kConnectionTcp,
    kConnectionTcp6,
    kConnectionUdp,
    kConnectionUdp6,
};
constexpr ConnectionKind kConnectionKinds[] = {kConnectionTcp, kConnectionTcp6, kConnectionUdp, kConnectionUdp6};

inline bool IsTcpKind(ConnectionKind kind) { return kind == kConnectionTcp || kind == kConnectionTcp6; }

// Bytes of one row of a table of that kind.
size_t ConnectionRowSize(ConnectionKind kind);

// TCP states of the rows.
constexpr uint32_t kTcpStateListening = 2;
constexpr uint32_t kTcpStateEstablished = 5;

// Bytes of a table of count rows of rowSize bytes (count, rows, four spare bytes);
// 0 when that does not fit in a size_t.
size_t OwnerTableBytes(uint32_t count, size_t rowSize);

// The ID under which the table's rows of the system itself are owned: the first
// process-table entry named "System" in any case, else 2 (also without a table).
uint32_t SystemProcessId(const HashTable* processTable);

// Applies one driver record to a TCP table. A TCP record gives its process to the
// first row with its local address and port whose state fits the record's endpoint
// kind (established with a connection, listening with a bound address, any other
// state with either) and that has no owner yet or is owned by the system while the
// record's process is another. A UDP record gives the system's ID to every unowned
// row with its address and port. Other records change nothing.
void GiveTcpOwner(TcpOwnerTable* table, const PortInfoRecord& record, uint32_t systemProcessId);
// Applies one driver record to a UDP table: a UDP record gives its process to the
// first row with its address and port that has no owner yet or is owned by the
// system while the record's process is another.
void GiveUdpOwner(UdpOwnerTable* table, const PortInfoRecord& record, uint32_t systemProcessId);
