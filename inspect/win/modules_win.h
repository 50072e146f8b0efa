// Module listing, module paths and the process blocks of the report: the NT-family
// variants use psapi, the 9x-family variants the ToolHelp module snapshot. SystemProbe
// chooses; GetProcessImagePath and ResolveProcessImagePaths are probe methods defined here.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "inspect/hash_table.h"
#include "inspect/win/system_probe.h"

// Most module handles each operation examines.
constexpr uint32_t kListModulesCapacity = 4096;
constexpr uint32_t kFindModuleCapacity = 1024;
constexpr uint32_t kWriteModulesCapacity = 1024;

// Fills a module table: pointer-width module handle key, malloc copy of the upper-cased
// path. Process ID 0 is this process (only here: to the other operations it is the idle
// process, which has no modules). 0 when at least one module entered the table,
// 1 when none did, 3 when stopped; the ToolHelp variant answers 0 with nothing entered
// when the module snapshot cannot be taken.
uint32_t ListModulesPsapi(SystemProbe* probe, uint32_t processId, HashTable* table, HWND progressWindow);
uint32_t ListModulesToolHelp(SystemProbe* probe, uint32_t processId, HashTable* table, HWND progressWindow);

// Path of one module of a process, as the system reports it; none for process ID 0.
ModulePathResult FindModulePathPsapi(SystemProbe* probe, uint32_t processId, HMODULE moduleHandle,
                                     uintptr_t unused1, uintptr_t unused2);
ModulePathResult FindModulePathToolHelp(SystemProbe* probe, uint32_t processId, HMODULE moduleHandle,
                                        uintptr_t unused1, uintptr_t unused2);

// Writes the process line and one line per module to the report stream. The psapi
// variant ends the block with an empty separator line; it answers 1, writing nothing,
// when the process cannot be opened. The ToolHelp variant answers 1 after the process
// line when the module snapshot cannot be taken or is empty. 3 when stopped. Process
// ID 0 gets its process line (and the psapi closing line) and 0.
uint32_t WriteProcessBlockPsapi(SystemProbe* probe, uint32_t processId, FILE* stream, const char* processName,
                                HWND progressWindow);
uint32_t WriteProcessBlockToolHelp(SystemProbe* probe, uint32_t processId, FILE* stream,
                                   const char* processName, HWND progressWindow);
