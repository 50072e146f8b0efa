#include "control/win/locked_module.h"

#include <commdlg.h>

#include <cstring>

#include "control/state_images.h"
#include "inspect/hash_table.h"
#include "inspect/win/process_state_win.h"
#include "inspect/win/processes_win.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/progress.h"
#include "resources/resource.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/file_dialog.h"

namespace {

constexpr int kDllNameChars = 256;

// Asks for the DLL: its name or path, typed or chosen with Browse.
class LockedModuleDialog : public Dialog {
public:
    LockedModuleDialog(HWND owner) : Dialog(IDD_LOCKED_MODULE, owner) {}
    char dllName[kDllNameChars + 1] = {};

protected:
    BOOL OnInitDialog() override {
        SendDlgItemMessageW(hwnd_, IDC_DLL_NAME, EM_LIMITTEXT, kDllNameChars, 0);
        SetDlgItemTextA(hwnd_, IDC_DLL_NAME, lastPath_);
        SetFocus(GetItem(IDC_DLL_NAME));
        return FALSE;
    }
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
        if (message == WM_COMMAND && LOWORD(wParam) == IDC_BROWSE && HIWORD(wParam) == BN_CLICKED) {
            Browse();
            return true;
        }
        return Dialog::OnMessage(message, wParam, lParam, result);
    }
    void OnOK() override {
        GetDlgItemTextA(hwnd_, IDC_DLL_NAME, lastPath_, sizeof lastPath_);
        std::memcpy(dllName, lastPath_, sizeof dllName);
        dllName[kDllNameChars] = '\0';
        EndDialog(IDOK);
    }

private:
    void Browse() {
        wchar_t initial[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, lastPath_, -1, initial, MAX_PATH);
        FileDialogOptions options = {};
        options.save = false;
        options.initialName = initial;
        options.flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
        options.filter = L"可执行文件 (*.exe;*.dll;*.ocx)|*.exe; *.dll; *.ocx|所有文件 (*.*)|*.*||";
        options.owner = hwnd_;
        char chosen[kDllNameChars + 1];
        if (!RunFileDialog(options, chosen, sizeof chosen)) return;
        std::memcpy(lastPath_, chosen, sizeof chosen);
        SetDlgItemTextA(hwnd_, IDC_DLL_NAME, lastPath_);
    }
    char lastPath_[kDllNameChars + 1] = {};
};

bool ShortPathMatches(const char* path, const char* searchedPath) {
    if (!searchedPath || !searchedPath[0]) return false;
    char shortPath[kSearchedPathSize];
    return UpperShortPath(path, shortPath) && std::strcmp(shortPath, searchedPath) == 0;
}

}  // namespace

bool UpperShortPath(const char* path, char* out) {
    out[0] = '\0';
    if (!path || !path[0]) return false;
    const DWORD length = GetShortPathNameA(path, out, kSearchedPathSize);
    if (length == 0 || length >= kSearchedPathSize) {
        out[0] = '\0';
        return false;
    }
    CharUpperBuffA(out, length);
    return true;
}

uint32_t QueueModuleItems(SystemProbe* probe, TreeBatch* batch, HTREEITEM parentItem, uint32_t parentNumber,
                          uint32_t processId, uintptr_t selectModuleHandle, bool markMatches,
                          const char* searchedPath, HWND progressWindow, uint32_t* result) {
    *result = 0;
    if (processId == 0) return 0;
    HashTable* modules = CreateTable(8, 1);
    if (!modules) {
        *result = 1;
        return 0;
    }
    *result = probe->ListModules(processId, modules, progressWindow);
    uint32_t select = 0;
    const bool marking = markMatches && searchedPath && searchedPath[0];
    for (HashTableNode* node = *result == 0 ? FirstEntry(modules) : nullptr; node; node = NextEntry(node)) {
        uintptr_t handle = 0;
        std::memcpy(&handle, node->key, sizeof handle);
        const char* path = static_cast<const char*>(node->value);
        bool matched = marking && ShortPathMatches(path, searchedPath);
        const uint32_t number = QueueTreeItem(batch, parentItem, parentNumber, path, static_cast<LPARAM>(handle),
                                              false, matched ? StateSearchedModule : StateNone);
        if (number && selectModuleHandle != 0 && selectModuleHandle == handle) select = number;
        if (number && matched && select == 0) select = number;
        if (StepProgress(progressWindow, result)) break;
    }
    DestroyTable(modules, 1);
    return select;
}

HTREEITEM AddModuleItems(SystemProbe* probe, HWND tree, HTREEITEM processItem, uintptr_t selectModuleHandle,
                         bool markMatches, const char* searchedPath, uint32_t* result) {
    *result = 1;
    TreeBatch* batch = CreateTreeBatch(tree, nullptr);
    if (!batch) return nullptr;
    TreeRef treeRef;
    treeRef.hwnd = tree;
    const auto processId = static_cast<uint32_t>(treeRef.GetItemData(processItem));
    const uint32_t select = QueueModuleItems(probe, batch, processItem, 0, processId, selectModuleHandle,
                                             markMatches, searchedPath, nullptr, result);
    FlushTreeBatch(batch);
    HTREEITEM item = TreeBatchItem(batch, select);
    DestroyTreeBatch(batch);
    return item;
}

HTREEITEM ReplaceModuleItems(SystemProbe* probe, HWND treeWindow, HTREEITEM processItem, const char* searchedPath,
                             uint32_t* result) {
    TreeRef tree;
    tree.hwnd = treeWindow;
    while (HTREEITEM child = tree.GetChildItem(processItem)) {
        if (!tree.DeleteItem(child)) break;
    }
    return AddModuleItems(probe, treeWindow, processItem, 0, true, searchedPath, result);
}

void RunLockedModuleSearch(SystemProbe* probe, HWND treeWindow, char* searchedPath) {
    TreeRef tree;
    tree.hwnd = treeWindow;
    LockedModuleDialog dialog(GetParent(treeWindow));
    if (dialog.DoModal() != IDOK) return;
    // A name that is not an existing file has no short path: the search then marks nothing.
    CharUpperBuffA(dialog.dllName, static_cast<DWORD>(std::strlen(dialog.dllName)));
    UpperShortPath(dialog.dllName, searchedPath);

    char text[kSearchedPathSize];
    for (HTREEITEM process = tree.GetRootItem(); process; process = tree.GetNextSiblingItem(process)) {
        const bool gone = HasProcessEnded(probe, static_cast<uint32_t>(tree.GetItemData(process)));
        bool holds = false;
        for (HTREEITEM module = tree.GetChildItem(process); module; module = tree.GetNextSiblingItem(module)) {
            tree.GetItemTextAnsi(module, text, sizeof text);
            const bool matches = ShortPathMatches(text, searchedPath);
            holds = holds || matches;
            tree.SetStateImage(module, SearchedModuleImage(matches, gone));
        }
        tree.SetStateImage(process, SearchedProcessImage(holds, tree.IsExpanded(process), gone));
    }
}
