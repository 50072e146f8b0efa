// File information: a file's version resource, the running processes started from
// a file, and the pipe-separated details text that report lines and the property
// panel carry:
//   instances|path|file version|size|modified|description|product name|product version
//
// The version resource is parsed here from its bytes (both the 32-bit form with
// UTF-16 texts and the 16-bit form with ANSI texts). Everything that needs the system
// (reading the resource, the file's status, converting UTF-16 to the ANSI code page)
// goes through FileInfoOps, so the logic runs on in-memory data too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "inspect/hash_table.h"
#include "inspect/processes_names.h"

// The running instances of a file: {kind, count, items}. items holds count numbers,
// each stored in a pointer-width slot (process IDs, or a module handle, which is
// pointer-width). It is never a table value: the slots are not heap texts, so the
// list is freed with FreeIdList or consumed by GetFileDetails. Lists made here carry
// kind kRecordKindUnowned, which marks items that are not owned blocks.
using IdList = TableRecord;

// Last-modification time of a file in local time.
struct FileTimeParts {
    uint16_t year;
    uint16_t month;   // 1-12
    uint16_t day;     // 1-31
    uint16_t hour;    // 0-23
    uint16_t minute;  // 0-59
    uint16_t second;  // 0-59 (60 is accepted for a leap second)
};

struct FileStatus {
    uint64_t size;
    FileTimeParts modified;
};

// System services used here. A null slot behaves as a failing service; wideToAnsi
// null converts ASCII and turns every other character into "?".
struct FileInfoOps {
    void* context;
    // Size in bytes of the file's version resource block; 0 when it has none.
    uint32_t (*getVersionSize)(void* context, const char* path);
    // Fills block (size bytes) with the version resource; 0 on success, 1 on failure.
    int (*readVersion)(void* context, const char* path, uint32_t size, void* block);
    // Size and local last-modification time; 0 on success, 1 when the status cannot be read.
    int (*readStatus)(void* context, const char* path, FileStatus* status);
    // Converts unitCount UTF-16LE units (not terminated) to ANSI bytes without a NUL.
    // out null: returns the bytes needed. Otherwise writes at most outSize bytes and
    // returns the bytes written, 0 when they do not fit or the conversion fails.
    size_t (*wideToAnsi)(void* context, const uint8_t* utf16le, size_t unitCount, char* out,
                         size_t outSize);
};

// One value found in a version block.
struct VersionValue {
    const uint8_t* data;  // inside the block
    size_t size;          // bytes available at data, within the value's own node
    bool wide;            // a 32-bit block: texts are UTF-16LE
};

// Looks a sub-block path ("\VarFileInfo\Translation", "\StringFileInfo\040904b0\FileVersion",
// "\" for the root) up in a version block of blockSize bytes. Components are separated by
// one or more "\" and compared without regard to ASCII case. Every read stays inside the
// block and inside the node being read. True and *value filled when the path exists.
bool FindVersionValue(const void* block, size_t blockSize, const char* subBlock,
                      VersionValue* value);

// One file's version resource: load, query as many strings as needed, destroy.
struct VersionInfo {
    const FileInfoOps* ops;
    uint8_t* block;         // the whole resource (operator new); null when none is loaded
    uint32_t blockSize;
    // First "\VarFileInfo\Translation" entry, halves swapped: language in the high
    // 16 bits, code page in the low 16 bits, so "%08x" names its string table.
    uint32_t translation;

    explicit VersionInfo(const FileInfoOps* fileOps);
    ~VersionInfo();
    VersionInfo(const VersionInfo&) = delete;
    VersionInfo& operator=(const VersionInfo&) = delete;

    // Reads the resource of path and its first translation. False, with nothing kept,
    // when the file has no resource, it cannot be read, or it has no translation entry.
    bool Load(const char* path);
    void Release();

    // Copies the version string name of the given translation (0: the stored one) into
    // out, truncated to outSize - 1 bytes and NUL-terminated when outSize > 0. Returns the
    // string's full length in bytes; 0, with an empty out, when it is missing.
    size_t QueryString(const char* name, uint32_t translationCode, char* out,
                       size_t outSize) const;

    size_t GetFileDescription(char* out, size_t outSize) const;
    size_t GetFileVersion(char* out, size_t outSize) const;
    size_t GetProductName(char* out, size_t outSize) const;
    size_t GetProductVersion(char* out, size_t outSize) const;
};

// "%B %d, %Y %H:%M:%S" with English month names (the details' and the panel's time);
// false when the time is not a valid one or does not fit.
bool FormatModifiedTime(const FileTimeParts& time, char* out, size_t outSize);

// Text of the instances field when no list is given.
constexpr const char kNoInstancesText[] = "application does not loaded";

// Builds the details text of path in a new malloc block, stores it in *detailsOut (when
// detailsOut is not null) and returns it; the caller frees it. idList may be null; it is
// consumed (freed) in every case. Null only when memory runs out.
char* GetFileDetails(const FileInfoOps* ops, char** detailsOut, const char* path, IdList* idList);

// Appends to *idListInOut the process ID of every entry of processTable (4-byte process
// ID key, name text value) whose name equals name without regard to the case of its
// single-byte characters (EqualNamesNoCase with the code page's lead bytes), in
// insertion order, creating the list on the first match. Returns the list *idListInOut
// then holds. Null table or null idListInOut: null, nothing changed.
IdList* FindProcessIdsByName(const HashTable* processTable, IdList** idListInOut, const char* name,
                             const LeadByteOps& leadBytes);

// A list of one number (a module handle or a process ID); null when out of memory.
IdList* NewIdList(uintptr_t number);
// Appends number to *list, creating the list when *list is null. False when out of
// memory; the list is then unchanged.
bool AppendIdListNumber(IdList** list, uintptr_t number);
// Number index of list; 0 when index is out of range.
uintptr_t IdListNumber(const IdList* list, uint32_t index);
void FreeIdList(IdList* list);
