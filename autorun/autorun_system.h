// What the autorun collectors and scans need from the system, as small tables of
// operations: the registry, INI files, directory searches, shell links, the task
// scheduler, file-system redirection, the process listing and the progress window. The Windows tables are in autorun/win/; native
// tests and the fuzz target pass in-memory ones.
//
// Every table pointer and every slot may be null: the operation then fails the way
// the system would (a key that does not open, a search that finds nothing, a value
// that cannot be read). Texts are ANSI bytes; malloc blocks are the caller's to free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "autorun/command_line.h"
#include "inspect/file_info.h"
#include "inspect/hash_table.h"

// Result of a collector or scan that saw a stop request (0: it ran to its end).
constexpr uint32_t kStoppedStatus = 3;

// The registry roots the scans read.
enum RegistryHive : uint32_t {
    kHiveLocalMachine,
    kHiveCurrentUser,
    kHiveUsers,
    kHiveClassesRoot,
    kHiveLocalMachine32,  // HKEY_LOCAL_MACHINE as 32-bit programs see it on 64-bit Windows
};

// Registry access that picks the view of HKEY_LOCAL_MACHINE on 64-bit Windows (the
// system's KEY_WOW64_64KEY and KEY_WOW64_32KEY): the 32-bit view for
// kHiveLocalMachine32, else the 64-bit view, which a 32-bit build does not see by
// default. 0 where the views are not asked for (then every hive is read as the
// program sees it).
constexpr uint32_t kRegistryView64 = 0x0100;
constexpr uint32_t kRegistryView32 = 0x0200;
inline uint32_t RegistryViewAccess(RegistryHive hive, bool views) {
    if (!views) return 0;
    return hive == kHiveLocalMachine32 ? kRegistryView32 : kRegistryView64;
}

// Value types, as the registry numbers them.
constexpr uint32_t kRegistryString = 1;        // REG_SZ
constexpr uint32_t kRegistryExpandString = 2;  // REG_EXPAND_SZ

// A key name: at most 255 UTF-16 characters, which take at most 510 ANSI bytes.
constexpr size_t kKeyNameSize = 512;

// An open registry key; null is no key.
using RegistryKey = void*;

struct RegistryOps {
    void* context;
    // Opens hive\path for reading; a null or empty path opens the hive's root.
    // Null when the key cannot be opened.
    RegistryKey (*openKey)(void* context, RegistryHive hive, const char* path);
    // Opens path below an open key for reading; null when it cannot be opened.
    RegistryKey (*openSubkey)(void* context, RegistryKey key, const char* path);
    void (*closeKey)(void* context, RegistryKey key);
    // Numbers of subkeys and values of an open key; false when the query fails.
    bool (*queryCounts)(void* context, RegistryKey key, uint32_t* subkeys, uint32_t* values);
    // Name of subkey index, zero-terminated within size bytes; false when there is no
    // such subkey or its name does not fit.
    bool (*enumSubkey)(void* context, RegistryKey key, uint32_t index, char* name, size_t size);
    // Value index read whole, whatever its length: true with *name and *data in new
    // blocks (the stored bytes up to the length read, then a zero) and its type;
    // false when it cannot be read.
    bool (*enumValue)(void* context, RegistryKey key, uint32_t index, char** name, char** data,
                      uint32_t* type);
    // The value called name ("" the default value) read whole, as enumValue reads data:
    // a new block, its type in *type; null when it cannot be read.
    char* (*readValue)(void* context, RegistryKey key, const char* name, uint32_t* type);
    // The value called name of hive\path, the key opened for value queries only, read
    // whole and as stored: a new block, null when the key or value cannot be read.
    char* (*readString)(void* context, RegistryHive hive, const char* path, const char* name);
    // text with every environment reference expanded, as the system runs a
    // REG_EXPAND_SZ value: a new block; null when it cannot be expanded.
    char* (*expandEnvironment)(void* context, const char* text);
};

struct IniOps {
    void* context;
    // Copies the file at path to a new file with a unique name in the temporary folder:
    // true with the copy's path in copy (size bytes). False, leaving no file behind,
    // when there is no temporary folder or the copy fails.
    bool (*copyToTemporary)(void* context, const char* path, char* copy, size_t size);
    void (*deleteFile)(void* context, const char* path);
    // The lines of one section of the INI file at path, read whole: a new block of
    // zero-terminated lines followed by one more zero (a missing section or file gives
    // that zero alone); null when memory runs out.
    char* (*readSection)(void* context, const char* path, const char* section);
};

// Longest name of one directory entry, its terminator included.
constexpr size_t kEntryNameSize = 260;
constexpr size_t kEntryAlternateNameSize = 14;

struct DirectoryEntry {
    char name[kEntryNameSize];                    // the long name
    char alternateName[kEntryAlternateNameSize];  // the 8.3 name; "" when it has none
    bool folder;
};

struct DirectoryOps {
    void* context;
    // Starts a search for pattern (a path whose last component may hold wildcards):
    // the search, with its first entry in *entry; null when nothing matches.
    void* (*findFirst)(void* context, const char* pattern, DirectoryEntry* entry);
    // The next entry; false at the end.
    bool (*findNext)(void* context, void* search, DirectoryEntry* entry);
    void (*findClose)(void* context, void* search);
};

struct ShellLinkOps {
    void* context;
    // Prepares the calling thread for shell links; true when endThread is owed.
    bool (*beginThread)(void* context);
    void (*endThread)(void* context);
    // Loads the shortcut file at path: the link, null when it cannot be made or loaded.
    void* (*load)(void* context, const char* path);
    // The target's path in its short form, zero-terminated within size bytes; false
    // when the link has no file target or the query fails.
    bool (*getTarget)(void* context, void* link, char* buffer, size_t size);
    // The arguments read whole, in a new block ("" when there are none); null on failure.
    char* (*getArguments)(void* context, void* link);
    void (*release)(void* context, void* link);
};

struct ProcessOps {
    void* context;
    // Number of running processes; 0 when unknown.
    uint32_t (*countProcesses)(void* context);
    // Fills table (4-byte process ID, malloc name); withProgress steps the scan's
    // progress once per process. 0 done, 1 failed, 3 stopped on request.
    uint32_t (*listProcesses)(void* context, HashTable* table, bool withProgress);
    // Replaces every name in table by the full path of that process's executable.
    void (*resolveImagePaths)(void* context, HashTable* table);
};

// The task scheduler: its folders, their tasks and the programs the tasks run.
using TaskFolder = void*;

struct TaskSchedulerOps {
    void* context;
    // Prepares the calling thread for the scheduler's interface; true when endThread
    // is owed.
    bool (*beginThread)(void* context);
    void (*endThread)(void* context);
    // Connects to the scheduler and opens its root folder; null when it cannot.
    TaskFolder (*openRoot)(void* context);
    // Number of subfolders of folder.
    uint32_t (*countSubfolders)(void* context, TaskFolder folder);
    // Subfolder index, open; null when it cannot be opened.
    TaskFolder (*openSubfolder)(void* context, TaskFolder folder, uint32_t index);
    void (*closeFolder)(void* context, TaskFolder folder);
    // The folder's path ("\" for the root) in a new block; null when it cannot be read.
    char* (*folderPath)(void* context, TaskFolder folder);
    // Number of tasks in folder, hidden ones included.
    uint32_t (*countTasks)(void* context, TaskFolder folder);
    // The name of task index in a new block; null when it cannot be read.
    char* (*taskName)(void* context, TaskFolder folder, uint32_t index);
    // Program action number action (counting program actions only) of task index:
    // true with its program path and its arguments ("" none) in new blocks, as stored;
    // false past the last one or when it cannot be read.
    bool (*taskProgram)(void* context, TaskFolder folder, uint32_t index, uint32_t action, char** path,
                        char** arguments);
};

// File-system redirection, which shows a 32-bit program on 64-bit Windows the 32-bit
// system folder in place of the real one.
struct FileRedirectionOps {
    void* context;
    // Turns redirection off for the calling thread: true with what resume needs.
    bool (*suspend)(void* context, void** state);
    void (*resume)(void* context, void* state);
};

// The progress window of a scan. A null table means there is none: no steps are
// counted and no stop can be requested.
struct ProgressOps {
    void* context;
    // Position 0, range 0 to steps, step 1.
    void (*begin)(void* context, uint32_t steps);
    // Counts one step; true when a stop has been requested.
    bool (*step)(void* context);
    // True when a stop has been requested.
    bool (*isStopRequested)(void* context);
};

struct AutorunSystem {
    const CommandLineOps* commandLine;  // file resolution; the Windows folder; lead bytes
    const FileInfoOps* fileInfo;        // details texts
    const RegistryOps* registry;
    const IniOps* ini;
    const DirectoryOps* directory;
    const ShellLinkOps* shellLink;
    const ProcessOps* processes;
    const TaskSchedulerOps* tasks;          // null: no scheduled tasks are listed
    const FileRedirectionOps* redirection;  // null: files are resolved as the program sees them
    bool registryViews;                     // 64-bit Windows: HKEY_LOCAL_MACHINE has a 32-bit view
};

// Where the collectors write, and what they describe files with.
struct AutorunWriter {
    FILE* stream;
    const AutorunSystem* system;
    const HashTable* processTable;  // process ID -> image path; null: no instances
    HashTable* detailsCache;        // path -> details text (CreateDetailsCache); may be null
    bool listsExpandStrings;        // REG_EXPAND_SZ values are listed too, expanded before resolving
    bool runOnceExValues;           // values read "dll|function|arguments" or "||command" (RunOnceEx)
};

// The calls the collectors make: a null table or slot fails as described above.
inline RegistryKey OpenRegistryKey(const AutorunSystem* s, RegistryHive hive, const char* path) {
    const RegistryOps* r = s->registry;
    return r && r->openKey ? r->openKey(r->context, hive, path) : nullptr;
}
inline RegistryKey OpenRegistrySubkey(const AutorunSystem* s, RegistryKey key, const char* path) {
    const RegistryOps* r = s->registry;
    return r && r->openSubkey && key ? r->openSubkey(r->context, key, path) : nullptr;
}
inline void CloseRegistryKey(const AutorunSystem* s, RegistryKey key) {
    const RegistryOps* r = s->registry;
    if (r && r->closeKey && key) r->closeKey(r->context, key);
}
inline bool QueryRegistryCounts(const AutorunSystem* s, RegistryKey key, uint32_t* subkeys, uint32_t* values) {
    const RegistryOps* r = s->registry;
    *subkeys = *values = 0;
    return r && r->queryCounts && key && r->queryCounts(r->context, key, subkeys, values);
}
inline bool EnumRegistrySubkey(const AutorunSystem* s, RegistryKey key, uint32_t index, char* name) {
    const RegistryOps* r = s->registry;
    name[0] = '\0';
    if (!r || !r->enumSubkey || !key || !r->enumSubkey(r->context, key, index, name, kKeyNameSize)) return false;
    name[kKeyNameSize - 1] = '\0';
    return true;
}
inline char* ReadRegistryValue(const AutorunSystem* s, RegistryKey key, const char* name, uint32_t* type) {
    const RegistryOps* r = s->registry;
    return r && r->readValue && key ? r->readValue(r->context, key, name, type) : nullptr;
}
