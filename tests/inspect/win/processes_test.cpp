// Process listing and counting against the running Wine system, which reports a
// Windows version that takes the ToolHelp route: the test's own child process, its
// name, whether processes can be opened, and stopping a listing on request.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "inspect/os_family.h"
#include "inspect/win/os_family_win.h"
#include "inspect/win/processes_win.h"
#include "inspect/win/system_probe.h"
#include "tests/inspect/win/processes_child.h"

namespace {

using probetest::ChildProcess;
using probetest::OwnedTable;
using probetest::ProcessName;
using probetest::StepCounter;
using probetest::StopRequest;

class Processes : public ::testing::Test {
protected:
    void SetUp() override {
        // The routes tested here are the ones of the default Wine version.
        ASSERT_EQ(DetectOsFamily(nullptr, nullptr), kOsWin32);
        ASSERT_EQ(probe.listProcesses, ListProcessesToolHelp);
    }
    SystemProbe probe;
};

TEST_F(Processes, ListsTheChildAndItselfUnderTheirFileNames) {
    ChildProcess child;
    ASSERT_TRUE(child.Start());
    StepCounter counter;
    ASSERT_NE(counter.Window(), nullptr);
    StepCounter::Reset();
    OwnedTable table;
    ASSERT_EQ(probe.ListProcesses(table.get(), counter.Window()), 0u);
    EXPECT_EQ(static_cast<size_t>(StepCounter::Steps()), probetest::TableValues(table.get()).size());

    const char* childName = ProcessName(table.get(), child.Id());
    ASSERT_NE(childName, nullptr);
    EXPECT_STREQ(childName, "processes_helper.exe");
    const char* ownName = ProcessName(table.get(), GetCurrentProcessId());
    ASSERT_NE(ownName, nullptr);
    EXPECT_STREQ(ownName, "processes_test.exe");

    // Names carry no directory, and only .exe and .dll extensions survive.
    for (const std::string& name : probetest::TableValues(table.get())) {
        EXPECT_EQ(name.find_first_of("\\/"), std::string::npos) << name;
        const size_t dot = name.rfind('.');
        if (dot != std::string::npos) {
            const std::string extension = probetest::Upper(name.substr(dot));
            EXPECT_TRUE(extension == ".EXE" || extension == ".DLL") << name;
        }
    }

    // An ended child is gone from the next listing.
    const uint32_t endedId = child.Id();
    child.End();
    OwnedTable after;
    ASSERT_EQ(probe.ListProcesses(after.get(), nullptr), 0u);
    EXPECT_EQ(ProcessName(after.get(), endedId), nullptr);
    EXPECT_NE(ProcessName(after.get(), GetCurrentProcessId()), nullptr);
}

TEST_F(Processes, CanOpenProcessFollowsTheProcessLife) {
    EXPECT_TRUE(CanOpenProcess(GetCurrentProcessId()));
    ChildProcess child;
    ASSERT_TRUE(child.Start());
    const uint32_t id = child.Id();
    EXPECT_TRUE(CanOpenProcess(id));
    child.End();
    EXPECT_FALSE(CanOpenProcess(id));
    EXPECT_FALSE(CanOpenProcess(0x3FFFFFFCu));
}

TEST_F(Processes, CountsProcessesAndTheirModules) {
    ChildProcess child;
    ASSERT_TRUE(child.Start());
    OwnedTable processes;
    ASSERT_EQ(probe.ListProcesses(processes.get(), nullptr), 0u);
    size_t listed = probetest::TableValues(processes.get()).size();
    OwnedTable childModules;
    ASSERT_EQ(probe.ListModules(child.Id(), childModules.get(), nullptr), 0u);
    const size_t childModuleCount = probetest::TableValues(childModules.get()).size();
    ASSERT_GE(childModuleCount, 3u);  // the executable, ntdll, kernel32 at least

    const uint32_t processCount = probe.CountProcessItems(0);
    const uint32_t itemCount = probe.CountProcessItems(1);
    // Nothing else starts or ends processes in the test prefix between the calls.
    EXPECT_EQ(processCount, listed);
    EXPECT_GE(itemCount, processCount + childModuleCount);
}

TEST_F(Processes, StopRequestEndsTheListingAfterTheFirstProcess) {
    StepCounter counter;
    ASSERT_NE(counter.Window(), nullptr);
    OwnedTable table;
    StepCounter::Reset();
    {
        StopRequest stop;
        ASSERT_TRUE(stop.Held());
        EXPECT_EQ(probe.ListProcesses(table.get(), counter.Window()), static_cast<uint32_t>(JobCancelled));
    }
    EXPECT_EQ(probetest::TableValues(table.get()).size(), 1u);
    EXPECT_EQ(StepCounter::Steps(), 1);

    // Without a progress window nothing checks for the request.
    OwnedTable unchecked;
    StopRequest stop;
    EXPECT_EQ(probe.ListProcesses(unchecked.get(), nullptr), 0u);
    EXPECT_GT(probetest::TableValues(unchecked.get()).size(), 1u);
}

TEST_F(Processes, RefusesAMissingTable) { EXPECT_EQ(probe.ListProcesses(nullptr, nullptr), 1u); }

TEST(PerfDataSystemOps, ConvertsNamesAndCutsLongOnesToAPrefix) {
    char out[kProcessNameSize];
    const std::u16string idle = u"Idle";
    PerfNameToAnsi(reinterpret_cast<const uint16_t*>(idle.data()), idle.size(), out, sizeof out);
    EXPECT_STREQ(out, "Idle");

    const std::u16string longName(300, u'a');
    PerfNameToAnsi(reinterpret_cast<const uint16_t*>(longName.data()), longName.size(), out, sizeof out);
    EXPECT_EQ(std::string(out), std::string(kProcessNameSize - 1, 'a'));

    char tiny[4] = "xyz";
    PerfNameToAnsi(reinterpret_cast<const uint16_t*>(idle.data()), idle.size(), tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "Idl");
    PerfNameToAnsi(reinterpret_cast<const uint16_t*>(idle.data()), idle.size(), tiny, 1);
    EXPECT_STREQ(tiny, "");
    PerfNameToAnsi(reinterpret_cast<const uint16_t*>(idle.data()), 0, out, sizeof out);
    EXPECT_STREQ(out, "");
}

// Wine's English counter names hold no "process" entry, so the performance-data listing
// ends at the name lookup; the registry answers themselves come through.
TEST(PerfDataSystemOps, ReadsTheRealRegistryAnswers) {
    SystemProbe probe;
    PerfDataSystem system;
    OpenPerfDataSystem(&system, &probe);
    ASSERT_NE(system.counterKey, nullptr);
    const PerfDataOps ops = SystemPerfDataOps(&system);

    uint32_t size = 0;
    EXPECT_EQ(ops.queryCounterNames(ops.context, "Counters", nullptr, &size), kPerfQueryOk);
    EXPECT_GT(size, 0u);
    CounterNames names;
    EXPECT_EQ(LoadCounterNames(ops, &names), 1);
    EXPECT_STREQ(names.processIndex, "");
    FreeCounterNames(&names);

    uint8_t* block = nullptr;
    uint32_t blockSize = 0;
    ASSERT_EQ(QueryPerfData(ops, "230", &block, &blockSize), 0);
    EXPECT_EQ(std::memcmp(block, u"PERF", 8), 0);
    std::free(block);

    probetest::OwnedTable table;
    EXPECT_EQ(ListPerfProcesses(ops, table.get(), nullptr, nullptr), 1);
    EXPECT_EQ(FirstEntry(table.get()), nullptr);
    ClosePerfDataSystem(&system);
    EXPECT_EQ(system.counterKey, nullptr);
}

}  // namespace
