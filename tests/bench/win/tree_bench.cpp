// Whole-job timings under Wine, each against the raw cost of the same work in the same run:
//   tree build:  the live tree job (from its start to its last item, without the worker's
//                fixed start delay) against one ToolHelp process snapshot, one module
//                snapshot per process and the same number of tree insertions;
//   report load: a generated report loaded into the tree against the same number of plain
//                insertions.
// Run by hand: scripts/build.sh win64 && cd build/win64 && ../../scripts/wine-run.sh tree_bench.exe [children] [lines]
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/win/job_operations.h"
#include "inspect/hash_table.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/worker_job.h"
#include "report/report_line.h"
#include "resources/resource.h"
#include "ui/dialog.h"

namespace {

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

constexpr int kRounds = 5;
JobOperation g_timedOperation = nullptr;
double g_operationMs = 0;
size_t g_reportLines = 50000;

// Runs a job of the kind behind the real progress dialog; how long its operation took.
double TimeJob(uint32_t kind, void* params, SystemProbe* probe) {
    auto* w = static_cast<WorkerJob*>(std::calloc(1, sizeof(WorkerJob)));
    uint8_t view = 0;
    w->kind = kind;
    w->viewMode = &view;
    w->probe = probe;
    w->params = params;
    g_timedOperation = JobOperationTable()[kind];
    JobOperationTable()[kind] = [](WorkerJob* job) {
        const double start = Now();
        const uint32_t result = g_timedOperation(job);
        g_operationMs = Now() - start;
        return result;
    };
    RunJobWithProgress(w);
    JobOperationTable()[kind] = g_timedOperation;
    FreeWorkerJob(w);
    return g_operationMs;
}

// count plain insertions, 20 to a parent, with the tree's drawing off.
double InsertPlainItems(HWND tree, size_t count) {
    TreeView_DeleteAllItems(tree);
    const double start = Now();
    SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    HTREEITEM parent = TVI_ROOT;
    for (size_t i = 0; i < count; ++i) {
        TVINSERTSTRUCTA insert = {};
        insert.hParent = i % 20 == 0 ? TVI_ROOT : parent;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE | TVIF_CHILDREN;
        insert.item.pszText = const_cast<char*>("C:\\WINDOWS\\SYSTEM32\\SOMEMODULE.DLL");
        insert.item.lParam = static_cast<LPARAM>(i);
        auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
        if (i % 20 == 0) parent = item;
    }
    SendMessageW(tree, WM_SETREDRAW, TRUE, 0);
    const double ms = Now() - start;
    TreeView_DeleteAllItems(tree);
    return ms;
}

// One ToolHelp process snapshot and one module snapshot per process, walked whole.
double RawSnapshots() {
    const double start = Now();
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 process = {};
    process.dwSize = sizeof process;
    for (BOOL more = Process32First(processes, &process); more; more = Process32Next(processes, &process)) {
        HANDLE modules = CreateToolhelp32Snapshot(kModuleSnapshotFlags, process.th32ProcessID);
        if (modules == INVALID_HANDLE_VALUE) continue;
        MODULEENTRY32 module = {};
        module.dwSize = sizeof module;
        for (BOOL m = Module32First(modules, &module); m; m = Module32Next(modules, &module)) {}
        CloseHandle(modules);
    }
    CloseHandle(processes);
    return Now() - start;
}

void TreeBuild(HWND tree) {
    SystemProbe probe;
    std::vector<double> job, raw, insert;
    size_t items = 0;
    for (int round = 0; round < kRounds; ++round) {
        TreeView_DeleteAllItems(tree);
        auto* params = static_cast<TreeJobParams*>(std::calloc(1, sizeof(TreeJobParams)));
        params->tree = tree;
        job.push_back(TimeJob(BuildProcessTree, params, &probe));
        items = TreeView_GetCount(tree);
        raw.push_back(RawSnapshots());
        insert.push_back(InsertPlainItems(tree, items));
    }
    const double raws = Median(raw) + Median(insert);
    std::printf("tree build: %zu items; job %.1f ms; raw %.1f ms (snapshots %.1f + insertions %.1f); ratio %.2f\n",
                items, Median(job), raws, Median(raw), Median(insert), Median(job) / raws);
}

// A system-information line, a process heading, then processes of 40 modules up to lines lines.
std::string WriteGeneratedReport(size_t lines) {
    char folder[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "kbn", 0, path);
    FILE* file = std::fopen(path, "wb");
    WriteReportLine(file, kCodeSystemInfo, "OS WINDOWS XP     Professional Edition",
                    "OS WINDOWS XP     Professional Edition|5.1.2600 Service Pack 2", "");
    WriteReportLine(file, kCodeSectionHeading, "PROCESS", nullptr, "");
    for (size_t process = 1, written = 3; written < lines; ++process) {
        char extra[64];
        std::snprintf(extra, sizeof extra, "%x||||||", static_cast<unsigned>(process * 4));
        WriteReportLine(file, kCodeRunningProcess, "explorer.exe", extra, kPrefixProcess);
        ++written;
        for (int m = 0; m < 40 && written < lines; ++m, ++written) {
            WriteReportLine(file, kCodeModule, "C:\\WINDOWS\\SYSTEM32\\KERNEL32.DLL",
                            "7c800000|C:\\WINDOWS\\SYSTEM32\\KERNEL32.DLL|5.1.2600.2180|983552|August 04, 2004 "
                            "07:00:00|Windows NT BASE API Client DLL|Microsoft Windows Operating System|5.1.2600.2180",
                            kPrefixModule);
        }
        WriteSeparatorLine(file, 0, "");
    }
    std::fclose(file);
    return path;
}

void ReportLoad(HWND tree) {
    const std::string path = WriteGeneratedReport(g_reportLines);
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes);
    std::vector<double> job, insert;
    size_t items = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto* params = static_cast<LoadJobParams*>(std::calloc(1, sizeof(LoadJobParams)));
        HashTable* records = CreateTable(8, 0);
        params->reportPath = NewText(path.c_str());
        params->reportSize = attributes.nFileSizeLow;
        params->tree = tree;
        params->records = records;
        job.push_back(TimeJob(LoadReportView, params, nullptr));
        items = TreeView_GetCount(tree);
        TreeView_DeleteAllItems(tree);
        DestroyTable(records, 1);
        insert.push_back(InsertPlainItems(tree, items));
    }
    DeleteFileA(path.c_str());
    std::printf("report load: %zu lines, %zu items; job %.1f ms; plain insertions %.1f ms; ratio %.2f\n",
                g_reportLines, items, Median(job), Median(insert), Median(job) / Median(insert));
}

// The main window's template, whose tree the jobs fill, running one bench from its modal loop.
class TreeWindow : public Dialog {
public:
    explicit TreeWindow(void (*run)(HWND tree)) : Dialog(IDD_MAIN), run_(run) {}

protected:
    BOOL OnInitDialog() override {
        SetApplicationMainWindow(hwnd_);
        PostMessageW(hwnd_, WM_APP + 1, 0, 0);
        return TRUE;
    }
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
        if (message != WM_APP + 1) return Dialog::OnMessage(message, wParam, lParam, result);
        run_(GetItem(IDC_TREE));
        EndDialog(IDOK);
        return true;
    }

private:
    void (*run_)(HWND tree);
};

}  // namespace

int main(int argc, char** argv) {
    const int children = argc > 1 ? std::atoi(argv[1]) : 40;
    if (argc > 2) g_reportLines = static_cast<size_t>(std::atol(argv[2]));
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    InstallApplicationTableHooks();
    InstallJobOperations();

    // Helper processes holding a DLL make the tree the size of a busy machine's.
    char own[MAX_PATH];
    GetModuleFileNameA(nullptr, own, MAX_PATH);
    const std::string helper = std::string(own, std::strrchr(own, '\\') + 1) + "processes_helper.exe";
    std::vector<PROCESS_INFORMATION> started;
    for (int i = 0; i < children; ++i) {
        const std::string event = "KorvaneBenchReady" + std::to_string(i) + "_" + std::to_string(GetCurrentProcessId());
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
        std::string command = "\"" + helper + "\" cabinet.dll " + event + " " + std::to_string(GetCurrentProcessId());
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (CreateProcessA(helper.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            WaitForSingleObject(ready, 30000);
            started.push_back(info);
        }
        CloseHandle(ready);
    }
    TreeWindow(TreeBuild).DoModal();
    TreeWindow(ReportLoad).DoModal();
    for (PROCESS_INFORMATION& info : started) {
        TerminateProcess(info.hProcess, 0);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    return 0;
}
