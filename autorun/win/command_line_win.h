// The real system operations for command-line resolution (ANSI Win32 and runtime
// calls), and the forms of ResolveCommandLine and LocateFile that use them.
#pragma once

#include "autorun/command_line.h"

// The table of real operations; it has no state and lives for the whole run.
const CommandLineOps* SystemCommandLineOps();

bool ResolveCommandLine(const char* commandLine, char** path);
int LocateFile(const char* name, char** path);
