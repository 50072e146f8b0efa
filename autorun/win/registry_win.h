// Registry values read whole, whatever their length, and the registry operations of
// the autorun scan (autorun/autorun_system.h) on the real registry.
#pragma once

#include <windows.h>

#include "autorun/autorun_system.h"

// The value valueName (null or "": the default value) of an open key, read whole: its
// size is asked first and the text is ended by the length read, so data without a
// terminator or longer than any fixed buffer comes back complete. A new malloc block,
// with two zero bytes after the data; its type in *type when type is not null. Null
// when the value cannot be read.
char* ReadKeyValue(HKEY key, const char* valueName, DWORD* type);

// A string value (REG_SZ or REG_EXPAND_SZ) of an open key read whole as ReadKeyValue
// does; null for a value of another type or one that cannot be read.
char* ReadRegistryText(HKEY key, const char* valueName);

// text with its environment variables expanded, in a block of the size the expansion
// needs: a malloc block the caller frees; null when the expansion fails.
char* ExpandEnvironmentText(const char* text);

// The registry table of the autorun scan; it has no state and lives for the whole run.
// With views, every key is opened in the view RegistryViewAccess names, so that a
// 32-bit build reads the 64-bit view of HKEY_LOCAL_MACHINE and kHiveLocalMachine32 is
// its 32-bit view (for 64-bit Windows only); without, as the program sees the registry.
const RegistryOps* SystemRegistryOps(bool views = false);
