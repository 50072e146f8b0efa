// The common open and save file dialogs, for report files.
#pragma once

#include <windows.h>

#include <cstddef>

struct FileDialogOptions {
    bool save;                      // save dialog, otherwise open dialog
    const wchar_t* defaultExtension;  // without the dot; may be null
    const wchar_t* initialName;     // may be null
    DWORD flags;                    // OFN_ flags
    const wchar_t* filter;          // "text|pattern|text|pattern||"
    HWND owner;                     // may be null
};

// Runs the dialog. On confirmation stores the chosen path as bytes of the system code
// page (the program's data text) and returns true. Returns false when the user
// cancels, and also when the path does not fit pathSize bytes or cannot be written
// in the system code page, so a caller never opens a path that differs from the choice.
bool RunFileDialog(const FileDialogOptions& options, char* path, size_t pathSize);
