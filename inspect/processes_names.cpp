#include "inspect/processes_names.h"

#include <cstdlib>
#include <cstring>

namespace {

bool IsLead(const LeadByteOps& ops, char c) {
    return ops.isLeadByte != nullptr && ops.isLeadByte(ops.context, static_cast<unsigned char>(c)) != 0;
}

unsigned char FoldUpper(char c) { return FoldAsciiUpper(static_cast<unsigned char>(c)); }

// True when the range equals the ASCII text without regard to ASCII case.
bool EqualsNoCase(const char* text, size_t length, const char* ascii) {
    if (std::strlen(ascii) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        if (FoldUpper(text[i]) != FoldUpper(ascii[i])) return false;
    }
    return true;
}

// Bytes of the character that starts at i, within length.
size_t CharacterSize(const char* text, size_t i, size_t length, const LeadByteOps& ops) {
    return IsLead(ops, text[i]) && i + 1 < length && text[i + 1] != '\0' ? 2 : 1;
}

}  // namespace

PathParts SplitPathParts(const char* path, size_t length, const LeadByteOps& ops) {
    PathParts parts = {0, 0, 0, 0};
    if (!path) return parts;
    const void* nul = std::memchr(path, 0, length);
    if (nul) length = static_cast<size_t>(static_cast<const char*>(nul) - path);

    size_t at = 0;
    if (length >= 2 && path[1] == ':' && !IsLead(ops, path[0])) at = 2;
    parts.driveLength = at;

    size_t componentStart = at;  // just after the last separator
    size_t lastDot = length;     // in the current component; length when none
    for (size_t i = at; i < length;) {
        const size_t size = CharacterSize(path, i, length, ops);
        if (size == 1 && (path[i] == '\\' || path[i] == '/')) {
            componentStart = i + 1;
            lastDot = length;
        } else if (size == 1 && path[i] == '.') {
            lastDot = i;
        }
        i += size;
    }
    parts.directoryLength = componentStart - at;
    parts.baseLength = lastDot - componentStart;
    parts.extensionLength = length - lastDot;
    return parts;
}

size_t ProcessNameFromExeFile(const char* exeFile, size_t length, const LeadByteOps& ops, char* out,
                              size_t outSize) {
    if (!out || outSize == 0) return 0;
    out[0] = '\0';
    if (!exeFile) return 0;
    const PathParts parts = SplitPathParts(exeFile, length, ops);
    const char* base = exeFile + parts.driveLength + parts.directoryLength;
    const char* extension = base + parts.baseLength;
    size_t nameLength = parts.baseLength;
    if (EqualsNoCase(extension, parts.extensionLength, ".EXE") ||
        EqualsNoCase(extension, parts.extensionLength, ".DLL")) {
        nameLength += parts.extensionLength;
    }
    // Cut on a whole character when the name does not fit.
    size_t written = 0;
    while (written < nameLength) {
        const size_t size = CharacterSize(base, written, nameLength, ops);
        if (written + size > outSize - 1) break;
        written += size;
    }
    std::memcpy(out, base, written);
    out[written] = '\0';
    return written;
}

bool HasExeExtension(const char* path, const LeadByteOps& ops) {
    if (!path) return false;
    const size_t length = std::strlen(path);
    const PathParts parts = SplitPathParts(path, length, ops);
    return EqualsNoCase(path + length - parts.extensionLength, parts.extensionLength, ".EXE");
}

bool EqualNamesNoCase(const char* a, const char* b, const LeadByteOps& ops) {
    if (!a || !b) return false;
    for (size_t i = 0;;) {
        // A lead byte with its trail: the same two bytes on both sides. b[i + 1] is read
        // only after b[i] matched a non-zero byte.
        if (IsLead(ops, a[i]) && a[i + 1] != '\0') {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
            i += 2;
            continue;
        }
        if (FoldUpper(a[i]) != FoldUpper(b[i])) return false;
        if (a[i] == '\0') return true;
        ++i;
    }
}

int32_t InsertProcessEntry(HashTable* table, uint32_t processId, const char* name) {
    void* key = NewUInt32Key(processId);
    char* value = NewText(name);
    if (key && value && InsertEntry(table, key, sizeof processId, value)) return 0;
    std::free(key);
    std::free(value);
    return 1;
}
