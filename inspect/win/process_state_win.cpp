#include "inspect/win/process_state_win.h"

#include "inspect/os_family.h"
#include "inspect/win/entry_points.h"
#include "inspect/win/processes_win.h"
#include "inspect/win/snapshots_win.h"
#include "inspect/win/system_probe.h"

namespace {

using CheckTokenMembershipFn = BOOL(WINAPI*)(HANDLE token, PSID group, BOOL* member);

// 1 when a fresh snapshot lists the process, 0 when it does not, -1 without a snapshot.
int ListedInSnapshot(SystemProbe* probe, uint32_t processId) {
    HANDLE snapshot = TakeProcessSnapshot(probe);
    if (!snapshot) return -1;
    ProcessEntry entry = EmptyProcessEntry();
    int listed = 0;
    for (BOOL more = probe->Process32First(snapshot, &entry); more && !listed;
         more = probe->Process32Next(snapshot, &entry)) {
        listed = entry.th32ProcessID == processId ? 1 : 0;
    }
    CloseHandle(snapshot);
    return listed;
}

}  // namespace

bool IsProcessRunning(SystemProbe* probe, uint32_t processId, DWORD queryAccess) {
    // The exit code answers at the cost of one open; only when it is unknown is a whole
    // process snapshot taken (the report and the search ask this for every process).
    HANDLE process = OpenProcess(queryAccess, FALSE, processId);
    const bool opened = process != nullptr, refused = !opened && GetLastError() == ERROR_ACCESS_DENIED;
    if (opened) {
        DWORD code = 0;
        const bool known = GetExitCodeProcess(process, &code) != FALSE;
        CloseHandle(process);
        if (known) return code == STILL_ACTIVE;
    }
    const int listed = probe ? ListedInSnapshot(probe, processId) : -1;
    if (listed >= 0) return listed == 1;
    // No snapshot: a process that opens, or refuses to, runs.
    return opened || refused;
}

bool HasAdministratorRights() {
    const auto check = LookUpLoadedEntry<CheckTokenMembershipFn>("advapi32.dll", "CheckTokenMembership");
    if (!check) return true;
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &administrators)) {
        return true;
    }
    BOOL member = FALSE;
    const bool checked = check(nullptr, administrators, &member) != FALSE;
    FreeSid(administrators);
    return !checked || member;
}

bool HasProcessEnded(SystemProbe* probe, uint32_t processId) {
    if (probe && probe->osFamily == kOsWindowsNt6) return !IsProcessRunning(probe, processId);
    return !CanOpenProcess(processId);
}
