// The registry and INI collectors of the autorun scan: each writes its entries as
// report lines straight to the scan's stream, resolving every command to a file and
// describing that file. The shared entry rule (WriteAutorunEntry) serves the startup
// folder and file type collectors too. The system is reached through autorun_system.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "autorun/autorun_system.h"

// Report levels of the collectors' lines.
constexpr uint32_t kKeyValueLevel = 2;  // values of a scanned key
constexpr uint32_t kSubEntryLevel = 3;  // values of its subkeys, INI lines, verb commands

// Details texts by path, so that a file named by many entries is read once per scan.
HashTable* CreateDetailsCache();
void DestroyDetailsCache(HashTable* cache);

// Details text of path (GetFileDetails with the running processes started from it), in
// a new block; null only when memory runs out.
char* DescribeFile(const AutorunWriter* writer, const char* path);

// One entry line at level: with the details of the file that command resolves to (a
// null command resolves to nothing), else without details. The text is written with its
// bars masked (MaskFieldBars).
void WriteAutorunEntry(const AutorunWriter* writer, uint32_t level, const char* text, const char* command);

// Replaces each "|" character of text (a byte of a double-byte character is never taken
// for one) by "!": a bar inside a line's text (a RunOnceEx value, a command that pipes)
// would split it into fields when the report is read back, shifting the file details.
void MaskFieldBars(const CommandLineOps* characters, char* text);

// Values of hive\keyPath, plus its subkeys when withSubkeys is set; 0 when the key
// cannot be opened or queried.
uint32_t CountKeyItems(const AutorunSystem* system, RegistryHive hive, const char* keyPath, bool withSubkeys);

// Writes an entry for each string value among the first valueCount values of an open
// key (expanded-string values too when the writer lists them), then an end-of-block
// line. One progress step and stop check per value. 0 done, 3 stopped.
uint32_t WalkKeyValues(const AutorunWriter* writer, uint32_t level, uint32_t valueCount, RegistryKey key,
                       const ProgressOps* progress);

// The values of hive\keyPath at level and, with withSubkeys, each subkey as a heading
// with its values one level deeper. A key that cannot be opened or queried gives the
// end-of-block line alone. 0 done, 3 stopped.
uint32_t WalkRegistryKey(const AutorunWriter* writer, uint32_t level, const ProgressOps* progress,
                         RegistryHive hive, const char* keyPath, bool withSubkeys);

// The subkeys of hive\keyPath, each as a heading at level with its values one level
// deeper, after the end-of-block line of the key's own values, which are not listed.
// One progress step and stop check per subkey. 0 done, 3 stopped.
uint32_t WalkSubkeys(const AutorunWriter* writer, uint32_t level, const ProgressOps* progress, RegistryHive hive,
                     const char* keyPath);

// The command of a RunOnceEx value: the text after "||", else the DLL before the first
// "|" (a byte of a double-byte character is never taken for one), else the whole
// value. A new block; null only when memory runs out.
char* RunOnceExCommand(const CommandLineOps* characters, const char* value);

// The value valueName of hive\keyPath read whole and as stored (environment references
// unexpanded), in a new block: "" when the key or value cannot be read; null only when
// memory runs out.
char* ReadRegistryText(const AutorunSystem* system, RegistryHive hive, const char* keyPath,
                       const char* valueName);

// Writes each line of section of the INI file at iniPath as an entry at level 3 (its
// command is what follows the first "="), then an end-of-block line. The section is read
// from a private temporary copy of the file, which is deleted before returning; with no
// copy, from the file itself.
void ReadIniSection(const AutorunWriter* writer, const char* section, const char* iniPath);

// New block: folder, a backslash unless folder is empty or ends with one, and name.
// Null only when memory runs out.
char* JoinPath(const CommandLineOps* ops, const char* folder, const char* name);
// New block holding the texts of parts one after another; null parts count as empty.
// Null only when memory runs out.
char* JoinTexts(std::initializer_list<const char*> parts);

// One progress step and stop check; false without a progress table.
bool StepAndCheck(const ProgressOps* progress);
