// Module listing, module paths, display paths and report process blocks on a child that
// loaded a DLL this test never loads: ToolHelp on Wine's default version, psapi on 5.2.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "inspect/os_family.h"
#include "inspect/win/modules_win.h"
#include "inspect/win/os_family_win.h"
#include "inspect/win/processes_win.h"
#include "inspect/win/system_probe.h"
#include "report/report_line.h"
#include "tests/support/probe_test_util.h"

namespace {

using namespace probetest;

std::string Hex(uintptr_t number) {
    char text[2 * sizeof number + 1];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(number));
    return text;
}

// A record line read back: its level (0 when it does not parse), text and group A fields.
uint32_t Parse(const std::string& line, Lines* textAndFields) {
    char* text = nullptr;
    char* groupBText = nullptr;
    uint32_t level = 0, hasChildren = 0;
    ItemRecord* groupA = nullptr;
    ItemRecord* groupB = nullptr;
    if (ParseReportLine(line.c_str(), &text, &groupBText, &level, &hasChildren, &groupA, &groupB) != 1) level = 0;
    *textAndFields = {TakeText(text)};
    for (uint32_t i = 1; groupA && i <= groupA->count; ++i) textAndFields->push_back(ItemRecordField(groupA, i));
    std::free(groupBText);
    FreeItemRecord(groupA);
    FreeItemRecord(groupB);
    return level;
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
    Lines lines, fields;
    ASSERT_EQ(WriteBlock(probe, child.Id(), "processes_helper.exe", nullptr, &lines), 0u);
    ASSERT_EQ(lines.size(), 1 + modules.size() + psapi);  // only the psapi block ends with a separator
    EXPECT_EQ(lines.back() == "--------|", psapi);
    EXPECT_EQ(lines[0], "04008019|PROCESS|processes_helper.exe|" + Hex(child.Id()) + "||||||");
    EXPECT_EQ(Parse(lines[0], &fields), 1u);
    bool sawDll = false;
    for (size_t i = 1; i <= modules.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        ASSERT_EQ(lines[i].compare(0, 16, "04008012|MODULE|"), 0);
        EXPECT_EQ(Parse(lines[i], &fields), 2u);
        ASSERT_EQ(fields.size(), 9u);
        // The path as the system reports it; the instances field is the handle with all its digits.
        const HMODULE handle = ModuleHandleOf(modules.get(), Upper(fields[0]));
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(fields[1], Hex(reinterpret_cast<uintptr_t>(handle)));
        EXPECT_EQ(Upper(fields[2]), Upper(fields[0]));
        EXPECT_TRUE(handle != dll || !fields[4].empty());  // the file's size
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

}  // namespace
