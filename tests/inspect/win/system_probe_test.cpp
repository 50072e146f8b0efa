// The platform binding under Wine: ToolHelp on the default version, psapi on 5.2 (in a
// second run of this program), and the neutral answers of empty slots.
#include <gtest/gtest.h>

#include "inspect/os_family.h"
#include "inspect/win/modules_win.h"
#include "inspect/win/os_family_win.h"
#include "inspect/win/processes_win.h"
#include "inspect/win/system_probe.h"
#include "tests/inspect/win/processes_child.h"

namespace {

using namespace probetest;

TEST(SystemProbeBinding, BindsTheRoutesOfTheOsFamily) {
    ASSERT_EQ(DetectOsFamily(nullptr, nullptr), ExpectedFamily());
    const bool psapi = ExpectedFamily() == kOsWindowsDotNet;
    SystemProbe probe;
    EXPECT_TRUE(probe.processLibrary && probe.ipLibrary);
    EXPECT_EQ(probe.processLibrary, GetModuleHandleA(psapi ? "psapi.dll" : "kernel32.dll"));
    EXPECT_EQ(probe.ipLibrary, GetModuleHandleA("iphlpapi.dll"));
    // The NT family opens the driver's device, installing the driver from the resources.
    EXPECT_EQ(probe.driverDevice != INVALID_HANDLE_VALUE, psapi);
    EXPECT_EQ(probe.listProcesses, psapi ? ListProcessesPerfData : ListProcessesToolHelp);
    EXPECT_EQ(probe.listModules, psapi ? ListModulesPsapi : ListModulesToolHelp);
    EXPECT_EQ(probe.countProcessItems, psapi ? CountProcessItemsPerfData : CountProcessItemsToolHelp);
    EXPECT_EQ(probe.findModulePath, psapi ? FindModulePathPsapi : FindModulePathToolHelp);
    EXPECT_EQ(probe.writeProcessBlock, psapi ? WriteProcessBlockPsapi : WriteProcessBlockToolHelp);
    const bool toolHelp[] = {probe.createToolhelp32Snapshot != nullptr, probe.process32First != nullptr,
                             probe.process32Next != nullptr, probe.module32First != nullptr,
                             probe.module32Next != nullptr};
    const bool psapiEntries[] = {probe.enumProcessModules != nullptr, probe.enumProcessModulesEx != nullptr,
                                 probe.getModuleFileNameExA != nullptr, probe.getProcessMemoryInfo != nullptr,
                                 probe.getModuleInformation != nullptr};
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(toolHelp[i], !psapi);
        EXPECT_EQ(psapiEntries[i], psapi);
    }
    // The NT family prefers the Ex table calls, which Wine exports for TCP only.
    EXPECT_EQ(probe.allocateAndGetTcpExTableFromStack != nullptr, psapi);
    EXPECT_EQ(probe.allocateAndGetTcpTableFromStack != nullptr, !psapi);
    EXPECT_EQ(probe.allocateAndGetUdpExTableFromStack, nullptr);
    EXPECT_NE(probe.allocateAndGetUdpTableFromStack, nullptr);
    DWORD needed = 0;
    HMODULE handles[4];
    EXPECT_EQ(probe.EnumProcessModules(GetCurrentProcess(), handles, sizeof handles, &needed) != FALSE, psapi);
    // Wine's performance data has no Process object: the psapi route lists nothing.
    OwnedTable table;
    EXPECT_EQ(probe.ListProcesses(table.get(), nullptr), psapi ? 1u : 0u);
    EXPECT_EQ(table.size() > 0, !psapi);
    EXPECT_EQ(probe.CountProcessItems(1) > 0, !psapi);
}

TEST(SystemProbeBinding, BindsPsapiUnderWindowsDotNetServer) {
    EXPECT_EQ(RunUnderWinXp64("SystemProbeBinding.BindsTheRoutesOfTheOsFamily"), 1);
}

TEST(SystemProbeBinding, EmptySlotsAnswerNeutralValuesUntilBoundAgain) {
    SystemProbe probe;
    probe.Teardown();
    EXPECT_FALSE(probe.processLibrary || probe.ipLibrary || probe.listProcesses || probe.createToolhelp32Snapshot);
    OwnedTable table;
    EXPECT_EQ(probe.ListProcesses(table.get(), nullptr), 1u);
    EXPECT_EQ(probe.ListModules(0, table.get(), nullptr), 0u);
    EXPECT_EQ(table.size(), 0u);
    EXPECT_EQ(probe.CountProcessItems(1), 0u);
    const ModulePathResult path = probe.FindModulePath(GetCurrentProcessId(), GetModuleHandleA(nullptr));
    EXPECT_EQ(path.length, 0u);
    EXPECT_STREQ(path.path, "");
    EXPECT_EQ(probe.ScanAutoruns(nullptr, nullptr), 0u);
    Lines lines;
    EXPECT_EQ(WriteBlock(probe, GetCurrentProcessId(), "x.exe", nullptr, &lines), 0u);
    EXPECT_TRUE(lines.empty());
    void* rows = nullptr;
    EXPECT_EQ(probe.GetTcpConnectionTable(nullptr, &rows, TRUE, GetProcessHeap(), 2, 2), kConnectionTableUnavailable);
    EXPECT_EQ(probe.GetUdpConnectionTable(nullptr, &rows, TRUE, GetProcessHeap(), 2, 2), kConnectionTableUnavailable);
    EXPECT_FALSE(probe.QueryTcpTable(&rows, nullptr) || probe.QueryUdpTable(&rows, nullptr));
    EXPECT_EQ(rows, nullptr);
    EXPECT_EQ(probe.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0), nullptr);  // not INVALID_HANDLE_VALUE

    probe.Initialize();
    EXPECT_EQ(probe.ListProcesses(table.get(), nullptr), 0u);
    EXPECT_GT(table.size(), 0u);
}

}  // namespace
