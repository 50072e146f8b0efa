// Module listing, module paths, display paths and report process blocks: on a child that
// loaded a DLL this test never loads (ToolHelp on Wine's default version, psapi on 5.2),
// and on a ToolHelp process list of fake entry points that holds the idle process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <utility>

#include "inspect/os_family.h"
#include "inspect/win/modules_win.h"
#include "inspect/win/os_family_win.h"
#include "inspect/win/processes_win.h"
#include "inspect/win/system_probe.h"
#include "tests/support/probe_test_util.h"

namespace {

using namespace probetest;

std::string Hex(uintptr_t number) {
    char text[2 * sizeof number + 1];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(number));
    return text;
}

// The fields of a report line.
Lines Fields(const std::string& line) {
    Lines fields;
    for (size_t start = 0, bar;; start = bar + 1) {
        bar = line.find('|', start);
        fields.push_back(line.substr(start, bar == std::string::npos ? bar : bar - start));
        if (bar == std::string::npos) return fields;
    }
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

TEST_F(Modules, ListsTheChildsModulesAndWithProcessZeroItsOwn) {
    const Lines paths = TableValues(modules.get());
    EXPECT_EQ(static_cast<size_t>(counter.TakeSteps()), paths.size());
    EXPECT_EQ(paths.front(), Upper(ChildProcess::Path()));
    for (const std::string& path : paths) EXPECT_EQ(path, Upper(path));
    OwnedTable own;
    ASSERT_EQ(probe.ListModules(0, own.get(), nullptr), 0u);
    EXPECT_EQ(ModuleHandleOf(own.get(), Upper(OwnPath())), GetModuleHandleA(nullptr));
    EXPECT_EQ(ModuleHandleOf(own.get(), dllPath), nullptr);

    // The modules that the performance-data count adds per process (psapi only).
    PerfDataSystem system;
    OpenPerfDataSystem(&system, &probe);
    const PerfDataOps ops = SystemPerfDataOps(&system);
    EXPECT_EQ(ops.countModules(ops.context, child.Id()), psapi ? paths.size() : 0u);
    EXPECT_EQ(ops.countModules(ops.context, kNoSuchProcess), 0u);
    ClosePerfDataSystem(&system);
}

TEST_F(Modules, FindsModuleAndImagePathsWhileTheProcessRuns) {
    const ModulePathResult found = probe.FindModulePath(child.Id(), dll);
    EXPECT_EQ(found.length, std::strlen(found.path));
    EXPECT_EQ(Upper(found.path), dllPath);
    // An address inside the DLL is not a module handle.
    const auto inside = reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(dll) + 0x1000);
    EXPECT_EQ(probe.FindModulePath(child.Id(), inside).length, 0u);
    EXPECT_EQ(Upper(TakeText(probe.GetProcessImagePath(nullptr, child.Id()))), Upper(ChildProcess::Path()));
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
    const ModulePathResult gone = probe.FindModulePath(id, dll);
    EXPECT_EQ(gone.length + gone.path[0], 0u);
    OwnedTable names;
    ASSERT_TRUE(InsertEntry(names.get(), NewUInt32Key(id), 4, _strdup("helper by name")));
    EXPECT_EQ(TakeText(probe.GetProcessImagePath(names.get(), id)), "helper by name");
    EXPECT_EQ(TakeText(probe.GetProcessImagePath(names.get(), id + 4)), "???");
    EXPECT_EQ(TakeText(probe.GetProcessImagePath(nullptr, id)), "");
    // psapi writes nothing; ToolHelp has written the process line before it fails.
    Lines lines;
    EXPECT_EQ(WriteBlock(probe, id, "gone.exe", nullptr, &lines), 1u);
    EXPECT_EQ(lines, psapi ? Lines() : Lines({"04008019|PROCESS|gone.exe|" + Hex(id) + "||||||"}));
}

TEST_F(Modules, ProcessBlockReadsBackAndStopsOnRequest) {
    Lines lines;
    ASSERT_EQ(WriteBlock(probe, child.Id(), "processes_helper.exe", nullptr, &lines), 0u);
    ASSERT_EQ(lines.size(), 1 + modules.size() + psapi);  // only the psapi block ends with a separator
    EXPECT_EQ(lines.back() == "--------|", psapi);
    EXPECT_EQ(lines[0], "04008019|PROCESS|processes_helper.exe|" + Hex(child.Id()) + "||||||");
    bool sawDll = false;
    for (size_t i = 1; i <= modules.size(); ++i) {
        // Code, "MODULE", the path as the system reports it, then the details of the file
        // with the module handle (all its digits) as the instances field.
        const Lines fields = Fields(lines[i]);
        ASSERT_EQ(fields.size(), 11u) << lines[i];
        const HMODULE handle = ModuleHandleOf(modules.get(), Upper(fields[2]));
        ASSERT_NE(handle, nullptr) << lines[i];
        EXPECT_EQ(fields[0] + fields[1] + fields[3], "04008012MODULE" + Hex(reinterpret_cast<uintptr_t>(handle)));
        EXPECT_EQ(Upper(fields[4]), Upper(fields[2]));
        EXPECT_TRUE(handle != dll || !fields[6].empty()) << "the file's size";
        sawDll = sawDll || handle == dll;
    }
    EXPECT_TRUE(sawDll);

    StopRequest stop;
    ASSERT_NE(stop.mutex, nullptr);
    for (bool list : {true, false}) {
        BeginProgressTask(counter.Window(), L"", 0);  // a new task looks for the request at its first step
        counter.TakeSteps();
        OwnedTable table;
        const uint32_t result = list ? probe.ListModules(0, table.get(), counter.Window())
                                     : WriteBlock(probe, child.Id(), "processes_helper.exe", counter.Window(), &lines);
        EXPECT_EQ(result, kStoppedResult);
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

// A real handle, since the code closes it.
HANDLE WINAPI Snapshot(DWORD, DWORD processId) {
    HANDLE snapshot = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_snapshots[snapshot] = {processId == GetCurrentProcessId() ? 0 : processId, 0};
    return snapshot;
}
BOOL WINAPI ProcessNext(HANDLE snapshot, ProcessEntry* entry) {
    size_t& at = g_snapshots[snapshot].second;
    if (at >= std::size(kProcesses)) return FALSE;
    entry->th32ProcessID = kProcesses[at].first;
    std::strcpy(entry->szExeFile, kProcesses[at++].second);
    return TRUE;
}
BOOL WINAPI ProcessFirst(HANDLE snapshot, ProcessEntry* entry) {
    g_snapshots[snapshot].second = 0;
    return ProcessNext(snapshot, entry);
}
BOOL WINAPI ModuleNext(HANDLE snapshot, ModuleEntry* entry) {
    auto& [processId, at] = g_snapshots[snapshot];
    while (at < std::size(kModules) && kModules[at].processId != processId) ++at;
    if (at >= std::size(kModules)) return FALSE;
    entry->hModule = reinterpret_cast<HMODULE>(kModules[at].handle);
    std::strcpy(entry->szExePath, kModules[at++].path);
    return TRUE;
}
BOOL WINAPI ModuleFirst(HANDLE snapshot, ModuleEntry* entry) {
    g_snapshots[snapshot].second = 0;
    return ModuleNext(snapshot, entry);
}

}  // namespace fake

// The idle process has no modules: it adds none to the count, has no module path, and
// its report block is its process line (and on the psapi route the closing line); a
// direct module listing of ID 0 still means this program.
TEST(IdleProcess, HasNoModulesOnEitherRoute) {
    SystemProbe probe;
    probe.listProcesses = ListProcessesToolHelp;
    probe.listModules = ListModulesToolHelp;
    probe.countProcessItems = CountProcessItemsToolHelp;
    probe.findModulePath = FindModulePathToolHelp;
    probe.writeProcessBlock = WriteProcessBlockToolHelp;
    probe.createToolhelp32Snapshot = fake::Snapshot;
    probe.process32First = fake::ProcessFirst;
    probe.process32Next = fake::ProcessNext;
    probe.module32First = fake::ModuleFirst;
    probe.module32Next = fake::ModuleNext;

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
    EXPECT_EQ(lines, Lines({"04008019|PROCESS|[System Process]|0||||||"}));
    EXPECT_EQ(WriteBlock(probe, 8, "APP.EXE", nullptr, &lines), 0u);
    EXPECT_EQ(lines.size(), 3u);
    probe.writeProcessBlock = WriteProcessBlockPsapi;
    EXPECT_EQ(WriteBlock(probe, 0, "Idle", nullptr, &lines), 0u);
    EXPECT_EQ(lines, Lines({"04008019|PROCESS|Idle|0||||||", "--------|"}));
}

}  // namespace
