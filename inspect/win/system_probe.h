// The platform binding: detects the OS family once, loads the process and IP helper
// libraries by name, looks their entry points up by name and fills eight operation
// slots with the implementations that suit the system. Everything else calls the
// slots through the forwarding methods; an empty slot answers a neutral value.
//
// NT 6 and later (Vista to 11) take the ToolHelp process and module routes, the NT
// autorun scan with the places of current systems, and the system's owner tables of
// both address families; no driver is installed there.
//
// Do not include psapi.h together with this header: with newer SDK settings it
// renames EnumProcessModules and GetModuleFileNameExA, the names of methods here.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "inspect/hash_table.h"

constexpr size_t kModulePathSize = 260;

// What FindModulePath answers: length 0 and an empty path when the module was not found.
struct ModulePathResult {
    uint32_t length;
    char path[kModulePathSize];
};

// Process access that every inspection asks for: query information and read memory.
constexpr DWORD kInspectProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x410

// Module snapshots. A 64-bit program also asks for the 32-bit modules of a 32-bit
// process, which a plain module snapshot leaves out.
#ifdef _WIN64
constexpr DWORD kModuleSnapshotFlags = TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32;
#else
constexpr DWORD kModuleSnapshotFlags = TH32CS_SNAPMODULE;
#endif

// Filter of EnumProcessModulesEx: the modules of both widths.
constexpr DWORD kListModulesAll = 0x03;

// Failure code of an empty connection-table slot.
constexpr DWORD kConnectionTableUnavailable = ERROR_NOT_SUPPORTED;

// The snapshot entries, ANSI forms whatever the character-set setting.
using ProcessEntry = tagPROCESSENTRY32;
using ModuleEntry = tagMODULEENTRY32;

// Snapshot entries ready for the first call: zeroed, with their size set.
inline ProcessEntry EmptyProcessEntry() {
    ProcessEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.dwSize = sizeof entry;
    return entry;
}
inline ModuleEntry EmptyModuleEntry() {
    ModuleEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.dwSize = sizeof entry;
    return entry;
}

struct SystemProbe;

// Operation slots. Each takes the probe first. Result codes: 0 success, 1 failure,
// 3 stopped on request.
using ListProcessesOp = uint32_t (*)(SystemProbe* probe, HashTable* table, HWND progressWindow);
using ListModulesOp = uint32_t (*)(SystemProbe* probe, uint32_t processId, HashTable* table,
                                   HWND progressWindow);
using CountProcessItemsOp = uint32_t (*)(SystemProbe* probe, int includeModules);
using FindModulePathOp = ModulePathResult (*)(SystemProbe* probe, uint32_t processId, HMODULE moduleHandle,
                                              uintptr_t unused1, uintptr_t unused2);
using ScanAutorunsOp = uint32_t (*)(SystemProbe* probe, HWND progressWindow, FILE* reportStream);
using WriteProcessBlockOp = uint32_t (*)(SystemProbe* probe, uint32_t processId, FILE* stream,
                                         const char* processName, HWND progressWindow);
// The platform's allocate-and-get table calls with the process table in front. 0 success
// with a process-heap table in *tableOut, else an error code.
using ConnectionTableOp = DWORD (*)(SystemProbe* probe, HashTable* processTable, void** tableOut, BOOL sorted,
                                    HANDLE heap, DWORD flags, DWORD family);

// Entry points of the system libraries.
using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE process, HMODULE* handles, DWORD byteSize, DWORD* bytesNeeded);
using EnumProcessModulesExFn = BOOL(WINAPI*)(HANDLE process, HMODULE* handles, DWORD byteSize,
                                             DWORD* bytesNeeded, DWORD filter);
using GetModuleFileNameExAFn = DWORD(WINAPI*)(HANDLE process, HMODULE module, char* buffer, DWORD size);
using GetProcessMemoryInfoFn = BOOL(WINAPI*)(HANDLE process, void* counters, DWORD size);
using GetModuleInformationFn = BOOL(WINAPI*)(HANDLE process, HMODULE module, void* info, DWORD size);
using AllocateAndGetExTableFn = DWORD(WINAPI*)(void** table, BOOL sorted, HANDLE heap, DWORD flags, DWORD family);
using AllocateAndGetTableFn = DWORD(WINAPI*)(void** table, BOOL sorted, HANDLE heap, DWORD flags);
using GetExtendedTableFn = DWORD(WINAPI*)(void* table, DWORD* size, BOOL sorted, ULONG family, DWORD tableClass,
                                          ULONG reserved);
using CreateToolhelp32SnapshotFn = HANDLE(WINAPI*)(DWORD flags, DWORD processId);
using Process32Fn = BOOL(WINAPI*)(HANDLE snapshot, ProcessEntry* entry);
using Module32Fn = BOOL(WINAPI*)(HANDLE snapshot, ModuleEntry* entry);

struct SystemProbe {
    // Clears every field and binds the system.
    SystemProbe();
    // Releases the libraries and, when this run installed the driver, removes it.
    virtual ~SystemProbe();
    SystemProbe(const SystemProbe&) = delete;
    SystemProbe& operator=(const SystemProbe&) = delete;

    // Operation slots 1 to 8; null when not available.
    ListProcessesOp listProcesses;
    ListModulesOp listModules;
    CountProcessItemsOp countProcessItems;
    FindModulePathOp findModulePath;
    ScanAutorunsOp scanAutoruns;
    WriteProcessBlockOp writeProcessBlock;
    ConnectionTableOp getUdpConnectionTable;
    ConnectionTableOp getTcpConnectionTable;

    uint8_t driverPreinstalled;  // the device opened without installing the driver
    HMODULE processLibrary;      // psapi.dll on NT 4 to 5.2, kernel32.dll on the 9x family and NT 6
    HMODULE ipLibrary;           // iphlpapi.dll
    HANDLE driverDevice;         // INVALID_HANDLE_VALUE when none is open

    // Entry points looked up by name; null when not exported.
    EnumProcessModulesFn enumProcessModules;
    GetModuleFileNameExAFn getModuleFileNameExA;
    GetProcessMemoryInfoFn getProcessMemoryInfo;  // looked up, not called
    GetModuleInformationFn getModuleInformation;  // looked up, not called
    AllocateAndGetExTableFn allocateAndGetTcpExTableFromStack;
    AllocateAndGetExTableFn allocateAndGetUdpExTableFromStack;
    CreateToolhelp32SnapshotFn createToolhelp32Snapshot;
    Process32Fn process32First;
    Process32Fn process32Next;
    Module32Fn module32First;
    Module32Fn module32Next;
    AllocateAndGetTableFn allocateAndGetTcpTableFromStack;
    AllocateAndGetTableFn allocateAndGetUdpTableFromStack;
    // Lists the modules of both widths of a 32-bit process seen from a 64-bit one;
    // EnumProcessModules prefers it when the library exports it.
    EnumProcessModulesExFn enumProcessModulesEx;
    // The owner tables of NT 6 and later (slots 7 and 8 there), and whether those slots
    // answer the IPv6 family too (1 only on NT 6 and later).
    GetExtendedTableFn getExtendedTcpTable;
    GetExtendedTableFn getExtendedUdpTable;
    uint8_t ipv6Tables;
    int32_t osFamily;  // the detected OsFamily code; kOsUnknown before binding

    // Releases what a previous binding held, then detects the OS family and binds.
    void Initialize();
    // Frees the libraries, empties the slots and entry points, removes a driver that
    // this run installed and closes the device of one that was running before.
    void Teardown();

    // Slot calls.
    uint32_t ListProcesses(HashTable* table, HWND progressWindow);                      // empty: 1
    uint32_t ListModules(uint32_t processId, HashTable* table, HWND progressWindow);    // empty: 0
    uint32_t CountProcessItems(int includeModules);                                     // empty: 0
    ModulePathResult FindModulePath(uint32_t processId, HMODULE moduleHandle, uintptr_t unused1 = 0,
                                    uintptr_t unused2 = 0);                             // empty: zeroed
    uint32_t ScanAutoruns(HWND progressWindow, FILE* reportStream);                     // empty: 0
    uint32_t WriteProcessBlock(uint32_t processId, FILE* stream, const char* processName,
                               HWND progressWindow);                                    // empty: 0
    DWORD GetUdpConnectionTable(HashTable* processTable, void** tableOut, BOOL sorted, HANDLE heap, DWORD flags,
                                DWORD family);
    DWORD GetTcpConnectionTable(HashTable* processTable, void** tableOut, BOOL sorted, HANDLE heap, DWORD flags,
                                DWORD family);
    // The connection tables sorted, on the process heap (the caller frees them there),
    // IPv4 with flags 2. False when the slot fails or is empty.
    bool QueryTcpTable(void** tableOut, HashTable* processTable);
    bool QueryUdpTable(void** tableOut, HashTable* processTable);
    // The same for IPv6 (Tcp6OwnerTable, Udp6OwnerTable); false where the slots answer
    // IPv4 only.
    bool QueryTcp6Table(void** tableOut, HashTable* processTable);
    bool QueryUdp6Table(void** tableOut, HashTable* processTable);

    // The entry points; each answers 0 when it was not found. CreateToolhelp32Snapshot
    // then answers 0, not INVALID_HANDLE_VALUE.
    BOOL EnumProcessModules(HANDLE process, HMODULE* handles, DWORD byteSize, DWORD* bytesNeeded);
    DWORD GetModuleFileNameExA(HANDLE process, HMODULE module, char* buffer, DWORD size);
    HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId);
    BOOL Process32First(HANDLE snapshot, ProcessEntry* entry);
    BOOL Process32Next(HANDLE snapshot, ProcessEntry* entry);
    BOOL Module32First(HANDLE snapshot, ModuleEntry* entry);
    BOOL Module32Next(HANDLE snapshot, ModuleEntry* entry);

    // Display path of a process (modules_win.cpp): "_Idle" for process ID 0; else the
    // first module with an ".EXE" extension that resolves to an existing file; else its
    // name in processTable, "???" when the table lacks it, "" without a table. A malloc
    // block the caller frees; null only when memory runs out.
    char* GetProcessImagePath(const HashTable* processTable, uint32_t processId);
    // Replaces the name of every entry of a process table by GetProcessImagePath.
    void ResolveProcessImagePaths(HashTable* processTable);

private:
    // Slots 1 to 4 and 6 from ToolHelp in kernel32.dll, slot 5 the scan given.
    void BindToolHelp(ScanAutorunsOp scan);
    void BindPsapi();
};

// True for a snapshot handle that a forwarding method returned successfully.
inline bool IsSnapshotHandle(HANDLE snapshot) { return snapshot != nullptr && snapshot != INVALID_HANDLE_VALUE; }
