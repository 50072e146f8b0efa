#include "ui/file_dialog.h"

#include <commdlg.h>

#include <cwchar>

namespace {
constexpr size_t kMaxFilter = 512;
constexpr DWORD kMaxPathChars = 1024;
}  // namespace

bool RunFileDialog(const FileDialogOptions& options, char* path, size_t pathSize) {
    if (!path || pathSize == 0) return false;
    path[0] = '\0';

    // The filter's bars become the terminators the dialog expects.
    wchar_t filter[kMaxFilter] = {};
    if (options.filter) {
        const size_t length = wcslen(options.filter);
        if (length + 2 > kMaxFilter) return false;
        for (size_t i = 0; i < length; ++i) filter[i] = options.filter[i] == L'|' ? L'\0' : options.filter[i];
    }

    wchar_t chosen[kMaxPathChars] = {};
    if (options.initialName) {
        if (wcslen(options.initialName) >= kMaxPathChars) return false;
        wcscpy(chosen, options.initialName);
    }

    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = options.owner;
    ofn.lpstrFilter = options.filter ? filter : nullptr;
    ofn.lpstrFile = chosen;
    ofn.nMaxFile = kMaxPathChars;
    ofn.lpstrDefExt = options.defaultExtension;
    ofn.Flags = options.flags | OFN_EXPLORER | OFN_NOCHANGEDIR;
    const BOOL confirmed = options.save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    if (!confirmed) return false;

    BOOL lossy = FALSE;
    const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, chosen, -1, path,
                                          static_cast<int>(pathSize > 0x7FFFFFFF ? 0x7FFFFFFF : pathSize), nullptr,
                                          &lossy);
    if (bytes == 0 || lossy) {
        path[0] = '\0';
        return false;
    }
    return true;
}
