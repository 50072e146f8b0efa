// The probe's connection-table slots: the direct call of an exported Ex table function,
// and the plain-table routes that widen the plain tables to owner tables and take the
// owners from the driver's port records.
#pragma once

#include <windows.h>

#include "inspect/win/system_probe.h"

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
