// Drives the progress dialog and worker thread for real under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "jobs/win/worker_job.h"
#include "resources/resource.h"
#include "tests/support/window_test_util.h"

namespace {

using testutil::WindowText;

// What the operations saw, read by the test after the run.
struct Observed {
    std::atomic<uint32_t> workerResult{99};
    std::atomic<bool> sawStop{false};
    std::wstring taskText, captionAfter, taskAfterForeignSetText;
    LRESULT stepResult = 0;
    int barPosition = -1;
    bool visibleAfterEnter = false;
    DWORD workThread = 0;
    HWND uiWindow = nullptr;
};
Observed* g_seen = nullptr;

// Records what the worker ends with.
uint32_t Ends(bool sawStop, uint32_t result) {
    g_seen->sawStop = sawStop;
    g_seen->workerResult = result;
    return result;
}

// Waits up to ms for a stop request; true when one was seen.
bool WaitForStop(uint32_t* result, DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += 10, Sleep(10)) {
        if (IsStopRequested(result)) return true;
    }
    return false;
}

// Sets the task text (once with a foreign handle, which must change nothing), steps the
// bar five times, runs a piece of work on the interface thread and presses Enter, which
// must not end the dialog.
uint32_t ReportingOperation(WorkerJob* job) {
    HWND dialog = job->progressWindow, edit = GetDlgItem(dialog, IDC_TASK_TEXT);
    SendMessageW(dialog, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"外来"));
    g_seen->taskAfterForeignSetText = WindowText(edit);
    BeginProgressTask(dialog, L"正在测试", 5);
    uint32_t result = JobSucceeded;
    for (int i = 0; i < 5; ++i) {
        if (StepProgress(dialog, &result)) return result;
    }
    FlushProgress(dialog);
    g_seen->taskText = WindowText(edit);
    g_seen->captionAfter = WindowText(dialog);
    g_seen->barPosition = static_cast<int>(SendMessageW(GetDlgItem(dialog, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0));
    g_seen->stepResult = SendMessageW(dialog, ProgressStep, 0, 0);
    RunOnInterfaceThread(dialog, [](void* thread) { *static_cast<DWORD*>(thread) = GetCurrentThreadId(); },
                         &g_seen->workThread);
    PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(edit, WM_KEYUP, VK_RETURN, 0xC0000001);
    Sleep(500);
    g_seen->visibleAfterEnter = IsWindowVisible(dialog) != FALSE;
    const bool stopped = IsStopRequested(&result);
    return Ends(stopped, result);
}

// Talks to a window of the interface thread; the first message presses Cancel, and the
// worker sends again after the dialog has gone, before its next stop check.
LRESULT CALLBACK UiWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_APP + 7) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (wParam == 1) {
        HWND progress = reinterpret_cast<HWND>(lParam);
        PostMessageW(progress, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(progress, IDCANCEL)));
    }
    return 42;
}

struct ProgressFrameworkTest : ::testing::Test {
    void SetUp() override {
        g_seen = &seen;
        for (uint32_t k = 0; k < kJobKindCount; ++k) JobOperationTable()[k] = nullptr;
    }
    void TearDown() override { g_seen = nullptr; }
    uint32_t Run(uint32_t kind, JobOperation op = nullptr) {
        if (kind < kJobKindCount) JobOperationTable()[kind] = op;
        auto* job = static_cast<WorkerJob*>(std::calloc(1, sizeof(WorkerJob)));
        job->kind = kind;
        const uint32_t result = RunJobWithProgress(job);
        EXPECT_NE(job->progressWindow, nullptr);
        FreeWorkerJob(job);
        return result;
    }
    Observed seen;
    testutil::Watchdog watchdog{60000};
};

TEST_F(ProgressFrameworkTest, WorkerReportsTaskAndProgressAndEnterLeavesTheDialogOpen) {
    EXPECT_EQ(Run(BuildProcessTree, ReportingOperation), JobSucceeded);
    EXPECT_EQ(seen.workerResult.load(), JobSucceeded);
    EXPECT_EQ(seen.taskAfterForeignSetText, L"");
    EXPECT_EQ(seen.taskText, L"正在测试");
    EXPECT_EQ(seen.captionAfter, L"搜索进度");
    EXPECT_EQ(seen.barPosition, 5);
    EXPECT_EQ(seen.stepResult, 1);
    EXPECT_EQ(seen.workThread, GetCurrentThreadId());
    EXPECT_TRUE(seen.visibleAfterEnter) << "the progress dialog closed on Enter";
    EXPECT_FALSE(seen.sawStop.load());
}

TEST_F(ProgressFrameworkTest, FailedUnknownAndMissingJobs) {
    EXPECT_EQ(Run(WriteReport, [](WorkerJob*) -> uint32_t { return JobFailed; }), JobFailed);
    EXPECT_EQ(Run(LoadReportView), JobError);  // no operation for the kind
    EXPECT_EQ(Run(7), JobError);               // a kind beyond the table
    std::wstring text;
    HANDLE answerer = CreateThread(nullptr, 0, testutil::AnswerMessageBox, &text, 0, nullptr);
    EXPECT_EQ(RunJobWithProgress(nullptr), JobCancelled);
    WaitForSingleObject(answerer, INFINITE);
    CloseHandle(answerer);
    EXPECT_EQ(text, L"错误的设置数据.");
}

// A stop ends the worker with JobCancelled; its request does not outlive the wait, so a
// second operation runs on. Another holder of the request's name stops a worker too.
TEST_F(ProgressFrameworkTest, StopRequestLivesOnlyWhileTheWorkerIsStopped) {
    // JobFinished with wParam 0 ends the dialog as a Cancel does.
    EXPECT_EQ(Run(ListConnections, [](WorkerJob* job) -> uint32_t {
                  SendMessageW(job->progressWindow, JobFinished, 0, 0);
                  uint32_t result = JobSucceeded;
                  const bool stopped = WaitForStop(&result, 10000);
                  return Ends(stopped, result);
              }), JobCancelled);
    EXPECT_TRUE(seen.sawStop.load());
    EXPECT_EQ(seen.workerResult.load(), JobCancelled);
    HANDLE stale = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kStopRequestName);
    EXPECT_EQ(stale, nullptr) << "the stop request outlived the wait";
    if (stale) CloseHandle(stale);
    EXPECT_EQ(Run(BuildProcessTree, [](WorkerJob*) -> uint32_t {
                  uint32_t result = JobSucceeded;
                  const bool stopped = WaitForStop(&result, 300);
                  return Ends(stopped, result);
              }), JobSucceeded);
    EXPECT_FALSE(seen.sawStop.load());

    uint32_t result = 17;
    EXPECT_FALSE(IsStopRequested(&result));
    EXPECT_EQ(result, 17u);
    HANDLE request = CreateMutexW(nullptr, TRUE, kStopRequestName);
    ASSERT_NE(request, nullptr);
    EXPECT_TRUE(IsStopRequested(&result));
    EXPECT_EQ(result, JobCancelled);
    EXPECT_FALSE(StepProgress(nullptr, &result));  // without a progress window nothing is checked
    CloseHandle(request);
}

TEST_F(ProgressFrameworkTest, CancelWhileWorkerSendsToUiThreadDoesNotDeadlock) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = UiWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KorvaneTestUiWindow";
    RegisterClassW(&wc);
    seen.uiWindow = CreateWindowW(wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    ASSERT_NE(seen.uiWindow, nullptr);
    EXPECT_EQ(Run(BuildProcessTree, [](WorkerJob* job) -> uint32_t {
                  SendMessageW(g_seen->uiWindow, WM_APP + 7, 1, reinterpret_cast<LPARAM>(job->progressWindow));
                  while (IsWindow(job->progressWindow)) Sleep(10);  // the command now waits for this thread
                  Sleep(100);
                  uint32_t result = SendMessageW(g_seen->uiWindow, WM_APP + 7, 2, 0) == 42 ? JobSucceeded : JobFailed;
                  const bool stopped = IsStopRequested(&result);
                  return Ends(stopped, result);
              }), JobCancelled);
    EXPECT_TRUE(seen.sawStop.load());
    EXPECT_EQ(seen.workerResult.load(), JobCancelled);
    DestroyWindow(seen.uiWindow);
}

}  // namespace
