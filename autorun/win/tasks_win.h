// The task scheduler of the autorun scan on the real system: its COM interface (Task
// Scheduler 2.0, Vista and later) behind TaskSchedulerOps.
#pragma once

#include "autorun/autorun_system.h"

// The table of real operations; it has no state and lives for the whole run. A folder
// holds its interface and, once asked for, its subfolders and its tasks.
const TaskSchedulerOps* SystemTaskSchedulerOps();
