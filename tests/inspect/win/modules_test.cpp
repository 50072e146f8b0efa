// Module listing, module paths, display paths and report process blocks against the
// running Wine system (the ToolHelp route of its default version), on a child process
// that has loaded a DLL this test never loads itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "inspect/os_family.h"
#include "inspect/win/modules_win.h"
#include "inspect/win/os_family_win.h"
#include "inspect/win/system_probe.h"
#include "report/report_line.h"
#include "tests/inspect/win/processes_child.h"

namespace {

using probetest::ChildProcess;
using probetest::ModuleHandleOf;
using probetest::OwnedTable;
using probetest::ReportFile;
using probetest::StepCounter;
using probetest::StopRequest;
using probetest::Upper;

std::string Hex(uintptr_t number) {
    char text[2 * sizeof number + 1];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(number));
    return text;
}

std::string TakeText(char* text) {
    std::string copy = text ? text : "";
    std::free(text);
    return copy;
}

// One parsed record line.
struct Parsed {
    bool ok = false;
    std::string text;
    uint32_t level = 0;
    std::vector<std::string> fields;  // group A
};

Parsed Parse(const std::string& line) {
    Parsed parsed;
    char* text = nullptr;
    char* groupBText = nullptr;
    uint32_t hasChildren = 0;
    ItemRecord* groupA = nullptr;
    ItemRecord* groupB = nullptr;
    parsed.ok = ParseReportLine(line.c_str(), &text, &groupBText, &parsed.level, &hasChildren, &groupA, &groupB) == 1;
    parsed.text = TakeText(text);
    std::free(groupBText);
    for (uint32_t i = 1; groupA && i <= groupA->count; ++i) parsed.fields.push_back(ItemRecordField(groupA, i));
    FreeItemRecord(groupA);
    FreeItemRecord(groupB);
    return parsed;
}

class Modules : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DetectOsFamily(nullptr, nullptr), kOsWin32);
        ASSERT_EQ(probe.listModules, ListModulesToolHelp);
        ASSERT_TRUE(child.Start());
        childPath = Upper(child.Path());
        dllPath = Upper(probetest::SystemFile(probetest::kChildDll));
    }
    SystemProbe probe;
    ChildProcess child;
    std::string childPath;
    std::string dllPath;
};

TEST_F(Modules, ListsTheChildExecutableAndTheDllItLoaded) {
    StepCounter counter;
    ASSERT_NE(counter.Window(), nullptr);
    StepCounter::Reset();
    OwnedTable table;
    ASSERT_EQ(probe.ListModules(child.Id(), table.get(), counter.Window()), 0u);
    const std::vector<std::string> paths = probetest::TableValues(table.get());
    EXPECT_EQ(static_cast<size_t>(StepCounter::Steps()), paths.size());
    ASSERT_FALSE(paths.empty());
    EXPECT_EQ(paths.front(), childPath);
    EXPECT_NE(ModuleHandleOf(table.get(), dllPath), nullptr);
    for (const std::string& path : paths) EXPECT_EQ(path, Upper(path));
    for (HashTableNode* node = FirstEntry(table.get()); node; node = NextEntry(node)) {
        EXPECT_EQ(node->keyLength, static_cast<int32_t>(sizeof(uintptr_t)));
    }
}

TEST_F(Modules, ProcessZeroListsThisProgramWithFullWidthHandles) {
    OwnedTable table;
    ASSERT_EQ(probe.ListModules(0, table.get(), nullptr), 0u);
    const std::string own = Upper(probetest::OwnPath());
    EXPECT_EQ(ModuleHandleOf(table.get(), own), GetModuleHandleA(nullptr));
    const std::string kernel = Upper(probetest::SystemFile("kernel32.dll"));
    EXPECT_EQ(ModuleHandleOf(table.get(), kernel), GetModuleHandleA("kernel32.dll"));
    // The child's DLL is not one of this program's modules.
    EXPECT_EQ(ModuleHandleOf(table.get(), dllPath), nullptr);
}

TEST_F(Modules, FindModulePathAnswersOnlyForAModuleOfThatProcess) {
    OwnedTable table;
    ASSERT_EQ(probe.ListModules(child.Id(), table.get(), nullptr), 0u);
    HMODULE dll = ModuleHandleOf(table.get(), dllPath);
    ASSERT_NE(dll, nullptr);

    const ModulePathResult found = probe.FindModulePath(child.Id(), dll);
    EXPECT_EQ(found.length, std::strlen(found.path));
    EXPECT_EQ(Upper(found.path), dllPath);

    // An address inside the DLL is not a module handle.
    const ModulePathResult missing =
        probe.FindModulePath(child.Id(), reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(dll) + 0x1000));
    EXPECT_EQ(missing.length, 0u);
    EXPECT_STREQ(missing.path, "");

    const uint32_t id = child.Id();
    child.End();
    const ModulePathResult gone = probe.FindModulePath(id, dll);
    EXPECT_EQ(gone.length, 0u);
    EXPECT_STREQ(gone.path, "");
}

TEST_F(Modules, ImagePathComesFromTheModulesThenFromTheTable) {
    EXPECT_EQ(Upper(TakeText(probe.GetProcessImagePath(nullptr, child.Id()))), childPath);
    EXPECT_EQ(TakeText(probe.GetProcessImagePath(nullptr, 0)), "_Idle");

    const uint32_t id = child.Id();
    child.End();
    OwnedTable names;
    ASSERT_TRUE(InsertEntry(names.get(), NewUInt32Key(id), 4, _strdup("helper by name")));
    EXPECT_EQ(TakeText(probe.GetProcessImagePath(names.get(), id)), "helper by name");
    EXPECT_EQ(TakeText(probe.GetProcessImagePath(names.get(), id + 4)), "???");
    EXPECT_EQ(TakeText(probe.GetProcessImagePath(nullptr, id)), "");
}

TEST_F(Modules, ResolveProcessImagePathsRewritesEveryEntry) {
    ChildProcess ended;
    ASSERT_TRUE(ended.Start());
    const uint32_t endedId = ended.Id();
    ended.End();

    OwnedTable table;
    ASSERT_TRUE(InsertEntry(table.get(), NewUInt32Key(child.Id()), 4, _strdup("processes_helper.exe")));
    ASSERT_TRUE(InsertEntry(table.get(), NewUInt32Key(endedId), 4, _strdup("gone.exe")));
    probe.ResolveProcessImagePaths(table.get());
    EXPECT_EQ(Upper(probetest::ProcessName(table.get(), child.Id())), childPath);
    EXPECT_STREQ(probetest::ProcessName(table.get(), endedId), "gone.exe");
}

TEST_F(Modules, ProcessBlockReadsBackAsProcessAndModuleRecords) {
    OwnedTable modules;
    ASSERT_EQ(probe.ListModules(child.Id(), modules.get(), nullptr), 0u);
    const size_t moduleCount = probetest::TableValues(modules.get()).size();

    ReportFile report;
    ASSERT_NE(report.Stream(), nullptr);
    ASSERT_EQ(probe.WriteProcessBlock(child.Id(), report.Stream(), "processes_helper.exe", nullptr), 0u);
    const std::vector<std::string> lines = report.Lines();
    // The ToolHelp block ends after its last module line, without a separator.
    ASSERT_EQ(lines.size(), 1 + moduleCount);

    char head[64];
    std::snprintf(head, sizeof head, "04008019|PROCESS|processes_helper.exe|%x||||||", static_cast<unsigned>(child.Id()));
    EXPECT_EQ(lines[0], head);
    const Parsed process = Parse(lines[0]);
    ASSERT_TRUE(process.ok);
    EXPECT_EQ(process.text, "processes_helper.exe");
    EXPECT_EQ(process.level, 1u);
    ASSERT_FALSE(process.fields.empty());
    EXPECT_EQ(process.fields[0], Hex(child.Id()));

    bool sawDll = false;
    for (size_t i = 1; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i].compare(0, 16, "04008012|MODULE|"), 0) << lines[i];
        const Parsed module = Parse(lines[i]);
        ASSERT_TRUE(module.ok) << lines[i];
        EXPECT_EQ(module.level, 2u);
        ASSERT_EQ(module.fields.size(), 8u) << lines[i];
        // The instances field is the module's handle with all its digits.
        const HMODULE handle = ModuleHandleOf(modules.get(), Upper(module.text));
        ASSERT_NE(handle, nullptr) << module.text;
        EXPECT_EQ(module.fields[0], Hex(reinterpret_cast<uintptr_t>(handle)));
        EXPECT_EQ(Upper(module.fields[1]), Upper(module.text));
        if (Upper(module.text) == dllPath) {
            sawDll = true;
            EXPECT_FALSE(module.fields[3].empty());  // the file's size
        }
    }
    EXPECT_TRUE(sawDll);
    EXPECT_EQ(Upper(Parse(lines[1]).text), childPath);
}

TEST_F(Modules, ProcessBlockOfAnEndedProcessHasOnlyItsProcessLine) {
    const uint32_t id = child.Id();
    child.End();
    ReportFile report;
    ASSERT_NE(report.Stream(), nullptr);
    EXPECT_EQ(probe.WriteProcessBlock(id, report.Stream(), "gone.exe", nullptr), 1u);
    const std::vector<std::string> lines = report.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].compare(0, 26, "04008019|PROCESS|gone.exe|"), 0) << lines[0];
}

TEST_F(Modules, StopRequestEndsListingAndWritingAfterOneStep) {
    StepCounter counter;
    ASSERT_NE(counter.Window(), nullptr);
    StopRequest stop;
    ASSERT_TRUE(stop.Held());

    OwnedTable table;
    StepCounter::Reset();
    EXPECT_EQ(probe.ListModules(0, table.get(), counter.Window()), static_cast<uint32_t>(JobCancelled));
    EXPECT_EQ(probetest::TableValues(table.get()).size(), 1u);
    EXPECT_EQ(StepCounter::Steps(), 1);

    ReportFile report;
    ASSERT_NE(report.Stream(), nullptr);
    StepCounter::Reset();
    EXPECT_EQ(probe.WriteProcessBlock(child.Id(), report.Stream(), "processes_helper.exe", counter.Window()),
              static_cast<uint32_t>(JobCancelled));
    EXPECT_EQ(report.Lines().size(), 1u);
    EXPECT_EQ(StepCounter::Steps(), 1);
}

}  // namespace
