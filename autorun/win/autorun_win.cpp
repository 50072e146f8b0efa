#include "autorun/win/autorun_win.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>

#include "autorun/autorun_scan.h"
#include "autorun/win/command_line_win.h"
#include "autorun/win/registry_win.h"
#include "autorun/win/tasks_win.h"
#include "autorun/win/wow64_win.h"
#include "inspect/win/file_info_win.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/progress.h"

namespace {

// Prefix of the temporary INI copies (GetTempFileName uses three characters).
constexpr char kIniCopyPrefix[] = "kvi";
// Section buffer: the first size, and the largest before a section counts as unreadable.
constexpr DWORD kSectionFirstSize = 1024;
constexpr DWORD kSectionMaxSize = 16u << 20;
// Shortcut arguments: the first buffer, and one that holds the most a shortcut file can
// store (65535 characters, at most two ANSI bytes each).
constexpr int kArgumentsFirstSize = 1024;
constexpr int kArgumentsMaxSize = 2 * 65536;

bool CopyToTemporary(void*, const char* path, char* copy, size_t size) {
    char folder[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder || size < MAX_PATH) return false;
    if (!GetTempFileNameA(folder, kIniCopyPrefix, 0, copy)) return false;  // creates the file
    if (CopyFileA(path, copy, FALSE)) return true;
    DeleteFileA(copy);
    return false;
}

void DeleteCopy(void*, const char* path) { DeleteFileA(path); }

char* ReadSection(void*, const char* path, const char* section) {
    for (DWORD size = kSectionFirstSize; size <= kSectionMaxSize; size *= 2) {
        auto* lines = static_cast<char*>(std::malloc(size));
        if (!lines) return nullptr;
        std::memset(lines, 0, size);
        const DWORD length = GetPrivateProfileSectionA(section, lines, size, path);
        // size - 2 means the section was cut to fit: read it again with more room.
        if (length + 2 < size) {
            lines[length] = '\0';
            lines[length + 1] = '\0';
            return lines;
        }
        std::free(lines);
    }
    return nullptr;
}

void CopyEntry(const WIN32_FIND_DATAA& data, DirectoryEntry* entry) {
    std::memcpy(entry->name, data.cFileName, sizeof entry->name);
    entry->name[sizeof entry->name - 1] = '\0';
    std::memcpy(entry->alternateName, data.cAlternateFileName, sizeof entry->alternateName);
    entry->alternateName[sizeof entry->alternateName - 1] = '\0';
    entry->folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void* FindFirst(void*, const char* pattern, DirectoryEntry* entry) {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) return nullptr;
    CopyEntry(data, entry);
    return search;
}

bool FindNext(void*, void* search, DirectoryEntry* entry) {
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(static_cast<HANDLE>(search), &data)) return false;
    CopyEntry(data, entry);
    return true;
}

void CloseSearch(void*, void* search) { FindClose(static_cast<HANDLE>(search)); }

// COM for the calling thread: S_OK and S_FALSE both owe a CoUninitialize.
bool BeginThread(void*) { return SUCCEEDED(CoInitialize(nullptr)); }

void EndThread(void*) { CoUninitialize(); }

void* LoadLink(void*, const char* path) {
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link)))) {
        return nullptr;
    }
    IPersistFile* file = nullptr;
    WCHAR widePath[MAX_PATH];
    bool loaded = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                  MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) != 0 &&
                  SUCCEEDED(file->Load(widePath, STGM_READ));
    if (file) file->Release();
    if (!loaded) {
        link->Release();
        return nullptr;
    }
    return link;
}

bool GetTarget(void*, void* link, char* buffer, size_t size) {
    const int length = size > MAX_PATH ? MAX_PATH : static_cast<int>(size);
    buffer[0] = '\0';
    // S_FALSE: the link has no file path (a Control Panel item, a folder of the shell).
    return static_cast<IShellLinkA*>(link)->GetPath(buffer, length, nullptr, SLGP_SHORTPATH) == S_OK;
}

char* GetArguments(void*, void* link) {
    for (int size = kArgumentsFirstSize;; size *= 2) {
        auto* arguments = static_cast<char*>(std::malloc(size));
        if (!arguments) return nullptr;
        arguments[0] = '\0';
        if (FAILED(static_cast<IShellLinkA*>(link)->GetArguments(arguments, size))) {
            std::free(arguments);
            return nullptr;
        }
        arguments[size - 1] = '\0';
        // Arguments that fill the buffer may have been cut: read them again with more room.
        if (std::strlen(arguments) < static_cast<size_t>(size - 1) || size >= kArgumentsMaxSize) return arguments;
        std::free(arguments);
    }
}

void ReleaseLink(void*, void* link) { static_cast<IShellLinkA*>(link)->Release(); }

const IniOps kSystemIniOps = {nullptr, CopyToTemporary, DeleteCopy, ReadSection};
const DirectoryOps kSystemDirectoryOps = {nullptr, FindFirst, FindNext, CloseSearch};
const ShellLinkOps kSystemShellLinkOps = {nullptr, BeginThread, EndThread, LoadLink, GetTarget, GetArguments,
                                          ReleaseLink};

// The probe and progress window of one scan.
struct ScanContext {
    SystemProbe* probe;
    HWND window;
};

ScanContext& Scan(void* context) { return *static_cast<ScanContext*>(context); }

uint32_t CountProcesses(void* context) { return Scan(context).probe->CountProcessItems(0); }

uint32_t ListProcesses(void* context, HashTable* table, bool withProgress) {
    return Scan(context).probe->ListProcesses(table, withProgress ? Scan(context).window : nullptr);
}

void ResolveImagePaths(void* context, HashTable* table) { Scan(context).probe->ResolveProcessImagePaths(table); }

void BeginSteps(void* context, uint32_t steps) { BeginProgressTask(Scan(context).window, nullptr, steps); }

bool Step(void* context) {
    uint32_t result = 0;
    return StepProgress(Scan(context).window, &result);
}

bool StopRequested(void*) {
    uint32_t result = 0;
    return IsStopRequested(&result);
}

uint32_t RunScan(SystemProbe* probe, HWND progressWindow, FILE* stream, AutorunFamily family) {
    ScanContext context = {probe, progressWindow};
    const ProcessOps processes = {&context, CountProcesses, ListProcesses, ResolveImagePaths};
    const ProgressOps progress = {&context, BeginSteps, Step, StopRequested};
    const AutorunSystem system = SystemAutorunSystem(&processes, family);
    const uint32_t status = ScanAutoruns(&system, progressWindow ? &progress : nullptr, stream, family);
    FlushProgress(progressWindow);
    return status;
}

}  // namespace

const IniOps* SystemIniOps() { return &kSystemIniOps; }
const DirectoryOps* SystemDirectoryOps() { return &kSystemDirectoryOps; }
const ShellLinkOps* SystemShellLinkOps() { return &kSystemShellLinkOps; }

AutorunSystem SystemAutorunSystem(const ProcessOps* processes, AutorunFamily family) {
    const bool current = family == kAutorunNt6Family;
    const bool views = current && Is64BitWindows();
    return {SystemCommandLineOps(),
            SystemFileInfoOps(),
            SystemRegistryOps(views),
            &kSystemIniOps,
            &kSystemDirectoryOps,
            &kSystemShellLinkOps,
            processes,
            current ? SystemTaskSchedulerOps() : nullptr,
            current ? SystemFileRedirectionOps() : nullptr,
            views};
}

uint32_t ScanAutorunsNt(SystemProbe* probe, HWND progressWindow, FILE* reportStream) {
    return RunScan(probe, progressWindow, reportStream, kAutorunNtFamily);
}

uint32_t ScanAutorunsNt6(SystemProbe* probe, HWND progressWindow, FILE* reportStream) {
    return RunScan(probe, progressWindow, reportStream, kAutorunNt6Family);
}

uint32_t ScanAutoruns9x(SystemProbe* probe, HWND progressWindow, FILE* reportStream) {
    return RunScan(probe, progressWindow, reportStream, kAutorun9xFamily);
}
