// The application object: prepares the process and runs the main window modally.
#pragma once

#include <windows.h>

// The machine's host name, read once at start.
extern char LocalHostName[260];

// Program start: Windows Sockets, host name, common controls, then the main dialog.
// Returns the process exit code.
int RunApplication();
