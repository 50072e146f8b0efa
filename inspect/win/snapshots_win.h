// Helpers shared by the process and module routes: the system's lead bytes, which the
// names taken from snapshot entries and module paths are split with, and the ToolHelp
// snapshots taken through the probe's entry points.
#pragma once

#include <windows.h>

#include <cstdint>

#include "inspect/processes_names.h"

struct SystemProbe;

// Lead bytes of the system's ANSI code page.
const LeadByteOps& SystemLeadByteOps();

// A process snapshot; null when none can be taken.
HANDLE TakeProcessSnapshot(SystemProbe* probe);

// A module snapshot of the process (both module widths on a 64-bit build), taken again
// while the system answers that the process is changing; null when none can be taken.
// Null for process ID 0, the idle process, which has no modules: the system would take
// 0 for this process. Pass this process's own ID to list its modules.
HANDLE TakeModuleSnapshot(SystemProbe* probe, uint32_t processId);
