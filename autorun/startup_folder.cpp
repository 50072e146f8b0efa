#include "autorun/startup_folder.h"

#include <cstdlib>
#include <cstring>

#include "autorun/collectors.h"
#include "report/report_line.h"

namespace {

constexpr char kShortcutMark[] = ".lnk";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

bool HasWildcard(const CommandLineOps* ops, const char* text, size_t length) {
    for (size_t i = 0; i < length; i += CharacterSize(ops, text + i)) {
        if (text[i] == '*' || text[i] == '?') return true;
    }
    return false;
}

// The shortcut line: the target command, then the details of the target, of the
// shortcut file, and the target's path. Nothing when the link gives no file target.
void WriteShortcutLine(const AutorunWriter* writer, void* link, const char* shortcutPath) {
    const ShellLinkOps* shell = writer->system->shellLink;
    char target[kResolvedPathSize];
    if (!shell->getTarget || !shell->getTarget(shell->context, link, target, sizeof target)) return;
    target[sizeof target - 1] = '\0';
    char* arguments = shell->getArguments ? shell->getArguments(shell->context, link) : nullptr;
    if (!arguments) return;
    char* longTarget = LongPathOf(writer->system, target);
    char* text = longTarget ? ShortcutText(longTarget, arguments) : nullptr;
    if (text) MaskFieldBars(writer->system->commandLine, text);
    char* targetDetails = longTarget ? DescribeFile(writer, longTarget) : nullptr;
    char* shortcutDetails = DescribeFile(writer, shortcutPath);
    char* details = JoinTexts({targetDetails, "|", shortcutDetails, "|", longTarget});
    if (text && targetDetails && shortcutDetails && details) {
        WriteReportLine(writer->stream, kCodeShortcutEntry, text, details, "");
    }
    std::free(details);
    std::free(shortcutDetails);
    std::free(targetDetails);
    std::free(text);
    std::free(longTarget);
    std::free(arguments);
}

void ListEntry(const AutorunWriter* writer, const char* folder, const DirectoryEntry& entry) {
    char* path = JoinPath(writer->system->commandLine, folder, entry.name);
    if (!path) return;
    const ShellLinkOps* shell = writer->system->shellLink;
    const bool shortcut = std::strstr(entry.name, kShortcutMark) != nullptr;
    // What does not load as a shortcut (a program named "x.lnk.exe", a path too long to
    // open) is still listed, as a plain entry.
    void* link = shortcut && shell && shell->load && std::strlen(path) <= kMaxOpenPathLength
                     ? shell->load(shell->context, path)
                     : nullptr;
    if (link) {
        WriteShortcutLine(writer, link, path);
        if (shell->release) shell->release(shell->context, link);
    } else {
        WriteAutorunEntry(writer, kKeyValueLevel, path, path);
    }
    std::free(path);
}

}  // namespace

void ListStartupFolder(const AutorunWriter* writer, const char* folder) {
    const AutorunSystem* system = writer->system;
    const ShellLinkOps* shell = system->shellLink;
    const DirectoryOps* directory = system->directory;
    const bool threadOwed = shell && shell->beginThread && shell->endThread && shell->beginThread(shell->context);
    char* pattern = JoinPath(system->commandLine, folder, "*.*");
    DirectoryEntry entry;
    void* search = pattern && std::strlen(pattern) <= kMaxOpenPathLength && directory && directory->findFirst
                       ? directory->findFirst(directory->context, pattern, &entry)
                       : nullptr;
    if (search) {
        do {
            entry.name[sizeof entry.name - 1] = '\0';
            if (!IsDotEntry(entry.name)) ListEntry(writer, folder, entry);
        } while (directory->findNext && directory->findNext(directory->context, search, &entry));
        if (directory->findClose) directory->findClose(directory->context, search);
    }
    std::free(pattern);
    if (threadOwed) shell->endThread(shell->context);
}

bool LongNameOf(const AutorunSystem* system, const char* path, char* out) {
    const DirectoryOps* directory = system->directory;
    DirectoryEntry entry;
    void* search = directory && directory->findFirst ? directory->findFirst(directory->context, path, &entry) : nullptr;
    if (!search) return false;
    entry.name[sizeof entry.name - 1] = '\0';
    entry.alternateName[sizeof entry.alternateName - 1] = '\0';
    std::strcpy(out, entry.name[0] != '\0' ? entry.name : entry.alternateName);
    if (directory->findClose) directory->findClose(directory->context, search);
    return true;
}

char* LongPathOf(const AutorunSystem* system, const char* path) {
    const CommandLineOps* characters = system->commandLine;
    const bool drivePath = path[0] != '\0' && CharacterSize(characters, path) == 1 && path[1] == ':' && path[2] == '\\';
    if (!drivePath) return NewText(path);
    char* built = NewTextCopy(path, 3);
    size_t start = 3;  // of the current component
    size_t i = start;
    while (built) {
        if (path[i] != '\\' && path[i] != '\0') {
            i += CharacterSize(characters, path + i);
            continue;
        }
        const size_t length = i - start;
        if (length == 0) return built;  // two backslashes in a row, or one at the end
        const size_t builtLength = std::strlen(built);
        char name[kEntryNameSize];
        bool found = false;
        if (builtLength + length <= kMaxOpenPathLength && !HasWildcard(characters, path + start, length)) {
            char candidate[kMaxOpenPathLength + 1];
            std::memcpy(candidate, built, builtLength);
            std::memcpy(candidate + builtLength, path + start, length);
            candidate[builtLength + length] = '\0';
            found = LongNameOf(system, candidate, name);
        }
        if (!found) {
            std::free(built);
            return NewText(path);
        }
        char* longer = JoinTexts({built, name, "\\"});
        std::free(built);
        built = longer;
        if (path[i] == '\0') {
            if (built) built[std::strlen(built) - 1] = '\0';
            return built;
        }
        start = ++i;
    }
    return nullptr;
}

char* ShortcutText(const char* target, const char* arguments) {
    const size_t targetLength = std::strlen(target);
    const bool blank = arguments[0] != '\0' && !IsBlank(arguments[0]) &&
                       !(targetLength > 0 && IsBlank(target[targetLength - 1]));
    return JoinTexts({target, blank ? " " : "", arguments});
}
