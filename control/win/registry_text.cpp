#include "control/win/registry_text.h"

#include <cstdlib>

namespace {
// A value or variable may grow between the size query and the read: asked this often.
constexpr int kAttempts = 4;
}  // namespace

char* ReadRegistryText(HKEY key, const char* valueName) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        DWORD type = 0, size = 0;
        if (RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return nullptr;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return nullptr;
        char* text = static_cast<char*>(std::malloc(static_cast<size_t>(size) + 1));
        if (!text) return nullptr;
        DWORD read = size;
        const LONG answer = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text), &read);
        if (answer == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) && read <= size) {
            text[read] = '\0';
            return text;
        }
        std::free(text);
        if (answer != ERROR_MORE_DATA) return nullptr;
    }
    return nullptr;
}

char* ExpandEnvironmentText(const char* text) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const DWORD needed = ExpandEnvironmentStringsA(text, nullptr, 0);
        if (needed == 0) return nullptr;
        char* expanded = static_cast<char*>(std::malloc(needed));
        if (!expanded) return nullptr;
        const DWORD written = ExpandEnvironmentStringsA(text, expanded, needed);
        if (written != 0 && written <= needed) {
            expanded[needed - 1] = '\0';
            return expanded;
        }
        std::free(expanded);
        if (written == 0) return nullptr;
    }
    return nullptr;
}
