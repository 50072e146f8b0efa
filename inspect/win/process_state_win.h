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

// False once the process is gone from a fresh process snapshot or its exit code is set;
// true otherwise, also when it is listed but refuses to be opened even with
// queryAccess (the exit code is then unknown). Without a snapshot (no probe, or one
// without ToolHelp entry points) the exit code decides, and of a process that cannot
// be opened, an access refusal says it runs. queryAccess is for tests.
bool IsProcessRunning(SystemProbe* probe, uint32_t processId, DWORD queryAccess = kLimitedQueryAccess);

// Whether a process of the live tree has ended, for the tree's marks and the report:
// on NT 6 and later once IsProcessRunning says so, since a process that refuses to be
// opened may well run; on the older systems once it can no longer be opened.
bool HasProcessEnded(SystemProbe* probe, uint32_t processId);

// True when the program runs with administrator rights: its token is a member of the
// administrators group (on current systems, an elevated token). Also true where the
// question cannot be asked (NT 4, which lacks the membership check, or a failed check).
bool HasAdministratorRights();
