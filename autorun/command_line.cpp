#include "autorun/command_line.h"

#include <cstdlib>
#include <cstring>

#include "inspect/processes_names.h"

namespace {

constexpr char kNativeRoot[] = "\\SystemRoot\\";
constexpr size_t kNativeRootLength = sizeof(kNativeRoot) - 1;  // 12
constexpr char kObjectPrefix[] = "\\??\\";
constexpr size_t kObjectPrefixLength = sizeof(kObjectPrefix) - 1;  // 4
constexpr char kSixteenBitFolder[] = "SYSTEM";
// Attempts at reading a variable whose value grows between the size query and the read.
constexpr int kVariableReadAttempts = 4;
// Far above the system's own limit on a variable's value (32767 characters).
constexpr size_t kMaxVariableValueLength = 1 << 20;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

bool IsLead(const CommandLineOps* ops, char c) {
    return ops != nullptr && ops->isLeadByte != nullptr && ops->isLeadByte(ops->context, static_cast<unsigned char>(c)) != 0;
}

// Position of the first single-byte character c at or after from (a character start),
// or the text's length when there is none.
size_t FindChar(const CommandLineOps* ops, const char* text, size_t from, char c) {
    size_t i = from;
    while (text[i] != '\0' && text[i] != c) i += CharacterSize(ops, text + i);
    return i;
}

// Cuts off the trailing characters that match; returns the new length.
template <typename Match>
size_t TrimTrailing(const CommandLineOps* ops, char* text, Match match) {
    size_t keep = 0;  // end of the last character that does not match
    size_t i = 0;
    while (text[i] != '\0') {
        const size_t size = CharacterSize(ops, text + i);
        i += size;
        if (size == 2 || !match(text[i - 1])) keep = i;
    }
    text[keep] = '\0';
    return keep;
}

// Length of the leading part of path up to and including its last backslash; 0 when
// it has none.
size_t FolderPartLength(const CommandLineOps* ops, const char* path) {
    size_t folder = 0;
    for (size_t i = 0; path[i] != '\0';) {
        const size_t size = CharacterSize(ops, path + i);
        if (size == 1 && path[i] == '\\') folder = i + 1;
        i += size;
    }
    return folder;
}

// A file name can hold neither '*' nor '?': a directory search for a candidate that
// does would match other files. The "\\?\" prefix is a path form, not a wildcard.
bool HasWildcard(const CommandLineOps* ops, const char* candidate) {
    size_t i = std::strncmp(candidate, "\\\\?\\", 4) == 0 ? 4 : 0;
    while (candidate[i] != '\0') {
        if (candidate[i] == '*' || candidate[i] == '?') return true;
        i += CharacterSize(ops, candidate + i);
    }
    return false;
}

bool IsExistingFile(const CommandLineOps* ops, const char* candidate) {
    if (ops->findEntry == nullptr || candidate[0] == '\0' || HasWildcard(ops, candidate)) return false;
    return ops->findEntry(ops->context, candidate) == kEntryFile;
}

// Builds folder + backslash (unless the folder is empty or ends with one) + name into
// out (kResolvedPathSize bytes). False when the result would be longer than a candidate
// may be.
bool JoinPath(const CommandLineOps* ops, const char* folder, const char* name, char* out) {
    const size_t folderLength = std::strlen(folder);
    const size_t separator = (folderLength != 0 && !EndsWithBackslash(ops, folder)) ? 1 : 0;
    const size_t nameLength = std::strlen(name);
    if (nameLength > kMaxCandidateLength || folderLength + separator + nameLength > kMaxCandidateLength) {
        return false;
    }
    std::memcpy(out, folder, folderLength);
    if (separator != 0) out[folderLength] = '\\';
    std::memcpy(out + folderLength + separator, name, nameLength + 1);
    return true;
}

bool TryInFolder(const CommandLineOps* ops, const char* folder, const char* name, char* result) {
    return JoinPath(ops, folder, name, result) && IsExistingFile(ops, result);
}

using FolderQuery = int (*)(void* context, char* buffer, size_t size);

bool QueryFolder(const CommandLineOps* ops, FolderQuery query, char* folder) {
    if (query == nullptr) return false;
    folder[0] = '\0';
    if (query(ops->context, folder, kResolvedPathSize) == 0) return false;
    folder[kResolvedPathSize - 1] = '\0';
    return folder[0] != '\0';
}

bool HasOwnLocation(const CommandLineOps* ops, const char* name) {
    if (name[0] == '\\' && name[1] == '\\') return true;                         // UNC
    if (name[0] != '\0' && !IsLead(ops, name[0]) && name[1] == ':') return true;  // drive
    return name[0] == '.' && name[1] == '.';
}

bool LocateByFullPath(const CommandLineOps* ops, const char* name, char* result) {
    if (ops->getFullPath == nullptr) return false;
    result[0] = '\0';
    if (ops->getFullPath(ops->context, name, result, kResolvedPathSize) == 0) return false;
    result[kResolvedPathSize - 1] = '\0';
    return IsExistingFile(ops, result);
}

bool SearchFolders(const CommandLineOps* ops, const char* name, char* result) {
    char folder[kResolvedPathSize];

    // Beside the program's own file; a module name without a folder leaves the name alone.
    if (ops->getModuleFileName != nullptr) {
        folder[0] = '\0';
        if (ops->getModuleFileName(ops->context, folder, sizeof folder) != 0) {
            folder[sizeof folder - 1] = '\0';
            folder[FolderPartLength(ops, folder)] = '\0';
            if (TryInFolder(ops, folder, name, result)) return true;
        }
    }
    if (QueryFolder(ops, ops->getCurrentDirectory, folder) && TryInFolder(ops, folder, name, result)) return true;
    if (QueryFolder(ops, ops->getWindowsDirectory, folder) && TryInFolder(ops, folder, name, result)) return true;
    if (QueryFolder(ops, ops->getSystemDirectory, folder) && TryInFolder(ops, folder, name, result)) return true;

    // The 16-bit system folder, which only the NT platform keeps apart from the system directory.
    if (ops->isNtPlatform != nullptr && ops->isNtPlatform(ops->context) != 0 &&
        QueryFolder(ops, ops->getWindowsDirectory, folder)) {
        char sixteenBit[kResolvedPathSize];
        if (JoinPath(ops, folder, kSixteenBitFolder, sixteenBit) && TryInFolder(ops, sixteenBit, name, result)) {
            return true;
        }
    }

    // What the search finds is at least as long as the name.
    if (ops->searchPath != nullptr && std::strlen(name) <= kMaxCandidateLength) {
        result[0] = '\0';
        if (ops->searchPath(ops->context, name, result, kResolvedPathSize) != 0) {
            result[kResolvedPathSize - 1] = '\0';
            if (IsExistingFile(ops, result)) return true;
        }
    }
    return false;
}

// Reads a variable's value into a new block; null when it is unset, empty or cannot be read.
char* ReadVariable(const CommandLineOps* ops, const char* name) {
    if (ops->getEnvironmentVariable == nullptr) return nullptr;
    size_t size = kResolvedPathSize;
    for (int attempt = 0; attempt < kVariableReadAttempts; ++attempt) {
        char* value = static_cast<char*>(std::malloc(size));
        if (value == nullptr) return nullptr;
        value[0] = '\0';
        const size_t length = ops->getEnvironmentVariable(ops->context, name, value, size);
        if (length == 0) {
            std::free(value);
            return nullptr;
        }
        if (length < size) {
            value[length] = '\0';
            return value;
        }
        std::free(value);
        if (length >= kMaxVariableValueLength) return nullptr;
        size = length + 1;
    }
    return nullptr;
}

// New block holding text with a reference to an environment variable at its very start
// replaced by the variable's value (removed when the variable is unset). A reference
// without a closing percent sign, or with a name too long for the name buffer, is left
// as it stands. Null only when out of memory.
char* ExpandLeadingVariable(const CommandLineOps* ops, const char* text) {
    const size_t length = std::strlen(text);
    size_t keptFrom = 0;   // where the text after the reference starts
    char* value = nullptr;
    if (text[0] == '%') {
        const size_t close = FindChar(ops, text, 1, '%');
        const size_t nameLength = close - 1;
        if (text[close] == '%' && nameLength < kVariableNameSize) {
            char name[kVariableNameSize];
            std::memcpy(name, text + 1, nameLength);
            name[nameLength] = '\0';
            value = ReadVariable(ops, name);
            keptFrom = close + 1;
        }
    }
    const size_t valueLength = value != nullptr ? std::strlen(value) : 0;
    const size_t restLength = length - keptFrom;
    char* expanded = static_cast<char*>(std::malloc(valueLength + restLength + 1));
    if (expanded != nullptr) {
        if (valueLength != 0) std::memcpy(expanded, value, valueLength);
        std::memcpy(expanded + valueLength, text + keptFrom, restLength + 1);
    }
    std::free(value);
    return expanded;
}

// Tries ever longer prefixes of text that end just before a blank, the last one being
// the whole text. The first character always belongs to the first prefix.
int LocateLongestPrefix(const CommandLineOps* ops, char* text, char** found) {
    const size_t length = std::strlen(text);
    size_t p = 0;
    while (p < length) {
        size_t end = p + CharacterSize(ops, text + p);
        while (end < length && !IsBlank(text[end])) end += CharacterSize(ops, text + end);
        const char saved = text[end];
        text[end] = '\0';
        const int located = LocateFile(ops, text, found);
        text[end] = saved;
        if (located != 0) return 1;
        if (end >= length) return 0;
        p = end;
    }
    return 0;
}

}  // namespace

size_t CharacterSize(const CommandLineOps* ops, const char* s) {
    return (IsLead(ops, s[0]) && s[1] != '\0') ? 2 : 1;
}

bool StartsWithNoCase(const char* text, const char* prefix, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        // A difference also stops at the terminator of a shorter text.
        const auto a = static_cast<unsigned char>(text[i]), b = static_cast<unsigned char>(prefix[i]);
        if (FoldAsciiUpper(a) != FoldAsciiUpper(b)) return false;
    }
    return true;
}

bool EndsWithBackslash(const CommandLineOps* ops, const char* text) {
    const size_t length = std::strlen(text);
    return length != 0 && FolderPartLength(ops, text) == length;
}

int LocateFile(const CommandLineOps* ops, const char* name, char** path) {
    if (ops == nullptr || name == nullptr || path == nullptr || name[0] == '\0') return 0;
    char* result = static_cast<char*>(std::malloc(kResolvedPathSize));
    if (result == nullptr) return 0;
    const bool found = HasOwnLocation(ops, name) ? LocateByFullPath(ops, name, result)
                                                 : SearchFolders(ops, name, result);
    if (!found) {
        std::free(result);
        return 0;
    }
    *path = result;
    return 1;
}

bool ResolveCommandLine(const CommandLineOps* ops, const char* commandLine, char** path) {
    if (path == nullptr || ops == nullptr || commandLine == nullptr) return false;

    while (IsBlank(*commandLine)) ++commandLine;
    size_t length = std::strlen(commandLine);
    // One spare byte for the backslash the native root may need.
    char* text = static_cast<char*>(std::malloc(length + 2));
    if (text == nullptr) return false;
    std::memcpy(text, commandLine, length + 1);
    length = TrimTrailing(ops, text, IsLineBreak);

    // "\SystemRoot\..." becomes "%SystemRoot%\...".
    if (length >= kNativeRootLength && StartsWithNoCase(text, kNativeRoot, kNativeRootLength)) {
        text[0] = '%';
        text[kNativeRootLength - 1] = '%';
        if (text[kNativeRootLength] != '\\') {
            std::memmove(text + kNativeRootLength + 1, text + kNativeRootLength, length - kNativeRootLength + 1);
            text[kNativeRootLength] = '\\';
            ++length;
        }
    }
    if (std::strncmp(text, kObjectPrefix, kObjectPrefixLength) == 0) {
        std::memmove(text, text + kObjectPrefixLength, length - kObjectPrefixLength + 1);
        length -= kObjectPrefixLength;
    }

    char* found = nullptr;
    int located = 0;
    if (text[0] == '"') {
        // The quoted part is the file; the arguments after the closing quote are ignored.
        char* quoted = text + 1;
        quoted[FindChar(ops, quoted, 0, '"')] = '\0';
        TrimTrailing(ops, quoted, IsBlank);
        char* expanded = ExpandLeadingVariable(ops, quoted);
        if (expanded != nullptr) {
            located = LocateFile(ops, expanded, &found);
            std::free(expanded);
        }
    } else {
        char* expanded = ExpandLeadingVariable(ops, text);
        if (expanded != nullptr) {
            located = LocateLongestPrefix(ops, expanded, &found);
            std::free(expanded);
        }
    }
    std::free(text);

    if (located == 0) return false;
    if (*path == nullptr) {
        *path = found;
    } else {
        std::free(found);
    }
    return true;
}
