// Writing a report: the sections the user chose go into a temporary report file, which
// the Save command then copies where the user wants it and the autorun command loads
// back as its view.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct WorkerJob;

// Job kind WriteReport (ReportJobParams): writes the system line and the chosen sections
// to the temporary report and leaves a ReportJobResult with its path and size. Returns a
// JobResult; a stopped job deletes its half-written file and leaves no result.
uint32_t WriteReportJob(WorkerJob* job);

// The temporary report's path: "~korvane.tmp" in the temporary folder, or in "c:\" when
// the system names none that fits. False only when even that cannot be built.
bool TemporaryReportPath(char* path, size_t size);

// One module item of a process that no longer runs, as the tree remembers it.
struct EndedModuleItem {
    const char* text;  // the module's path
    uintptr_t handle;
};

// Writes a process that no longer runs from what its tree items remember: the "KILLED
// PROCESS" line, one "KILLED MODULE" line with the file's details per module, and an
// end-of-block line. 0, or 3 when a stop was requested.
uint32_t WriteEndedProcessBlock(uint32_t processId, FILE* stream, const char* processText,
                                const EndedModuleItem* modules, size_t moduleCount, HWND progressWindow);
