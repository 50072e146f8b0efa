// The platform binding under Wine: the ToolHelp binding of the default Wine version,
// the neutral answers of empty slots, and, in a copy of this program started after
// the prefix was set to report Windows .NET Server (5.2), the psapi binding with its
// module operations and the performance-data listing, which Wine cannot serve.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "inspect/os_family.h"
#include "inspect/win/modules_win.h"
#include "inspect/win/os_family_win.h"
#include "inspect/win/processes_win.h"
#include "inspect/win/system_probe.h"
#include "tests/inspect/win/processes_child.h"

namespace {

using probetest::ChildProcess;
using probetest::ModuleHandleOf;
using probetest::OwnedTable;
using probetest::ReportFile;
using probetest::StepCounter;
using probetest::StopRequest;
using probetest::Upper;

constexpr char kChildReportVariable[] = "KORVANE_PROBE_CHILD_REPORT";

std::string TakeText(char* text) {
    std::string copy = text ? text : "";
    std::free(text);
    return copy;
}

TEST(SystemProbeBinding, DefaultWineVersionBindsToolHelp) {
    ASSERT_EQ(DetectOsFamily(nullptr, nullptr), kOsWin32);
    SystemProbe probe;

    EXPECT_EQ(probe.processLibrary, GetModuleHandleA("kernel32.dll"));
    EXPECT_NE(probe.ipLibrary, nullptr);
    EXPECT_EQ(probe.ipLibrary, GetModuleHandleA("iphlpapi.dll"));
    EXPECT_EQ(probe.driverDevice, INVALID_HANDLE_VALUE);
    EXPECT_EQ(probe.driverPreinstalled, 0);

    EXPECT_EQ(probe.listProcesses, ListProcessesToolHelp);
    EXPECT_EQ(probe.listModules, ListModulesToolHelp);
    EXPECT_EQ(probe.countProcessItems, CountProcessItemsToolHelp);
    EXPECT_EQ(probe.findModulePath, FindModulePathToolHelp);
    EXPECT_EQ(probe.writeProcessBlock, WriteProcessBlockToolHelp);
    EXPECT_EQ(probe.scanAutoruns, nullptr);
    EXPECT_EQ(probe.getUdpConnectionTable, nullptr);
    EXPECT_EQ(probe.getTcpConnectionTable, nullptr);

    EXPECT_NE(probe.createToolhelp32Snapshot, nullptr);
    EXPECT_NE(probe.process32First, nullptr);
    EXPECT_NE(probe.process32Next, nullptr);
    EXPECT_NE(probe.module32First, nullptr);
    EXPECT_NE(probe.module32Next, nullptr);
    EXPECT_EQ(probe.enumProcessModules, nullptr);
    EXPECT_EQ(probe.enumProcessModulesEx, nullptr);
    EXPECT_EQ(probe.getModuleFileNameExA, nullptr);
    EXPECT_EQ(probe.getProcessMemoryInfo, nullptr);
    EXPECT_EQ(probe.getModuleInformation, nullptr);

    // This family looks up only the plain connection-table calls.
    EXPECT_NE(probe.allocateAndGetTcpTableFromStack, nullptr);
    EXPECT_NE(probe.allocateAndGetUdpTableFromStack, nullptr);
    EXPECT_EQ(probe.allocateAndGetTcpExTableFromStack, nullptr);
    EXPECT_EQ(probe.allocateAndGetUdpExTableFromStack, nullptr);

    // The entry points that were not bound answer 0.
    DWORD needed = 7;
    HMODULE handles[4];
    EXPECT_FALSE(probe.EnumProcessModules(GetCurrentProcess(), handles, sizeof handles, &needed));

    void* table = nullptr;
    EXPECT_FALSE(probe.QueryTcpTable(&table, nullptr));
    EXPECT_FALSE(probe.QueryUdpTable(&table, nullptr));
    EXPECT_EQ(table, nullptr);
}

TEST(SystemProbeBinding, EmptySlotsAnswerNeutralValues) {
    SystemProbe probe;
    probe.Teardown();
    EXPECT_EQ(probe.processLibrary, nullptr);
    EXPECT_EQ(probe.ipLibrary, nullptr);
    EXPECT_EQ(probe.listProcesses, nullptr);
    EXPECT_EQ(probe.createToolhelp32Snapshot, nullptr);

    OwnedTable table;
    EXPECT_EQ(probe.ListProcesses(table.get(), nullptr), 1u);
    EXPECT_EQ(probe.ListModules(0, table.get(), nullptr), 0u);
    EXPECT_EQ(FirstEntry(table.get()), nullptr);
    EXPECT_EQ(probe.CountProcessItems(1), 0u);
    const ModulePathResult path = probe.FindModulePath(GetCurrentProcessId(), GetModuleHandleA(nullptr));
    EXPECT_EQ(path.length, 0u);
    EXPECT_STREQ(path.path, "");

    ReportFile report;
    ASSERT_NE(report.Stream(), nullptr);
    EXPECT_EQ(probe.ScanAutoruns(nullptr, report.Stream()), 0u);
    EXPECT_EQ(probe.WriteProcessBlock(GetCurrentProcessId(), report.Stream(), "x.exe", nullptr), 0u);
    EXPECT_TRUE(report.Lines().empty());

    void* rows = nullptr;
    EXPECT_EQ(probe.GetTcpConnectionTable(nullptr, &rows, TRUE, GetProcessHeap(), 2, 2), kConnectionTableUnavailable);
    EXPECT_EQ(probe.GetUdpConnectionTable(nullptr, &rows, TRUE, GetProcessHeap(), 2, 2), kConnectionTableUnavailable);
    EXPECT_FALSE(probe.QueryTcpTable(&rows, nullptr));
    EXPECT_FALSE(probe.QueryUdpTable(&rows, nullptr));
    EXPECT_EQ(rows, nullptr);
    // A missing snapshot function answers 0, not INVALID_HANDLE_VALUE.
    EXPECT_EQ(probe.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0), nullptr);

    // Binding again fills the slots once more.
    probe.Initialize();
    EXPECT_EQ(probe.listProcesses, ListProcessesToolHelp);
    OwnedTable again;
    EXPECT_EQ(probe.ListProcesses(again.get(), nullptr), 0u);
    EXPECT_NE(FirstEntry(again.get()), nullptr);
}

// ---- The NT binding, in a copy of this program that sees Windows 5.2 ----------------

// Sets HKCU\Software\Wine\Version for the life of the object and puts back what was
// there before (or removes the value) on every way out.
class WineVersionOverride {
public:
    explicit WineVersionOverride(const char* version) {
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine", 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key_,
                            nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        DWORD type = 0;
        DWORD size = sizeof saved_;
        hadValue_ = RegQueryValueExA(key_, "Version", nullptr, &type, reinterpret_cast<BYTE*>(saved_), &size) ==
                    ERROR_SUCCESS;
        savedType_ = type;
        savedSize_ = size;
        set_ = RegSetValueExA(key_, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                              static_cast<DWORD>(std::strlen(version) + 1)) == ERROR_SUCCESS;
    }
    ~WineVersionOverride() {
        if (!key_) return;
        if (hadValue_) {
            RegSetValueExA(key_, "Version", 0, savedType_, reinterpret_cast<const BYTE*>(saved_), savedSize_);
        } else {
            RegDeleteValueA(key_, "Version");
        }
        RegCloseKey(key_);
    }
    bool Set() const { return set_; }

private:
    HKEY key_ = nullptr;
    bool hadValue_ = false;
    bool set_ = false;
    DWORD savedType_ = 0;
    DWORD savedSize_ = 0;
    char saved_[256] = {};
};

std::string ReadVersionValue() {
    char value[256] = {};
    DWORD size = sizeof value - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, "Software\\Wine", "Version", RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
        return "<none>";
    }
    return value;
}

// Runs this program's NT-binding tests in a new process; its exit code, -1 when it
// could not be started or did not end in time.
long RunChildTests(const std::string& reportPath) {
    const std::string own = probetest::OwnPath();
    std::string commandLine =
        "\"" + own + "\" --gtest_also_run_disabled_tests --gtest_filter=SystemProbeNtChild.*";
    SetEnvironmentVariableA(kChildReportVariable, reportPath.c_str());
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    ZeroMemory(&info, sizeof info);
    const BOOL started =
        CreateProcessA(own.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
    SetEnvironmentVariableA(kChildReportVariable, nullptr);
    if (!started) return -1;
    long code = -1;
    if (WaitForSingleObject(info.hProcess, 180000) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        if (GetExitCodeProcess(info.hProcess, &exitCode)) code = static_cast<long>(exitCode);
    } else {
        TerminateProcess(info.hProcess, 99);
        WaitForSingleObject(info.hProcess, 10000);
    }
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return code;
}

TEST(SystemProbeBinding, WindowsDotNetServerBindsPsapi) {
    const std::string before = ReadVersionValue();
    char folder[MAX_PATH] = {};
    char reportPath[MAX_PATH] = {};
    ASSERT_TRUE(GetTempPathA(MAX_PATH, folder));
    ASSERT_TRUE(GetTempFileNameA(folder, "kpc", 0, reportPath));
    long code;
    {
        WineVersionOverride version("winxp64");
        ASSERT_TRUE(version.Set());
        code = RunChildTests(reportPath);
    }
    EXPECT_EQ(ReadVersionValue(), before);
    // The version is read at process start: this process keeps the default.
    EXPECT_EQ(DetectOsFamily(nullptr, nullptr), kOsWin32);

    std::ifstream file(reportPath);
    std::stringstream seen;
    seen << file.rdbuf();
    file.close();
    DeleteFileA(reportPath);
    EXPECT_EQ(code, 0) << seen.str();
    // What the child saw: the NT binding, and the performance-data listing failing
    // because Wine's performance data has no process object.
    EXPECT_EQ(seen.str(), "family=15\nlistProcesses=1\ncountProcessItems=0\nmodules=ok\n");
}

// Appends one observation to the file the parent named; false when not run by the parent.
bool Observe(const std::string& line) {
    const char* path = std::getenv(kChildReportVariable);
    if (!path || !*path) return false;
    FILE* file = std::fopen(path, "ab");
    if (!file) return false;
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
    return true;
}

class SystemProbeNtChild : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv(kChildReportVariable)) GTEST_SKIP() << "run by SystemProbeBinding only";
    }
};

TEST_F(SystemProbeNtChild, DISABLED_Binding) {
    const int32_t family = DetectOsFamily(nullptr, nullptr);
    ASSERT_TRUE(Observe("family=" + std::to_string(family)));
    ASSERT_EQ(family, kOsWindowsDotNet);

    SystemProbe probe;
    EXPECT_EQ(probe.processLibrary, GetModuleHandleA("psapi.dll"));
    EXPECT_NE(probe.processLibrary, nullptr);
    EXPECT_EQ(probe.listProcesses, ListProcessesPerfData);
    EXPECT_EQ(probe.listModules, ListModulesPsapi);
    EXPECT_EQ(probe.countProcessItems, CountProcessItemsPerfData);
    EXPECT_EQ(probe.findModulePath, FindModulePathPsapi);
    EXPECT_EQ(probe.writeProcessBlock, WriteProcessBlockPsapi);
    EXPECT_NE(probe.enumProcessModules, nullptr);
    EXPECT_NE(probe.enumProcessModulesEx, nullptr);
    EXPECT_NE(probe.getModuleFileNameExA, nullptr);
    EXPECT_NE(probe.getProcessMemoryInfo, nullptr);
    EXPECT_NE(probe.getModuleInformation, nullptr);
    EXPECT_EQ(probe.createToolhelp32Snapshot, nullptr);
    EXPECT_EQ(probe.process32First, nullptr);
    EXPECT_EQ(probe.module32First, nullptr);
    // Wine exports the Ex call for TCP only: the plain TCP call is not looked up, the
    // plain UDP call is.
    EXPECT_NE(probe.allocateAndGetTcpExTableFromStack, nullptr);
    EXPECT_EQ(probe.allocateAndGetTcpTableFromStack, nullptr);
    EXPECT_EQ(probe.allocateAndGetUdpExTableFromStack, nullptr);
    EXPECT_NE(probe.allocateAndGetUdpTableFromStack, nullptr);
    EXPECT_EQ(probe.driverDevice, INVALID_HANDLE_VALUE);

    OwnedTable processes;
    const uint32_t listed = probe.ListProcesses(processes.get(), nullptr);
    Observe("listProcesses=" + std::to_string(listed));
    EXPECT_EQ(FirstEntry(processes.get()), nullptr);
    Observe("countProcessItems=" + std::to_string(probe.CountProcessItems(1)));
}

TEST_F(SystemProbeNtChild, DISABLED_PsapiModules) {
    SystemProbe probe;
    ASSERT_EQ(probe.listModules, ListModulesPsapi);
    ChildProcess child;
    ASSERT_TRUE(child.Start());
    const std::string childPath = Upper(child.Path());
    const std::string dllPath = Upper(probetest::SystemFile(probetest::kChildDll));

    OwnedTable modules;
    ASSERT_EQ(probe.ListModules(child.Id(), modules.get(), nullptr), 0u);
    const std::vector<std::string> paths = probetest::TableValues(modules.get());
    ASSERT_FALSE(paths.empty());
    EXPECT_EQ(paths.front(), childPath);
    HMODULE dll = ModuleHandleOf(modules.get(), dllPath);
    ASSERT_NE(dll, nullptr);

    OwnedTable own;
    ASSERT_EQ(probe.ListModules(0, own.get(), nullptr), 0u);
    EXPECT_EQ(ModuleHandleOf(own.get(), Upper(probetest::OwnPath())), GetModuleHandleA(nullptr));
    EXPECT_EQ(ModuleHandleOf(own.get(), dllPath), nullptr);

    const ModulePathResult found = probe.FindModulePath(child.Id(), dll);
    EXPECT_EQ(Upper(found.path), dllPath);
    EXPECT_EQ(found.length, std::strlen(found.path));
    const HMODULE inside = reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(dll) + 0x1000);
    EXPECT_EQ(probe.FindModulePath(child.Id(), inside).length, 0u);

    EXPECT_EQ(Upper(TakeText(probe.GetProcessImagePath(nullptr, child.Id()))), childPath);

    // What the performance-data count adds per process: its module handles.
    PerfDataSystem system;
    OpenPerfDataSystem(&system, &probe);
    const PerfDataOps ops = SystemPerfDataOps(&system);
    EXPECT_EQ(ops.countModules(ops.context, child.Id()), paths.size());
    EXPECT_EQ(ops.countModules(ops.context, 0x3FFFFFFCu), 0u);
    ClosePerfDataSystem(&system);

    // The psapi block ends with an empty separator line.
    {
        ReportFile report;
        ASSERT_NE(report.Stream(), nullptr);
        ASSERT_EQ(probe.WriteProcessBlock(child.Id(), report.Stream(), "processes_helper.exe", nullptr), 0u);
        const std::vector<std::string> lines = report.Lines();
        ASSERT_EQ(lines.size(), paths.size() + 2);
        char head[64];
        std::snprintf(head, sizeof head, "04008019|PROCESS|processes_helper.exe|%x||||||",
                      static_cast<unsigned>(child.Id()));
        EXPECT_EQ(lines.front(), head);
        for (size_t i = 1; i + 1 < lines.size(); ++i) {
            EXPECT_EQ(lines[i].compare(0, 16, "04008012|MODULE|"), 0) << lines[i];
        }
        EXPECT_EQ(Upper(lines[1].substr(16, childPath.size())), childPath);
        EXPECT_EQ(lines.back(), "--------|");
    }

    // Stopped after the first module; no separator follows.
    {
        StepCounter counter;
        ASSERT_NE(counter.Window(), nullptr);
        StopRequest stop;
        OwnedTable stopped;
        EXPECT_EQ(probe.ListModules(0, stopped.get(), counter.Window()), static_cast<uint32_t>(JobCancelled));
        EXPECT_EQ(probetest::TableValues(stopped.get()).size(), 1u);
    }

    // A process that has ended writes nothing at all.
    const uint32_t id = child.Id();
    child.End();
    ReportFile gone;
    ASSERT_NE(gone.Stream(), nullptr);
    EXPECT_EQ(probe.WriteProcessBlock(id, gone.Stream(), "gone.exe", nullptr), 1u);
    EXPECT_TRUE(gone.Lines().empty());
    OwnedTable none;
    EXPECT_EQ(probe.ListModules(id, none.get(), nullptr), 1u);
    Observe(HasFailure() ? "modules=failed" : "modules=ok");
}

}  // namespace
