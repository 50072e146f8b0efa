// Background operations: the job descriptor a command hands to the worker thread,
// the progress messages the worker sends, and the command-side runner.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

#include "jobs/win/progress.h"

struct SystemProbe;
struct HashTable;

// What the main window's tree shows; every job receives the address of this byte.
enum ViewMode : uint8_t {
    LiveProcessView = 0,
    AutorunView = 1,
    ReportView = 2,
};

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

static_assert(JobCancelled == kStoppedResult, "the stop check reports the cancelled result");

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

// The worker thread's entry: waits 200 ms, runs the operation of the job's kind,
// tells the progress dialog it has finished and returns the JobResult.
unsigned __stdcall WorkerThreadEntry(void* job);

// Frees a job after the command has acted on its result: params, result, descriptor.
// Params and result blocks are plain heap blocks unless their kind owns more (a
// report path), which is freed here too.
void FreeWorkerJob(WorkerJob* job);
