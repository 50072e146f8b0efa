#include "autorun/win/registry_win.h"

#include <cstdlib>
#include <cstring>

#include "inspect/hash_table.h"

namespace {

// Attempts at reading a value that grows between the size query and the read.
constexpr int kReadAttempts = 4;
// Largest value data read; far above what the registry holds in practice.
constexpr DWORD kMaxValueSize = 64u << 20;
// A value name has at most 16383 UTF-16 characters, at most twice as many ANSI bytes.
constexpr DWORD kValueNameSize = 2 * 16383 + 1;

// The block for size bytes of data and two zeros after them; null when too large.
char* NewDataBlock(DWORD size) {
    return size <= kMaxValueSize ? static_cast<char*>(std::malloc(size + 2)) : nullptr;
}

// Ends data read into a block of size + 2 bytes by the length the system returned.
void EndData(char* data, DWORD length) {
    data[length] = '\0';
    data[length + 1] = '\0';
}

HKEY RootOf(RegistryHive hive) {
    switch (hive) {
        case kHiveLocalMachine: return HKEY_LOCAL_MACHINE;
        case kHiveCurrentUser: return HKEY_CURRENT_USER;
        case kHiveUsers: return HKEY_USERS;
        case kHiveClassesRoot: return HKEY_CLASSES_ROOT;
        case kHiveLocalMachine32: return HKEY_LOCAL_MACHINE;
    }
    return nullptr;
}

// The table with views has a non-null context.
REGSAM ViewOf(void* context, RegistryHive hive) { return RegistryViewAccess(hive, context != nullptr); }

HKEY Open(HKEY parent, const char* path, REGSAM view) {
    HKEY key = nullptr;
    if (!parent ||
        RegOpenKeyExA(parent, path && path[0] ? path : nullptr, 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

RegistryKey OpenKey(void* context, RegistryHive hive, const char* path) {
    return Open(RootOf(hive), path, ViewOf(context, hive));
}

// A key below an open key stays in the view of that key.
RegistryKey OpenSubkey(void*, RegistryKey key, const char* path) { return Open(static_cast<HKEY>(key), path, 0); }

void CloseKey(void*, RegistryKey key) { RegCloseKey(static_cast<HKEY>(key)); }

bool QueryCounts(void*, RegistryKey key, uint32_t* subkeys, uint32_t* values) {
    DWORD subkeyCount = 0;
    DWORD valueCount = 0;
    if (RegQueryInfoKeyA(static_cast<HKEY>(key), nullptr, nullptr, nullptr, &subkeyCount, nullptr, nullptr,
                         &valueCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    *subkeys = subkeyCount;
    *values = valueCount;
    return true;
}

bool EnumSubkey(void*, RegistryKey key, uint32_t index, char* name, size_t size) {
    DWORD length = size > kKeyNameSize ? static_cast<DWORD>(kKeyNameSize) : static_cast<DWORD>(size);
    if (RegEnumKeyExA(static_cast<HKEY>(key), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    return length < size;
}

bool EnumValue(void*, RegistryKey key, uint32_t index, char** nameOut, char** dataOut, uint32_t* typeOut) {
    auto* name = static_cast<char*>(std::malloc(kValueNameSize));
    if (!name) return false;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        DWORD nameLength = kValueNameSize;
        DWORD size = 0;
        DWORD type = 0;
        if (RegEnumValueA(static_cast<HKEY>(key), index, name, &nameLength, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        char* data = NewDataBlock(size);
        if (!data) break;
        nameLength = kValueNameSize;
        DWORD length = size;
        const LONG read = RegEnumValueA(static_cast<HKEY>(key), index, name, &nameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &length);
        if (read == ERROR_SUCCESS && length <= size && nameLength < kValueNameSize) {
            EndData(data, length);
            char* kept = NewTextCopy(name, nameLength);
            std::free(name);
            if (!kept) {
                std::free(data);
                return false;
            }
            *nameOut = kept;
            *dataOut = data;
            *typeOut = type;
            return true;
        }
        std::free(data);
        if (read != ERROR_MORE_DATA) break;
    }
    std::free(name);
    return false;
}

char* ReadValue(void*, RegistryKey key, const char* name, uint32_t* type) {
    DWORD kind = 0;
    char* data = ReadKeyValue(static_cast<HKEY>(key), name, &kind);
    *type = kind;
    return data;
}

char* ExpandEnvironment(void*, const char* text) { return ExpandEnvironmentText(text); }

}  // namespace

char* ExpandEnvironmentText(const char* text) {
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const DWORD size = ExpandEnvironmentStringsA(text, nullptr, 0);
        char* expanded = size ? NewDataBlock(size) : nullptr;
        if (!expanded) return nullptr;
        const DWORD used = ExpandEnvironmentStringsA(text, expanded, size);
        if (used != 0 && used <= size) {
            expanded[size] = '\0';
            return expanded;
        }
        std::free(expanded);
        if (used == 0) return nullptr;
    }
    return nullptr;
}

char* ReadRegistryText(HKEY key, const char* valueName) {
    DWORD type = 0;
    char* text = ReadKeyValue(key, valueName, &type);
    if (text && type != REG_SZ && type != REG_EXPAND_SZ) {
        std::free(text);
        return nullptr;
    }
    return text;
}

namespace {

// The value of a key opened for value queries only; null when it cannot be read.
char* ReadValueOf(HKEY hive, const char* path, const char* name, REGSAM view) {
    HKEY key = nullptr;
    if (!hive || RegOpenKeyExA(hive, path, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return nullptr;
    char* text = ReadKeyValue(key, name, nullptr);
    RegCloseKey(key);
    return text;
}

char* ReadString(void* context, RegistryHive hive, const char* path, const char* name) {
    return ReadValueOf(RootOf(hive), path, name, ViewOf(context, hive));
}

const RegistryOps kSystemRegistryOps = {
    nullptr, OpenKey, OpenSubkey, CloseKey, QueryCounts, EnumSubkey, EnumValue, ReadValue, ReadString, ExpandEnvironment,
};
const bool kViews = true;
const RegistryOps kViewRegistryOps = {
    const_cast<bool*>(&kViews), OpenKey,   OpenSubkey, CloseKey,          QueryCounts,
    EnumSubkey,                 EnumValue, ReadValue,  ReadString, ExpandEnvironment,
};

}  // namespace

char* ReadKeyValue(HKEY key, const char* valueName, DWORD* type) {
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        DWORD size = 0;
        DWORD kind = 0;
        if (RegQueryValueExA(key, valueName, nullptr, &kind, nullptr, &size) != ERROR_SUCCESS) return nullptr;
        char* data = NewDataBlock(size);
        if (!data) return nullptr;
        DWORD length = size;
        const LONG read = RegQueryValueExA(key, valueName, nullptr, &kind, reinterpret_cast<BYTE*>(data), &length);
        if (read == ERROR_SUCCESS && length <= size) {
            EndData(data, length);
            if (type) *type = kind;
            return data;
        }
        std::free(data);
        if (read != ERROR_MORE_DATA) return nullptr;
    }
    return nullptr;
}

const RegistryOps* SystemRegistryOps(bool views) { return views ? &kViewRegistryOps : &kSystemRegistryOps; }
