#include "control/win/end_process.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "control/end_process.h"
#include "control/state_images.h"
#include "control/win/locked_module.h"
#include "autorun/win/registry_win.h"
#include "inspect/win/process_state_win.h"
#include "inspect/win/processes_win.h"
#include "inspect/win/system_probe.h"
#include "ui/controls.h"

namespace {

constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";
// Services may start while they are listed: the list is asked for this often.
constexpr int kListAttempts = 4;

void LowerCase(char* text) { CharLowerBuffA(text, static_cast<DWORD>(std::strlen(text))); }

// The active Win32 services, in a malloc block of *count entries; null when none or on failure.
ENUM_SERVICE_STATUSA* ListActiveServices(SC_HANDLE manager, DWORD* count) {
    *count = 0;
    DWORD size = 0;
    for (int attempt = 0; attempt < kListAttempts; ++attempt) {
        auto* services = static_cast<ENUM_SERVICE_STATUSA*>(size ? std::malloc(size) : nullptr);
        if (size && !services) return nullptr;
        DWORD needed = 0, returned = 0, resume = 0;
        if (EnumServicesStatusA(manager, SERVICE_WIN32, SERVICE_ACTIVE, services, size, &needed, &returned,
                                &resume)) {
            *count = services ? returned : 0;
            return services;
        }
        std::free(services);
        // The bytes still needed beyond what fitted: a service started since the last ask.
        if (GetLastError() != ERROR_MORE_DATA || needed == 0) return nullptr;
        size += needed;
    }
    return nullptr;
}

// True when the service's image path (expanded, lower case) contains imagePath.
bool ServiceRunsImage(const char* serviceName, const char* imagePath) {
    char keyName[sizeof kServicesKey + 256];
    const int length = std::snprintf(keyName, sizeof keyName, "%s%s", kServicesKey, serviceName);
    if (length < 0 || static_cast<size_t>(length) >= sizeof keyName) return false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    char* stored = ReadRegistryText(key, "ImagePath");
    RegCloseKey(key);
    char* expanded = stored ? ExpandEnvironmentText(stored) : nullptr;
    std::free(stored);
    bool runs = false;
    if (expanded) {
        LowerCase(expanded);
        runs = std::strstr(expanded, imagePath) != nullptr;
    }
    std::free(expanded);
    return runs;
}

}  // namespace

uint32_t StopServicesOfImage(const char* imagePath) {
    if (!imagePath || !imagePath[0]) return 0;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return 0;
    DWORD count = 0;
    ENUM_SERVICE_STATUSA* services = ListActiveServices(manager, &count);
    uint32_t stopped = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!services[i].lpServiceName || !ServiceRunsImage(services[i].lpServiceName, imagePath)) continue;
        SC_HANDLE service = OpenServiceA(manager, services[i].lpServiceName, SERVICE_ALL_ACCESS);
        if (!service) continue;
        SERVICE_STATUS status = {};
        if (ControlService(service, SERVICE_CONTROL_STOP, &status)) ++stopped;
        CloseServiceHandle(service);
    }
    std::free(services);
    CloseServiceHandle(manager);
    return stopped;
}

uint32_t EndProcess(SystemProbe* probe, uint32_t processId, OpenProcessFn openProcess) {
    HANDLE process = openProcess(kEndProcessAccess, FALSE, processId);
    if (process) {
        // Termination completes asynchronously; the handle would keep the process openable.
        if (TerminateProcess(process, 0)) WaitForSingleObject(process, kEndProcessWaitMs);
        CloseHandle(process);
        return 0;
    }
    if (GetLastError() != ERROR_ACCESS_DENIED) return 0;
    char* path = probe->GetProcessImagePath(nullptr, processId);
    if (!path) return 0;
    LowerCase(path);
    const uint32_t stopped = StopServicesOfImage(path);
    std::free(path);
    return stopped;
}

void MarkProcessGone(HWND treeWindow, HTREEITEM processItem) {
    TreeRef tree;
    tree.hwnd = treeWindow;
    for (HTREEITEM child = tree.GetChildItem(processItem); child; child = tree.GetNextSiblingItem(child)) {
        tree.SetStateImage(child, MarkGone(tree.GetStateImage(child)));
    }
    tree.SetStateImage(processItem, MarkGone(tree.GetStateImage(processItem)));
}

void EndSelectedProcess(SystemProbe* probe, HWND treeWindow, const char* searchedPath, OpenProcessFn openProcess) {
    TreeRef tree;
    tree.hwnd = treeWindow;
    HTREEITEM item = tree.GetSelectedItem();
    if (item && !tree.ItemHasChildren(item)) item = tree.GetParentItem(item);
    if (!item) return;
    const auto processId = static_cast<uint32_t>(tree.GetItemData(item));
    EndProcess(probe, processId, openProcess);
    const bool expanded = tree.IsExpanded(item);
    const uint32_t image = tree.GetStateImage(item);
    switch (UpdateAfterEnding(expanded, image, !HasProcessEnded(probe, processId))) {
    case RebuildModuleItems: {
        // A survivor that refuses to be opened cannot have its modules read again.
        if (!CanOpenProcess(processId)) break;
        uint32_t result = 0;
        ReplaceModuleItems(probe, treeWindow, item, searchedPath, &result);
        break;
    }
    case MarkProcessItemGone:
        MarkProcessGone(treeWindow, item);
        break;
    default:
        break;
    }
}
