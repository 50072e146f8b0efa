#include "driver/driver_requests.h"

#include <cstring>

int CollectPortRecords(const DriverRequestOps& ops, PortRecordVisitor visit, void* context) {
    PortInfoRecord record;
    std::memset(&record, 0, sizeof record);
    if (!ops.request(ops.context, KV_IOCTL_INIT_PORT_INFO, &record, sizeof record)) return -1;
    int count = 0;
    while (ops.request(ops.context, KV_IOCTL_READ_PORT_INFO, &record, sizeof record) &&
           record.marker == KV_PORT_RECORD_MARKER) {
        visit(context, record);
        ++count;
    }
    ops.request(ops.context, KV_IOCTL_DEINIT_PORT_INFO, &record, sizeof record);
    return count;
}

bool IsOlderDriverVersion(const char* answer, size_t size) {
    const auto* a = reinterpret_cast<const unsigned char*>(answer);
    const auto* expected = reinterpret_cast<const unsigned char*>(KV_DRIVER_VERSION);
    for (size_t i = 0;; ++i) {
        const unsigned char got = i < size ? a[i] : 0;
        if (got != expected[i]) return got < expected[i];
        if (got == 0) return false;
    }
}
