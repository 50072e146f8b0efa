// The probe's connection-table slots: the direct call of an exported Ex table function,
// the plain-table routes that widen the plain tables to owner tables and take the
// owners from the driver's port records, and the owner tables of NT 6 and later.
#pragma once

#include <windows.h>

#include "inspect/win/system_probe.h"
#include "net/connection_tables.h"

// Slot 8 and 7 when iphlpapi exports the Ex calls: the call itself, with the process
// table dropped. On failure *tableOut is null and the call's error is the result.
DWORD GetTcpTableEx(SystemProbe* probe, HashTable* processTable, void** tableOut, BOOL sorted, HANDLE heap,
                    DWORD flags, DWORD family);
DWORD GetUdpTableEx(SystemProbe* probe, HashTable* processTable, void** tableOut, BOOL sorted, HANDLE heap,
                    DWORD flags, DWORD family);

// The plain-table routes: a new owner table on the process heap in *tableOut, owners
// from the driver when its device is open. On failure *tableOut is null and the result
// is the plain call's error (or ERROR_NOT_ENOUGH_MEMORY).
DWORD GetTcpTablePlain(SystemProbe* probe, HashTable* processTable, void** tableOut, BOOL sorted, HANDLE heap,
                       DWORD flags, DWORD family);
DWORD GetUdpTablePlain(SystemProbe* probe, HashTable* processTable, void** tableOut, BOOL sorted, HANDLE heap,
                       DWORD flags, DWORD family);

// Slots 8 and 7 on NT 6 and later: the system's owner tables (the process ID of every
// row's owner) for family 2 (IPv4: TcpOwnerTable, UdpOwnerTable) or 23 (IPv6:
// Tcp6OwnerTable, Udp6OwnerTable), in a new block on heap with four spare bytes. On
// failure *tableOut is null and the result is the call's error.
DWORD GetTcpTableExtended(SystemProbe* probe, HashTable* processTable, void** tableOut, BOOL sorted, HANDLE heap,
                          DWORD flags, DWORD family);
DWORD GetUdpTableExtended(SystemProbe* probe, HashTable* processTable, void** tableOut, BOOL sorted, HANDLE heap,
                          DWORD flags, DWORD family);

// The probe's table of a kind (QueryTcpTable and its siblings): true with a process-heap
// table in *tableOut, false when the system gives none.
bool QueryConnectionTable(SystemProbe* probe, ConnectionKind kind, void** tableOut, HashTable* processTable);
