#include <windows.h>

#include <cstdlib>

#include "jobs/win/progress_dialog.h"
#include "jobs/win/worker_job.h"

namespace {

JobOperation g_operations[kJobKindCount] = {nullptr, nullptr, nullptr, nullptr, nullptr};

// Waits for the thread while letting messages sent to this thread's windows through:
// a worker may be blocked in a send to the tree or list until it reaches its next stop check.
void WaitLettingSentMessagesThrough(HANDLE thread) {
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return;
        if (r == WAIT_OBJECT_0 + 1) {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        WaitForSingleObject(thread, INFINITE);
        return;
    }
}

}  // namespace

JobOperation* JobOperationTable() { return g_operations; }

unsigned __stdcall WorkerThreadEntry(void* argument) {
    auto* job = static_cast<WorkerJob*>(argument);
    Sleep(200);
    uint32_t result = JobError;
    if (job->kind < kJobKindCount && g_operations[job->kind]) result = g_operations[job->kind](job);
    if (job->progressWindow) SendMessageW(job->progressWindow, JobFinished, 1, 0);
    return result;
}

uint32_t RunJobWithProgress(WorkerJob* job) {
    HANDLE thread = nullptr;
    uint32_t result;
    {
        ProgressDialog dialog;
        dialog.job = job;
        dialog.threadHandle = &thread;
        const INT_PTR ended = dialog.DoModal();
        if (ended == IDOK && thread) {
            WaitLettingSentMessagesThrough(thread);
            DWORD code;
            result = GetExitCodeThread(thread, &code) ? static_cast<uint32_t>(code) : static_cast<uint32_t>(JobError);
        } else {
            // Stopping: the request lives exactly as long as this wait.
            // The local flag stops the worker at its next check even when the named
            // mutex cannot be created, so the thread is never terminated with its
            // files and blocks still held.
            SetLocalStopRequest(true);
            HANDLE stopRequest = CreateMutexW(nullptr, TRUE, kStopRequestName);
            if (thread) WaitLettingSentMessagesThrough(thread);
            if (stopRequest) CloseHandle(stopRequest);
            SetLocalStopRequest(false);
            result = JobCancelled;
        }
    }
    if (thread) CloseHandle(thread);
    return result;
}

void FreeWorkerJob(WorkerJob* job) {
    if (!job) return;
    if (job->params && (job->kind == LoadAutorunView || job->kind == LoadReportView)) {
        std::free(static_cast<LoadJobParams*>(job->params)->reportPath);
    }
    std::free(job->params);
    if (job->result && job->kind == WriteReport) {
        std::free(static_cast<ReportJobResult*>(job->result)->reportPath);
    }
    std::free(job->result);
    std::free(job);
}
