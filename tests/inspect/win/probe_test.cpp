// The platform binding, OS detection and process listing under Wine: ToolHelp with the
// owner tables on Wine's default version (7, the route of NT 6 and later) and on 10,
// psapi, the performance data and the driver on 5.2, ToolHelp with the plain tables on
// 98 (second runs of this program).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "inspect/os_family.h"
#include "inspect/win/os_description_win.h"
#include "inspect/win/os_family_win.h"
#include "inspect/win/process_state_win.h"
#include "inspect/win/processes_win.h"
#include "inspect/win/system_probe.h"
#include "net/win/connection_routes.h"
#include "tests/support/probe_test_util.h"

namespace {

using namespace probetest;

TEST(OtherWindowsVersions, FamilyTestsPassAgain) {
    EXPECT_EQ(RunUnderWineVersion("winxp64", "ProbeBinding.*:OsDetection.*:Modules.*"), 4);
    EXPECT_EQ(RunUnderWineVersion("win98", "ProbeBinding.*:OsDetection.*"), 2);
    EXPECT_EQ(RunUnderWineVersion("win10", "ProbeBinding.*:OsDetection.*"), 2);
}

// The family, and the texts of the versions Wine reports (the test programs' manifest
// declares Windows 10, so it reports 10 as it is there; 5.2 has no personal-edition bit,
// 98 the service pack " A").
TEST(OsDetection, FamilyAndDescriptionOfThisSystem) {
    EXPECT_EQ(DetectOsFamily(nullptr, nullptr), ExpectedFamily());
    const std::string wine = WineVersion();
    EXPECT_STREQ(DescribeOs().text, wine == "win10"     ? "OS WINDOWS 10     Workstation         "
                                    : wine == "winxp64" ? "OS WINDOWS .NET   Professional Edition"
                                    : wine == "win98"   ? "OS WINDOWS 98     SE                  "
                                                        : "OS WINDOWS 7      Workstation         ");
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    char version[256];
    std::snprintf(version, sizeof version, "%lu.%lu.%lu %s", info.dwMajorVersion, info.dwMinorVersion,
                  info.dwBuildNumber & 0xFFFF, info.szCSDVersion);
    EXPECT_STREQ(DescribeOsVersion().text, version);
}

TEST(ProbeBinding, BindsTheRoutesOfTheOsFamily) {
    const bool psapi = ExpectedFamily() == kOsWindowsDotNet, current = ExpectedFamily() == kOsWindowsNt6;
    SystemProbe probe;
    EXPECT_EQ(probe.processLibrary, GetModuleHandleA(psapi ? "psapi.dll" : "kernel32.dll"));
    EXPECT_TRUE(probe.processLibrary && probe.ipLibrary == GetModuleHandleA("iphlpapi.dll"));
    // NT 4 to 5.2 open the driver's device, installing the driver from the resources;
    // current systems take the owners from the system's tables and install nothing.
    EXPECT_EQ(probe.driverDevice != INVALID_HANDLE_VALUE, psapi);
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, "KorvaneDriverNT", SERVICE_QUERY_STATUS) : nullptr;
    EXPECT_EQ(service != nullptr, psapi);
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    // NT 5 prefers the Ex table calls, which Wine exports for TCP only; the 9x family
    // takes the plain ones; current systems the owner tables of both families (that the
    // tables answer on each route, the connection tests check).
    EXPECT_EQ(probe.getTcpConnectionTable, psapi ? GetTcpTableEx : current ? GetTcpTableExtended : GetTcpTablePlain);
    EXPECT_EQ(probe.getUdpConnectionTable, current ? GetUdpTableExtended : GetUdpTablePlain);
    // The process routes by what they do (the module, block and autorun routes are checked
    // where they are used): Wine's performance data has no Process object, so the NT 5
    // route lists and counts nothing.
    OwnedTable table;
    EXPECT_EQ(probe.ListProcesses(table.get(), nullptr), psapi ? 1u : 0u);
    EXPECT_EQ(probe.CountProcessItems(1) > 0, !psapi);
}

TEST(EmptySlots, AnswerNeutralValuesUntilBoundAgain) {
    SystemProbe probe;
    probe.Teardown();
    OwnedTable table;
    void* rows = nullptr;
    Lines none;
    EXPECT_EQ(probe.ListProcesses(table.get(), nullptr) + probe.ListModules(0, table.get(), nullptr) +
                  probe.CountProcessItems(1) + probe.ScanAutoruns(nullptr, nullptr) +
                  probe.WriteProcessBlock(GetCurrentProcessId(), nullptr, "x.exe", nullptr), 1u);
    EXPECT_EQ(table.size() + probe.FindModulePath(GetCurrentProcessId(), GetModuleHandleA(nullptr)).length, 0u);
    EXPECT_EQ(probe.GetTcpConnectionTable(nullptr, &rows, TRUE, GetProcessHeap(), 2, 2), kConnectionTableUnavailable);
    EXPECT_EQ(probe.GetUdpConnectionTable(nullptr, &rows, TRUE, GetProcessHeap(), 2, 2), kConnectionTableUnavailable);
    EXPECT_FALSE(probe.QueryTcpTable(&rows, nullptr) || probe.QueryUdpTable(&rows, nullptr) || rows);
    EXPECT_EQ(probe.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0), nullptr);  // not INVALID_HANDLE_VALUE
    probe.Initialize();
    EXPECT_EQ(probe.ListProcesses(table.get(), nullptr), 0u);
    EXPECT_GT(table.size(), 0u);
}

TEST(ToolHelpProcesses, ListsAndOpensTheChildUntilItEnds) {
    SystemProbe probe;
    ASSERT_EQ(probe.listProcesses, ListProcessesToolHelp);
    ChildProcess child;
    ASSERT_TRUE(child.Start());
    StepCounter counter;
    OwnedTable table;
    ASSERT_EQ(probe.ListProcesses(table.get(), counter.Window()), 0u);
    EXPECT_EQ(static_cast<size_t>(counter.TakeSteps()), table.size());
    EXPECT_STREQ(ProcessName(table.get(), child.Id()), "processes_helper.exe");

    // Running: it opens and its exit code is unset, also asked with rights that do not
    // allow the query (Wine grants every process any). Ended while a handle still holds
    // it: it opens, but it has ended; then gone from the snapshot.
    const uint32_t id = child.Id();
    EXPECT_TRUE(CanOpenProcess(id) && IsProcessRunning(&probe, id) && IsProcessRunning(&probe, id, SYNCHRONIZE));
    EXPECT_TRUE(IsProcessRunning(nullptr, id));
    HANDLE ending = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
    ASSERT_TRUE(ending && TerminateProcess(ending, 7));
    WaitForSingleObject(ending, 10000);
    EXPECT_FALSE(CanOpenProcess(id) || IsProcessRunning(&probe, id) || IsProcessRunning(nullptr, id));
    CloseHandle(ending);
    child.End();
    EXPECT_FALSE(IsProcessRunning(&probe, id, SYNCHRONIZE) || IsProcessRunning(nullptr, kNoSuchProcess));
    OwnedTable after, stopped;
    ASSERT_EQ(probe.ListProcesses(after.get(), nullptr), 0u);
    EXPECT_EQ(ProcessName(after.get(), id), nullptr);
    // A stop request ends the listing after the first process, when there is a progress window.
    StopRequest stop;
    BeginProgressTask(counter.Window(), L"", 0);  // a new task looks for the request at its first step
    counter.TakeSteps();
    EXPECT_EQ(probe.ListProcesses(stopped.get(), counter.Window()), kStoppedResult);
    EXPECT_EQ(stopped.size(), 1u);
    EXPECT_EQ(counter.TakeSteps(), 1);
}

TEST(PerfDataSystem, ConvertsNamesWithinTheBufferAndReadsTheRegistry) {
    const std::u16string idle = u"Idle", longName(300, u'a');
    const struct { const std::u16string& name; size_t outSize; std::string expected; } cases[] = {
        {longName, kProcessNameSize, std::string(kProcessNameSize - 1, 'a')}, {idle, 4, "Idl"}, {idle, 1, ""}};
    for (const auto& c : cases) {
        std::string out(c.outSize + 1, 'x');
        PerfNameToAnsi(reinterpret_cast<const uint16_t*>(c.name.data()), c.name.size(), &out[0], c.outSize);
        EXPECT_EQ(out.c_str(), c.expected);
        EXPECT_EQ(out.back(), 'x') << c.expected;
    }
    SystemProbe probe;
    PerfDataSystem system;
    OpenPerfDataSystem(&system, &probe);
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
