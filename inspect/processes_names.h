// Process and module names taken from executable paths: the split of a path into
// drive, directory, base name and extension, the name a process snapshot entry is
// listed under, the ".EXE" test of module paths, and the process table those names
// are entered into by both process routes.
//
// Paths are ANSI bytes, possibly double-byte: the split walks whole characters, so
// the trail byte of a double-byte character is never taken for a separator or a dot.
#pragma once

#include <cstddef>
#include <cstdint>

#include "inspect/hash_table.h"

// Non-zero when byte is a lead byte of the ANSI code page; null: a single-byte code page.
using LeadByteTest = int (*)(void* context, unsigned char byte);

// The byte with a-z as A-Z, every other byte unchanged: the case folding of ASCII names,
// which leaves bytes above 0x7F (double-byte characters) alone.
inline unsigned char FoldAsciiUpper(unsigned char byte) {
    return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
}

struct LeadByteOps {
    LeadByteTest isLeadByte;
    void* context;
};

// Byte ranges of a path, in order: drive ("C:"), directory (up to and including the
// last "\" or "/"), base name, extension (from the last "." of the last component).
// The four lengths add up to the path's length.
struct PathParts {
    size_t driveLength;
    size_t directoryLength;
    size_t baseLength;
    size_t extensionLength;
};

// Splits the first length bytes of path (it ends earlier at a NUL). A lead byte at the
// end with no trail byte counts as one character.
PathParts SplitPathParts(const char* path, size_t length, const LeadByteOps& ops);

// The name a process snapshot lists a process under: the base name of exeFile (at most
// length bytes), followed by its extension when that is ".EXE" or ".DLL" in any case.
// Written zero-terminated into out, cut to outSize - 1 bytes on a whole character;
// returns the bytes written. Nothing is written when outSize is 0.
size_t ProcessNameFromExeFile(const char* exeFile, size_t length, const LeadByteOps& ops, char* out,
                              size_t outSize);

// True when the zero-terminated path's extension is ".EXE" in any case.
bool HasExeExtension(const char* path, const LeadByteOps& ops);

// True when two zero-terminated names are equal without regard to the case of their
// single-byte characters; double-byte characters (whose trail byte may fall in A-Z or
// a-z) must be equal byte for byte.
bool EqualNamesNoCase(const char* a, const char* b, const LeadByteOps& ops);

// The process table: a 4-byte process ID key and a malloc copy of the name per process.
// Inserts a copy of the process ID and name; a refused (duplicate) or failed insert frees
// both. 0 when inserted, 1 otherwise.
int32_t InsertProcessEntry(HashTable* table, uint32_t processId, const char* name);
