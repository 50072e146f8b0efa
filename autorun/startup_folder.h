// Startup folders: every file in one is an autorun entry, and a shortcut is shown with
// its target's command line in long-path form and the details of both files. The
// directory search and the shell link come from autorun_system.h.
#pragma once

#include <cstddef>

#include "autorun/autorun_system.h"

// Longest path that is searched or opened (MAX_PATH less its terminator); longer ones
// are not looked up.
constexpr size_t kMaxOpenPathLength = 259;

// Writes one line per entry of folder ("." and ".." aside), files and subfolders alike:
// a shortcut (".lnk" in its name, exact case) that loads as one gives a shortcut line,
// or none when it has no file target; every other entry is written with
// WriteAutorunEntry at level 2. No progress steps.
void ListStartupFolder(const AutorunWriter* writer, const char* folder);

// The long form of a drive path ("C:\PROGRA~1\APP" -> "C:\Program Files\App"), each
// component as the directory search names it; a path that is not a drive path, or one
// of whose components cannot be found, is returned unchanged. A new block; null only
// when memory runs out. The current directory is neither used nor changed.
char* LongPathOf(const AutorunSystem* system, const char* path);

// The long name of the entry at path (its 8.3 name when it has no long one), in out
// (kEntryNameSize bytes); false when the entry cannot be found.
bool LongNameOf(const AutorunSystem* system, const char* path, char* out);

// Text of a shortcut line: target, a blank, arguments; no blank when there are no
// arguments, the target ends with a blank or the arguments begin with one. New block.
char* ShortcutText(const char* target, const char* arguments);
