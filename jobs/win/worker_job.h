// Background operations: the job descriptor a command hands to the worker thread,
// the progress messages the worker sends, and the command-side runner.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

struct SystemProbe;
struct HashTable;

enum JobKind : uint32_t {
    BuildProcessTree = 0,
    WriteReport = 1,
    LoadAutorunView = 2,
    LoadReportView = 3,
    ListConnections = 4,
};
constexpr uint32_t kJobKindCount = 5;

enum JobResult : uint32_t {
    JobSucceeded = 0,
    JobFailed = 1,
    JobError = 2,
    JobCancelled = 3,
};

// Messages the worker sends (synchronously) to the progress dialog.
constexpr UINT ProgressSetPos = WM_USER + 2;
constexpr UINT ProgressSetStep = WM_USER + 4;
constexpr UINT ProgressStep = WM_USER + 5;
constexpr UINT ProgressSetRange = WM_USER + 6;
constexpr UINT JobFinished = WM_APP + 100;

// Name of the stop request: exists only while a command is stopping its worker.
extern const wchar_t kStopRequestName[];

struct WorkerJob {
    uint32_t kind;
    uint8_t* viewMode;
    HWND progressWindow;  // null: no progress reporting and no stop checks
    SystemProbe* probe;
    void* params;         // the kind's params block; the worker may free it and null the field
    void* result;         // allocated by the worker, freed by the command
};

struct TreeJobParams {
    HWND tree;
    uint32_t selectProcessId;
    uintptr_t selectModuleHandle;
};

struct TreeJobResult {
    HTREEITEM selectItem;
};

struct ReportJobParams {
    uint32_t autorunSection;
    uint32_t processSection;
    uint32_t selectedProcessModulesOnly;
    uint32_t connectionsSection;
    HWND tree;
};

struct ReportJobResult {
    char* reportPath;
    uint32_t reportSize;
};

struct LoadJobParams {
    char* reportPath;
    uint32_t reportSize;
    HWND tree;
    HashTable* records;
};

struct ConnectionsJobParams {
    HWND list;
};

// One operation of the worker: returns a JobResult.
using JobOperation = uint32_t (*)(WorkerJob* job);

// The worker's operations by job kind; an empty entry is a kind the worker does not know.
JobOperation* JobOperationTable();

// Runs the job on a worker thread behind the modal progress dialog; returns a JobResult.
uint32_t RunJobWithProgress(WorkerJob* job);

// Worker side: true (and *result = JobCancelled) when a stop has been requested.
bool IsStopRequested(uint32_t* result);

// Worker side, the reporting pattern of every task: sets the task text and the bar's
// range 0..steps with step 1. Each does nothing when progressWindow is null.
void BeginProgressTask(HWND progressWindow, const wchar_t* taskText, uint32_t steps);
// Advances the bar by one step and checks for a stop request; true when stopped.
bool StepProgress(HWND progressWindow, uint32_t* result);

// The worker thread's entry: waits 200 ms, runs the operation of the job's kind,
// tells the progress dialog it has finished and returns the JobResult.
unsigned __stdcall WorkerThreadEntry(void* job);

// Frees a job after the command has acted on its result: params, result, descriptor.
// Params and result blocks are plain heap blocks unless their kind owns more (a
// report path), which is freed here too.
void FreeWorkerJob(WorkerJob* job);
