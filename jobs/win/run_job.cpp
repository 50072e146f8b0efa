#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "jobs/win/progress_dialog.h"
#include "jobs/win/worker_job.h"

const wchar_t kStopRequestName[] = L"CloseLongThreadOperation";

namespace {

// Set while a command stops its worker, beside the named stop request: the worker
// stops at its next check even when the named mutex cannot be created, so the
// thread never has to be terminated with its files and blocks still held.
std::atomic<bool> g_stopping{false};

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

bool IsStopRequested(uint32_t* result) {
    bool stop = g_stopping.load();
    if (!stop) {
        HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kStopRequestName);
        if (mutex) {
            CloseHandle(mutex);
            stop = true;
        }
    }
    if (stop) *result = JobCancelled;
    return stop;
}

void BeginProgressTask(HWND progressWindow, const wchar_t* taskText, uint32_t steps) {
    if (!progressWindow) return;
    SendMessageW(progressWindow, WM_SETTEXT, reinterpret_cast<WPARAM>(progressWindow),
                 reinterpret_cast<LPARAM>(taskText));
    SendMessageW(progressWindow, ProgressSetPos, 0, 0);
    SendMessageW(progressWindow, ProgressSetRange, 0, steps);
    SendMessageW(progressWindow, ProgressSetStep, 1, 0);
}

bool StepProgress(HWND progressWindow, uint32_t* result) {
    if (!progressWindow) return false;
    SendMessageW(progressWindow, ProgressStep, 0, 0);
    return IsStopRequested(result);
}

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
            g_stopping.store(true);
            HANDLE stopRequest = CreateMutexW(nullptr, TRUE, kStopRequestName);
            if (thread) WaitLettingSentMessagesThrough(thread);
            if (stopRequest) CloseHandle(stopRequest);
            g_stopping.store(false);
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
