// The live process tree: every running process as a top-level item (data: its process
// ID) with its modules as children (data: the module handle), built by the worker.
#pragma once

#include <cstdint>

struct WorkerJob;

// Job kind BuildProcessTree (TreeJobParams): fills the tree, leaves a TreeJobResult with
// the item to select unless stopped before the listing, sets the view mode to the live
// view and frees the params block on every exit. Returns a JobResult.
uint32_t BuildProcessTreeJob(WorkerJob* job);
