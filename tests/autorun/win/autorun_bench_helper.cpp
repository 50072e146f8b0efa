// Whole-program timing of the file-type pass under Wine, run by hand in a private prefix
// (docs/PERFORMANCE.md): plants about 5,000 keys under HKEY_CLASSES_ROOT (40% extensions,
// 500 types with a shell command) once, then times, in one run, a bare enumeration of
// the root with the reads of the same values against the file-type pass with and
// without file resolution and its details cache, and the whole scan with a progress
// window. --report <path> also writes the whole scan's report there.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "autorun/autorun_scan.h"
#include "autorun/collectors.h"
#include "autorun/file_types.h"
#include "autorun/win/autorun_win.h"
#include "autorun/win/registry_win.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/progress.h"

namespace {

constexpr int kKeys = 5000;
constexpr int kExtensions = kKeys * 2 / 5;
constexpr int kTypes = kKeys - kExtensions;
constexpr int kTypesWithCommand = 500;
constexpr char kMarker[] = "Software\\Classes\\KorvaneBenchPlanted";

// Shell commands as a real machine has them: a few handlers shared by many types, and
// some that name files which do not exist.
std::string CommandOf(int type) {
    switch (type % 5) {
        case 0: return "\"C:\\windows\\notepad.exe\" \"%1\"";
        case 1: return "C:\\windows\\system32\\rundll32.exe shell32.dll,OpenAs_RunDLL %1";
        case 2: return "notepad.exe %1";
        case 3: return "%SystemRoot%\\system32\\msiexec.exe /i \"%1\"";
        default: return "C:\\Program Files\\Korvane Bench\\missing" + std::to_string(type) + ".exe \"%1\"";
    }
}

bool SetDefault(const std::string& key, const std::string& value) {
    return RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, value.c_str(),
                           static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool Plant() {
    HKEY marker = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarker, 0, KEY_READ, &marker) == ERROR_SUCCESS) {
        RegCloseKey(marker);
        return true;
    }
    const std::string classes = "Software\\Classes\\";
    for (int i = 0; i < kTypes; ++i) {
        const std::string type = classes + "KorvaneBenchType" + std::to_string(i);
        if (!(i < kTypesWithCommand ? SetDefault(type + "\\shell\\open\\command", CommandOf(i)) : SetDefault(type, "x"))) {
            return false;
        }
    }
    for (int i = 0; i < kExtensions; ++i) {
        if (!SetDefault(classes + ".kvb" + std::to_string(i), "KorvaneBenchType" + std::to_string(i % kTypes))) {
            return false;
        }
    }
    return SetDefault(kMarker, "planted");
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Times each piece of work in rounds, one run of each per round so that a busy moment
// of the machine does not fall on one piece only; keeps the shortest time of each.
template <size_t N, typename Work>
void BestOf(int rounds, Work (&works)[N], double (&best)[N]) {
    for (double& b : best) b = 1e9;
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < N; ++i) {
            const auto start = std::chrono::steady_clock::now();
            works[i]();
            const double seconds = Seconds(start);
            if (seconds < best[i]) best[i] = seconds;
        }
    }
}

// One enumeration of the root's keys, each extension's default value, each type's verbs
// and their commands: the registry reads of the file-type pass and nothing else.
int BareEnumeration() {
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ, &root) != ERROR_SUCCESS) return 0;
    DWORD keys = 0;
    RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    int reads = 0;
    for (DWORD i = 0; i < keys; ++i) {
        char name[kKeyNameSize];
        DWORD length = sizeof name;
        if (RegEnumKeyExA(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
        HKEY key = nullptr;
        if (name[0] == '.' && RegOpenKeyExA(root, name, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            std::free(ReadKeyValue(key, "", nullptr));
            RegCloseKey(key);
            ++reads;
        }
        if (RegOpenKeyExA(root, (std::string(name) + "\\shell").c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
        DWORD verbs = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &verbs, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr);
        for (DWORD v = 0; v < verbs; ++v) {
            char verb[kKeyNameSize];
            DWORD verbLength = sizeof verb;
            HKEY command = nullptr;
            if (RegEnumKeyExA(key, v, verb, &verbLength, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                RegOpenKeyExA(key, (std::string(verb) + "\\command").c_str(), 0, KEY_READ, &command) == ERROR_SUCCESS) {
                std::free(ReadKeyValue(command, "", nullptr));
                RegCloseKey(command);
                ++reads;
            }
        }
        RegCloseKey(key);
    }
    RegCloseKey(root);
    return reads;
}

// A message-only window standing in for the progress dialog's bar.
HWND ProgressWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = L"KorvaneBenchProgress";
    RegisterClassW(&windowClass);
    return CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

void ListFileTypes(const AutorunSystem& system, bool cache, HashTable* processes) {
    FILE* stream = std::tmpfile();
    HashTable* details = cache ? CreateDetailsCache() : nullptr;
    const AutorunWriter writer = {stream, &system, processes, details, false, false};
    ListFileAssociations(&writer, nullptr);
    DestroyDetailsCache(details);
    std::fclose(stream);
}

void Scan(SystemProbe& probe, HWND window, FILE* report) {
    FILE* stream = report ? report : std::tmpfile();
    probe.ScanAutoruns(window, stream);
    std::fclose(stream);
}

}  // namespace

int main(int argc, char** argv) {
    InstallApplicationTableHooks();
    const auto plantStart = std::chrono::steady_clock::now();
    if (!Plant()) {
        std::fprintf(stderr, "planting the file types failed\n");
        return 1;
    }
    std::printf("planted or found %d keys in %.2f s\n", kKeys, Seconds(plantStart));

    SystemProbe probe;
    HashTable* processes = CreateTable(8, 1);
    probe.ListProcesses(processes, nullptr);
    probe.ResolveProcessImagePaths(processes);

    int reads = 0;
    const AutorunSystem system = SystemAutorunSystem(nullptr);
    AutorunSystem unresolved = system;
    unresolved.commandLine = nullptr;
    HWND window = ProgressWindow();
    std::function<void()> works[] = {
        [&] { reads = BareEnumeration(); },
        [&] { ListFileTypes(unresolved, false, processes); },
        [&] { ListFileTypes(system, false, processes); },
        [&] { ListFileTypes(system, true, processes); },
        [&] { Scan(probe, nullptr, nullptr); },
        [&] { Scan(probe, window, nullptr); },
    };
    double best[6];
    BestOf(5, works, best);
    const double bare = best[0], noResolution = best[1], uncached = best[2], cached = best[3], quiet = best[4],
                 stepped = best[5];
    if (argc > 2 && std::strcmp(argv[1], "--report") == 0) Scan(probe, window, std::fopen(argv[2], "wb"));
    DestroyWindow(window);
    DestroyTable(processes, 1);

    std::printf("bare enumeration and reads (%d values)   %7.3f s\n", reads, bare);
    std::printf("file types, commands not resolved         %7.3f s  %.1fx\n", noResolution, noResolution / bare);
    std::printf("file types, resolved, no details cache    %7.3f s  %.1fx\n", uncached, uncached / bare);
    std::printf("file types, resolved, details cache       %7.3f s  %.1fx\n", cached, cached / bare);
    std::printf("whole scan, no progress window            %7.3f s\n", quiet);
    std::printf("whole scan, progress window               %7.3f s\n", stepped);
    return 0;
}
