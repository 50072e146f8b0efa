// Drives the progress dialog and worker thread for real under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "jobs/win/worker_job.h"
#include "resources/resource.h"
#include "tests/support/window_test_util.h"

namespace {

using testutil::WindowText;

// What the fake operations saw, read by the test after the run.
struct Observed {
    std::atomic<uint32_t> workerResult{99};
    std::atomic<bool> sawStop{false};
    std::wstring taskText;
    std::wstring captionAfter;
    std::wstring taskAfterForeignSetText;
    LRESULT setTextResult = -1;
    LRESULT foreignSetTextResult = -1;
    LRESULT stepResult = 0;
    int barPosition = -1;
    HWND uiWindow = nullptr;
};
Observed* g_seen = nullptr;

WorkerJob* NewJob(uint32_t kind) {
    auto* job = static_cast<WorkerJob*>(std::calloc(1, sizeof(WorkerJob)));
    job->kind = kind;
    return job;
}

// Waits up to ms for a stop request; true when one was seen.
bool WaitForStop(uint32_t* result, DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += 10) {
        if (IsStopRequested(result)) return true;
        Sleep(10);
    }
    return false;
}

uint32_t FinishingOperation(WorkerJob* job) {
    BeginProgressTask(job->progressWindow, L"正在测试", 5);
    uint32_t result = JobSucceeded;
    for (int i = 0; i < 5; ++i) {
        if (StepProgress(job->progressWindow, &result)) return result;
    }
    FlushProgress(job->progressWindow);
    HWND edit = GetDlgItem(job->progressWindow, IDC_TASK_TEXT);
    g_seen->taskText = WindowText(edit);
    g_seen->barPosition = static_cast<int>(SendMessageW(GetDlgItem(job->progressWindow, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0));
    g_seen->stepResult = SendMessageW(job->progressWindow, ProgressStep, 0, 0);
    g_seen->workerResult = result;
    return result;
}

uint32_t SetTextOperation(WorkerJob* job) {
    HWND dialog = job->progressWindow;
    g_seen->foreignSetTextResult = SendMessageW(dialog, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"外来"));
    g_seen->taskAfterForeignSetText = WindowText(GetDlgItem(dialog, IDC_TASK_TEXT));
    g_seen->setTextResult = SendMessageW(dialog, WM_SETTEXT, reinterpret_cast<WPARAM>(dialog), reinterpret_cast<LPARAM>(L"任务"));
    g_seen->taskText = WindowText(GetDlgItem(dialog, IDC_TASK_TEXT));
    g_seen->captionAfter = WindowText(dialog);
    return JobSucceeded;
}

// Sends JobFinished with wParam 0, then keeps working until it sees the stop request.
uint32_t FinishedWithZeroOperation(WorkerJob* job) {
    SendMessageW(job->progressWindow, JobFinished, 0, 0);
    uint32_t result = JobSucceeded;
    g_seen->sawStop = WaitForStop(&result, 10000);
    g_seen->workerResult = result;
    return result;
}

// Talks to a window of the UI thread; the first message presses Cancel, and the
// worker sends again after the dialog has gone, before its next stop check.
LRESULT CALLBACK UiWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP + 7) {
        if (wParam == 1) {
            HWND progress = reinterpret_cast<HWND>(lParam);
            PostMessageW(progress, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(progress, IDCANCEL)));
        }
        return 42;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

uint32_t SendsToUiOperation(WorkerJob* job) {
    SendMessageW(g_seen->uiWindow, WM_APP + 7, 1, reinterpret_cast<LPARAM>(job->progressWindow));
    // Let the dialog close so the command is waiting for this thread.
    while (IsWindow(job->progressWindow)) Sleep(10);
    Sleep(100);
    const LRESULT answer = SendMessageW(g_seen->uiWindow, WM_APP + 7, 2, 0);
    uint32_t result = answer == 42 ? JobSucceeded : JobFailed;
    g_seen->sawStop = IsStopRequested(&result);
    g_seen->workerResult = result;
    return result;
}

// Presses Enter in the dialog (the task edit has the focus) and watches it stay open.
uint32_t PressesEnterOperation(WorkerJob* job) {
    HWND edit = GetDlgItem(job->progressWindow, IDC_TASK_TEXT);
    PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(edit, WM_KEYUP, VK_RETURN, 0xC0000001);
    Sleep(500);
    uint32_t result = JobSucceeded;
    g_seen->sawStop = IsStopRequested(&result);
    g_seen->barPosition = IsWindowVisible(job->progressWindow) ? 1 : 0;
    return result;
}

uint32_t ChecksForStaleStopOperation(WorkerJob* job) {
    uint32_t result = JobSucceeded;
    g_seen->sawStop = WaitForStop(&result, 300);
    return result;
}

class ProgressFrameworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen = &seen;
        for (uint32_t k = 0; k < kJobKindCount; ++k) JobOperationTable()[k] = nullptr;
    }
    void TearDown() override { g_seen = nullptr; }
    uint32_t Run(uint32_t kind, JobOperation op) {
        JobOperationTable()[kind] = op;
        WorkerJob* job = NewJob(kind);
        const uint32_t result = RunJobWithProgress(job);
        EXPECT_EQ(job->progressWindow != nullptr, true);
        FreeWorkerJob(job);
        return result;
    }
    Observed seen;
    testutil::Watchdog watchdog{60000};
};

TEST_F(ProgressFrameworkTest, FinishedJobReportsItsResultAndProgress) {
    EXPECT_EQ(Run(BuildProcessTree, FinishingOperation), JobSucceeded);
    EXPECT_EQ(seen.workerResult.load(), JobSucceeded);
    EXPECT_EQ(seen.taskText, L"正在测试");
    EXPECT_EQ(seen.barPosition, 5);
    EXPECT_EQ(seen.stepResult, 1);
}

TEST_F(ProgressFrameworkTest, EnterDoesNotEndTheDialog) {
    EXPECT_EQ(Run(WriteReport, PressesEnterOperation), JobSucceeded);
    EXPECT_EQ(seen.barPosition, 1) << "the progress dialog closed on Enter";
    EXPECT_FALSE(seen.sawStop.load());
}

TEST_F(ProgressFrameworkTest, FailedAndUnknownKinds) {
    EXPECT_EQ(Run(WriteReport, [](WorkerJob*) -> uint32_t { return JobFailed; }), JobFailed);
    // No operation for the kind, and a kind beyond the table: both JobError.
    EXPECT_EQ(Run(LoadReportView, nullptr), JobError);
    WorkerJob* job = NewJob(7);
    EXPECT_EQ(RunJobWithProgress(job), JobError);
    FreeWorkerJob(job);
}

TEST_F(ProgressFrameworkTest, SetTextOnlyWithTheDialogsOwnHandle) {
    EXPECT_EQ(Run(LoadAutorunView, SetTextOperation), JobSucceeded);
    EXPECT_EQ(seen.foreignSetTextResult, 0);
    EXPECT_EQ(seen.taskAfterForeignSetText, L"");
    EXPECT_EQ(seen.setTextResult, 0);
    EXPECT_EQ(seen.taskText, L"任务");
    EXPECT_EQ(seen.captionAfter, L"搜索进度");
}

TEST_F(ProgressFrameworkTest, JobFinishedWithZeroStopsTheWorker) {
    EXPECT_EQ(Run(ListConnections, FinishedWithZeroOperation), JobCancelled);
    EXPECT_TRUE(seen.sawStop.load());
    EXPECT_EQ(seen.workerResult.load(), JobCancelled);
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
    EXPECT_EQ(Run(BuildProcessTree, SendsToUiOperation), JobCancelled);
    EXPECT_TRUE(seen.sawStop.load());
    EXPECT_EQ(seen.workerResult.load(), JobCancelled);
    DestroyWindow(seen.uiWindow);
}

TEST_F(ProgressFrameworkTest, SecondOperationIsNotStoppedByTheFirstOnesRequest) {
    EXPECT_EQ(Run(BuildProcessTree, FinishedWithZeroOperation), JobCancelled);
    HANDLE stale = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kStopRequestName);
    EXPECT_EQ(stale, nullptr) << "the stop request outlived the wait";
    if (stale) CloseHandle(stale);
    seen.sawStop = false;
    EXPECT_EQ(Run(BuildProcessTree, ChecksForStaleStopOperation), JobSucceeded);
    EXPECT_FALSE(seen.sawStop.load());
}

TEST_F(ProgressFrameworkTest, StopCheckLeavesResultAloneWithoutRequest) {
    uint32_t result = 17;
    EXPECT_FALSE(IsStopRequested(&result));
    EXPECT_EQ(result, 17u);
    // Another holder of the name (another instance stopping its worker) stops this one too.
    HANDLE request = CreateMutexW(nullptr, TRUE, kStopRequestName);
    ASSERT_NE(request, nullptr);
    EXPECT_TRUE(IsStopRequested(&result));
    EXPECT_EQ(result, JobCancelled);
    CloseHandle(request);
    // Without a progress window there is no reporting and no stop check.
    EXPECT_FALSE(StepProgress(nullptr, &result));
}

TEST_F(ProgressFrameworkTest, MissingJobShowsSetupErrorAndCancels) {
    std::wstring text;
    HANDLE answerer = CreateThread(nullptr, 0, testutil::AnswerMessageBox, &text, 0, nullptr);
    EXPECT_EQ(RunJobWithProgress(nullptr), JobCancelled);
    WaitForSingleObject(answerer, INFINITE);
    CloseHandle(answerer);
    EXPECT_EQ(text, L"错误的设置数据.");
}

}  // namespace
