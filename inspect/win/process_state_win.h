// Whether a process still runs, as current Windows tells it to a program that may lack
// administrator rights: such a program is refused full rights to many processes that
// run, so a failed open says nothing about a process's end. And whether the program
// has those rights.
#pragma once

#include <windows.h>

#include <cstdint>

struct SystemProbe;

// The rights the exit code is asked with: limited query rights, which NT 6 and later
// grant where they refuse full rights (PROCESS_QUERY_LIMITED_INFORMATION).
constexpr DWORD kLimitedQueryAccess = 0x1000;

// False once the process's exit code is set or, where the code cannot be read, once
// it is gone from a fresh process snapshot; true otherwise, also when it is listed but
// refuses to be opened even with queryAccess. Without a snapshot (no probe, or one
// without ToolHelp entry points) a process that opens, or refuses with an access
// refusal, runs. queryAccess is for tests.
bool IsProcessRunning(SystemProbe* probe, uint32_t processId, DWORD queryAccess = kLimitedQueryAccess);

// Whether a process of the live tree has ended, for the tree's marks and the report:
// on NT 6 and later once IsProcessRunning says so, since a process that refuses to be
// opened may well run; on the older systems once it can no longer be opened.
bool HasProcessEnded(SystemProbe* probe, uint32_t processId);

// True when the program runs with administrator rights: its token is a member of the
// administrators group (on current systems, an elevated token). Also true where the
// question cannot be asked (NT 4, which lacks the membership check, or a failed check).
bool HasAdministratorRights();
