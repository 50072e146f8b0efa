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

#include "autorun/collectors.h"
#include "autorun/file_types.h"
#include "autorun/win/autorun_win.h"
#include "autorun/win/registry_win.h"
#include "inspect/win/system_probe.h"

namespace {

constexpr int kKeys = 5000, kExtensions = kKeys * 2 / 5, kTypes = kKeys - kExtensions, kTypesWithCommand = 500;
constexpr char kMarker[] = "Software\\Classes\\KorvaneBenchPlanted";

bool SetDefault(const std::string& key, const std::string& value) {
    return RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, value.c_str(),
                           static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

// Shell commands as a real machine has them: a few handlers shared by many types, and
// some that name files which do not exist.
bool Plant() {
    HKEY marker = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarker, 0, KEY_READ, &marker) == ERROR_SUCCESS) return RegCloseKey(marker), true;
    const char* const commands[] = {"\"C:\\windows\\notepad.exe\" \"%1\"",
                                    "C:\\windows\\system32\\rundll32.exe shell32.dll,OpenAs_RunDLL %1", "notepad.exe %1",
                                    "%SystemRoot%\\system32\\msiexec.exe /i \"%1\""};
    for (int i = 0; i < kTypes; ++i) {
        const std::string type = "Software\\Classes\\KorvaneBenchType" + std::to_string(i);
        const std::string command = i % 5 < 4 ? commands[i % 5]
                                              : "C:\\Program Files\\Korvane Bench\\missing" + std::to_string(i) + ".exe \"%1\"";
        if (!(i < kTypesWithCommand ? SetDefault(type + "\\shell\\open\\command", command) : SetDefault(type, "x"))) return false;
    }
    for (int i = 0; i < kExtensions; ++i) {
        if (!SetDefault("Software\\Classes\\.kvb" + std::to_string(i), "KorvaneBenchType" + std::to_string(i % kTypes))) return false;
    }
    return SetDefault(kMarker, "planted");
}

// One enumeration of the root's keys, each extension's default value, each type's verbs
// and their commands: the registry reads of the file-type pass and nothing else.
int BareEnumeration() {
    HKEY root = nullptr, key = nullptr, command = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ, &root) != ERROR_SUCCESS) return 0;
    int reads = 0;
    char name[kKeyNameSize], verb[kKeyNameSize];
    for (DWORD i = 0, length = sizeof name; RegEnumKeyExA(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = sizeof name) {
        if (name[0] == '.' && RegOpenKeyExA(root, name, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            std::free(ReadKeyValue(key, "", nullptr));
            RegCloseKey(key);
            ++reads;
        }
        if (RegOpenKeyExA(root, (std::string(name) + "\\shell").c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
        for (DWORD v = 0, verbLength = sizeof verb;
             RegEnumKeyExA(key, v, verb, &verbLength, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++v, verbLength = sizeof verb) {
            if (RegOpenKeyExA(key, (std::string(verb) + "\\command").c_str(), 0, KEY_READ, &command) != ERROR_SUCCESS) continue;
            std::free(ReadKeyValue(command, "", nullptr));
            RegCloseKey(command);
            ++reads;
        }
        RegCloseKey(key);
    }
    RegCloseKey(root);
    return reads;
}

void ListFileTypes(const AutorunSystem& system, bool cache, HashTable* processes) {
    FILE* stream = std::tmpfile();
    if (!stream) return;
    HashTable* details = cache ? CreateDetailsCache() : nullptr;
    const AutorunWriter writer = {stream, &system, processes, details, false, false};
    ListFileAssociations(&writer, nullptr);
    DestroyDetailsCache(details);
    std::fclose(stream);
}

}  // namespace

int main(int argc, char** argv) {
    InstallApplicationTableHooks();
    const auto plantStart = std::chrono::steady_clock::now();
    if (!Plant()) return std::fprintf(stderr, "planting the file types failed\n"), 1;
    const auto seconds = [](std::chrono::steady_clock::time_point since) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
    };
    std::printf("planted or found %d keys in %.2f s\n", kKeys, seconds(plantStart));
    SystemProbe probe;
    HashTable* processes = CreateTable(8, 1);
    probe.ListProcesses(processes, nullptr);
    probe.ResolveProcessImagePaths(processes);
    const AutorunSystem system = SystemAutorunSystem(nullptr);
    AutorunSystem unresolved = system;
    unresolved.commandLine = nullptr;
    // A message-only window standing in for the progress dialog's bar.
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = L"KorvaneBenchProgress";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    const auto scan = [&](HWND progress, FILE* report) {
        FILE* stream = report ? report : std::tmpfile();
        if (stream) probe.ScanAutoruns(progress, stream), std::fclose(stream);
    };
    int reads = 0;
    const struct { const char* what; std::function<void()> work; } works[] = {
        {"bare enumeration and reads", [&] { reads = BareEnumeration(); }},
        {"file types, commands not resolved", [&] { ListFileTypes(unresolved, false, processes); }},
        {"file types, resolved, no details cache", [&] { ListFileTypes(system, false, processes); }},
        {"file types, resolved, details cache", [&] { ListFileTypes(system, true, processes); }},
        {"whole scan, no progress window", [&] { scan(nullptr, nullptr); }},
        {"whole scan, progress window", [&] { scan(window, nullptr); }},
    };
    // Each piece timed in rounds, one run of each per round so that a busy moment of the
    // machine does not fall on one piece only; the shortest time of each is kept.
    double best[std::size(works)] = {};
    for (int round = 0; round < 5; ++round) {
        for (size_t i = 0; i < std::size(works); ++i) {
            const auto start = std::chrono::steady_clock::now();
            works[i].work();
            best[i] = round == 0 ? seconds(start) : std::min(best[i], seconds(start));
        }
    }
    if (argc > 2 && std::strcmp(argv[1], "--report") == 0) scan(window, std::fopen(argv[2], "wb"));
    DestroyWindow(window);
    DestroyTable(processes, 1);
    std::printf("%-40s %7.3f s  (%d values)\n", works[0].what, best[0], reads);
    for (size_t i = 1; i < std::size(works); ++i) {
        std::printf("%-40s %7.3f s  %.1fx\n", works[i].what, best[i], best[i] / best[0]);
    }
    return 0;
}
