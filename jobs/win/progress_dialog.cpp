#include "jobs/win/progress_dialog.h"

#include <process.h>

#include "resources/resource.h"

ProgressDialog::ProgressDialog() : Dialog(IDD_PROGRESS) {}

void ProgressDialog::DoDataExchange() {
    progressBar_.Attach(hwnd_, IDC_PROGRESS_BAR);
    taskText_.Attach(hwnd_, IDC_TASK_TEXT);
}

BOOL ProgressDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    if (job && threadHandle) {
        job->progressWindow = hwnd_;
        *threadHandle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WorkerThreadEntry, job, 0, nullptr));
        if (*threadHandle) return TRUE;
    }
    MessageBoxW(hwnd_, L"错误的设置数据.", kProductName, MB_OK);
    EndDialog(IDCANCEL);
    return FALSE;
}

bool ProgressDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (message) {
    case ProgressSetPos:
    case ProgressSetStep:
    case ProgressStep:
        // The task text is painted before the bar moves, not at the next paint cycle.
        UpdateWindow(taskText_.hwnd);
        SendMessageW(progressBar_.hwnd, message, wParam, lParam);
        *result = 1;
        return true;
    case ProgressSetRange:
        SendMessageW(progressBar_.hwnd, PBM_SETRANGE32, wParam, lParam);
        *result = 1;
        return true;
    case WM_SETTEXT:
        // Only a text addressed with the dialog's own handle is a task text; nothing
        // changes the caption through this message.
        if (reinterpret_cast<HWND>(wParam) == hwnd_) {
            SetWindowTextW(taskText_.hwnd, reinterpret_cast<const wchar_t*>(lParam));
        }
        *result = 0;
        return true;
    case ProgressRunOnInterfaceThread:
        reinterpret_cast<InterfaceWork>(wParam)(reinterpret_cast<void*>(lParam));
        *result = 1;
        return true;
    case JobFinished:
        EndDialog(wParam == 1 ? IDOK : IDCANCEL);
        *result = 1;
        return true;
    default:
        return Dialog::OnMessage(message, wParam, lParam, result);
    }
}
