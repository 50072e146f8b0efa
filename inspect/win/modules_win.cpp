#include "inspect/win/modules_win.h"

#include <cstdlib>
#include <cstring>

#include "autorun/win/command_line_win.h"
#include "inspect/processes_names.h"
#include "inspect/win/file_info_win.h"
#include "inspect/win/snapshots_win.h"
#include "jobs/win/progress.h"
#include "report/report_line.h"

namespace {

// Inserts the handle (pointer-width key) and a copy of the path; a refused or failed
// insert frees both. True when the module entered the table.
bool InsertModuleEntry(HashTable* table, HMODULE handle, const char* path) {
    void* key = NewPointerKey(reinterpret_cast<uintptr_t>(handle));
    char* value = NewText(path);
    if (key && value && InsertEntry(table, key, sizeof(uintptr_t), value)) return true;
    std::free(key);
    std::free(value);
    return false;
}

// Number of handles an enumeration delivered into an array of capacity handles.
uint32_t HandleCount(DWORD bytesNeeded, uint32_t capacity) {
    const DWORD count = bytesNeeded / sizeof(HMODULE);
    return count < capacity ? count : capacity;
}

// Module handles of an open process in a malloc array of capacity handles; null when
// they cannot be read (or memory runs out), else *countOut holds how many were read.
HMODULE* ReadModuleHandles(SystemProbe* probe, HANDLE process, uint32_t capacity, uint32_t* countOut) {
    *countOut = 0;
    auto* handles = static_cast<HMODULE*>(std::calloc(capacity, sizeof(HMODULE)));
    if (!handles) return nullptr;
    DWORD needed = 0;
    if (!probe->EnumProcessModules(process, handles, static_cast<DWORD>(capacity * sizeof(HMODULE)), &needed)) {
        std::free(handles);
        return nullptr;
    }
    *countOut = HandleCount(needed, capacity);
    return handles;
}

// The module's file name as the system reports it, zero-terminated in kModulePathSize
// bytes; its length, 0 when it cannot be read.
size_t ReadModuleName(SystemProbe* probe, HANDLE process, HMODULE handle, char* path) {
    path[0] = '\0';
    const DWORD length = probe->GetModuleFileNameExA(process, handle, path, kModulePathSize);
    if (length == 0) {
        path[0] = '\0';
        return 0;
    }
    // A name that filled the buffer may be cut off without its terminator.
    path[length < kModulePathSize ? length : kModulePathSize - 1] = '\0';
    return std::strlen(path);
}

// Copies a snapshot entry's path (a fixed array) into path, zero-terminated.
size_t CopyEntryPath(const ModuleEntry& entry, char* path) {
    const size_t length = strnlen(entry.szExePath, sizeof entry.szExePath);
    const size_t kept = length < kModulePathSize ? length : kModulePathSize - 1;
    std::memcpy(path, entry.szExePath, kept);
    path[kept] = '\0';
    return kept;
}

void UpperCase(char* text, size_t length) {
    if (length > 0) CharUpperBuffA(text, static_cast<DWORD>(length));
}

void WriteProcessLine(FILE* stream, uint32_t processId, const char* processName) {
    char extra[32];
    std::snprintf(extra, sizeof extra, "%x||||||", static_cast<unsigned>(processId));
    WriteReportLine(stream, kCodeRunningProcess, processName, extra, kPrefixProcess);
}

// One module line: the path as the system reports it, and the details of the file it
// resolves to with the module handle in the instances field.
void WriteModuleLine(FILE* stream, const char* path, HMODULE handle) {
    IdList* identity = NewIdList(reinterpret_cast<uintptr_t>(handle));
    char* resolved = nullptr;
    if (!ResolveCommandLine(path, &resolved)) resolved = NewText(path);
    char* details = GetFileDetails(nullptr, resolved ? resolved : path, identity);
    WriteReportLine(stream, kCodeModule, path, details ? details : "", kPrefixModule);
    std::free(details);
    std::free(resolved);
}

}  // namespace

uint32_t ListModulesPsapi(SystemProbe* probe, uint32_t processId, HashTable* table, HWND progressWindow) {
    if (!table) return 1;
    HANDLE process = processId == 0 ? GetCurrentProcess() : OpenProcess(kInspectProcessAccess, FALSE, processId);
    if (!process) return 1;
    uint32_t count = 0;
    HMODULE* handles = ReadModuleHandles(probe, process, kListModulesCapacity, &count);
    uint32_t result = 1;
    if (handles) {
        for (uint32_t i = 0; i < count; ++i) {
            char path[kModulePathSize];
            const size_t length = ReadModuleName(probe, process, handles[i], path);
            if (length > 0) {
                UpperCase(path, length);
                if (InsertModuleEntry(table, handles[i], path)) result = 0;
            }
            if (StepProgress(progressWindow, &result)) break;
        }
        std::free(handles);
    }
    if (processId != 0) CloseHandle(process);
    return result;
}

uint32_t ListModulesToolHelp(SystemProbe* probe, uint32_t processId, HashTable* table, HWND progressWindow) {
    if (!table) return 1;
    if (processId == 0) processId = GetCurrentProcessId();
    HANDLE snapshot = TakeModuleSnapshot(probe, processId);
    if (!snapshot) return 0;
    ModuleEntry entry = EmptyModuleEntry();
    if (!probe->Module32First(snapshot, &entry)) {
        CloseHandle(snapshot);
        return 1;
    }
    uint32_t result = 1;
    do {
        char path[kModulePathSize];
        const size_t length = CopyEntryPath(entry, path);
        UpperCase(path, length);
        if (InsertModuleEntry(table, entry.hModule, path)) result = 0;
        if (StepProgress(progressWindow, &result)) break;
    } while (probe->Module32Next(snapshot, &entry));
    CloseHandle(snapshot);
    return result;
}

ModulePathResult FindModulePathPsapi(SystemProbe* probe, uint32_t processId, HMODULE moduleHandle, uintptr_t,
                                     uintptr_t) {
    ModulePathResult result;
    std::memset(&result, 0, sizeof result);
    if (processId == 0) return result;  // the idle process has no modules
    HANDLE process = OpenProcess(kInspectProcessAccess, FALSE, processId);
    if (!process) return result;
    uint32_t count = 0;
    HMODULE* handles = ReadModuleHandles(probe, process, kFindModuleCapacity, &count);
    for (uint32_t i = 0; handles && i < count; ++i) {
        if (handles[i] != moduleHandle) continue;
        char path[kModulePathSize];
        const size_t length = ReadModuleName(probe, process, handles[i], path);
        if (length == 0) continue;
        std::memcpy(result.path, path, length + 1);
        result.length = static_cast<uint32_t>(length);
    }
    std::free(handles);
    CloseHandle(process);
    return result;
}

ModulePathResult FindModulePathToolHelp(SystemProbe* probe, uint32_t processId, HMODULE moduleHandle, uintptr_t,
                                        uintptr_t) {
    ModulePathResult result;
    std::memset(&result, 0, sizeof result);
    HANDLE snapshot = TakeModuleSnapshot(probe, processId);
    if (!snapshot) return result;
    ModuleEntry entry = EmptyModuleEntry();
    for (BOOL more = probe->Module32First(snapshot, &entry); more; more = probe->Module32Next(snapshot, &entry)) {
        if (entry.hModule != moduleHandle) continue;
        result.length = static_cast<uint32_t>(CopyEntryPath(entry, result.path));
        break;
    }
    CloseHandle(snapshot);
    return result;
}

uint32_t WriteProcessBlockPsapi(SystemProbe* probe, uint32_t processId, FILE* stream, const char* processName,
                                HWND progressWindow) {
    // The idle process (ID 0) is not opened: it has no modules, so its block is the
    // process line and the closing line.
    HANDLE process = nullptr;
    if (processId != 0) {
        process = OpenProcess(kInspectProcessAccess, FALSE, processId);
        if (!process) return 1;
    }
    uint32_t result = 0;
    uint32_t count = 0;
    HMODULE* handles = nullptr;
    WriteProcessLine(stream, processId, processName);
    bool stopped = StepProgress(progressWindow, &result);
    if (!stopped && process) handles = ReadModuleHandles(probe, process, kWriteModulesCapacity, &count);
    for (uint32_t i = 0; handles && i < count && !stopped; ++i) {
        char path[kModulePathSize];
        ReadModuleName(probe, process, handles[i], path);
        WriteModuleLine(stream, path, handles[i]);
        stopped = StepProgress(progressWindow, &result);
    }
    std::free(handles);
    if (process) CloseHandle(process);
    if (stopped) return result;
    WriteSeparatorLine(stream, 0, "");
    return 0;
}

uint32_t WriteProcessBlockToolHelp(SystemProbe* probe, uint32_t processId, FILE* stream, const char* processName,
                                   HWND progressWindow) {
    uint32_t result = 0;
    WriteProcessLine(stream, processId, processName);
    if (StepProgress(progressWindow, &result)) return result;
    if (processId == 0) return 0;  // the idle process has no modules
    HANDLE snapshot = TakeModuleSnapshot(probe, processId);
    if (!snapshot) return 1;
    ModuleEntry entry = EmptyModuleEntry();
    if (!probe->Module32First(snapshot, &entry)) {
        CloseHandle(snapshot);
        return 1;
    }
    do {
        char path[kModulePathSize];
        CopyEntryPath(entry, path);
        WriteModuleLine(stream, path, entry.hModule);
        if (StepProgress(progressWindow, &result)) break;
    } while (probe->Module32Next(snapshot, &entry));
    CloseHandle(snapshot);
    return result;
}

char* SystemProbe::GetProcessImagePath(const HashTable* processTable, uint32_t processId) {
    if (processId == 0) return NewText("_Idle");
    char* result = nullptr;
    HashTable* modules = CreateTable(8, 1);
    if (modules) {
        if (ListModules(processId, modules, nullptr) == 0) {
            for (HashTableNode* node = FirstEntry(modules); node; node = NextEntry(node)) {
                const char* path = static_cast<const char*>(node->value);
                if (!path || !HasExeExtension(path, SystemLeadByteOps())) continue;
                char* resolved = nullptr;
                if (ResolveCommandLine(path, &resolved)) {
                    result = resolved;
                    break;
                }
            }
        }
        DestroyTable(modules, 1);
    }
    if (!result && processTable) {
        const HashTableNode* node = FindEntry(processTable, &processId, sizeof processId);
        const char* name = node && node->value ? static_cast<const char*>(node->value) : "???";
        return NewText(name);
    }
    return result ? result : NewText("");
}

void SystemProbe::ResolveProcessImagePaths(HashTable* processTable) {
    if (!processTable) return;
    for (HashTableNode* node = FirstEntry(processTable); node; node = NextEntry(node)) {
        if (node->keyLength != sizeof(uint32_t)) continue;
        uint32_t processId;
        std::memcpy(&processId, node->key, sizeof processId);
        char* path = GetProcessImagePath(processTable, processId);
        if (!path) continue;  // out of memory: the name stays
        std::free(node->value);
        node->value = path;
    }
}
