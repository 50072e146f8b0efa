// Process listing and counting: the NT-family variants read the registry's performance
// data, the 9x-family variants the ToolHelp process snapshot. SystemProbe chooses.
#pragma once

#include <windows.h>

#include <cstdint>

#include "inspect/hash_table.h"
#include "inspect/perf_data.h"

struct SystemProbe;

// Fills a process table (4-byte process ID key, malloc copy of the name). progressWindow
// null: no progress messages and no stop checks. 0 success, 1 failure, 3 stopped.
uint32_t ListProcessesPerfData(SystemProbe* probe, HashTable* table, HWND progressWindow);
uint32_t ListProcessesToolHelp(SystemProbe* probe, HashTable* table, HWND progressWindow);

// Number of processes, plus with includeModules the modules of every process; 0 on failure.
uint32_t CountProcessItemsPerfData(SystemProbe* probe, int includeModules);
uint32_t CountProcessItemsToolHelp(SystemProbe* probe, int includeModules);

// True when the process can be opened for query and memory reading and has not ended.
bool CanOpenProcess(uint32_t processId);

// The system side of the performance-data walk, open for one operation: the English
// counter-name key (null when it cannot be opened) and the probe for module counts.
struct PerfDataSystem {
    SystemProbe* probe;
    HKEY counterKey;
};

void OpenPerfDataSystem(PerfDataSystem* system, SystemProbe* probe);
// Closes the counter-name key and the performance-data key.
void ClosePerfDataSystem(PerfDataSystem* system);
// Registry queries of both keys, the name conversion below, and module counts through
// the probe's EnumProcessModules; the context is system.
PerfDataOps SystemPerfDataOps(PerfDataSystem* system);

// Converts a UTF-16 instance name of length units to the system code page, zero-terminated
// within outSize bytes. A name that does not fit is converted as a shorter prefix (never
// ending inside a surrogate pair) instead of failing; "" when nothing converts.
void PerfNameToAnsi(const uint16_t* text, size_t length, char* out, size_t outSize);
