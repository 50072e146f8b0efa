// Process listing, counting and opening on the ToolHelp route of the default Wine version,
// and the system side of the performance-data walk.
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

using namespace probetest;

class Processes : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DetectOsFamily(nullptr, nullptr), kOsWin32);
        ASSERT_EQ(probe.listProcesses, ListProcessesToolHelp);
    }
    SystemProbe probe;
};

TEST_F(Processes, ListsCountsAndOpensTheChildUntilItEnds) {
    ChildProcess child;
    ASSERT_TRUE(child.Start());
    StepCounter counter;
    OwnedTable table, childModules;
    ASSERT_EQ(probe.ListProcesses(table.get(), counter.Window()), 0u);
    EXPECT_EQ(static_cast<size_t>(counter.TakeSteps()), table.size());
    EXPECT_STREQ(ProcessName(table.get(), child.Id()), "processes_helper.exe");
    EXPECT_STREQ(ProcessName(table.get(), GetCurrentProcessId()), "processes_test.exe");
    EXPECT_EQ(probe.ListProcesses(nullptr, nullptr), 1u);

    // Wine's own processes come and go: count until a listing agrees.
    size_t listed = 0;
    uint32_t counted = 1;
    for (int attempt = 0; attempt < 10 && counted != listed; ++attempt) {
        OwnedTable now;
        listed = probe.ListProcesses(now.get(), nullptr) == 0 ? now.size() : 0;
        counted = probe.CountProcessItems(0);
    }
    EXPECT_EQ(counted, listed);
    ASSERT_EQ(probe.ListModules(child.Id(), childModules.get(), nullptr), 0u);
    ASSERT_GE(childModules.size(), 3u);  // the executable, ntdll, kernel32 at least
    EXPECT_GE(probe.CountProcessItems(1), counted + childModules.size());

    const uint32_t id = child.Id();
    EXPECT_TRUE(CanOpenProcess(id) && CanOpenProcess(GetCurrentProcessId()));
    child.End();
    EXPECT_FALSE(CanOpenProcess(id) || CanOpenProcess(kNoSuchProcess));
    OwnedTable after;
    ASSERT_EQ(probe.ListProcesses(after.get(), nullptr), 0u);
    EXPECT_EQ(ProcessName(after.get(), id), nullptr);
}

TEST_F(Processes, StopRequestEndsTheListingAfterTheFirstProcess) {
    StepCounter counter;
    OwnedTable stopped, unchecked;
    StopRequest stop;
    ASSERT_NE(stop.mutex, nullptr);
    EXPECT_EQ(probe.ListProcesses(stopped.get(), counter.Window()), static_cast<uint32_t>(kStoppedResult));
    EXPECT_EQ(stopped.size(), 1u);
    EXPECT_EQ(counter.TakeSteps(), 1);
    // Without a progress window nothing checks for the request.
    EXPECT_EQ(probe.ListProcesses(unchecked.get(), nullptr), 0u);
    EXPECT_GT(unchecked.size(), 1u);
}

TEST(PerfDataSystem, ConvertsNamesWithinTheBufferAndReadsTheRegistry) {
    const std::u16string idle = u"Idle", longName(300, u'a');
    const struct {
        const std::u16string& name;
        size_t length, outSize;
        std::string expected;
    } cases[] = {
        {idle, 4, kProcessNameSize, "Idle"}, {longName, 300, kProcessNameSize, std::string(kProcessNameSize - 1, 'a')},
        {idle, 4, 4, "Idl"},                 {idle, 4, 1, ""},
        {idle, 0, kProcessNameSize, ""},
    };
    for (const auto& c : cases) {
        std::string out(c.outSize + 1, 'x');
        PerfNameToAnsi(reinterpret_cast<const uint16_t*>(c.name.data()), c.length, &out[0], c.outSize);
        EXPECT_EQ(out.c_str(), c.expected);
        EXPECT_EQ(out.back(), 'x') << c.expected;
    }

    SystemProbe probe;
    PerfDataSystem system;
    OpenPerfDataSystem(&system, &probe);
    ASSERT_NE(system.counterKey, nullptr);
    const PerfDataOps ops = SystemPerfDataOps(&system);
    uint32_t size = 0;
    EXPECT_EQ(ops.queryCounterNames(ops.context, "Counters", nullptr, &size), kPerfQueryOk);
    EXPECT_GT(size, 0u);
    uint8_t* block = nullptr;
    EXPECT_EQ(QueryPerfData(ops, "230", &block, &size), 0);
    EXPECT_TRUE(block && std::memcmp(block, u"PERF", 8) == 0);
    std::free(block);
    ClosePerfDataSystem(&system);
    EXPECT_EQ(system.counterKey, nullptr);
}

}  // namespace
