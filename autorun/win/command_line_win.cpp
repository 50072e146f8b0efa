#include <windows.h>

#include <stdlib.h>

#include <cstring>

#include "autorun/win/command_line_win.h"

namespace {

DWORD BufferSize(size_t size) { return size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size); }

// The directory queries answer the length without the terminator when the path fits,
// and the size they need (terminator included) when it does not.
int FitsAnswer(DWORD answer, size_t size) { return answer != 0 && answer < BufferSize(size) ? 1 : 0; }

int QueryModuleFileName(void*, char* buffer, size_t size) {
    const DWORD answer = GetModuleFileNameA(nullptr, buffer, BufferSize(size));
    // A name that fills the buffer was cut (and on older systems left unterminated).
    return FitsAnswer(answer, size);
}

int QueryCurrentDirectory(void*, char* buffer, size_t size) {
    return FitsAnswer(GetCurrentDirectoryA(BufferSize(size), buffer), size);
}

int QueryWindowsDirectory(void*, char* buffer, size_t size) {
    return FitsAnswer(GetWindowsDirectoryA(buffer, BufferSize(size)), size);
}

int QuerySystemDirectory(void*, char* buffer, size_t size) {
    return FitsAnswer(GetSystemDirectoryA(buffer, BufferSize(size)), size);
}

int QueryNtPlatform(void*) {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) return 0;
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
}

size_t QueryEnvironmentVariable(void*, const char* name, char* buffer, size_t size) {
    const DWORD answer = GetEnvironmentVariableA(name, buffer, BufferSize(size));
    if (answer == 0) return 0;
    if (answer < BufferSize(size)) return answer;
    return answer - 1;  // the size it needs counts the terminator
}

int QueryFullPath(void*, const char* name, char* buffer, size_t size) {
    return _fullpath(buffer, name, size) != nullptr ? 1 : 0;
}

int QuerySearchPath(void*, const char* name, char* buffer, size_t size) {
    // _searchenv writes up to _MAX_PATH bytes; a name that long cannot give a path that fits.
    if (std::strlen(name) >= _MAX_PATH) return 0;
    char found[_MAX_PATH];
    found[0] = '\0';
    _searchenv(name, "PATH", found);
    found[_MAX_PATH - 1] = '\0';
    const size_t length = std::strlen(found);
    if (length == 0 || length >= size) return 0;
    std::memcpy(buffer, found, length + 1);
    return 1;
}

int QueryEntry(void*, const char* path) {
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA(path, &data);
    if (search == INVALID_HANDLE_VALUE) return kEntryMissing;
    FindClose(search);
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kEntryFolder : kEntryFile;
}

int QueryLeadByte(void*, unsigned char byte) { return IsDBCSLeadByte(byte) ? 1 : 0; }

const CommandLineOps kSystemOps = {
    nullptr,
    QueryModuleFileName,
    QueryCurrentDirectory,
    QueryWindowsDirectory,
    QuerySystemDirectory,
    QueryNtPlatform,
    QueryEnvironmentVariable,
    QueryFullPath,
    QuerySearchPath,
    QueryEntry,
    QueryLeadByte,
};

}  // namespace

const CommandLineOps* SystemCommandLineOps() { return &kSystemOps; }

bool ResolveCommandLine(const char* commandLine, char** path) {
    return ResolveCommandLine(&kSystemOps, commandLine, path);
}

int LocateFile(const char* name, char** path) { return LocateFile(&kSystemOps, name, path); }
