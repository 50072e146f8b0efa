// Shared pieces of the process and module tests under Wine: a child process that has a
// DLL of the test's choosing loaded, a window that counts progress steps, the stop
// request, and report files read back line by line.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "inspect/hash_table.h"
#include "jobs/win/worker_job.h"

namespace probetest {

// A system DLL that neither the test programs nor the helper load by themselves.
constexpr char kChildDll[] = "cabinet.dll";

inline std::string Upper(std::string text) {
    if (!text.empty()) CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

inline std::string OwnPath() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

// A file beside this test program.
inline std::string BesideSelf(const char* name) {
    const std::string own = OwnPath();
    const size_t slash = own.find_last_of("\\/");
    return slash == std::string::npos ? std::string(name) : own.substr(0, slash + 1) + name;
}

inline std::string SystemFile(const char* name) {
    char folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(folder) + "\\" + name;
}

// processes_helper.exe with a DLL loaded; ended and waited for on destruction.
class ChildProcess {
public:
    ChildProcess() { ZeroMemory(&info_, sizeof info_); }
    ~ChildProcess() { End(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the helper and waits until it has loaded dllName; false when it did not.
    bool Start(const char* dllName = kChildDll) {
        path_ = BesideSelf("processes_helper.exe");
        char eventName[64];
        std::snprintf(eventName, sizeof eventName, "KorvaneProbeTestReady%lu_%lu",
                      static_cast<unsigned long>(GetCurrentProcessId()), static_cast<unsigned long>(GetTickCount()));
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, eventName);
        if (!ready) return false;
        std::string commandLine = "\"" + path_ + "\" " + dllName + " " + eventName + " " +
                                  std::to_string(GetCurrentProcessId());
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        bool started = CreateProcessA(path_.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                      &startup, &info_) != FALSE;
        if (started) {
            HANDLE waits[2] = {ready, info_.hProcess};
            started = WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
        }
        CloseHandle(ready);
        return started;
    }

    // Ends the child and waits until its process ID no longer opens: Wine keeps an
    // ended process openable for a while after its handle has been signalled.
    void End() {
        if (!info_.hProcess) return;
        TerminateProcess(info_.hProcess, 0);
        WaitForSingleObject(info_.hProcess, 10000);
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
        const DWORD id = info_.dwProcessId;
        ZeroMemory(&info_, sizeof info_);
        for (const DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(20)) {
            HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
            if (!process) return;
            CloseHandle(process);
        }
        ADD_FAILURE() << "process " << id << " still opens after it was ended";
    }

    uint32_t Id() const { return info_.dwProcessId; }
    const std::string& Path() const { return path_; }

private:
    PROCESS_INFORMATION info_;
    std::string path_;
};

// A message-only window that counts the ProgressStep messages it receives.
class StepCounter {
public:
    StepCounter() {
        WNDCLASSW windowClass;
        ZeroMemory(&windowClass, sizeof windowClass);
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"KorvaneProbeTestSteps";
        RegisterClassW(&windowClass);
        window_ = CreateWindowW(L"KorvaneProbeTestSteps", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        steps_ = 0;
    }
    ~StepCounter() {
        if (window_) DestroyWindow(window_);
    }
    HWND Window() const { return window_; }
    static long Steps() { return steps_; }
    static void Reset() { steps_ = 0; }

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == ProgressStep) {
            ++steps_;
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    HWND window_;
    static inline long steps_ = 0;
};

// The stop request of a running operation, held for the object's life.
class StopRequest {
public:
    StopRequest() : mutex_(CreateMutexW(nullptr, TRUE, kStopRequestName)) {}
    ~StopRequest() {
        if (mutex_) CloseHandle(mutex_);
    }
    bool Held() const { return mutex_ != nullptr; }

private:
    HANDLE mutex_;
};

// A report file in the temporary folder, opened "w+b", removed on destruction.
class ReportFile {
public:
    ReportFile() {
        char folder[MAX_PATH] = {};
        char name[MAX_PATH] = {};
        if (GetTempPathA(MAX_PATH, folder) && GetTempFileNameA(folder, "kpt", 0, name)) {
            path_ = name;
            stream_ = std::fopen(name, "w+b");
        }
    }
    ~ReportFile() {
        if (stream_) std::fclose(stream_);
        if (!path_.empty()) DeleteFileA(path_.c_str());
    }
    FILE* Stream() const { return stream_; }

    // Every line written so far, without its line end; each must end in CR LF.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        if (!stream_) return lines;
        std::fflush(stream_);
        const long size = std::ftell(stream_);
        std::string bytes(size > 0 ? static_cast<size_t>(size) : 0, '\0');
        std::rewind(stream_);
        if (!bytes.empty() && std::fread(&bytes[0], 1, bytes.size(), stream_) != bytes.size()) return lines;
        std::fseek(stream_, 0, SEEK_END);
        size_t start = 0;
        while (start < bytes.size()) {
            const size_t end = bytes.find("\r\n", start);
            EXPECT_NE(end, std::string::npos) << "line without CR LF at byte " << start;
            if (end == std::string::npos) break;
            lines.push_back(bytes.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }

private:
    std::string path_;
    FILE* stream_ = nullptr;
};

// Table helpers: entries as (key, value text).
inline std::vector<std::string> TableValues(const HashTable* table) {
    std::vector<std::string> values;
    for (HashTableNode* node = FirstEntry(table); node; node = NextEntry(node)) {
        values.push_back(node->value ? static_cast<const char*>(node->value) : "");
    }
    return values;
}

inline const char* ProcessName(const HashTable* table, uint32_t processId) {
    const HashTableNode* node = FindEntry(table, &processId, sizeof processId);
    return node ? static_cast<const char*>(node->value) : nullptr;
}

// Handle of the module with this (upper-cased) path in a module table; null when absent.
inline HMODULE ModuleHandleOf(const HashTable* table, const std::string& upperPath) {
    for (HashTableNode* node = FirstEntry(table); node; node = NextEntry(node)) {
        if (node->keyLength != sizeof(uintptr_t) || !node->value) continue;
        if (upperPath == static_cast<const char*>(node->value)) {
            uintptr_t handle;
            std::memcpy(&handle, node->key, sizeof handle);
            return reinterpret_cast<HMODULE>(handle);
        }
    }
    return nullptr;
}

// A table that DestroyTable releases with its keys and values at the end of the scope.
class OwnedTable {
public:
    OwnedTable() {
        InstallApplicationTableHooks();
        table_ = CreateTable(8, 1);
    }
    ~OwnedTable() {
        if (table_) DestroyTable(table_, 1);
    }
    OwnedTable(const OwnedTable&) = delete;
    OwnedTable& operator=(const OwnedTable&) = delete;
    HashTable* get() const { return table_; }

private:
    HashTable* table_;
};

}  // namespace probetest
