// The program's side of the driver protocol without the system: the port-record
// collection (begin, read while records come, end) and the version comparison.
// The requests go through DriverRequestOps; driver/win/ sends them to the device.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/driver_protocol.h"

struct DriverRequestOps {
    void* context;
    // Sends code with buffer (size bytes) as both input and output; true when the
    // driver completed the request successfully.
    bool (*request)(void* context, uint32_t code, void* buffer, uint32_t size);
};

// Receives each record of a collection, in the driver's order.
using PortRecordVisitor = void (*)(void* context, const PortInfoRecord& record);

// Begins a collection, hands every record whose marker is KV_PORT_RECORD_MARKER to visit
// until a read fails or another marker comes, and ends the collection. Returns the
// number of records handed on, or -1 when the begin request failed (no end is sent then).
int CollectPortRecords(const DriverRequestOps& ops, PortRecordVisitor visit, void* context);

// True when the version answer (size bytes; it ends at its first zero or at size)
// sorts before KV_DRIVER_VERSION as an unsigned byte string.
bool IsOlderDriverVersion(const char* answer, size_t size);
