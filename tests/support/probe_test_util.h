// Shared pieces of the Windows tests that inspect processes: a child process with a DLL
// loaded, a window that counts progress steps, the stop request, tables, and a second
// run of the test program while Wine reports another Windows version (5.2 for the NT 5
// routes, 98 for the 9x routes, 10).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "inspect/hash_table.h"
#include "inspect/os_family.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/progress.h"

namespace probetest {

using Lines = std::vector<std::string>;

// A system DLL that neither the test programs nor the helper load by themselves.
constexpr char kChildDll[] = "cabinet.dll";
constexpr uint32_t kNoSuchProcess = 0x3FFFFFFCu;

// The Wine version a second run was started under by RunUnderWineVersion; "" in the
// first run, at Wine's default (Windows 7).
inline std::string WineVersion() {
    const char* version = std::getenv("KORVANE_WINE_VERSION");
    return version ? version : "";
}

// The family this run expects.
inline int32_t ExpectedFamily() {
    return WineVersion() == "winxp64" ? kOsWindowsDotNet : WineVersion() == "win98" ? kOsWindows98 : kOsWindowsNt6;
}

inline std::string Upper(std::string text) {
    CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

inline std::string OwnPath() {
    char path[MAX_PATH] = {};
    return GetModuleFileNameA(nullptr, path, MAX_PATH) < MAX_PATH ? path : "";
}

// A file in the system folder, or a new empty one in the temporary folder.
inline std::string SystemFile(const char* name) {
    char folder[MAX_PATH] = {};
    return GetSystemDirectoryA(folder, MAX_PATH) < MAX_PATH ? std::string(folder) + "\\" + name : "";
}
inline std::string TempFile() {
    char folder[MAX_PATH] = {}, path[MAX_PATH] = {};
    return GetTempPathA(MAX_PATH, folder) && GetTempFileNameA(folder, "kpt", 0, path) ? path : "";
}

// Takes over a malloc text; "" for null.
inline std::string TakeText(char* text) {
    std::string copy = text ? text : "";
    std::free(text);
    return copy;
}

// The bytes of a file, which is then deleted.
inline std::string TakeFile(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    DeleteFileA(path.c_str());
    return bytes.str();
}

// Starts a program; its process, or zeroes when it did not start.
inline PROCESS_INFORMATION Launch(const std::string& program, std::string command) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    return CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)
               ? info : PROCESS_INFORMATION{};
}

// processes_helper.exe (beside this program) with kChildDll loaded; ended on destruction.
class ChildProcess {
public:
    ~ChildProcess() { End(); }
    bool Start() {
        char event[64];
        std::snprintf(event, sizeof event, "KorvaneProbeTestReady%lu_%lu", GetCurrentProcessId(), GetTickCount());
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, event);
        if (!ready) return false;
        info_ = Launch(Path(), "\"" + Path() + "\" " + kChildDll + " " + event + " " + std::to_string(GetCurrentProcessId()));
        HANDLE waits[2] = {ready, info_.hProcess};
        const bool started = info_.hProcess && WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
        CloseHandle(ready);
        return started;
    }
    // Wine keeps an ended process openable for a while: wait until it no longer opens.
    void End() {
        if (!info_.hProcess) return;
        TerminateProcess(info_.hProcess, 0);
        WaitForSingleObject(info_.hProcess, 10000);
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
        const DWORD id = std::exchange(info_, PROCESS_INFORMATION{}).dwProcessId;
        for (const DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(20)) {
            HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
            if (!process) return;
            CloseHandle(process);
        }
        ADD_FAILURE() << "process " << id << " still opens after it was ended";
    }
    uint32_t Id() const { return info_.dwProcessId; }
    static std::string Path() { return OwnPath().substr(0, OwnPath().rfind('\\') + 1) + "processes_helper.exe"; }

private:
    PROCESS_INFORMATION info_ = {};
};

// A message-only window that follows the bar position of the paced progress.
class StepCounter {
public:
    StepCounter() {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = Procedure;
        windowClass.lpszClassName = L"KorvaneProbeTestSteps";
        RegisterClassW(&windowClass);
        window_ = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        position_ = 0;
    }
    ~StepCounter() { DestroyWindow(window_); }
    HWND Window() const { return window_; }
    // Steps counted since the last call, once the paced bar has caught up.
    long TakeSteps() { return FlushProgress(window_), position_ - std::exchange(taken_, position_); }

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != ProgressSetPos) return DefWindowProcW(hwnd, message, wParam, lParam);
        return position_ = static_cast<long>(wParam), 0;
    }
    HWND window_;
    long taken_ = 0;
    static inline long position_ = 0;
};

// The stop request of a running operation, held for the object's life.
struct StopRequest {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kStopRequestName);
    ~StopRequest() { CloseHandle(mutex); }
};

inline Lines TableValues(const HashTable* table) {
    Lines values;
    for (HashTableNode* node = FirstEntry(table); node; node = NextEntry(node)) {
        values.push_back(node->value ? static_cast<const char*>(node->value) : "");
    }
    return values;
}

inline const char* ProcessName(const HashTable* table, uint32_t processId) {
    const HashTableNode* node = FindEntry(table, &processId, sizeof processId);
    return node ? static_cast<const char*>(node->value) : nullptr;
}

// A table released with its keys and values at the end of the scope.
struct OwnedTable {
    HashTable* table = (InstallApplicationTableHooks(), CreateTable(8, 1));
    ~OwnedTable() { DestroyTable(table, 1); }
    HashTable* get() const { return table; }
    size_t size() const { return TableValues(table).size(); }
};

// Runs the tests of this program that match filter in a new process while
// HKCU\Software\Wine\Version is version ("winxp64", "win98", "win10"), then restores
// the value; how many tests ran, -1 when any failed or the run did not complete.
inline int RunUnderWineVersion(const char* version, const std::string& filter) {
    constexpr char kKey[] = "Software\\Wine";
    BYTE saved[512];
    DWORD type = 0, size = sizeof saved, code = 1;
    const LONG had = RegGetValueA(HKEY_CURRENT_USER, kKey, "Version", RRF_RT_ANY | RRF_NOEXPAND, &type, saved, &size);
    const std::string xml = TempFile();
    if ((had == ERROR_SUCCESS || had == ERROR_FILE_NOT_FOUND) && !xml.empty() &&
        RegSetKeyValueA(HKEY_CURRENT_USER, kKey, "Version", REG_SZ, version,
                        static_cast<DWORD>(std::strlen(version) + 1)) == ERROR_SUCCESS) {
        SetEnvironmentVariableA("KORVANE_WINE_VERSION", version);
        const PROCESS_INFORMATION info =
            Launch(OwnPath(), "\"" + OwnPath() + "\" --gtest_filter=" + filter + " --gtest_output=xml:" + xml);
        SetEnvironmentVariableA("KORVANE_WINE_VERSION", nullptr);
        if (info.hProcess && WaitForSingleObject(info.hProcess, 180000) != WAIT_OBJECT_0) {
            TerminateProcess(info.hProcess, 1);
            WaitForSingleObject(info.hProcess, 10000);
        }
        if (info.hProcess && !GetExitCodeProcess(info.hProcess, &code)) code = 1;
        if (info.hProcess) CloseHandle(info.hProcess);
        if (info.hThread) CloseHandle(info.hThread);
        EXPECT_EQ(had == ERROR_SUCCESS ? RegSetKeyValueA(HKEY_CURRENT_USER, kKey, "Version", type, saved, size)
                                       : RegDeleteKeyValueA(HKEY_CURRENT_USER, kKey, "Version"),
                  ERROR_SUCCESS) << "Wine version not restored";
    }
    const std::string report = xml.empty() ? "" : TakeFile(xml);
    int tests = -1, failures = -1;
    const size_t totals = report.find("<testsuites tests=");
    if (totals != std::string::npos) {
        std::sscanf(report.c_str() + totals, "<testsuites tests=\"%d\" failures=\"%d\"", &tests, &failures);
    }
    return code == 0 && failures == 0 ? tests : -1;
}

}  // namespace probetest
