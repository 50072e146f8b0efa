// The progress dialog and its worker thread for real under Wine.
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
    int barPosition = -1;
    bool visibleAfterEnter = false;
    DWORD workThread = 0;
    HWND uiWindow = nullptr;
} * g_seen = nullptr;

// Records what the worker ends with.
uint32_t Ends(uint32_t result) {
    g_seen->sawStop = IsStopRequested(&result);
    return g_seen->workerResult = result;
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
        FreeWorkerJob(job);
        return result;
    }
    Observed seen;
    testutil::Watchdog watchdog{60000};
};

// The worker sets the task text (once with a foreign handle, which must change nothing),
// steps the bar five times, runs a piece of work on the interface thread and presses
// Enter, which must not end the dialog.
TEST_F(ProgressFrameworkTest, WorkerReportsTaskAndProgressAndEnterLeavesTheDialogOpen) {
    EXPECT_EQ(Run(BuildProcessTree, [](WorkerJob* job) -> uint32_t {
                  HWND dialog = job->progressWindow, edit = GetDlgItem(dialog, IDC_TASK_TEXT);
                  SendMessageW(dialog, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"外来"));
                  g_seen->taskAfterForeignSetText = WindowText(edit);
                  BeginProgressTask(dialog, L"正在测试", 5);
                  uint32_t result = JobSucceeded;
                  for (int i = 0; i < 5; ++i) StepProgress(dialog, &result);
                  FlushProgress(dialog);
                  g_seen->taskText = WindowText(edit);
                  g_seen->captionAfter = WindowText(dialog);
                  g_seen->barPosition = static_cast<int>(SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
                  RunOnInterfaceThread(dialog, [](void* thread) { *static_cast<DWORD*>(thread) = GetCurrentThreadId(); },
                                       &g_seen->workThread);
                  PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
                  PostMessageW(edit, WM_KEYUP, VK_RETURN, 0xC0000001);
                  Sleep(500);
                  g_seen->visibleAfterEnter = IsWindowVisible(dialog) != FALSE;
                  return Ends(result);
              }), JobSucceeded);
    EXPECT_EQ(seen.workerResult.load(), JobSucceeded);
    EXPECT_EQ(seen.taskAfterForeignSetText, L"");
    EXPECT_EQ(seen.taskText, L"正在测试");
    EXPECT_EQ(seen.captionAfter, L"搜索进度");
    EXPECT_EQ(seen.barPosition, 5);
    EXPECT_EQ(seen.workThread, GetCurrentThreadId());
    EXPECT_TRUE(seen.visibleAfterEnter) << "the progress dialog closed on Enter";
    EXPECT_FALSE(seen.sawStop.load());
}

TEST_F(ProgressFrameworkTest, UnknownAndMissingJobs) {
    EXPECT_EQ(Run(kJobKindCount + 2), JobError);  // a kind beyond the table
    std::wstring text;
    HANDLE answerer = CreateThread(nullptr, 0, testutil::AnswerMessageBox, &text, 0, nullptr);
    EXPECT_EQ(RunJobWithProgress(nullptr), JobCancelled);
    WaitForSingleObject(answerer, INFINITE);
    CloseHandle(answerer);
    EXPECT_EQ(text, L"错误的设置数据.");
}

LRESULT CALLBACK UiWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_APP + 7) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (wParam == 1) PostMessageW(reinterpret_cast<HWND>(lParam), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return 42;
}

// Cancel while the worker sends to the interface thread does not deadlock; the worker
// ends with JobCancelled. The stop request does not outlive the wait, so the next
// operation runs on. The interface thread's window presses Cancel on its first message;
// the worker sends again after the dialog has gone, before its stop check.
TEST_F(ProgressFrameworkTest, CancelWhileWorkerSendsAndTheStopRequestEnds) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = UiWindowProc;
    wc.lpszClassName = L"KorvaneTestUiWindow";
    RegisterClassW(&wc);
    seen.uiWindow = CreateWindowW(wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(seen.uiWindow, nullptr);
    EXPECT_EQ(Run(BuildProcessTree, [](WorkerJob* job) -> uint32_t {
                  SendMessageW(g_seen->uiWindow, WM_APP + 7, 1, reinterpret_cast<LPARAM>(job->progressWindow));
                  while (IsWindow(job->progressWindow)) Sleep(10);  // the command now waits for this thread
                  Sleep(100);
                  return Ends(SendMessageW(g_seen->uiWindow, WM_APP + 7, 2, 0) == 42 ? JobSucceeded : JobFailed);
              }), JobCancelled);
    EXPECT_TRUE(seen.sawStop.load());
    EXPECT_EQ(seen.workerResult.load(), JobCancelled);
    DestroyWindow(seen.uiWindow);

    uint32_t result = 17;
    EXPECT_FALSE(IsStopRequested(&result));
    EXPECT_EQ(result, 17u);
    EXPECT_EQ(Run(ListConnections, [](WorkerJob*) -> uint32_t {
                  uint32_t result = JobSucceeded;
                  for (int i = 0; i < 30 && !IsStopRequested(&result); ++i) Sleep(10);
                  return result;
              }), JobSucceeded);
}

}  // namespace
