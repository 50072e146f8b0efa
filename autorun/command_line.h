// Turning an autorun command line (registry run value, INI line, shortcut target,
// shell command, module path) into the full path of the existing file it starts.
//
// Text is ANSI bytes in the process code page, possibly double-byte: every scan
// walks whole characters, so the trail byte of a double-byte character is never
// taken for a backslash, blank, quote or percent sign.
//
// The logic reaches the system only through CommandLineOps; autorun/win/
// command_line_win.h has the real table and the one-argument forms.
#pragma once

#include <cstddef>

constexpr size_t kResolvedPathSize = 261;    // MAX_PATH plus one: every found path's block
constexpr size_t kMaxCandidateLength = 260;  // longer candidates are skipped, never cut
constexpr size_t kVariableNameSize = 260;    // leading variable names up to 259 characters

// What a directory search reports for one exact path.
constexpr int kEntryMissing = 0;
constexpr int kEntryFile = 1;
constexpr int kEntryFolder = 2;

// System operations. Every pointer may be null: a null folder query counts as failed,
// a null isLeadByte means a single-byte code page, a null findEntry finds nothing.
struct CommandLineOps {
    void* context;
    // Folder queries: write a zero-terminated path that fits in size bytes and return 1;
    // return 0 when the query fails or its answer does not fit.
    int (*getModuleFileName)(void* context, char* buffer, size_t size);  // the program's own file
    int (*getCurrentDirectory)(void* context, char* buffer, size_t size);
    int (*getWindowsDirectory)(void* context, char* buffer, size_t size);
    int (*getSystemDirectory)(void* context, char* buffer, size_t size);
    // 1 when the version query succeeds and reports the NT platform, else 0.
    int (*isNtPlatform)(void* context);
    // Value of a process environment variable. Returns 0 when it is unset or empty,
    // otherwise the value's length n; when n < size the buffer holds the value
    // zero-terminated, otherwise the caller asks again with n + 1 bytes.
    size_t (*getEnvironmentVariable)(void* context, const char* name, char* buffer, size_t size);
    // The runtime's full-path conversion relative to the current directory: 1 with the
    // zero-terminated path in buffer, 0 when it fails or does not fit in size bytes.
    int (*getFullPath)(void* context, const char* name, char* buffer, size_t size);
    // The runtime's search for name in the current directory and then the PATH
    // directories: 1 with the path found, 0 when nothing is found or it does not fit.
    int (*searchPath)(void* context, const char* name, char* buffer, size_t size);
    // Directory search for exactly this path: kEntryMissing, kEntryFile or kEntryFolder.
    int (*findEntry)(void* context, const char* path);
    // Non-zero when byte is a lead byte of the ANSI code page.
    int (*isLeadByte)(void* context, unsigned char byte);
};

// Finds the existing file (not a folder) that commandLine names. When *path is null on
// entry it receives the found path, a kResolvedPathSize-byte block the caller releases
// with free(); when *path already holds a string it is left as it is and the call only
// answers whether the file exists. False (and *path untouched) when nothing is found,
// and at once when path is null. commandLine is never modified.
bool ResolveCommandLine(const CommandLineOps* ops, const char* commandLine, char** path);

// Looks for one candidate name: names with their own location (UNC, drive, "..")
// through the full-path conversion only; every other name beside the program, in the
// current, Windows and system directories, the 16-bit system folder (NT only), and
// through the PATH search, in that order. Returns 1 and overwrites *path with a new
// kResolvedPathSize-byte block on success; 0 otherwise, also for a null name or path.
int LocateFile(const CommandLineOps* ops, const char* name, char** path);

// Bytes of the character that starts at s (s[0] != 0): 2 for a lead byte with its
// trail byte, else 1. A lead byte right before the terminator stands alone, so no
// scan ever steps over the terminator.
size_t CharacterSize(const CommandLineOps* ops, const char* s);
// True when text's last character is a backslash (not the trail byte of a double-byte one).
bool EndsWithBackslash(const CommandLineOps* ops, const char* text);
// True when the first length bytes of text equal prefix without regard to ASCII case.
bool StartsWithNoCase(const char* text, const char* prefix, size_t length);
