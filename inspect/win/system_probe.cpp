#include "inspect/win/system_probe.h"

#include <cstring>

#include "autorun/win/autorun_win.h"
#include "driver/win/driver_channel.h"
#include "inspect/os_family.h"
#include "inspect/win/entry_points.h"
#include "inspect/win/modules_win.h"
#include "inspect/win/os_family_win.h"
#include "inspect/win/processes_win.h"
#include "net/win/connection_routes.h"

namespace {

// Implementations that other parts of the program provide. A null entry leaves its
// slot empty, and the slot's forwarding method answers the neutral value.
// Slot 5: the autorun scan of each family.
constexpr ScanAutorunsOp kNtAutorunScan = ScanAutorunsNt;
constexpr ScanAutorunsOp kWin9xAutorunScan = ScanAutoruns9x;
constexpr ScanAutorunsOp kNt6AutorunScan = ScanAutorunsNt6;
// Slots 7 and 8: the direct call of an exported Ex table function (NT family), and
// the plain-table route that finds the owners itself.
constexpr ConnectionTableOp kUdpExRoute = GetUdpTableEx;
constexpr ConnectionTableOp kTcpExRoute = GetTcpTableEx;
constexpr ConnectionTableOp kUdpPlainRoute = GetUdpTablePlain;
constexpr ConnectionTableOp kTcpPlainRoute = GetTcpTablePlain;
// Slots 7 and 8 on NT 6 and later: the system's owner tables, IPv4 and IPv6.
constexpr ConnectionTableOp kUdpOwnerTableRoute = GetUdpTableExtended;
constexpr ConnectionTableOp kTcpOwnerTableRoute = GetTcpTableExtended;

// What the report and the connection listing ask the table calls for.
constexpr DWORD kConnectionTableFlags = 2;
constexpr DWORD kAddressFamilyIpv4 = 2;   // AF_INET
constexpr DWORD kAddressFamilyIpv6 = 23;  // AF_INET6

}  // namespace

SystemProbe::SystemProbe()
    : listProcesses(nullptr),
      listModules(nullptr),
      countProcessItems(nullptr),
      findModulePath(nullptr),
      scanAutoruns(nullptr),
      writeProcessBlock(nullptr),
      getUdpConnectionTable(nullptr),
      getTcpConnectionTable(nullptr),
      driverPreinstalled(0),
      processLibrary(nullptr),
      ipLibrary(nullptr),
      driverDevice(INVALID_HANDLE_VALUE),
      enumProcessModules(nullptr),
      getModuleFileNameExA(nullptr),
      getProcessMemoryInfo(nullptr),
      getModuleInformation(nullptr),
      allocateAndGetTcpExTableFromStack(nullptr),
      allocateAndGetUdpExTableFromStack(nullptr),
      createToolhelp32Snapshot(nullptr),
      process32First(nullptr),
      process32Next(nullptr),
      module32First(nullptr),
      module32Next(nullptr),
      allocateAndGetTcpTableFromStack(nullptr),
      allocateAndGetUdpTableFromStack(nullptr),
      enumProcessModulesEx(nullptr),
      getExtendedTcpTable(nullptr),
      getExtendedUdpTable(nullptr),
      ipv6Tables(0),
      osFamily(kOsUnknown) {
    Initialize();
}

SystemProbe::~SystemProbe() { Teardown(); }

void SystemProbe::BindPsapi() {
    processLibrary = LoadLibraryA("psapi.dll");
    if (!processLibrary) return;
    listProcesses = ListProcessesPerfData;
    listModules = ListModulesPsapi;
    enumProcessModules = LookUpEntry<EnumProcessModulesFn>(processLibrary, "EnumProcessModules");
    getModuleFileNameExA = LookUpEntry<GetModuleFileNameExAFn>(processLibrary, "GetModuleFileNameExA");
    enumProcessModulesEx = LookUpEntry<EnumProcessModulesExFn>(processLibrary, "EnumProcessModulesEx");
    findModulePath = FindModulePathPsapi;
    scanAutoruns = kNtAutorunScan;
    getProcessMemoryInfo = LookUpEntry<GetProcessMemoryInfoFn>(processLibrary, "GetProcessMemoryInfo");
    getModuleInformation = LookUpEntry<GetModuleInformationFn>(processLibrary, "GetModuleInformation");
    writeProcessBlock = WriteProcessBlockPsapi;
    countProcessItems = CountProcessItemsPerfData;
}

void SystemProbe::BindToolHelp(ScanAutorunsOp scan) {
    processLibrary = LoadLibraryA("kernel32.dll");
    if (!processLibrary) return;
    listProcesses = ListProcessesToolHelp;
    listModules = ListModulesToolHelp;
    findModulePath = FindModulePathToolHelp;
    createToolhelp32Snapshot = LookUpEntry<CreateToolhelp32SnapshotFn>(processLibrary, "CreateToolhelp32Snapshot");
    process32First = LookUpEntry<Process32Fn>(processLibrary, "Process32First");
    process32Next = LookUpEntry<Process32Fn>(processLibrary, "Process32Next");
    module32First = LookUpEntry<Module32Fn>(processLibrary, "Module32First");
    module32Next = LookUpEntry<Module32Fn>(processLibrary, "Module32Next");
    scanAutoruns = scan;
    writeProcessBlock = WriteProcessBlockToolHelp;
    countProcessItems = CountProcessItemsToolHelp;
}

void SystemProbe::Initialize() {
    Teardown();
    driverDevice = INVALID_HANDLE_VALUE;

    ipLibrary = LoadLibraryA("iphlpapi.dll");
    const int32_t family = DetectOsFamily(nullptr, nullptr);
    osFamily = family;

    if (family == kOsWindowsNt6) {
        // The system's tables carry the owners, and an unsigned driver cannot load on
        // current x64 systems: no driver here.
        BindToolHelp(kNt6AutorunScan);
        if (ipLibrary) {
            getExtendedTcpTable = LookUpEntry<GetExtendedTableFn>(ipLibrary, "GetExtendedTcpTable");
            getExtendedUdpTable = LookUpEntry<GetExtendedTableFn>(ipLibrary, "GetExtendedUdpTable");
            if (getExtendedTcpTable) getTcpConnectionTable = kTcpOwnerTableRoute;
            if (getExtendedUdpTable) getUdpConnectionTable = kUdpOwnerTableRoute;
            ipv6Tables = 1;
        }
    } else if (family > kOsUnknown) {
        BindPsapi();
        if (ipLibrary) {
            allocateAndGetTcpExTableFromStack =
                LookUpEntry<AllocateAndGetExTableFn>(ipLibrary, "AllocateAndGetTcpExTableFromStack");
            if (allocateAndGetTcpExTableFromStack) {
                getTcpConnectionTable = kTcpExRoute;
            } else {
                allocateAndGetTcpTableFromStack =
                    LookUpEntry<AllocateAndGetTableFn>(ipLibrary, "AllocateAndGetTcpTableFromStack");
                getTcpConnectionTable = kTcpPlainRoute;
            }
            allocateAndGetUdpExTableFromStack =
                LookUpEntry<AllocateAndGetExTableFn>(ipLibrary, "AllocateAndGetUdpExTableFromStack");
            if (allocateAndGetUdpExTableFromStack) {
                getUdpConnectionTable = kUdpExRoute;
            } else {
                allocateAndGetUdpTableFromStack =
                    LookUpEntry<AllocateAndGetTableFn>(ipLibrary, "AllocateAndGetUdpTableFromStack");
                getUdpConnectionTable = kUdpPlainRoute;
            }
        }
        OpenDriverChannel(*this);
    } else if (family < kOsUnknown) {
        BindToolHelp(kWin9xAutorunScan);
        if (ipLibrary) {
            allocateAndGetTcpTableFromStack =
                LookUpEntry<AllocateAndGetTableFn>(ipLibrary, "AllocateAndGetTcpTableFromStack");
            allocateAndGetUdpTableFromStack =
                LookUpEntry<AllocateAndGetTableFn>(ipLibrary, "AllocateAndGetUdpTableFromStack");
            getTcpConnectionTable = kTcpPlainRoute;
            getUdpConnectionTable = kUdpPlainRoute;
        }
    }
    // An unrecognised system (kOsUnknown) binds nothing.
}

void SystemProbe::Teardown() {
    if (processLibrary) FreeLibrary(processLibrary);
    if (ipLibrary) FreeLibrary(ipLibrary);
    processLibrary = nullptr;
    ipLibrary = nullptr;

    // Nothing may call into a library that has been freed.
    listProcesses = nullptr;
    listModules = nullptr;
    countProcessItems = nullptr;
    findModulePath = nullptr;
    scanAutoruns = nullptr;
    writeProcessBlock = nullptr;
    getUdpConnectionTable = nullptr;
    getTcpConnectionTable = nullptr;
    enumProcessModules = nullptr;
    getModuleFileNameExA = nullptr;
    getProcessMemoryInfo = nullptr;
    getModuleInformation = nullptr;
    allocateAndGetTcpExTableFromStack = nullptr;
    allocateAndGetUdpExTableFromStack = nullptr;
    createToolhelp32Snapshot = nullptr;
    process32First = nullptr;
    process32Next = nullptr;
    module32First = nullptr;
    module32Next = nullptr;
    allocateAndGetTcpTableFromStack = nullptr;
    allocateAndGetUdpTableFromStack = nullptr;
    enumProcessModulesEx = nullptr;
    getExtendedTcpTable = nullptr;
    getExtendedUdpTable = nullptr;
    ipv6Tables = 0;

    // A driver that this run installed is removed; one that was running before stays
    // running, and only its device handle is closed.
    if (driverDevice != INVALID_HANDLE_VALUE && !driverPreinstalled) RemoveDriver(&driverDevice);
    if (driverDevice != INVALID_HANDLE_VALUE) CloseHandle(driverDevice);
    driverDevice = INVALID_HANDLE_VALUE;
    driverPreinstalled = 0;
}

uint32_t SystemProbe::ListProcesses(HashTable* table, HWND progressWindow) {
    return listProcesses ? listProcesses(this, table, progressWindow) : 1;
}

uint32_t SystemProbe::ListModules(uint32_t processId, HashTable* table, HWND progressWindow) {
    return listModules ? listModules(this, processId, table, progressWindow) : 0;
}

uint32_t SystemProbe::CountProcessItems(int includeModules) {
    return countProcessItems ? countProcessItems(this, includeModules) : 0;
}

ModulePathResult SystemProbe::FindModulePath(uint32_t processId, HMODULE moduleHandle, uintptr_t unused1,
                                             uintptr_t unused2) {
    if (findModulePath) return findModulePath(this, processId, moduleHandle, unused1, unused2);
    ModulePathResult none;
    std::memset(&none, 0, sizeof none);
    return none;
}

uint32_t SystemProbe::ScanAutoruns(HWND progressWindow, FILE* reportStream) {
    return scanAutoruns ? scanAutoruns(this, progressWindow, reportStream) : 0;
}

uint32_t SystemProbe::WriteProcessBlock(uint32_t processId, FILE* stream, const char* processName,
                                        HWND progressWindow) {
    return writeProcessBlock ? writeProcessBlock(this, processId, stream, processName, progressWindow) : 0;
}

DWORD SystemProbe::GetUdpConnectionTable(HashTable* processTable, void** tableOut, BOOL sorted, HANDLE heap,
                                         DWORD flags, DWORD family) {
    if (!getUdpConnectionTable) return kConnectionTableUnavailable;
    return getUdpConnectionTable(this, processTable, tableOut, sorted, heap, flags, family);
}

DWORD SystemProbe::GetTcpConnectionTable(HashTable* processTable, void** tableOut, BOOL sorted, HANDLE heap,
                                         DWORD flags, DWORD family) {
    if (!getTcpConnectionTable) return kConnectionTableUnavailable;
    return getTcpConnectionTable(this, processTable, tableOut, sorted, heap, flags, family);
}

bool SystemProbe::QueryTcpTable(void** tableOut, HashTable* processTable) {
    if (!getTcpConnectionTable) return false;
    return GetTcpConnectionTable(processTable, tableOut, TRUE, GetProcessHeap(), kConnectionTableFlags, kAddressFamilyIpv4) == 0;
}

bool SystemProbe::QueryUdpTable(void** tableOut, HashTable* processTable) {
    if (!getUdpConnectionTable) return false;
    return GetUdpConnectionTable(processTable, tableOut, TRUE, GetProcessHeap(), kConnectionTableFlags, kAddressFamilyIpv4) == 0;
}

bool SystemProbe::QueryTcp6Table(void** tableOut, HashTable* processTable) {
    if (!getTcpConnectionTable || !ipv6Tables) return false;
    return GetTcpConnectionTable(processTable, tableOut, TRUE, GetProcessHeap(), kConnectionTableFlags, kAddressFamilyIpv6) == 0;
}

bool SystemProbe::QueryUdp6Table(void** tableOut, HashTable* processTable) {
    if (!getUdpConnectionTable || !ipv6Tables) return false;
    return GetUdpConnectionTable(processTable, tableOut, TRUE, GetProcessHeap(), kConnectionTableFlags, kAddressFamilyIpv6) == 0;
}

BOOL SystemProbe::EnumProcessModules(HANDLE process, HMODULE* handles, DWORD byteSize, DWORD* bytesNeeded) {
    if (enumProcessModulesEx) return enumProcessModulesEx(process, handles, byteSize, bytesNeeded, kListModulesAll);
    return enumProcessModules ? enumProcessModules(process, handles, byteSize, bytesNeeded) : FALSE;
}

DWORD SystemProbe::GetModuleFileNameExA(HANDLE process, HMODULE module, char* buffer, DWORD size) {
    return getModuleFileNameExA ? getModuleFileNameExA(process, module, buffer, size) : 0;
}

HANDLE SystemProbe::CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
    return createToolhelp32Snapshot ? createToolhelp32Snapshot(flags, processId) : nullptr;
}

BOOL SystemProbe::Process32First(HANDLE snapshot, ProcessEntry* entry) {
    return process32First ? process32First(snapshot, entry) : FALSE;
}

BOOL SystemProbe::Process32Next(HANDLE snapshot, ProcessEntry* entry) {
    return process32Next ? process32Next(snapshot, entry) : FALSE;
}

BOOL SystemProbe::Module32First(HANDLE snapshot, ModuleEntry* entry) {
    return module32First ? module32First(snapshot, entry) : FALSE;
}

BOOL SystemProbe::Module32Next(HANDLE snapshot, ModuleEntry* entry) {
    return module32Next ? module32Next(snapshot, entry) : FALSE;
}
