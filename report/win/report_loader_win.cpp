#include "report/win/report_loader_win.h"

#include <windows.h>
#include <commctrl.h>

#include <climits>
#include <cstdlib>

#include "inspect/win/snapshots_win.h"
#include "jobs/win/worker_job.h"
#include "report/report_loader.h"
#include "report/win/tree_batch.h"

namespace {

struct LoadState {
    HANDLE file;
    HWND progress;
    TreeBatch* batch;
    unsigned rangeShift;   // file offsets are shifted right by this for the bar's range
    uint64_t shownBytes;   // what the bar has been told
    bool insertFailed;     // the tree refused items: the load stops as failed, not stopped
};

size_t ReadChunk(void* context, char* buffer, size_t size) {
    auto* state = static_cast<LoadState*>(context);
    DWORD read = 0;
    const DWORD ask = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
    if (!ReadFile(state->file, buffer, ask, &read, nullptr)) return SIZE_MAX;
    return read;
}

int ReportProgress(void* context, uint64_t bytesConsumed) {
    auto* state = static_cast<LoadState*>(context);
    if (!FlushTreeBatchIfDue(state->batch)) {
        state->insertFailed = true;
        return 1;
    }
    const uint64_t shown = bytesConsumed >> state->rangeShift;
    const uint64_t delta = shown > state->shownBytes ? shown - state->shownBytes : 0;
    state->shownBytes = shown > state->shownBytes ? shown : state->shownBytes;
    uint32_t result = JobSucceeded;
    return AdvanceProgress(state->progress, static_cast<uint32_t>(delta), &result) ? 1 : 0;
}

int InsertItem(void* context, uint32_t parentKey, uint32_t key, const char* text, int hasChildren,
               uint32_t stateImage) {
    auto* state = static_cast<LoadState*>(context);
    // The batch numbers its items as the placer numbers its keys: 1, 2, 3, ...
    const uint32_t number = QueueTreeItem(state->batch, nullptr, parentKey, text, key, hasChildren != 0, stateImage);
    return number == key ? 0 : 1;
}

void DeleteAllItems(void* tree) { TreeView_DeleteAllItems(static_cast<HWND>(tree)); }

void EndLoadJob(WorkerJob* job, uint8_t viewMode) {
    auto* params = static_cast<LoadJobParams*>(job->params);
    if (params) std::free(params->reportPath);
    std::free(params);
    job->params = nullptr;
    *job->viewMode = viewMode;
}

uint32_t LoadReport(WorkerJob* job, uint8_t resultingViewMode) {
    const auto* params = static_cast<const LoadJobParams*>(job->params);
    HWND progress = job->progressWindow;
    if (!params || !params->reportPath || !params->records) {
        EndLoadJob(job, LiveProcessView);
        return JobFailed;
    }
    unsigned shift = 0;
    while ((static_cast<uint64_t>(params->reportSize) >> shift) > INT_MAX) ++shift;
    uint32_t result = JobSucceeded;
    if (progress) {
        BeginProgressTask(progress, L"显示信息。", params->reportSize >> shift);
        if (IsStopRequested(&result)) {
            EndLoadJob(job, LiveProcessView);
            return JobCancelled;
        }
    }
    HANDLE file = CreateFileA(params->reportPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        EndLoadJob(job, LiveProcessView);
        return JobFailed;
    }
    RunOnInterfaceThread(progress, DeleteAllItems, params->tree);

    LoadState state = {file, progress, CreateTreeBatch(params->tree, progress), shift, 0, false};
    const ReportTreeSink sink = {&state, InsertItem};
    ReportPlacer* placer = state.batch ? CreateReportPlacer(&sink, params->records, &SystemLeadByteOps()) : nullptr;
    if (placer) {
        const ReportReadOps ops = {&state, ReadChunk, ReportProgress};
        result = LoadReportLines(&ops, placer);
        if (state.insertFailed) result = JobFailed;
        DestroyReportPlacer(placer);
    } else {
        result = JobFailed;
    }
    if (!FlushTreeBatch(state.batch) && result == JobSucceeded) result = JobFailed;
    FlushProgress(progress);
    DestroyTreeBatch(state.batch);
    CloseHandle(file);
    EndLoadJob(job, resultingViewMode);
    return result;
}

}  // namespace

uint32_t LoadAutorunViewJob(WorkerJob* job) { return LoadReport(job, AutorunView); }
uint32_t LoadReportViewJob(WorkerJob* job) { return LoadReport(job, ReportView); }
