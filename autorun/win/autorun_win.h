// The autorun scan on the real system: INI files, directory searches and shell links
// through Win32 and COM, the processes through the SystemProbe, progress through the
// progress window; and the two ScanAutoruns slots of the probe.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "autorun/autorun_scan.h"
#include "autorun/autorun_system.h"

struct SystemProbe;

// The tables of real operations; they have no state and live for the whole run.
const IniOps* SystemIniOps();
const DirectoryOps* SystemDirectoryOps();
const ShellLinkOps* SystemShellLinkOps();

// Everything but the processes from the system; processes may be null (no listing).
// For NT 6 and later also the task scheduler, both registry views on 64-bit Windows and
// the file-system redirection of a 32-bit build there.
AutorunSystem SystemAutorunSystem(const ProcessOps* processes, AutorunFamily family = kAutorunNtFamily);

// The probe's ScanAutoruns slot for each family (NT 4 to 5.2, NT 6 and later, 9x):
// 0 done, 3 stopped on request.
uint32_t ScanAutorunsNt(SystemProbe* probe, HWND progressWindow, FILE* reportStream);
uint32_t ScanAutorunsNt6(SystemProbe* probe, HWND progressWindow, FILE* reportStream);
uint32_t ScanAutoruns9x(SystemProbe* probe, HWND progressWindow, FILE* reportStream);
