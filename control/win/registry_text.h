// Registry strings read whole, and environment variables expanded into a block of the
// size the text needs: no value or expansion is cut at a fixed length or left
// without its terminator.
#pragma once

#include <windows.h>

// The REG_SZ or REG_EXPAND_SZ value of an open key: its size asked first, the text ended
// at the length the second read returns (a value stored without its own terminator ends
// there too). A malloc block the caller frees; null when the value is missing, is not a
// string, or memory runs out.
char* ReadRegistryText(HKEY key, const char* valueName);

// text with its environment variables expanded: a malloc block the caller frees; null
// when the expansion fails or memory runs out.
char* ExpandEnvironmentText(const char* text);
