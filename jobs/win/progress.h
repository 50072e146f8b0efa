// What a background operation needs to report its progress and to see a stop request:
// the progress messages, the stop check, paced stepping, and running a piece of work
// on the interface thread. It knows nothing of jobs or windows beyond the progress
// window's handle, so the inspection, autorun and report code can use it from below.
#pragma once

#include <windows.h>

#include <cstdint>

// Messages the worker sends (synchronously) to the progress dialog.
constexpr UINT ProgressSetPos = WM_USER + 2;
constexpr UINT ProgressSetStep = WM_USER + 4;
constexpr UINT ProgressStep = WM_USER + 5;
constexpr UINT ProgressSetRange = WM_USER + 6;
constexpr UINT JobFinished = WM_APP + 100;
// wParam: an InterfaceWork function, lParam: its argument. The dialog calls it on the
// interface thread and returns 1.
constexpr UINT ProgressRunOnInterfaceThread = WM_APP + 101;

// The result code an operation ends with when it saw a stop request.
constexpr uint32_t kStoppedResult = 3;

// Name of the stop request: exists only while a command is stopping its worker.
extern const wchar_t kStopRequestName[];

// Worker side: true (and *result = kStoppedResult) when a stop has been requested.
bool IsStopRequested(uint32_t* result);

// Set and cleared by the command that stops its worker, beside the named request: a
// process-local flag that the worker sees at once and at no cost.
void SetLocalStopRequest(bool stopping);

// The reporting pattern of every task: the task text (null keeps the one shown),
// position 0, range 0..steps, step 1. Does nothing when progressWindow is null.
void BeginProgressTask(HWND progressWindow, const wchar_t* taskText, uint32_t steps);

// Counts one step of the current task. The bar is moved and the named stop request
// looked for at most every kProgressPaceMs (a bar update costs a message and a redraw,
// which under Wine is far more than the work of one item); the process-local stop flag
// is seen at every call. True (and *result = kStoppedResult) when stopped. Without a
// progress window: no reporting, no stop check, false.
bool StepProgress(HWND progressWindow, uint32_t* result);
// As StepProgress for count steps at once.
bool AdvanceProgress(HWND progressWindow, uint32_t count, uint32_t* result);
// Shows the steps counted since the bar last moved.
void FlushProgress(HWND progressWindow);

constexpr DWORD kProgressPaceMs = 25;

// Runs work(argument) on the interface thread: through the progress window when there
// is one (the worker waits until it has run), else directly on the calling thread.
using InterfaceWork = void (*)(void* argument);
void RunOnInterfaceThread(HWND progressWindow, InterfaceWork work, void* argument);
