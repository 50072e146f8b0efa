#include "inspect/win/snapshots_win.h"

#include "inspect/win/system_probe.h"

namespace {

// Attempts at a module snapshot while the system answers that the process is changing.
constexpr int kSnapshotAttempts = 8;

int QueryLeadByte(void*, unsigned char byte) { return IsDBCSLeadByte(byte) ? 1 : 0; }

const LeadByteOps kSystemLeadByteOps = {QueryLeadByte, nullptr};

}  // namespace

const LeadByteOps& SystemLeadByteOps() { return kSystemLeadByteOps; }

HANDLE TakeProcessSnapshot(SystemProbe* probe) {
    HANDLE snapshot = probe->CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    return IsSnapshotHandle(snapshot) ? snapshot : nullptr;
}

HANDLE TakeModuleSnapshot(SystemProbe* probe, uint32_t processId) {
    if (processId == 0) return nullptr;
    for (int attempt = 0; attempt < kSnapshotAttempts; ++attempt) {
        HANDLE snapshot = probe->CreateToolhelp32Snapshot(kModuleSnapshotFlags, processId);
        if (IsSnapshotHandle(snapshot)) return snapshot;
        if (!snapshot || GetLastError() != ERROR_BAD_LENGTH) break;
    }
    return nullptr;
}
