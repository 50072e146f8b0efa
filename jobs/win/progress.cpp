#include "jobs/win/progress.h"

#include <atomic>

const wchar_t kStopRequestName[] = L"CloseLongThreadOperation";

namespace {

std::atomic<bool> g_localStop{false};

// Progress of the current task. One worker runs at a time, so one state serves.
struct PacedProgress {
    HWND window;
    uint32_t position;  // steps counted since the task began
    uint32_t shown;     // the position the bar shows
    DWORD lastPace;     // tick of the last bar update and named-request check
};
PacedProgress g_progress = {nullptr, 0, 0, 0};

void ShowPosition() {
    if (g_progress.shown == g_progress.position) return;
    SendMessageW(g_progress.window, ProgressSetPos, g_progress.position, 0);
    g_progress.shown = g_progress.position;
}

// A new task: its first step is shown and checked at once.
void StartPacing(HWND window) { g_progress = {window, 0, 0, GetTickCount() - kProgressPaceMs}; }

}  // namespace

void SetLocalStopRequest(bool stopping) { g_localStop.store(stopping); }

bool IsStopRequested(uint32_t* result) {
    bool stop = g_localStop.load();
    if (!stop) {
        HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kStopRequestName);
        if (mutex) {
            CloseHandle(mutex);
            stop = true;
        }
    }
    if (stop) *result = kStoppedResult;
    return stop;
}

void BeginProgressTask(HWND progressWindow, const wchar_t* taskText, uint32_t steps) {
    if (!progressWindow) return;
    if (taskText) {
        SendMessageW(progressWindow, WM_SETTEXT, reinterpret_cast<WPARAM>(progressWindow),
                     reinterpret_cast<LPARAM>(taskText));
    }
    SendMessageW(progressWindow, ProgressSetPos, 0, 0);
    SendMessageW(progressWindow, ProgressSetRange, 0, steps);
    SendMessageW(progressWindow, ProgressSetStep, 1, 0);
    StartPacing(progressWindow);
}

bool AdvanceProgress(HWND progressWindow, uint32_t count, uint32_t* result) {
    if (!progressWindow) return false;
    if (g_progress.window != progressWindow) StartPacing(progressWindow);
    g_progress.position += count;
    if (g_localStop.load()) {
        *result = kStoppedResult;
        return true;
    }
    const DWORD now = GetTickCount();
    if (now - g_progress.lastPace < kProgressPaceMs) return false;
    g_progress.lastPace = now;
    ShowPosition();
    return IsStopRequested(result);
}

bool StepProgress(HWND progressWindow, uint32_t* result) { return AdvanceProgress(progressWindow, 1, result); }

void FlushProgress(HWND progressWindow) {
    if (progressWindow && g_progress.window == progressWindow) ShowPosition();
}

void RunOnInterfaceThread(HWND progressWindow, InterfaceWork work, void* argument) {
    if (progressWindow) {
        SendMessageW(progressWindow, ProgressRunOnInterfaceThread, reinterpret_cast<WPARAM>(work),
                     reinterpret_cast<LPARAM>(argument));
    } else {
        work(argument);
    }
}
