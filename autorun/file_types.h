// File types of HKEY_CLASSES_ROOT: the extensions bound to each type, grouped in a
// record table keyed by the CRC-32 of the type name, and the shell commands of every
// type, written as autorun entries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "autorun/autorun_system.h"
#include "inspect/hash_table.h"

// CRC-32 (reflected polynomial 0xEDB88320, register preset to all ones, result
// complemented) of length bytes. previous 0 gives the plain CRC of the data; an
// earlier result continues it.
uint32_t Crc32(size_t length, const void* data, uint32_t previous);

// Type groups: 4-byte CRC key; a record {0, n, [type name, extensions...]}, or, once two
// type names share a CRC, a chain of records {kind, n, [next record, type name,
// extensions...]} whose head has kind kRecordKindChain. Destroyed with release.
HashTable* CreateTypeGroups();
// Appends a copy of extension to the group of typeName (exact, case-sensitive name);
// false when memory runs out.
bool AddTypeExtension(HashTable* groups, const char* typeName, const char* extension);
// The extensions of typeName in the order they were added, joined by "|", in a new
// block; null when the type has none (or memory runs out).
char* TypeExtensions(const HashTable* groups, const char* typeName);

// Every key of HKEY_CLASSES_ROOT that has a "shell" subkey: a heading (with the type's
// extensions when it has any) and each verb's command as an entry at level 3; then one
// end-of-block line. Each of its two passes over the keys steps the progress once per
// key. 0 done, 1 when the root cannot be read, 3 stopped.
uint32_t ListFileAssociations(const AutorunWriter* writer, const ProgressOps* progress);
