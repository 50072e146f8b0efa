// The autorun scan: every place from which Windows starts programs by itself, visited
// in a fixed order per OS family and written as report lines. autorun/win/autorun_win.h
// has the SystemProbe slots that run it on the real system.
#pragma once

#include <cstdint>
#include <cstdio>

#include "autorun/autorun_system.h"

enum AutorunFamily : uint32_t {
    kAutorunNtFamily,   // NT 4 to 5.2
    kAutorun9xFamily,
    kAutorunNt6Family,  // NT 6 and later: the NT places, then those of current systems
};

// Lists the running processes, then visits the INI sections, registry keys, file types
// and startup folders of the family, writing their headings and entries to stream.
// progress null: no steps and no stop checks. 0 when the scan ran to its end, 3 when it
// stopped on request (what was written stays in the stream).
uint32_t ScanAutoruns(const AutorunSystem* system, const ProgressOps* progress, FILE* stream, AutorunFamily family);

// Fixed steps of a scan, beside the processes and the registry items it counts: one
// after the process listing, one after each INI section, one at the end.
uint32_t FixedScanSteps(AutorunFamily family);
