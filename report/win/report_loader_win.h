// The autorun and report views: a report file read into the main window's tree, each
// item's record stored in the view's record table.
#pragma once

#include <cstdint>

struct WorkerJob;

// Job kinds LoadAutorunView and LoadReportView (LoadJobParams): empties the tree and
// fills it from the file, sets the view mode to the autorun or report view, frees the
// params block on every exit. Returns a JobResult: failed when the file cannot be
// opened (the tree is left as it was), stopped when a stop was requested while reading
// (the tree holds what was read).
uint32_t LoadAutorunViewJob(WorkerJob* job);
uint32_t LoadReportViewJob(WorkerJob* job);
