// 64-bit Windows as the autorun scan meets it: whether the registry has a 32-bit view
// of HKEY_LOCAL_MACHINE, and the file-system redirection that a 32-bit build must turn
// off to see the real system folder.
#pragma once

#include "autorun/autorun_system.h"

// True on 64-bit Windows: always for a 64-bit build, for a 32-bit one when it runs
// under WOW64.
bool Is64BitWindows();

// File-system redirection for a 32-bit program on 64-bit Windows (the system's
// Wow64DisableWow64FsRedirection pair, looked up by name); null everywhere else, where
// there is none.
const FileRedirectionOps* SystemFileRedirectionOps();
