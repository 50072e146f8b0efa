// The autorun collectors and scans on the real system of the Wine prefix: entries planted
// with the registry, INI, file and shell link interfaces give their exact lines, and the
// whole scan of each family (current NT on Wine's default version and on 10, NT 5.2 and
// 98 in second runs) finds each of them once, in its own group, leaves no temporary INI
// copy and the current directory as it was, and stops on request. Wine 8 lists no
// scheduled tasks: their walk is tested natively.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "autorun/autorun_scan.h"
#include "autorun/collectors.h"
#include "autorun/file_types.h"
#include "autorun/startup_folder.h"
#include "autorun/win/autorun_win.h"
#include "autorun/win/registry_win.h"
#include "inspect/win/file_info_win.h"
#include "inspect/win/os_family_win.h"
#include "tests/autorun/autorun_places.h"
#include "tests/support/probe_test_util.h"
#include "tests/support/autorun_plant.h"

namespace {

using namespace probetest;
using namespace planttest;

template <typename Write>
Lines Capture(Write write) {
    const std::string path = TempFile();
    FILE* stream = path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
    EXPECT_NE(stream, nullptr);
    if (stream) write(stream);
    if (stream) std::fclose(stream);
    const std::string bytes = TakeFile(path);
    Lines lines;
    for (size_t start = 0, end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(bytes.substr(start, end - start));
    }
    return lines;
}

// The details text of a file with the processes of table started from it.
std::string Details(const std::string& path, const HashTable* table) {
    IdList* instances = nullptr;
    FindProcessIdsByName(table, &instances, path.c_str());
    return TakeText(GetFileDetails(nullptr, path.c_str(), instances));
}

std::string LongPath(const std::string& path) {
    char buffer[MAX_PATH] = {};
    const DWORD length = GetLongPathNameA(path.c_str(), buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? buffer : path;
}

int TemporaryCopies() {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((TempFolder() + "kvi*.tmp").c_str(), &data);
    int count = 0;
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &data)) ++count;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return count;
}

Lines Sorted(Lines lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

class AutorunCollectors : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(probe.ListProcesses(processes.get(), nullptr), 0u);
        probe.ResolveProcessImagePaths(processes.get());
        ASSERT_FALSE(temp.empty());
    }
    Lines Run(void (*collect)(const AutorunWriter*, const std::string&), const std::string& argument) {
        return Capture([&](FILE* stream) {
            const AutorunWriter writer = {stream, &system, processes.get(), nullptr, true, false};
            collect(&writer, argument);
        });
    }
    SystemProbe probe;
    OwnedTable processes;
    const AutorunSystem system = SystemAutorunSystem(nullptr);
    const std::string u = UniqueSuffix(), exe = OwnPath(), temp = TempFolder();
    RegistryPlant registry;
    FilePlant files;
};

TEST_F(AutorunCollectors, RunValuesAndIniSections) {
    const std::string run = "Software\\KorvaneTest" + u + "\\Run";
    const std::string name = exe.substr(exe.rfind('\\') + 1);
    const std::string arguments = " -x " + std::string(700, 'x');  // longer than any fixed buffer
    const std::string missing = "C:\\korvane-missing-" + u + "\\x.exe";
    ASSERT_TRUE(SetEnvironmentVariableA("KORVANE_TEST_FOLDER", exe.substr(0, exe.rfind('\\')).c_str()));
    ASSERT_TRUE(registry.Value(HKEY_CURRENT_USER, run, "Present", "\"" + exe + "\"" + arguments));
    ASSERT_TRUE(registry.Value(HKEY_CURRENT_USER, run, "Missing", missing));
    ASSERT_TRUE(registry.Value(HKEY_CURRENT_USER, run, "", exe));
    ASSERT_TRUE(registry.Value(HKEY_CURRENT_USER, run, "Expanded", "%KORVANE_TEST_FOLDER%\\" + name, REG_EXPAND_SZ));
    ASSERT_TRUE(registry.Value(HKEY_CURRENT_USER, run, "Binary", exe, REG_BINARY));
    const std::string details = "|" + Details(exe, processes.get());
    const Lines lines = Run([](const AutorunWriter* w, const std::string& key) {
        WalkRegistryKey(w, kKeyValueLevel, nullptr, kHiveCurrentUser, key.c_str(), false);
    }, run);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "--------|");
    EXPECT_EQ(Sorted(Lines(lines.begin(), lines.end() - 1)),
              Sorted({"04004002|Present = \"" + exe + "\"" + arguments + details, "00004002|Missing = " + missing,
                      "04004002| = " + exe + details,
                      "04004002|Expanded = %KORVANE_TEST_FOLDER%\\" + name + details}));
    char hex[16];
    std::snprintf(hex, sizeof hex, "%lx|", GetCurrentProcessId());
    EXPECT_EQ(details.substr(1, std::strlen(hex)), hex);  // the running test is the file's instance
    EXPECT_EQ(TakeText(ReadRegistryString(HKEY_CURRENT_USER, run.c_str(), "Expanded")), "%KORVANE_TEST_FOLDER%\\" + name);
    EXPECT_EQ(TakeText(ReadRegistryString(HKEY_CURRENT_USER, run.c_str(), "Absent")), "");

    // A section longer than a first read holds, from a private INI file; blanks around
    // "=" are trimmed by the system.
    const std::string ini = temp + "korvane-" + u + ".ini";
    std::string text = "[Boot]\r\nshell = notepad.exe\r\nno command\r\n";
    Lines expected = {"04004003|shell=notepad.exe|" + Details(WindowsFolder() + "\\notepad.exe", processes.get()),
                      "00004003|no command"};
    for (int i = 0; i < 60; ++i) {
        const std::string line = "driver" + std::to_string(i) + "=" + missing;
        text += line + "\r\n";
        expected.push_back("00004003|" + line);
    }
    expected.push_back("--------|");
    ASSERT_TRUE(files.File(ini, text));
    EXPECT_EQ(Run([](const AutorunWriter* w, const std::string& path) { ReadIniSection(w, "boot", path.c_str()); }, ini),
              expected);
}

TEST_F(AutorunCollectors, StartupFolderShortcutsAndFileTypes) {
    const std::string folder = temp + "korvane-startup-" + u;
    const std::string targetFolder = temp + "korvane target folder " + u;
    const std::string target = targetFolder + "\\target application.exe";
    const std::string arguments = "-tray " + std::string(400, 'a');
    ASSERT_TRUE(files.Folder(folder) && files.Folder(targetFolder) && files.Copy(exe, target));
    ASSERT_TRUE(files.Shortcut(folder + "\\App.lnk", target, arguments));
    ASSERT_TRUE(files.Shortcut(folder + "\\Bare.lnk", target, ""));
    ASSERT_TRUE(files.File(folder + "\\readme.txt", "x") && files.Folder(folder + "\\sub"));
    const std::string longTarget = LongPath(target);
    const auto shortcut = [&](const std::string& text, const std::string& link) {
        return "c4b04a02|" + text + "|" + Details(longTarget, processes.get()) + "|" +
               Details(folder + "\\" + link, processes.get()) + "|" + longTarget;
    };
    EXPECT_EQ(Sorted(Run([](const AutorunWriter* w, const std::string& path) { ListStartupFolder(w, path.c_str()); },
                         folder)),
              Sorted({shortcut(longTarget + " " + arguments, "App.lnk"), shortcut(longTarget, "Bare.lnk"),
                      "04004002|" + folder + "\\readme.txt|" + Details(folder + "\\readme.txt", processes.get()),
                      "00004002|" + folder + "\\sub"}));

    const std::string type = "KorvaneType" + u;
    ASSERT_TRUE(registry.FileType(type, {".kvta" + u, ".kvtb" + u}, "open", "\"" + exe + "\" \"%1\""));
    const Lines lines = Run([](const AutorunWriter* w, const std::string&) { ListFileAssociations(w, nullptr); }, "");
    const auto heading = std::find(lines.begin(), lines.end(), "1000400a|" + type + "\\shell|.kvta" + u + "|.kvtb" + u);
    ASSERT_NE(heading, lines.end());
    ASSERT_NE(heading + 1, lines.end());
    EXPECT_EQ(heading[1], "04004003|open\\command = \"" + exe + "\" \"%1\"|" + Details(exe, processes.get()));
    EXPECT_EQ(lines.back(), "--------|");
}

// A message-only window that takes the progress messages and asks the scan to stop
// once the bar has passed stopAt of its range.
class StopWindow {
public:
    explicit StopWindow(double stopAt) {
        stopAt_ = stopAt;
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = Procedure;
        windowClass.lpszClassName = L"KorvaneAutorunTestStop";
        RegisterClassW(&windowClass);
        window_ = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    }
    ~StopWindow() {
        DestroyWindow(window_);
        SetLocalStopRequest(false);
    }
    HWND Window() const { return window_; }

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == ProgressSetRange) range_ = static_cast<double>(lParam);
        if (message == ProgressSetPos && range_ > 0 && static_cast<double>(wParam) >= stopAt_ * range_) {
            SetLocalStopRequest(true);
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    HWND window_;
    static inline double stopAt_ = 0, range_ = 0;
};

TEST(AutorunScan, FindsEveryPlantedEntryOnceAndStopsOnRequest) {
    const bool nt = ExpectedFamily() != kOsWindows98, current = ExpectedFamily() == kOsWindowsNt6;
    SystemProbe probe;
    ASSERT_EQ(DetectOsFamily(nullptr, nullptr), ExpectedFamily());
    ASSERT_EQ(probe.scanAutoruns, current ? ScanAutorunsNt6 : nt ? ScanAutorunsNt : ScanAutoruns9x);
    const std::string u = UniqueSuffix(), exe = OwnPath();
    const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    RegistryPlant registry;
    FilePlant files;
    ASSERT_TRUE(registry.Value(HKEY_CURRENT_USER, run, "KorvaneUser" + u, "\"" + exe + "\" -user"));
    ASSERT_TRUE(registry.Value(HKEY_CURRENT_USER, run, "KorvaneExpanded" + u, "%SystemRoot%\\notepad.exe",
                               REG_EXPAND_SZ));
    ASSERT_TRUE(registry.Value(HKEY_LOCAL_MACHINE, run + "Once", "KorvaneMachine" + u, exe));
    // One value in each view of HKEY_LOCAL_MACHINE (which Wine keeps apart on NT versions
    // only), a policy and a RunOnceEx entry.
    if (current) {
        ASSERT_TRUE(registry.Value(HKEY_LOCAL_MACHINE, run, "KorvaneView64" + u, exe, REG_SZ, KEY_WOW64_64KEY));
        ASSERT_TRUE(registry.Value(HKEY_LOCAL_MACHINE, run, "KorvaneView32" + u, exe, REG_SZ, KEY_WOW64_32KEY));
    }
    ASSERT_TRUE(registry.Value(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run",
                               "KorvanePolicy" + u, exe));
    ASSERT_TRUE(registry.Value(HKEY_LOCAL_MACHINE, run + "OnceEx\\Korvane" + u, "1", "||" + exe + " -once"));
    ASSERT_TRUE(registry.Value(HKEY_USERS, ".DEFAULT\\" + run, "KorvaneDefault" + u, exe));
    ASSERT_TRUE(registry.FileType("KorvaneScanType" + u, {".kvts" + u}, "open", exe + " %1"));
    ASSERT_TRUE(files.IniLine(WindowsFolder() + "\\system.ini", "drivers32", "korvane" + u, "missing" + u + ".drv"));
    char* startup = ReadRegistryString(HKEY_CURRENT_USER,
                                       "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "StartUp");
    const std::string link = TakeText(startup) + "\\Korvane" + u + ".lnk";
    ASSERT_TRUE(files.Shortcut(link, exe, "-startup"));
    char directory[MAX_PATH] = {}, after[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, directory);
    const int copies = TemporaryCopies();

    uint32_t status = 99;
    const Lines lines = Capture([&](FILE* stream) { status = probe.ScanAutoruns(nullptr, stream); });
    EXPECT_EQ(status, 0u);
    const Lines headings = autoruntest::Headings(lines);
    const Lines expected = autoruntest::ExpectedHeadings(nt, WindowsFolder(), current);
    ASSERT_GE(headings.size(), expected.size());
    EXPECT_EQ(Lines(headings.begin(), headings.begin() + expected.size()), expected);
    // Then one location per profile (NT) or the current user's (9x).
    HKEY profiles = nullptr;
    DWORD profileCount = 0;
    if (nt && RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                            KEY_READ, &profiles) == ERROR_SUCCESS) {
        RegQueryInfoKeyA(profiles, nullptr, nullptr, nullptr, &profileCount, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr);
        RegCloseKey(profiles);
    }
    // Then the places of current systems (with no task folder: Wine 8 lists no tasks).
    const Lines more = current ? autoruntest::CurrentPlaceHeadings(true) : Lines{};
    EXPECT_EQ(headings.size(), expected.size() + (nt ? profileCount : 1) + more.size());
    EXPECT_EQ(Lines(headings.end() - more.size(), headings.end()), more);
    if (!nt) {
        EXPECT_EQ(headings.back(), "Current user");
    }
    const struct { std::string text, group; } planted[] = {
        {"KorvaneUser" + u + " = \"" + exe + "\" -user", "HKEY_CURRENT_USER"},
        {"KorvaneMachine" + u + " = " + exe, "HKEY_LOCAL_MACHINE"},
        {"KorvaneDefault" + u + " = " + exe, "HKEY_USERS\\.DEFAULT"},
        {"open\\command = " + exe + " %1", "HKEY_CLASSES_ROOT"},
        {"korvane" + u + "=missing" + u + ".drv", "Ini"},
        {exe + " -startup", "StartUp"},
        {"KorvaneView64" + u + " = " + exe, current ? "HKEY_LOCAL_MACHINE" : ""},
        {"KorvaneView32" + u + " = " + exe, current ? "HKEY_LOCAL_MACHINE (32-bit)" : ""},
        {"KorvanePolicy" + u + " = " + exe, current ? "Explorer Run policies" : ""},
        {"1 = ||" + exe + " -once", current ? "RunOnceEx" : ""},
    };
    for (const auto& p : planted) {
        size_t count = 0, at = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            if (line.compare(9, p.text.size() + 1, p.text + "|") == 0 ||
                (line.size() == 9 + p.text.size() && line.compare(9, p.text.size(), p.text) == 0)) {
                ++count;
                at = i;
            }
        }
        // A place that this family does not visit (or a value not planted) lists nothing.
        EXPECT_EQ(count, p.group.empty() ? 0u : 1u) << p.text;
        if (count == 1) {
            EXPECT_EQ(autoruntest::GroupOf(lines, at), p.group) << p.text;
        }
    }
    // The NT family runs expanded-string values, so it lists them; the 9x family does not.
    const std::string expanded = "04004002|KorvaneExpanded" + u + " = %SystemRoot%\\notepad.exe|";
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.compare(0, expanded.size(), expanded) == 0; }),
              nt ? 1 : 0);
    EXPECT_EQ(TemporaryCopies(), copies);
    GetCurrentDirectoryA(MAX_PATH, after);
    EXPECT_STREQ(directory, after);

    // A stop request before the scan: nothing is written. Halfway: what is written is a
    // beginning of the whole scan's places.
    {
        StopRequest stop;
        StepCounter counter;
        EXPECT_EQ(Capture([&](FILE* stream) { status = probe.ScanAutoruns(counter.Window(), stream); }), Lines{});
        EXPECT_EQ(status, 3u);
    }
    StopWindow halfway(0.5);
    const Lines part = autoruntest::Headings(Capture([&](FILE* stream) { status = probe.ScanAutoruns(halfway.Window(), stream); }));
    EXPECT_EQ(status, 3u);
    ASSERT_LT(part.size(), headings.size());
    EXPECT_EQ(part, Lines(headings.begin(), headings.begin() + part.size()));
}

TEST(AutorunScanOtherVersions, PassUnderEach) {
    for (const char* version : {"winxp64", "win98", "win10"}) {
        EXPECT_EQ(RunUnderWineVersion(version, "AutorunScan.*"), 1) << version;
    }
}

}  // namespace
