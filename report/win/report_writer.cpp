#include "report/win/report_writer.h"

#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "autorun/win/command_line_win.h"
#include "inspect/hash_table.h"
#include "inspect/win/file_info_win.h"
#include "inspect/win/os_description_win.h"
#include "inspect/win/process_state_win.h"
#include "inspect/win/processes_win.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/worker_job.h"
#include "net/connection_tables.h"
#include "net/win/connection_report.h"
#include "net/win/connection_routes.h"
#include "report/report_line.h"
#include "ui/controls.h"

namespace {

constexpr char kTemporaryReportName[] = "~korvane.tmp";
constexpr char kFallbackFolder[] = "c:\\";
constexpr size_t kItemTextSize = 1024;

// The live tree as the worker needs it, read on the interface thread in one go.
struct ProcessItemCopy {
    std::string text;
    uint32_t processId;
    std::vector<std::string> moduleTexts;
    std::vector<uintptr_t> moduleHandles;
};

struct TreeCopy {
    TreeRef tree;
    bool selectedOnly;     // copy only the selected item's process
    std::vector<ProcessItemCopy> processes;
};

std::string ItemText(const TreeRef& tree, HTREEITEM item) {
    char text[kItemTextSize];
    tree.GetItemTextAnsi(item, text, sizeof text);
    return text;
}

void CopyProcessItem(const TreeRef& tree, HTREEITEM item, std::vector<ProcessItemCopy>* out) {
    ProcessItemCopy copy;
    copy.text = ItemText(tree, item);
    copy.processId = static_cast<uint32_t>(tree.GetItemData(item));
    for (HTREEITEM child = tree.GetChildItem(item); child; child = tree.GetNextSiblingItem(child)) {
        copy.moduleTexts.push_back(ItemText(tree, child));
        copy.moduleHandles.push_back(static_cast<uintptr_t>(tree.GetItemData(child)));
    }
    out->push_back(std::move(copy));
}

// The selected process item, or the process item of the selected module item; null
// when nothing is selected.
HTREEITEM SelectedProcessItem(const TreeRef& tree) {
    HTREEITEM item = tree.GetSelectedItem();
    if (item && !tree.ItemHasChildren(item)) item = tree.GetParentItem(item);
    return item;
}

// Runs on the interface thread.
void CopyTree(void* argument) {
    auto* copy = static_cast<TreeCopy*>(argument);
    try {
        if (copy->selectedOnly) {
            HTREEITEM item = SelectedProcessItem(copy->tree);
            if (item) CopyProcessItem(copy->tree, item, &copy->processes);
        } else {
            for (HTREEITEM item = copy->tree.GetRootItem(); item; item = copy->tree.GetNextSiblingItem(item)) {
                CopyProcessItem(copy->tree, item, &copy->processes);
            }
        }
    } catch (const std::bad_alloc&) {
        copy->processes.clear();
    }
}

// The process the connection rows are filtered by; 0 when nothing is selected.
struct FilterQuery {
    TreeRef tree;
    uint32_t processId;
};

void FindFilterProcess(void* argument) {
    auto* query = static_cast<FilterQuery*>(argument);
    HTREEITEM item = SelectedProcessItem(query->tree);
    query->processId = item ? static_cast<uint32_t>(query->tree.GetItemData(item)) : 0;
}

struct WriteState {
    WorkerJob* job;
    const ReportJobParams* params;
    SystemProbe* probe;
    HWND progress;
    FILE* stream;
    HashTable* processes;  // the process table, once one was listed
    uint32_t result;
};

// Lists the running processes into a new process table (empty when they cannot be listed).
void ListProcessTable(WriteState* state) {
    state->processes = CreateTable(8, 1);
    if (state->processes) state->probe->ListProcesses(state->processes, state->progress);
}

void WriteSystemLine(FILE* stream) {
    const OsText os = DescribeOs();
    const OsText version = DescribeOsVersion();
    std::string extra = std::string(os.text) + "|" + version.text;
    WriteReportLine(stream, kCodeSystemInfo, os.text, extra.c_str(), "");
    WriteSeparatorLine(stream, 0, "");
}

// One process of the live tree: written from the system while it runs, from what its
// items remember once it has ended. Whether it has ended is decided before anything is
// written, so a process is never written twice. 0, or 3 when stopped.
uint32_t WriteProcessItem(WriteState* state, const ProcessItemCopy& process) {
    if (process.processId != 0 && HasProcessEnded(state->probe, process.processId)) {
        std::vector<EndedModuleItem> modules;
        for (size_t i = 0; i < process.moduleTexts.size(); ++i) {
            modules.push_back({process.moduleTexts[i].c_str(), process.moduleHandles[i]});
        }
        return WriteEndedProcessBlock(process.processId, state->stream, process.text.c_str(), modules.data(),
                                      modules.size(), state->progress);
    }
    const uint32_t r =
        state->probe->WriteProcessBlock(process.processId, state->stream, process.text.c_str(), state->progress);
    return r == JobCancelled ? JobCancelled : JobSucceeded;
}

// The process section; false when stopped in a way that cancels the whole report.
bool WriteProcessSection(WriteState* state) {
    if (state->progress) {
        // A new task: the paced step count starts again at 0 with the bar. The range
        // follows once the section knows its size.
        BeginProgressTask(state->progress, L"正在保存活动的进程/模块信息……", 0);
        if (IsStopRequested(&state->result)) return false;
    }
    WriteSectionHeader(state->stream, kProcessSectionLabel, kProcessColumnHeader);

    if (*state->job->viewMode == LiveProcessView) {
        TreeCopy copy;
        copy.tree.hwnd = state->params->tree;
        copy.selectedOnly = state->params->selectedProcessModulesOnly == 1;
        RunOnInterfaceThread(state->progress, CopyTree, &copy);
        size_t steps = 0;
        for (const ProcessItemCopy& p : copy.processes) steps += 1 + p.moduleTexts.size();
        if (state->progress) SendMessageW(state->progress, ProgressSetRange, 0, static_cast<LPARAM>(steps));
        for (const ProcessItemCopy& process : copy.processes) {
            if (WriteProcessItem(state, process) == JobCancelled) {
                state->result = JobCancelled;
                return false;
            }
        }
    } else {
        // An autorun or report view: the processes running now.
        if (state->progress) {
            SendMessageW(state->progress, ProgressSetRange, 0, state->probe->CountProcessItems(1));
            if (IsStopRequested(&state->result)) return false;
        }
        ListProcessTable(state);
        for (HashTableNode* node = FirstEntry(state->processes); node; node = NextEntry(node)) {
            uint32_t processId = 0;
            std::memcpy(&processId, node->key, sizeof processId);
            const uint32_t r = state->probe->WriteProcessBlock(processId, state->stream,
                                                               static_cast<const char*>(node->value), state->progress);
            // A stop here finishes the report without further sections.
            if (r == JobCancelled) {
                state->result = JobCancelled;
                break;
            }
        }
    }
    WriteSeparatorLine(state->stream, 0, "");
    return true;
}

// One table (TCP, TCP6, UDP or UDP6) of the connection section; false when stopped.
// A kind the system gives no table for writes nothing.
bool WriteConnectionPart(WriteState* state, ConnectionKind kind, uint32_t filter) {
    if ((kind == kConnectionTcp6 || kind == kConnectionUdp6) && !state->probe->ipv6Tables) return true;
    if (state->progress) {
        const wchar_t* task = IsTcpKind(kind) ? L"正在加载活动的TCP连接信息……" : L"正在加载活动的UDP连接信息…… ";
        BeginProgressTask(state->progress, task, 0);
        if (IsStopRequested(&state->result)) return false;
    }
    void* table = nullptr;
    if (!QueryConnectionTable(state->probe, kind, &table, state->processes)) return true;  // that part stays empty
    const uint32_t rows = ConnectionRowCount(table);
    if (state->progress) SendMessageW(state->progress, ProgressSetRange, 0, rows);
    bool completed = PrepareConnectionLines(table, kind, state->progress) != JobCancelled;
    for (uint32_t i = 0; completed && i < rows; ++i) {
        WriteConnectionLine(state->probe, state->processes, state->stream, ConnectionRowAt(table, kind, i), filter);
        if (StepProgress(state->progress, &state->result)) completed = false;
    }
    HeapFree(GetProcessHeap(), 0, table);
    if (!completed) state->result = JobCancelled;
    return completed;
}

bool WriteConnectionSection(WriteState* state) {
    WriteSectionHeader(state->stream, kConnectionSectionLabel, kConnectionColumnHeader);
    // Rows are filtered by the selected process only when the live tree shows processes
    // and the report holds that process alone.
    FilterQuery query;
    query.tree.hwnd = state->params->tree;
    query.processId = 0;
    if (*state->job->viewMode == LiveProcessView && state->params->selectedProcessModulesOnly == 1 &&
        state->params->processSection == 1) {
        RunOnInterfaceThread(state->progress, FindFilterProcess, &query);
    }
    if (!state->processes) {
        if (state->progress) {
            BeginProgressTask(state->progress, L"正在加载进程列表……", state->probe->CountProcessItems(1));
            if (IsStopRequested(&state->result)) return false;
        }
        ListProcessTable(state);
    }
    for (ConnectionKind kind : kConnectionKinds) {
        if (!WriteConnectionPart(state, kind, query.processId)) return false;
    }
    WriteSeparatorLine(state->stream, 0, "");
    return true;
}

}  // namespace

bool TemporaryReportPath(char* path, size_t size) {
    char folder[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) std::strcpy(folder, kFallbackFolder);
    const int written = std::snprintf(path, size, "%s%s", folder, kTemporaryReportName);
    if (written > 0 && static_cast<size_t>(written) < size) return true;
    const int fallback = std::snprintf(path, size, "%s%s", kFallbackFolder, kTemporaryReportName);
    return fallback > 0 && static_cast<size_t>(fallback) < size;
}

uint32_t WriteEndedProcessBlock(uint32_t processId, FILE* stream, const char* processText,
                                const EndedModuleItem* modules, size_t moduleCount, HWND progressWindow) {
    char extra[32];
    std::snprintf(extra, sizeof extra, "%x||||||", static_cast<unsigned>(processId));
    WriteReportLine(stream, kCodeEndedProcess, processText, extra, kPrefixEndedProcess);
    uint32_t result = JobSucceeded;
    if (StepProgress(progressWindow, &result)) return result;
    for (size_t i = 0; i < moduleCount; ++i) {
        IdList* identity = NewIdList(modules[i].handle);
        char* resolved = nullptr;
        if (!ResolveCommandLine(modules[i].text, &resolved)) resolved = NewText(modules[i].text);
        char* details = GetFileDetails(nullptr, resolved ? resolved : modules[i].text, identity);
        WriteReportLine(stream, kCodeEndedModule, modules[i].text, details ? details : "", kPrefixEndedModule);
        std::free(details);
        std::free(resolved);
        if (StepProgress(progressWindow, &result)) return result;
    }
    WriteSeparatorLine(stream, 0, "");
    return JobSucceeded;
}

uint32_t WriteReportJob(WorkerJob* job) {
    char path[MAX_PATH + 16];
    FILE* stream = TemporaryReportPath(path, sizeof path) ? std::fopen(path, "wb+") : nullptr;
    if (!stream) return JobFailed;

    WriteState state = {job, static_cast<const ReportJobParams*>(job->params), job->probe, job->progressWindow,
                        stream, nullptr, JobSucceeded};
    bool completed = state.params != nullptr;
    if (completed) {
        WriteSystemLine(stream);
        if (state.params->autorunSection == 1) {
            if (state.progress) {
                SendMessageW(state.progress, WM_SETTEXT, reinterpret_cast<WPARAM>(state.progress),
                             reinterpret_cast<LPARAM>(L"正在保存自启动项目信息……"));
                completed = !IsStopRequested(&state.result);
            }
            if (completed) {
                state.result = state.probe->ScanAutoruns(state.progress, stream);
                completed = state.result != JobCancelled;
            }
        }
    }
    if (completed && state.params->processSection == 1) completed = WriteProcessSection(&state);
    if (completed && state.params->connectionsSection == 1) completed = WriteConnectionSection(&state);

    DestroyTable(state.processes, 1);
    std::free(job->params);
    job->params = nullptr;
    *job->viewMode = LiveProcessView;
    if (!completed) {
        std::fclose(stream);
        DeleteFileA(path);
        return JobCancelled;
    }
    // A report that could not be written whole (a full disk) is not passed on as complete.
    const long size = std::ftell(stream);
    const bool written = std::fflush(stream) == 0 && !std::ferror(stream) && size >= 0;
    if (std::fclose(stream) != 0 || !written) {
        DeleteFileA(path);
        return JobFailed;
    }
    auto* result = static_cast<ReportJobResult*>(std::calloc(1, sizeof(ReportJobResult)));
    if (result) {
        result->reportPath = NewText(path);
        result->reportSize = static_cast<uint32_t>(size);
    }
    if (!result || !result->reportPath) {
        std::free(result);
        DeleteFileA(path);
        return JobFailed;
    }
    job->result = result;
    return state.result;
}
