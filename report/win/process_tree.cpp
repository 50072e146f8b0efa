#include "report/win/process_tree.h"

#include <cstdlib>
#include <cstring>

#include "control/win/locked_module.h"
#include "inspect/hash_table.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/worker_job.h"
#include "report/win/tree_batch.h"

namespace {

// Frees the params block and sets the live view: what every exit of the job does.
void EndTreeJob(WorkerJob* job) {
    std::free(job->params);
    job->params = nullptr;
    *job->viewMode = LiveProcessView;
}

}  // namespace

uint32_t BuildProcessTreeJob(WorkerJob* job) {
    const auto* params = static_cast<const TreeJobParams*>(job->params);
    SystemProbe* probe = job->probe;
    HWND progress = job->progressWindow;
    HashTable* processes = CreateTable(8, 1);
    if (!processes || !params) {
        DestroyTable(processes, 1);
        EndTreeJob(job);
        return JobFailed;
    }
    // The bar counts processes: each one listed, then each one in the tree. Counting the
    // modules beforehand would take module snapshots of every process twice.
    uint32_t result = JobSucceeded;
    if (progress) {
        BeginProgressTask(progress, L"正在加载进程列表……", 0);
        if (IsStopRequested(&result)) {
            DestroyTable(processes, 1);
            EndTreeJob(job);
            return JobCancelled;
        }
    }

    HTREEITEM select = nullptr;
    result = probe->ListProcesses(processes, progress);
    if (progress) {
        uint32_t count = 0;
        for (HashTableNode* node = FirstEntry(processes); node; node = NextEntry(node)) ++count;
        SendMessageW(progress, ProgressSetRange, 0, 2 * count);
        FlushProgress(progress);
    }
    TreeBatch* batch = result == JobSucceeded ? CreateTreeBatch(params->tree, progress) : nullptr;
    if (result == JobSucceeded && !batch) result = JobFailed;
    if (batch) {
        uint32_t selectNumber = 0;
        for (HashTableNode* node = FirstEntry(processes); node; node = NextEntry(node)) {
            uint32_t processId = 0;
            std::memcpy(&processId, node->key, sizeof processId);
            const uint32_t number =
                QueueTreeItem(batch, nullptr, 0, static_cast<const char*>(node->value), processId, true, 0);
            if (!number) {
                result = JobFailed;
                break;
            }
            uint32_t modulesResult = JobSucceeded;
            const uint32_t moduleNumber = QueueModuleItems(probe, batch, nullptr, number, processId,
                                                           params->selectModuleHandle, false, nullptr, nullptr,
                                                           &modulesResult);
            if (processId == params->selectProcessId) {
                selectNumber = processId != 0 && moduleNumber ? moduleNumber : number;
            }
            if (StepProgress(progress, &result)) break;
            FlushTreeBatchIfDue(batch);
        }
        if (!FlushTreeBatch(batch) && result == JobSucceeded) result = JobFailed;
        select = TreeBatchItem(batch, selectNumber);
        DestroyTreeBatch(batch);
    }

    DestroyTable(processes, 1);
    EndTreeJob(job);
    auto* treeResult = static_cast<TreeJobResult*>(std::calloc(1, sizeof(TreeJobResult)));
    if (treeResult) treeResult->selectItem = select;
    job->result = treeResult;
    return result;
}
