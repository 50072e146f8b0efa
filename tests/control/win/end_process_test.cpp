// Ending processes under Wine: korvane.exe ends child processes this test started and
// strikes their items through; a process that survives (Wine opens every process, so a
// refusing open stands in for one the user may not end) keeps its images and gets its
// modules again; and the service branch stops the service that runs from the image and
// no other.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "control/win/end_process.h"
#include "control/win/locked_module.h"
#include "autorun/win/registry_win.h"
#include "inspect/win/processes_win.h"
#include "inspect/win/system_probe.h"
#include "resources/resource.h"
#include "tests/support/korvane_program.h"
#include "tests/support/probe_test_util.h"
#include "ui/controls.h"

namespace {

using probetest::ChildProcess;
using testutil::KorvaneProgram;

HANDLE WINAPI RefuseOpen(DWORD, BOOL, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

HTREEITEM ItemOf(const KorvaneProgram& program, uint32_t processId) {
    for (HTREEITEM item : program.Children(nullptr)) {
        if (static_cast<uint32_t>(program.Read(item).data) == processId) return item;
    }
    return nullptr;
}

// The state images of a process item and its children, the searched DLL's child first.
std::vector<UINT> Images(const KorvaneProgram& program, HTREEITEM process, const std::wstring& dll) {
    std::vector<UINT> images = {program.StateImage(process), 0};
    for (HTREEITEM module : program.Children(process)) {
        if (program.Read(module).text == dll) images[1] = program.StateImage(module);
        else images.push_back(program.StateImage(module));
    }
    return images;
}

// A gone process holding the DLL: its image, the DLL's 7 and 4 for every other module.
void ExpectStruckThrough(const std::vector<UINT>& images, UINT process) {
    ASSERT_GT(images.size(), 3u);
    EXPECT_EQ(images[0], process);
    EXPECT_EQ(images[1], 7u);
    for (size_t i = 2; i < images.size(); ++i) EXPECT_EQ(images[i], 4u) << "module " << i;
}

TEST(EndProcessCommand, KorvaneStrikesThroughTheProcessesItEnded) {
    testutil::Watchdog watchdog(240000);
    ChildProcess first, second;
    ASSERT_TRUE(first.Start() && second.Start());
    const std::string dllPath = probetest::SystemFile(probetest::kChildDll);
    const std::wstring upperDll = Wide(probetest::Upper(dllPath));
    KorvaneProgram program;
    ASSERT_TRUE(program.Start());
    HTREEITEM firstItem = ItemOf(program, first.Id()), secondItem = ItemOf(program, second.Id());
    ASSERT_TRUE(firstItem && secondItem);

    // Both children hold the DLL: the search marks them (1) and the DLL under each (3).
    program.Post(IDC_LOCKED_DLL);
    HWND search = program.WaitForDialog();
    ASSERT_NE(search, nullptr);
    SetDlgItemTextW(search, IDC_DLL_NAME, Wide(dllPath).c_str());
    PostMessageW(search, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(program.WaitIdle());
    ASSERT_EQ(program.StateImage(firstItem), 1u);

    // The collapsed first process selected by its own item: 1 becomes 5; the expanded
    // second by its DLL's item: 2 becomes 6. The DLL becomes 7, every other module 4.
    const struct {
        const ChildProcess* child;
        HTREEITEM item;
        bool byModule;
        UINT gone;
    } runs[] = {{&first, firstItem, false, 5}, {&second, secondItem, true, 6}};
    for (const auto& run : runs) {
        HTREEITEM selected = run.item;
        if (run.byModule) {
            program.Expand(run.item);
            ASSERT_EQ(program.StateImage(run.item), 2u);
            selected = program.Find(run.item, upperDll);
            ASSERT_NE(selected, nullptr);
        }
        program.Select(selected);
        program.Post(ID_EDIT_END_PROCESS);
        ASSERT_TRUE(program.WaitIdle());
        EXPECT_FALSE(CanOpenProcess(run.child->Id()));
        ExpectStruckThrough(Images(program, run.item, upperDll), run.gone);
    }
    EXPECT_TRUE(program.Close());
}

// A tree of the test's own holding items of a child process.
struct OwnTree : TreeRef {
    OwnTree() { hwnd = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr); }
    ~OwnTree() { DestroyWindow(hwnd); }
    HTREEITEM Insert(uint32_t processId, bool children) const {
        TVINSERTSTRUCTW insert = {};
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_PARAM | TVIF_CHILDREN;
        insert.item.lParam = processId;
        insert.item.cChildren = children ? 1 : 0;
        return reinterpret_cast<HTREEITEM>(SendMessageW(hwnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    }
    std::vector<UINT> Images(HTREEITEM item) const {
        std::vector<UINT> images;
        for (HTREEITEM c = GetChildItem(item); c; c = GetNextSiblingItem(c)) images.push_back(GetStateImage(c));
        return images;
    }
    // Deletes every child but the first; how many there were.
    size_t KeepOneChild(HTREEITEM item) const {
        size_t count = GetChildItem(item) ? 1 : 0;
        while (HTREEITEM c = GetChildItem(item) ? GetNextSiblingItem(GetChildItem(item)) : nullptr) {
            if (!DeleteItem(c)) break;
            ++count;
        }
        return count;
    }
};

TEST(EndProcessCommand, ASurvivorKeepsItsImagesAndGetsItsModulesAgain) {
    testutil::Watchdog watchdog(60000);
    InstallApplicationTableHooks();
    SystemProbe probe;
    ChildProcess child;
    ASSERT_TRUE(child.Start());
    OwnTree tree;
    char searched[kSearchedPathSize];
    ASSERT_TRUE(UpperShortPath(probetest::SystemFile(probetest::kChildDll).c_str(), searched));

    // Expanded and holding the DLL (2), one module item left: after the refused end it
    // still holds (2) and has all its modules again, the DLL marked (3).
    HTREEITEM item = tree.Insert(child.Id(), true);
    uint32_t result = 1;
    AddModuleItems(&probe, tree.hwnd, item, 0, false, nullptr, &result);
    const size_t modules = tree.KeepOneChild(item);
    ASSERT_TRUE(result == 0 && modules >= 3);
    TreeView_Expand(tree.hwnd, item, TVE_EXPAND);
    tree.SetStateImage(item, 2);
    tree.SelectItem(item);
    EndSelectedProcess(&probe, tree.hwnd, searched, RefuseOpen);
    EXPECT_TRUE(CanOpenProcess(child.Id()));
    EXPECT_TRUE(tree.GetStateImage(item) == 2 && tree.IsExpanded(item) && tree.ItemHasChildren(item));
    std::vector<UINT> images = tree.Images(item);
    EXPECT_EQ(images.size(), modules);
    EXPECT_EQ(std::count(images.begin(), images.end(), 3u), 1);
    EXPECT_EQ(std::count(images.begin(), images.end(), 0u), static_cast<long>(modules) - 1);

    // Collapsed, it keeps even the one module item left.
    TreeView_Expand(tree.hwnd, item, TVE_COLLAPSE);
    tree.KeepOneChild(item);
    EndSelectedProcess(&probe, tree.hwnd, searched, RefuseOpen);
    EXPECT_EQ(tree.Images(item), std::vector<UINT>{0});

    // A root item without the children flag is no process item: nothing is ended.
    tree.SelectItem(tree.Insert(child.Id(), false));
    EndSelectedProcess(&probe, tree.hwnd, searched);
    EXPECT_TRUE(CanOpenProcess(child.Id()));
}

// A service of the test prefix that runs service_helper.exe from the given path, started;
// stopped and deleted with the object (and first, when an earlier run left it behind).
struct TestService {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), service = nullptr;
    TestService(const char* name, const std::string& program) {
        Remove(OpenServiceA(manager, name, SERVICE_ALL_ACCESS));
        service = CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, ("\"" + program + "\"").c_str(), nullptr,
                                 nullptr, nullptr, nullptr, nullptr);
        if (service && StartServiceA(service, 0, nullptr)) WaitFor(SERVICE_RUNNING);
    }
    ~TestService() {
        Remove(service);
        CloseServiceHandle(manager);
    }
    SERVICE_STATUS_PROCESS Status(SC_HANDLE of = nullptr) const {
        SERVICE_STATUS_PROCESS status = {};
        DWORD size = 0;
        QueryServiceStatusEx(of ? of : service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                             sizeof status, &size);
        return status;
    }
    bool WaitFor(DWORD state, SC_HANDLE of = nullptr) const {
        for (const DWORD start = GetTickCount(); GetTickCount() - start < 20000; Sleep(50)) {
            if (Status(of).dwCurrentState == state) return true;
        }
        return false;
    }
    void Remove(SC_HANDLE which) const {
        if (!which) return;
        SERVICE_STATUS status = {};
        if (ControlService(which, SERVICE_CONTROL_STOP, &status)) WaitFor(SERVICE_STOPPED, which);
        DeleteService(which);
        CloseServiceHandle(which);
    }
};

TEST(EndProcessServices, TheServiceOfTheImageStopsAndAnotherKeepsRunning) {
    testutil::Watchdog watchdog(120000);
    InstallApplicationTableHooks();
    SystemProbe probe;
    const std::string own = probetest::OwnPath();
    const std::string program = own.substr(0, own.rfind('\\') + 1) + "service_helper.exe";
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

// Service image paths are read whole: a value stored without its terminator, one longer
// than a path, and their expansion; what is no string is no text.
TEST(RegistryText, ReadsStringValuesWholeAndExpandsThem) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KorvaneTest", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    const std::string exact = "%SystemRoot%\\no-terminator.exe", longer = "%SystemRoot%\\" + std::string(600, 'x');
    const DWORD number = 7;
    RegSetValueExA(key, "exact", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(exact.data()), exact.size());
    RegSetValueExA(key, "long", 0, REG_SZ, reinterpret_cast<const BYTE*>(longer.c_str()), longer.size() + 1);
    RegSetValueExA(key, "number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    char root[MAX_PATH] = {};
    GetEnvironmentVariableA("SystemRoot", root, MAX_PATH);
    for (const auto& [name, stored] : {std::pair<const char*, std::string>{"exact", exact}, {"long", longer}}) {
        char* text = ReadRegistryText(key, name);
        ASSERT_NE(text, nullptr) << name;
        EXPECT_EQ(text, stored);
        char* expanded = ExpandEnvironmentText(text);
        EXPECT_EQ(expanded ? expanded : "", root + stored.substr(12)) << name;
        std::free(text);
        std::free(expanded);
    }
    EXPECT_EQ(ReadRegistryText(key, "number"), nullptr);
    EXPECT_EQ(ReadRegistryText(key, "missing"), nullptr);
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\KorvaneTest");
}

}  // namespace
