#include "inspect/win/processes_win.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "inspect/perf_data.h"
#include "inspect/processes_names.h"
#include "inspect/win/snapshots_win.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/progress.h"

static_assert(sizeof(wchar_t) == sizeof(uint16_t), "UTF-16 wide characters");

namespace {

constexpr char kPerflibKey[] = "software\\microsoft\\windows nt\\currentversion\\perflib";
constexpr unsigned kEnglishLanguage = 9;
// Module handles asked for per process while counting.
constexpr DWORD kCountModulesBytes = 16384;

int32_t QueryValue(HKEY key, const char* valueName, uint8_t* buffer, uint32_t* size) {
    DWORD bytes = buffer ? *size : 0;
    const LONG answer = RegQueryValueExA(key, valueName, nullptr, nullptr, buffer, &bytes);
    *size = bytes;
    return answer;
}

int32_t QueryCounterNames(void* context, const char* valueName, uint8_t* buffer, uint32_t* size) {
    auto* system = static_cast<PerfDataSystem*>(context);
    if (!system->counterKey) return ERROR_FILE_NOT_FOUND;
    return QueryValue(system->counterKey, valueName, buffer, size);
}

int32_t QueryPerformanceData(void*, const char* valueName, uint8_t* buffer, uint32_t* size) {
    return QueryValue(HKEY_PERFORMANCE_DATA, valueName, buffer, size);
}

void NameToAnsi(void*, const uint16_t* text, size_t length, char* out, size_t outSize) {
    PerfNameToAnsi(text, length, out, outSize);
}

uint32_t CountModules(void* context, uint32_t processId) {
    auto* system = static_cast<PerfDataSystem*>(context);
    HANDLE process = OpenProcess(kInspectProcessAccess, FALSE, processId);
    if (!process) return 0;
    uint32_t count = 0;
    auto* handles = static_cast<HMODULE*>(std::malloc(kCountModulesBytes));
    DWORD needed = 0;
    if (handles && system->probe->EnumProcessModules(process, handles, kCountModulesBytes, &needed)) {
        count = needed / sizeof(HMODULE);
    }
    std::free(handles);
    CloseHandle(process);
    return count;
}

int32_t AfterInstance(void* progressWindow) {
    uint32_t result = 0;
    return StepProgress(static_cast<HWND>(progressWindow), &result) ? static_cast<int32_t>(result) : 0;
}

}  // namespace

void PerfNameToAnsi(const uint16_t* text, size_t length, char* out, size_t outSize) {
    if (!out || outSize == 0) return;
    out[0] = '\0';
    if (!text || length == 0 || outSize < 2) return;
    const auto* wide = reinterpret_cast<const wchar_t*>(text);
    const int capacity = outSize - 1 > INT_MAX ? INT_MAX : static_cast<int>(outSize - 1);
    int units = length > INT_MAX ? INT_MAX : static_cast<int>(length);
    while (units > 0) {
        const int needed = WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
        if (needed <= 0) return;
        if (needed <= capacity) {
            const int written = WideCharToMultiByte(CP_ACP, 0, wide, units, out, capacity, nullptr, nullptr);
            out[written > 0 ? written : 0] = '\0';
            return;
        }
        // Every unit gives at least one byte: scale down, always by one unit at least.
        int next = static_cast<int>(static_cast<long long>(units) * capacity / needed);
        if (next >= units) next = units - 1;
        if (next > 0 && IS_HIGH_SURROGATE(wide[next - 1])) --next;
        units = next;
    }
}

void OpenPerfDataSystem(PerfDataSystem* system, SystemProbe* probe) {
    system->probe = probe;
    system->counterKey = nullptr;
    char keyName[sizeof kPerflibKey + 16];
    std::snprintf(keyName, sizeof keyName, "%s\\%03x", kPerflibKey, kEnglishLanguage);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key) == ERROR_SUCCESS) system->counterKey = key;
}

void ClosePerfDataSystem(PerfDataSystem* system) {
    if (system->counterKey) RegCloseKey(system->counterKey);
    system->counterKey = nullptr;
    RegCloseKey(HKEY_PERFORMANCE_DATA);
}

PerfDataOps SystemPerfDataOps(PerfDataSystem* system) {
    PerfDataOps ops;
    ops.queryCounterNames = QueryCounterNames;
    ops.queryPerformanceData = QueryPerformanceData;
    ops.toAnsi = NameToAnsi;
    ops.countModules = CountModules;
    ops.context = system;
    return ops;
}

uint32_t ListProcessesPerfData(SystemProbe* probe, HashTable* table, HWND progressWindow) {
    PerfDataSystem system;
    OpenPerfDataSystem(&system, probe);
    const PerfDataOps ops = SystemPerfDataOps(&system);
    const int32_t result =
        ListPerfProcesses(ops, table, progressWindow ? AfterInstance : nullptr, progressWindow);
    ClosePerfDataSystem(&system);
    return static_cast<uint32_t>(result);
}

uint32_t CountProcessItemsPerfData(SystemProbe* probe, int includeModules) {
    PerfDataSystem system;
    OpenPerfDataSystem(&system, probe);
    const PerfDataOps ops = SystemPerfDataOps(&system);
    const uint32_t count = CountPerfProcessItems(ops, includeModules);
    ClosePerfDataSystem(&system);
    return count;
}

uint32_t ListProcessesToolHelp(SystemProbe* probe, HashTable* table, HWND progressWindow) {
    if (!table) return 1;
    HANDLE snapshot = TakeProcessSnapshot(probe);
    if (!snapshot) return 1;
    ProcessEntry entry = EmptyProcessEntry();
    if (!probe->Process32First(snapshot, &entry)) {
        CloseHandle(snapshot);
        return 1;
    }
    uint32_t result = 0;
    do {
        char name[kProcessNameSize];
        ProcessNameFromExeFile(entry.szExeFile, strnlen(entry.szExeFile, sizeof entry.szExeFile),
                               SystemLeadByteOps(), name, sizeof name);
        // A refused duplicate ID leaves that entry out.
        InsertProcessEntry(table, entry.th32ProcessID, name);
        if (StepProgress(progressWindow, &result)) break;
    } while (probe->Process32Next(snapshot, &entry));
    CloseHandle(snapshot);
    return result;
}

uint32_t CountProcessItemsToolHelp(SystemProbe* probe, int includeModules) {
    HANDLE snapshot = TakeProcessSnapshot(probe);
    if (!snapshot) return 0;
    uint32_t count = 0;
    ProcessEntry entry = EmptyProcessEntry();
    for (BOOL more = probe->Process32First(snapshot, &entry); more; more = probe->Process32Next(snapshot, &entry)) {
        ++count;
        if (!includeModules) continue;
        HANDLE modules = TakeModuleSnapshot(probe, entry.th32ProcessID);
        if (!modules) continue;
        ModuleEntry module = EmptyModuleEntry();
        for (BOOL moreModules = probe->Module32First(modules, &module); moreModules;
             moreModules = probe->Module32Next(modules, &module)) {
            ++count;
        }
        CloseHandle(modules);
    }
    CloseHandle(snapshot);
    return count;
}

bool CanOpenProcess(uint32_t processId) {
    HANDLE process = OpenProcess(kInspectProcessAccess, FALSE, processId);
    if (!process) return false;
    // An ended process stays openable while any handle to it is open (under Wine also a
    // moment after the last one closed); it already has its exit code.
    DWORD exitCode = STILL_ACTIVE;
    const bool running = !GetExitCodeProcess(process, &exitCode) || exitCode == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}
