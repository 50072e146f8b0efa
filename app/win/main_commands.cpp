// The main window's commands: the three views (live processes, autorun items, a loaded
// report), Refresh, Save, the report options, the locked-module search and ending a
// process.
#include <windows.h>
#include <commdlg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/win/main_dialog.h"
#include "control/win/end_process.h"
#include "control/win/locked_module.h"
#include "inspect/hash_table.h"
#include "report/win/report_writer.h"
#include "resources/resource.h"
#include "ui/file_dialog.h"

namespace {

constexpr wchar_t kReportFilter[] = L"文本文件 (*.txt;*.log)|*.txt;*.log|所有文件 (*.*)|*.*||";
constexpr wchar_t kTreeFailedText[] = L"严重错误:无法建立进程列表";
constexpr size_t kPathSize = 1024;
constexpr size_t kCopyBlock = 64 * 1024;

WorkerJob* NewJob(uint32_t kind, void* params) {
    auto* job = static_cast<WorkerJob*>(std::calloc(1, sizeof(WorkerJob)));
    if (!job || !params) {
        std::free(job);
        std::free(params);
        return nullptr;
    }
    job->kind = kind;
    job->params = params;
    return job;
}

FileDialogOptions ReportDialogOptions(bool save, HWND owner) {
    FileDialogOptions options = {};
    options.save = save;
    options.defaultExtension = L"log";
    options.initialName = save ? L"korvane.log" : nullptr;
    options.flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    options.filter = kReportFilter;
    options.owner = owner;
    return options;
}

// True when both paths name the same file.
bool SameFile(const char* a, const char* b) {
    char fullA[kPathSize], fullB[kPathSize];
    const DWORD la = GetFullPathNameA(a, kPathSize, fullA, nullptr);
    const DWORD lb = GetFullPathNameA(b, kPathSize, fullB, nullptr);
    if (la == 0 || la >= kPathSize || lb == 0 || lb >= kPathSize) return false;
    return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, fullA, -1, fullB, -1) == CSTR_EQUAL;
}

// Appends the temporary report to the chosen file, byte for byte. Returns the text of
// the message to show, or null when the copy succeeded.
const wchar_t* AppendReport(const char* reportPath, const char* target) {
    if (SameFile(reportPath, target)) return L"不能保存到临时报告文件本身，请另选文件。";
    FILE* from = std::fopen(reportPath, "rb");
    if (!from) return L"无法读取临时报告文件。";
    FILE* to = std::fopen(target, "ab");
    if (!to) {
        std::fclose(from);
        return L"无法写入所选文件。";
    }
    bool ok = true;
    char* block = static_cast<char*>(std::malloc(kCopyBlock));
    if (!block) ok = false;
    while (ok) {
        const size_t read = std::fread(block, 1, kCopyBlock, from);
        if (read > 0 && std::fwrite(block, 1, read, to) != read) ok = false;
        if (read < kCopyBlock) {
            if (std::ferror(from)) ok = false;
            break;
        }
    }
    std::free(block);
    std::fclose(from);
    if (std::fclose(to) != 0) ok = false;
    return ok ? nullptr : L"写入所选文件时出错，报告可能不完整。";
}

}  // namespace

void MainDialog::SetViewMenu(UINT checkedCommand) {
    menu.Check(ID_VIEW_PROCESS_TREE, checkedCommand == ID_VIEW_PROCESS_TREE);
    menu.Check(ID_VIEW_AUTORUN, checkedCommand == ID_VIEW_AUTORUN);
    menu.Check(ID_VIEW_LOAD_REPORT, checkedCommand == ID_VIEW_LOAD_REPORT);
    menu.Enable(ID_EDIT_END_PROCESS, checkedCommand == ID_VIEW_PROCESS_TREE);
    menu.Enable(ID_VIEW_RELOAD_REPORT, checkedCommand == ID_VIEW_LOAD_REPORT);
    DrawMenuBar(hwnd_);
}

void MainDialog::SelectItem(HTREEITEM item) {
    revealing_ = true;
    TreeView_Select(tree.hwnd, item, TVGN_CARET);
    revealing_ = false;
}

void MainDialog::RunTreeJob(WorkerJob* job, bool selectNamedItem) {
    job->viewMode = &viewMode;
    job->probe = probe;
    const uint32_t result = RunJobWithProgress(job);
    if (result == JobSucceeded) {
        const auto* named = static_cast<const TreeJobResult*>(job->result);
        if (selectNamedItem && named) {
            if (named->selectItem) SelectItem(named->selectItem);
        } else if (HTREEITEM first = tree.GetFirstVisibleItem()) {
            SelectItem(first);
        }
    } else {
        if (result != JobCancelled) ShowMessageBox(kTreeFailedText, MB_OK | MB_ICONSTOP, hwnd_);
        tree.DeleteAllItems();
    }
    FreeWorkerJob(job);
}

void MainDialog::OnProcessTree() {
    if (menu.GetState(ID_VIEW_PROCESS_TREE) != 0) return;
    // The live view keeps no records: those of the view shown before go with its items,
    // or a view command that fails later would show a process item as one of them.
    if (tree.DeleteAllItems()) {
        DestroyTable(records, 1);
        records = CreateTable(8, 0);
    }
    SetViewMenu(ID_VIEW_PROCESS_TREE);
    recordList.ResetContent();
    ShowPanelLayout(ProcessPanel);
    auto* params = static_cast<TreeJobParams*>(std::calloc(1, sizeof(TreeJobParams)));
    if (params) params->tree = tree.hwnd;
    if (WorkerJob* job = NewJob(BuildProcessTree, params)) RunTreeJob(job, false);
}

void MainDialog::OnRefresh() {
    switch (viewMode) {
    case LiveProcessView:
        break;
    case AutorunView:
        OnCheckAutorun();
        return;
    case ReportView:
        OnLoadReport(false);
        return;
    default:
        OnProcessTree();
        return;
    }
    // A refresh ends the marking of the locked-module search.
    std::memset(searchedModulePath, 0, sizeof searchedModulePath);
    uint32_t processId = 0;
    uintptr_t moduleHandle = 0;
    if (HTREEITEM selected = tree.GetSelectedItem()) {
        if (tree.ItemHasChildren(selected)) {
            processId = static_cast<uint32_t>(tree.GetItemData(selected));
        } else {
            moduleHandle = static_cast<uintptr_t>(tree.GetItemData(selected));
            HTREEITEM parent = tree.GetParentItem(selected);
            processId = parent ? static_cast<uint32_t>(tree.GetItemData(parent)) : 0;
        }
    }
    if (!tree.DeleteAllItems()) return;
    auto* params = static_cast<TreeJobParams*>(std::calloc(1, sizeof(TreeJobParams)));
    if (params) {
        params->tree = tree.hwnd;
        params->selectProcessId = processId;
        params->selectModuleHandle = moduleHandle;
    }
    if (WorkerJob* job = NewJob(BuildProcessTree, params)) RunTreeJob(job, true);
}

void MainDialog::OnCheckAutorun() {
    if (menu.GetState(ID_VIEW_AUTORUN) != 0) return;
    SetViewMenu(ID_VIEW_AUTORUN);
    ShowPanelLayout(SystemPanel);
    recordList.ResetContent();

    // First the autorun section is written to the temporary report...
    auto* params = static_cast<ReportJobParams*>(std::calloc(1, sizeof(ReportJobParams)));
    if (params) {
        params->autorunSection = 1;
        params->tree = tree.hwnd;
    }
    WorkerJob* job = NewJob(WriteReport, params);
    if (!job) return;
    job->viewMode = &viewMode;
    job->probe = probe;
    const uint32_t written = RunJobWithProgress(job);
    auto* report = static_cast<ReportJobResult*>(job->result);
    if (written != JobSucceeded || !report) {
        if (report) DeleteFileA(report->reportPath);
        FreeWorkerJob(job);
        viewMode = AutorunView;
        return;
    }
    // ...then loaded back as the view.
    char path[kPathSize];
    const bool fits = std::strlen(report->reportPath) < sizeof path;
    if (fits) std::strcpy(path, report->reportPath);
    else DeleteFileA(report->reportPath);
    FreeWorkerJob(job);
    if (!fits || !LoadReportFile(path, LoadAutorunView)) viewMode = AutorunView;
    if (fits) DeleteFileA(path);
}

void MainDialog::OnLoadReport(bool reload) {
    if (reload) {
        if (menu.GetState(ID_VIEW_LOAD_REPORT) != MF_CHECKED) return;
    } else {
        if (menu.GetState(ID_VIEW_LOAD_REPORT) != 0) return;
        SetViewMenu(ID_VIEW_LOAD_REPORT);
        ShowPanelLayout(SystemPanel);
        recordList.ResetContent();
    }
    char path[kPathSize];
    if (!RunFileDialog(ReportDialogOptions(false, nullptr), path, sizeof path)) return;
    if (!LoadReportFile(path, LoadReportView)) viewMode = ReportView;
}

// Loads a report file as the autorun or report view. The view's records are replaced
// only once the file has been opened, and the old ones live until the tree no longer
// shows their items. False when the file cannot be opened or the load did not succeed.
bool MainDialog::LoadReportFile(const char* path, uint32_t kind) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    const bool sized = GetFileSizeEx(file, &size) != FALSE;
    CloseHandle(file);
    if (!sized) return false;

    HashTable* fresh = CreateTable(8, 0);
    auto* params = static_cast<LoadJobParams*>(std::calloc(1, sizeof(LoadJobParams)));
    char* pathCopy = NewText(path);
    if (!fresh || !params || !pathCopy) {
        DestroyTable(fresh, 1);
        std::free(params);
        std::free(pathCopy);
        return false;
    }
    params->reportPath = pathCopy;
    params->reportSize = size.QuadPart > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(size.QuadPart);
    params->tree = tree.hwnd;
    params->records = fresh;
    WorkerJob* job = NewJob(kind, params);
    if (!job) {  // NewJob freed the params block, not the path it held
        std::free(pathCopy);
        DestroyTable(fresh, 1);
        return false;
    }
    job->viewMode = &viewMode;
    job->probe = probe;
    const uint32_t result = RunJobWithProgress(job);
    // The tree now shows the new records' items, or it is emptied below.
    DestroyTable(records, 1);
    records = fresh;
    if (result == JobSucceeded) {
        if (HTREEITEM first = tree.GetFirstVisibleItem()) SelectItem(first);
    } else {
        if (result != JobCancelled) ShowMessageBox(kTreeFailedText, MB_OK | MB_ICONSTOP, hwnd_);
        tree.DeleteAllItems();
    }
    FreeWorkerJob(job);
    return result == JobSucceeded;
}

void MainDialog::OnSave() {
    auto* params = static_cast<ReportJobParams*>(std::calloc(1, sizeof(ReportJobParams)));
    if (params) {
        params->autorunSection = optionControls[OptAutorun].IsChecked() ? 1 : 0;
        params->processSection = optionControls[OptProcesses].IsChecked() ? 1 : 0;
        params->selectedProcessModulesOnly = optionControls[OptModulesSelected].IsChecked() ? 1 : 0;
        params->connectionsSection = optionControls[OptConnections].IsChecked() ? 1 : 0;
        params->tree = tree.hwnd;
    }
    WorkerJob* job = NewJob(WriteReport, params);
    if (!job) return;
    job->probe = probe;
    // Saving does not change what the window shows.
    const uint8_t shownView = viewMode;
    job->viewMode = &viewMode;
    const uint32_t result = RunJobWithProgress(job);
    viewMode = shownView;
    const auto* report = static_cast<const ReportJobResult*>(job->result);
    if (result == JobSucceeded && report) {
        char target[kPathSize];
        if (RunFileDialog(ReportDialogOptions(true, nullptr), target, sizeof target)) {
            if (const wchar_t* problem = AppendReport(report->reportPath, target)) {
                ShowMessageBox(problem, MB_OK | MB_ICONEXCLAMATION, hwnd_);
            }
        }
    } else if (result != JobCancelled) {
        ShowMessageBox(kTreeFailedText, MB_OK | MB_ICONSTOP, hwnd_);
    }
    // The temporary report is never left behind.
    if (report) DeleteFileA(report->reportPath);
    FreeWorkerJob(job);
}

void MainDialog::OnProcessOptionClicked() {
    const bool processes = SendMessageW(optionControls[OptProcesses].hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
    optionControls[OptModulesSelected].Enable(processes);
    optionControls[OptModulesAll].Enable(processes);
    if (processes) {
        optionControls[OptModulesSelected].SetCheck(false);
        optionControls[OptModulesAll].SetCheck(true);
    }
}

void MainDialog::OnLockedModuleSearch() {
    // The search marks the live tree's items; other views have no processes to mark.
    if (viewMode != LiveProcessView) return;
    RunLockedModuleSearch(probe, tree.hwnd, searchedModulePath);
}

void MainDialog::OnEndProcess() {
    // The menu item is greyed in the other views; their items are no processes.
    if (viewMode != LiveProcessView) return;
    EndSelectedProcess(probe, tree.hwnd, searchedModulePath);
}
