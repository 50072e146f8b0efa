// Ending processes under Wine, beyond what korvane.exe's end-to-end test shows: a process
// that survives (Wine opens every process, so a refusing open stands in for one the user
// may not end) gets its modules again; the service branch stops the service that runs
// from the image and no other; service image paths are read whole.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "autorun/win/registry_win.h"
#include "control/win/end_process.h"
#include "control/win/locked_module.h"
#include "inspect/win/processes_win.h"
#include "inspect/win/system_probe.h"
#include "tests/support/probe_test_util.h"
#include "tests/support/window_test_util.h"
#include "ui/controls.h"

namespace {

HANDLE WINAPI RefuseOpen(DWORD, BOOL, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

// An expanded process item holding the DLL (2) with one module item left: after a
// refused end the process still holds (2) and has all its modules again, the DLL marked.
TEST(EndProcessCommand, ASurvivorKeepsItsImagesAndGetsItsModulesAgain) {
    testutil::Watchdog watchdog(60000);
    InstallApplicationTableHooks();
    SystemProbe probe;
    probetest::ChildProcess child;
    ASSERT_TRUE(child.Start());
    char searched[kSearchedPathSize];
    ASSERT_TRUE(UpperShortPath(probetest::SystemFile(probetest::kChildDll).c_str(), searched));
    TreeRef tree;
    tree.hwnd = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr);
    TVINSERTSTRUCTW insert = {};
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_PARAM | TVIF_CHILDREN;
    insert.item.lParam = child.Id();
    insert.item.cChildren = 1;
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree.hwnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    uint32_t result = 1;
    AddModuleItems(&probe, tree.hwnd, item, 0, false, nullptr, &result);
    size_t modules = 1;
    for (HTREEITEM c; (c = tree.GetNextSiblingItem(tree.GetChildItem(item))) && tree.DeleteItem(c);) ++modules;
    ASSERT_TRUE(result == 0 && modules >= 3);
    TreeView_Expand(tree.hwnd, item, TVE_EXPAND);
    tree.SetStateImage(item, 2);
    tree.SelectItem(item);
    EndSelectedProcess(&probe, tree.hwnd, searched, RefuseOpen);
    EXPECT_TRUE(CanOpenProcess(child.Id()));
    EXPECT_TRUE(tree.GetStateImage(item) == 2 && tree.IsExpanded(item));
    std::vector<UINT> images;
    for (HTREEITEM c = tree.GetChildItem(item); c; c = tree.GetNextSiblingItem(c)) images.push_back(tree.GetStateImage(c));
    EXPECT_EQ(images.size(), modules);
    EXPECT_EQ(std::count(images.begin(), images.end(), 3u), 1);
    EXPECT_EQ(std::count(images.begin(), images.end(), 0u), static_cast<long>(modules) - 1);
    DestroyWindow(tree.hwnd);
}

// A started service of the test prefix running service_helper.exe from program; stopped
// and deleted with the object (and first, when an earlier run left it behind).
struct TestService {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), service = nullptr;
    TestService(const char* name, const std::string& program) {
        Remove(OpenServiceA(manager, name, SERVICE_ALL_ACCESS));
        service = CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                 SERVICE_ERROR_IGNORE, ("\"" + program + "\"").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        if (service && StartServiceA(service, 0, nullptr)) WaitFor(SERVICE_RUNNING);
    }
    ~TestService() { Remove(service), CloseServiceHandle(manager); }
    SERVICE_STATUS_PROCESS Status(SC_HANDLE of = nullptr) const {
        SERVICE_STATUS_PROCESS status = {};
        DWORD size = 0;
        QueryServiceStatusEx(of ? of : service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status, &size);
        return status;
    }
    bool WaitFor(DWORD state, SC_HANDLE of = nullptr) const {
        for (const DWORD start = GetTickCount(); GetTickCount() - start < 20000; Sleep(50)) {
            if (Status(of).dwCurrentState == state) return true;
        }
        return false;
    }
    void Remove(SC_HANDLE which) const {
        SERVICE_STATUS status = {};
        if (!which) return;
        if (ControlService(which, SERVICE_CONTROL_STOP, &status)) WaitFor(SERVICE_STOPPED, which);
        DeleteService(which);
        CloseServiceHandle(which);
    }
};

TEST(EndProcessServices, TheServiceOfTheImageStopsAndAnotherKeepsRunning) {
    testutil::Watchdog watchdog(120000);
    InstallApplicationTableHooks();
    SystemProbe probe;
    const std::string own = probetest::OwnPath(), program = own.substr(0, own.rfind('\\') + 1) + "service_helper.exe";
    const std::string copy = probetest::TempFile(), other = copy + ".exe";
    ASSERT_TRUE(CopyFileA(program.c_str(), other.c_str(), FALSE));
    {
        TestService ended("KorvaneTestEndedService", program), kept("KorvaneTestKeptService", other);
        ASSERT_EQ(ended.Status().dwCurrentState + kept.Status().dwCurrentState, 2u * SERVICE_RUNNING);
        EXPECT_EQ(EndProcess(&probe, ended.Status().dwProcessId, RefuseOpen), 1u);
        EXPECT_TRUE(ended.WaitFor(SERVICE_STOPPED));
        EXPECT_EQ(kept.Status().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    }
    for (int i = 0; i < 100 && !DeleteFileA(other.c_str()); ++i) Sleep(50);
    DeleteFileA(copy.c_str());
}

// A value stored without its terminator and one longer than a path are read whole and
// expanded; what is no string is no text.
TEST(RegistryText, ReadsStringValuesWholeAndExpandsThem) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KorvaneTest", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::string exact = "%SystemRoot%\\no-terminator.exe", longer = "%SystemRoot%\\" + std::string(600, 'x');
    const DWORD number = 7;
    RegSetValueExA(key, "exact", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(exact.data()), exact.size());
    RegSetValueExA(key, "long", 0, REG_SZ, reinterpret_cast<const BYTE*>(longer.c_str()), longer.size() + 1);
    RegSetValueExA(key, "number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    char root[MAX_PATH] = {};
    GetEnvironmentVariableA("SystemRoot", root, MAX_PATH);
    for (const auto& [name, stored] : {std::pair<const char*, std::string>{"exact", exact}, {"long", longer}}) {
        const std::string text = probetest::TakeText(ReadRegistryText(key, name));
        EXPECT_EQ(text, stored);
        EXPECT_EQ(probetest::TakeText(ExpandEnvironmentText(text.c_str())), root + stored.substr(12)) << name;
    }
    EXPECT_EQ(ReadRegistryText(key, "number"), nullptr);
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\KorvaneTest");
}

}  // namespace
