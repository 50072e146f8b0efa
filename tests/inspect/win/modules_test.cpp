// Module listing, module paths, image paths and report process blocks: on a child that
// loaded a DLL this test never loads (ToolHelp on Wine's default version, psapi on 5.2),
// and on a ToolHelp process list of fake entry points that holds the idle process. File
// details through the real file system.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <utility>

#include "inspect/os_family.h"
#include "inspect/win/file_info_win.h"
#include "inspect/win/modules_win.h"
#include "inspect/win/processes_win.h"
#include "inspect/win/system_probe.h"
#include "tests/support/probe_test_util.h"

namespace {

using namespace probetest;

std::string ProcessLine(const std::string& name, uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", id);
    return "04008019|PROCESS|" + name + "|" + text + "||||||";
}

// WriteProcessBlock into a temporary file: its result, and the lines, each ending in CR LF.
uint32_t WriteBlock(SystemProbe& probe, uint32_t id, const char* name, HWND window, Lines* lines) {
    const std::string path = TempFile();
    FILE* stream = std::fopen(path.c_str(), "wb");
    const uint32_t result = stream ? probe.WriteProcessBlock(id, stream, name, window) : 0xFFFFFFFFu;
    if (stream) std::fclose(stream);
    const std::string bytes = TakeFile(path);
    lines->clear();
    size_t start = 0;
    for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines->push_back(bytes.substr(start, end - start));
    }
    EXPECT_EQ(start, bytes.size()) << "a line without CR LF";
    return result;
}

// Handle of the module with this upper-cased path (pointer-width key); null when absent.
HMODULE ModuleHandleOf(const HashTable* table, const std::string& upperPath) {
    for (HashTableNode* node = FirstEntry(table); node; node = NextEntry(node)) {
        if (node->keyLength == sizeof(HMODULE) && node->value && upperPath == static_cast<char*>(node->value)) {
            return *static_cast<HMODULE*>(node->key);
        }
    }
    return nullptr;
}

class Modules : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(probe.listModules, psapi ? ListModulesPsapi : ListModulesToolHelp);
        ASSERT_TRUE(child.Start());
        BeginProgressTask(counter.Window(), L"", 0);
        ASSERT_EQ(probe.ListModules(child.Id(), modules.get(), counter.Window()), 0u);
        dll = ModuleHandleOf(modules.get(), dllPath);
        ASSERT_NE(dll, nullptr);
    }
    const bool psapi = ExpectedFamily() == kOsWindowsDotNet;
    const std::string dllPath = Upper(SystemFile(kChildDll));
    SystemProbe probe;
    ChildProcess child;
    StepCounter counter;
    OwnedTable modules;
    HMODULE dll = nullptr;
};

TEST_F(Modules, ListsModulesAndModuleAndImagePathsUntilTheProcessEnds) {
    const Lines paths = TableValues(modules.get());
    EXPECT_EQ(static_cast<size_t>(counter.TakeSteps()), paths.size());
    EXPECT_EQ(paths.front(), Upper(ChildProcess::Path()));
    OwnedTable own;  // process ID 0: this program's modules
    ASSERT_EQ(probe.ListModules(0, own.get(), nullptr), 0u);
    EXPECT_EQ(ModuleHandleOf(own.get(), Upper(OwnPath())), GetModuleHandleA(nullptr));
    PerfDataSystem system;  // the modules that the performance-data count adds (psapi only)
    OpenPerfDataSystem(&system, &probe);
    const PerfDataOps ops = SystemPerfDataOps(&system);
    EXPECT_EQ(ops.countModules(ops.context, child.Id()), psapi ? paths.size() : 0u);
    ClosePerfDataSystem(&system);

    EXPECT_EQ(Upper(probe.FindModulePath(child.Id(), dll).path), dllPath);
    const auto inside = reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(dll) + 0x1000);  // not a module handle
    EXPECT_EQ(probe.FindModulePath(child.Id(), inside).length, 0u);
    EXPECT_EQ(TakeText(probe.GetProcessImagePath(nullptr, 0)), "_Idle");
    OwnedTable table;
    ASSERT_TRUE(InsertEntry(table.get(), NewUInt32Key(child.Id()), 4, _strdup("processes_helper.exe")));
    ASSERT_TRUE(InsertEntry(table.get(), NewUInt32Key(kNoSuchProcess), 4, _strdup("gone.exe")));
    probe.ResolveProcessImagePaths(table.get());
    EXPECT_EQ(Upper(ProcessName(table.get(), child.Id())), Upper(ChildProcess::Path()));
    EXPECT_STREQ(ProcessName(table.get(), kNoSuchProcess), "gone.exe");
    // Once it has ended: no module path, the name from the table, a reduced process block.
    const uint32_t id = child.Id();
    child.End();
    EXPECT_EQ(probe.FindModulePath(id, dll).length, 0u);
    EXPECT_EQ(TakeText(probe.GetProcessImagePath(table.get(), kNoSuchProcess)), "gone.exe");
    EXPECT_EQ(TakeText(probe.GetProcessImagePath(table.get(), id + 4)), "???");
    EXPECT_EQ(TakeText(probe.GetProcessImagePath(nullptr, id)), "");
    Lines lines;  // psapi writes nothing; ToolHelp has written the process line before it fails
    EXPECT_EQ(WriteBlock(probe, id, "gone.exe", nullptr, &lines), 1u);
    EXPECT_EQ(lines, psapi ? Lines() : Lines({ProcessLine("gone.exe", id)}));
}

TEST_F(Modules, ProcessBlockReadsBackAndStopsOnRequest) {
    Lines lines;
    ASSERT_EQ(WriteBlock(probe, child.Id(), "processes_helper.exe", nullptr, &lines), 0u);
    ASSERT_EQ(lines.size(), 1 + modules.size() + psapi);  // only the psapi block ends with a separator
    EXPECT_EQ(lines.back() == "--------|", psapi);
    EXPECT_EQ(lines[0], ProcessLine("processes_helper.exe", child.Id()));
    // The DLL's line: its path as the system reports it, then the details of the file
    // with the module handle (all its digits) as the instances field.
    const std::string path = probe.FindModulePath(child.Id(), dll).path;
    const std::string details = TakeText(GetFileDetails(nullptr, path.c_str(), NewIdList(reinterpret_cast<uintptr_t>(dll))));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "04008012|MODULE|" + path + "|" + details), 1) << details;

    StopRequest stop;
    for (bool list : {true, false}) {
        BeginProgressTask(counter.Window(), L"", 0);  // a new task looks for the request at its first step
        counter.TakeSteps();
        OwnedTable table;
        EXPECT_EQ(list ? probe.ListModules(0, table.get(), counter.Window())
                       : WriteBlock(probe, child.Id(), "processes_helper.exe", counter.Window(), &lines), kStoppedResult);
        EXPECT_EQ(list ? table.size() : lines.size(), 1u);
        EXPECT_EQ(counter.TakeSteps(), 1);
    }
}

// A ToolHelp system of fake entry points: the idle process (ID 0) and one process of two
// modules. Like the real system, a module snapshot of ID 0 lists this program's modules.
namespace fake {
const std::pair<uint32_t, const char*> kProcesses[] = {{0, "[System Process]"}, {8, "C:\\WIN\\APP.EXE"}};
const struct { uint32_t processId; uintptr_t handle; const char* path; } kModules[] = {
    {8, 0x400000, "C:\\WIN\\APP.EXE"}, {8, 0x10000000, "C:\\WIN\\LIB.DLL"}, {0, 0x500000, "C:\\KORVANE\\SELF.EXE"}};
std::map<HANDLE, std::pair<uint32_t, size_t>> g_snapshots;  // the process asked about, the next entry

HANDLE WINAPI Snapshot(DWORD, DWORD processId) {  // a real handle, since the code closes it
    HANDLE snapshot = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_snapshots[snapshot] = {processId == GetCurrentProcessId() ? 0 : processId, 0};
    return snapshot;
}
BOOL WINAPI ProcessNext(HANDLE snapshot, ProcessEntry* entry) {
    size_t& at = g_snapshots[snapshot].second;
    if (at >= std::size(kProcesses)) return FALSE;
    entry->th32ProcessID = kProcesses[at].first;
    return std::strcpy(entry->szExeFile, kProcesses[at++].second), TRUE;
}
BOOL WINAPI ProcessFirst(HANDLE snapshot, ProcessEntry* entry) { return g_snapshots[snapshot].second = 0, ProcessNext(snapshot, entry); }
BOOL WINAPI ModuleNext(HANDLE snapshot, ModuleEntry* entry) {
    auto& [processId, at] = g_snapshots[snapshot];
    while (at < std::size(kModules) && kModules[at].processId != processId) ++at;
    if (at >= std::size(kModules)) return FALSE;
    entry->hModule = reinterpret_cast<HMODULE>(kModules[at].handle);
    return std::strcpy(entry->szExePath, kModules[at++].path), TRUE;
}
BOOL WINAPI ModuleFirst(HANDLE snapshot, ModuleEntry* entry) { return g_snapshots[snapshot].second = 0, ModuleNext(snapshot, entry); }
}  // namespace fake

// The idle process has no modules: it adds none to the count, has no module path, and
// its report block is its process line (and on the psapi route the closing line); a
// direct module listing of ID 0 still means this program.
TEST(IdleProcess, HasNoModulesOnEitherRoute) {
    SystemProbe probe;
    probe.listProcesses = ListProcessesToolHelp, probe.listModules = ListModulesToolHelp;
    probe.countProcessItems = CountProcessItemsToolHelp, probe.findModulePath = FindModulePathToolHelp;
    probe.writeProcessBlock = WriteProcessBlockToolHelp, probe.createToolhelp32Snapshot = fake::Snapshot;
    probe.process32First = fake::ProcessFirst, probe.process32Next = fake::ProcessNext;
    probe.module32First = fake::ModuleFirst, probe.module32Next = fake::ModuleNext;
    OwnedTable processes, own;
    ASSERT_EQ(probe.ListProcesses(processes.get(), nullptr), 0u);
    EXPECT_EQ(TableValues(processes.get()), Lines({"[System Process]", "APP.EXE"}));
    EXPECT_EQ(probe.CountProcessItems(0), 2u);
    EXPECT_EQ(probe.CountProcessItems(1), 4u);
    EXPECT_EQ(probe.FindModulePath(0, reinterpret_cast<HMODULE>(0x500000)).length, 0u);
    EXPECT_STREQ(probe.FindModulePath(8, reinterpret_cast<HMODULE>(0x10000000)).path, "C:\\WIN\\LIB.DLL");
    ASSERT_EQ(probe.ListModules(0, own.get(), nullptr), 0u);
    EXPECT_EQ(TableValues(own.get()), Lines({"C:\\KORVANE\\SELF.EXE"}));
    Lines lines;
    EXPECT_EQ(WriteBlock(probe, 0, "[System Process]", nullptr, &lines), 0u);
    EXPECT_EQ(lines, Lines({ProcessLine("[System Process]", 0)}));
    probe.writeProcessBlock = WriteProcessBlockPsapi;
    EXPECT_EQ(WriteBlock(probe, 0, "Idle", nullptr, &lines), 0u);
    EXPECT_EQ(lines, Lines({ProcessLine("Idle", 0), "--------|"}));
}

// A sparse file beyond 4 GiB, written at a local time: its whole size and that time.
TEST(FileInfoWin, SizeBeyondFourGigabytesAndLocalTime) {
    SYSTEMTIME local = {2003, 7, 0, 5, 13, 4, 9, 0}, universal;
    FILETIME time;
    ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) && SystemTimeToFileTime(&universal, &time));
    const std::string path = TempFile();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD ignored = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = 5368709121LL;
    EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file) && SetFileTime(file, nullptr, nullptr, &time));
    CloseHandle(file);
    EXPECT_EQ(TakeText(GetFileDetails(nullptr, path.c_str(), nullptr)),
              "application does not loaded|" + path + "||5368709121|July 05, 2003 13:04:09|||");
    DeleteFileA(path.c_str());
}

}  // namespace
