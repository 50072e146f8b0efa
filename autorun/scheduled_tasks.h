// The scheduled tasks of the autorun scan: every folder of the task scheduler that holds
// tasks, as a location headed by the folder's path, with one entry per program a task
// runs. The scheduler is reached through TaskSchedulerOps (autorun/autorun_system.h).
#pragma once

#include <cstdint>

#include "autorun/autorun_system.h"

// Folders below the root that are walked at most; deeper ones are left out.
constexpr uint32_t kMaxTaskFolderDepth = 32;

// Writes, for each folder with tasks, its heading (level 1), the entry "name = program
// arguments" (level 2) of each program action of each task, resolved with environment
// references expanded, and an end-of-block line. A stop request is honoured after each
// folder. 0 done, 3 stopped; nothing is written without a scheduler.
uint32_t ListScheduledTasks(const AutorunWriter* writer, const ProgressOps* progress);
