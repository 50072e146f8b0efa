// The autorun scan and command-line resolution through the real system tables of the
// Wine prefix. Scan: entries planted in each hive and registry view (present, missing
// and default values among them), an INI section longer than the first read, a startup
// folder's shortcut, plain file and subfolder, and a file type each give their exact line
// once, in their own group, with the current directory unchanged and no INI copy left; a
// stop request ends it. Second runs under NT 5.2, 98 and 10 check each family's places
// in order and find its planted entries. Wine 8 lists no scheduled tasks: their walk is
// tested natively. Resolution: each entry of the system table (program folder, current,
// Windows and system folders, environment, full path, the runtime's PATH search,
// directory entries) answers as the portable logic expects.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "autorun/win/command_line_win.h"
#include "inspect/win/file_info_win.h"
#include "inspect/win/os_family_win.h"
#include "tests/autorun/autorun_places.h"
#include "tests/support/autorun_plant.h"
#include "tests/support/probe_test_util.h"

namespace {

using namespace probetest;
using namespace planttest;

// The scan's lines, each without its CR LF, and its status.
Lines Scan(SystemProbe& probe, HWND window, uint32_t* status) {
    const std::string path = TempFile();
    FILE* stream = std::fopen(path.c_str(), "wb");
    *status = stream ? probe.ScanAutoruns(window, stream) : 99;
    if (stream) std::fclose(stream);
    return autoruntest::SplitLines(TakeFile(path));
}

int TemporaryCopies() {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((TempFolder() + "kvi*.tmp").c_str(), &data);
    int count = 0;
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &data)) ++count;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return count;
}

TEST(AutorunScanFamily, PlacesOfTheFamilyInOrder) {
    const bool nt = ExpectedFamily() != kOsWindows98, current = ExpectedFamily() == kOsWindowsNt6;
    SystemProbe probe;  // its route per family is the probe's binding test
    uint32_t status = 99;
    const Lines headings = autoruntest::Headings(Scan(probe, nullptr, &status));
    EXPECT_EQ(status, 0u);
    const Lines expected = autoruntest::ExpectedHeadings(nt, WindowsFolder(), current);
    const Lines more = current ? autoruntest::CurrentPlaceHeadings() : nt ? Lines{} : Lines{"Current user"};
    ASSERT_GE(headings.size(), expected.size() + more.size());
    EXPECT_EQ(Lines(headings.begin(), headings.begin() + expected.size()), expected);
    EXPECT_EQ(Lines(headings.end() - more.size(), headings.end()), more);
}

TEST(AutorunScan, EachSystemTableGivesItsEntryOnceInItsGroup) {
    const bool nt = ExpectedFamily() != kOsWindows98, current = ExpectedFamily() == kOsWindowsNt6;
    const std::string u = UniqueSuffix(), exe = OwnPath(), name = exe.substr(exe.rfind('\\') + 1);
    const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run", tail = " -x " + std::string(700, 'x');
    const std::string target = TempFolder() + "korvane target " + u + "\\target app.exe";
    RegistryPlant registry;
    FilePlant files;
    ASSERT_TRUE(SetEnvironmentVariableA("KORVANE_TEST_NAME", name.c_str()));
    ASSERT_TRUE(registry.Value(HKEY_CURRENT_USER, run, "KorvaneUser" + u, "\"" + exe + "\"" + tail));
    ASSERT_TRUE(registry.Value(HKEY_CURRENT_USER, run, "KorvaneBinary" + u, exe, REG_BINARY));
    const std::string missing = "C:\\korvane-missing-" + u + "\\x.exe";
    ASSERT_TRUE(registry.Value(HKEY_CURRENT_USER, run, "KorvaneMissing" + u, missing));
    ASSERT_TRUE(registry.Value(HKEY_CURRENT_USER, run, "", exe));  // the key's default value
    // Expanded by the system: a reference that does not lead is left to the expansion.
    const std::string expanded = exe.substr(0, exe.size() - name.size()) + "%KORVANE_TEST_NAME%";
    ASSERT_TRUE(registry.Value(HKEY_CURRENT_USER, run, "KorvaneExpanded" + u, expanded, REG_EXPAND_SZ));
    ASSERT_TRUE(registry.Value(HKEY_USERS, ".DEFAULT\\" + run, "KorvaneDefault" + u, exe));
    ASSERT_TRUE(registry.Value(HKEY_LOCAL_MACHINE, run, "KorvaneView64" + u, exe, REG_SZ, KEY_WOW64_64KEY));
    // Wine keeps the 32-bit view apart only on current versions.
    ASSERT_TRUE(!current || registry.Value(HKEY_LOCAL_MACHINE, run, "KorvaneView32" + u, exe, REG_SZ, KEY_WOW64_32KEY));
    // A file type under HKEY_CLASSES_ROOT, planted in HKLM\Software\Classes, which is what it shows.
    for (const std::string& key : {".kvta" + u, ".kvtb" + u}) {
        ASSERT_TRUE(registry.Value(HKEY_LOCAL_MACHINE, "Software\\Classes\\" + key, "", "KorvaneType" + u));
    }
    ASSERT_TRUE(registry.Value(HKEY_LOCAL_MACHINE, "Software\\Classes\\KorvaneType" + u + "\\shell\\open\\command", "",
                               exe + " %1 -" + u));
    ASSERT_TRUE(files.IniLine(WindowsFolder() + "\\system.ini", "drivers32", "korvane" + u, exe + tail + tail));
    char startup[MAX_PATH] = {};
    DWORD size = sizeof startup;
    ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                           "StartUp", RRF_RT_REG_SZ, nullptr, startup, &size), ERROR_SUCCESS);
    ASSERT_TRUE(files.Folder(target.substr(0, target.rfind('\\'))) && files.Copy(exe, target));
    ASSERT_TRUE(files.Shortcut(std::string(startup) + "\\Korvane" + u + ".lnk", target, "-startup"));
    const std::string plainFile = std::string(startup) + "\\Korvane" + u + ".txt";
    const std::string subfolder = std::string(startup) + "\\Korvane folder " + u;
    ASSERT_TRUE(files.File(plainFile) && files.Folder(subfolder));
    const int copies = TemporaryCopies();
    char directory[MAX_PATH] = {}, after[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, directory);

    SystemProbe probe;
    OwnedTable processes;
    // Under NT 5.2 Wine's performance data has no processes: the scan and these details
    // then both name no instances.
    const bool listed = probe.ListProcesses(processes.get(), nullptr) == 0;
    EXPECT_TRUE(listed || ExpectedFamily() == kOsWindowsDotNet);
    probe.ResolveProcessImagePaths(processes.get());
    const auto details = [&](const std::string& path) {
        IdList* instances = nullptr;
        FindProcessIdsByName(processes.get(), &instances, path.c_str());
        return TakeText(GetFileDetails(nullptr, path.c_str(), instances));
    };
    const std::string own = details(exe), link = std::string(startup) + "\\Korvane" + u + ".lnk";
    char id[16];
    std::snprintf(id, sizeof id, ",%lx,", GetCurrentProcessId());
    if (listed) {  // the running test is among the file's instances (a second run's parent too)
        EXPECT_NE(("," + own.substr(0, own.find('|')) + ",").find(id), std::string::npos) << own;
    }
    uint32_t status = 99;
    const Lines lines = Scan(probe, nullptr, &status);
    EXPECT_EQ(status, 0u);
    GetCurrentDirectoryA(MAX_PATH, after);
    EXPECT_STREQ(after, directory);
    // group "": a place the family does not visit, or a value it does not run.
    const struct { std::string line, group; } planted[] = {
        {"04004002|KorvaneUser" + u + " = \"" + exe + "\"" + tail + "|" + own, "HKEY_CURRENT_USER"},
        {"00004002|KorvaneMissing" + u + " = " + missing, "HKEY_CURRENT_USER"},
        {"04004002| = " + exe + "|" + own, "HKEY_CURRENT_USER"},
        {"04004002|KorvaneExpanded" + u + " = " + expanded + "|" + own, nt ? "HKEY_CURRENT_USER" : ""},
        {"04004002|KorvaneDefault" + u + " = " + exe + "|" + own, "HKEY_USERS\\.DEFAULT"},
        {"04004002|KorvaneView64" + u + " = " + exe + "|" + own, "HKEY_LOCAL_MACHINE"},
        {"1000400a|KorvaneType" + u + "\\shell|.kvta" + u + "|.kvtb" + u, "HKEY_CLASSES_ROOT"},
        {"04004003|open\\command = " + exe + " %1 -" + u + "|" + own, "HKEY_CLASSES_ROOT"},
        {"04004003|korvane" + u + "=" + exe + tail + tail + "|" + own, "Ini"},
        {"c4b04a02|" + target + " -startup|" + details(target) + "|" + details(link) + "|" + target, "StartUp"},
        {"04004002|" + plainFile + "|" + details(plainFile), "StartUp"},
        {"00004002|" + subfolder, "StartUp"},
        {"04004002|KorvaneView32" + u + " = " + exe + "|" + own, "HKEY_LOCAL_MACHINE (32-bit)"},
    };
    for (size_t i = 0; i < std::size(planted) - (current ? 0 : 1); ++i) {  // the last is planted on current versions
        const auto& p = planted[i];
        const auto found = std::find(lines.begin(), lines.end(), p.line);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), p.line), p.group.empty() ? 0 : 1) << p.line.substr(0, 120);
        if (found != lines.end()) {
            EXPECT_EQ(autoruntest::GroupOf(lines, found - lines.begin()), p.group) << p.line.substr(0, 120);
        }
    }
    for (const std::string& line : lines) EXPECT_EQ(line.find("KorvaneBinary" + u), std::string::npos);
    EXPECT_EQ(TemporaryCopies(), copies);

    // A stop requested through the real progress window ends the scan at its first step;
    // the stop points of the walk are the native tests'.
    StopRequest stop;
    EXPECT_EQ(Scan(probe, StepCounter().Window(), &status), Lines{});
    EXPECT_EQ(status, 3u);
}

TEST(AutorunScanOtherVersions, PlacesAndPlantedEntriesOfEachFamily) {
    for (const char* version : {"winxp64", "win98", "win10"}) {
        EXPECT_EQ(RunUnderWineVersion(version, "AutorunScanFamily.*:AutorunScan.*"), 2) << version;
    }
}

// What a line resolves to; "" for nothing.
std::string Resolve(const std::string& line) {
    char* path = nullptr;
    const bool resolved = ResolveCommandLine(line.c_str(), &path);
    EXPECT_EQ(resolved, path != nullptr) << line;
    return TakeText(path);
}

TEST(CommandLineWin, EachSystemOperationAnswersAsTheLogicExpects) {
    char buffer[MAX_PATH] = {};
    ASSERT_TRUE(GetSystemDirectoryA(buffer, MAX_PATH));
    const std::string system = buffer, rundll = system + "\\rundll32.exe", windows = WindowsFolder();
    ASSERT_TRUE(GetCurrentDirectoryA(MAX_PATH, buffer));
    const std::string savedDirectory = buffer, savedPath = getenv("PATH") ? getenv("PATH") : "";
    // A current directory whose name holds a blank, with a folder named like a system program.
    const std::string root = TempFolder() + "korvane cl " + UniqueSuffix();
    const std::string own = OwnPath(), name = "korvane-order-" + UniqueSuffix() + ".exe";
    const std::string beside = own.substr(0, own.rfind('\\') + 1) + name;
    FilePlant files;
    ASSERT_TRUE(files.Folder(root) && files.Folder(root + "\\rundll32.exe") && files.Folder(root + "\\path folder"));
    ASSERT_TRUE(files.File(root + "\\my app.exe") && files.File(root + "\\" + name));
    ASSERT_TRUE(files.File(root + "\\path folder\\korvane-on-path.exe") && SetCurrentDirectoryA(root.c_str()));
    // A value longer than a path is read whole; its first blank ends the first candidate.
    ASSERT_TRUE(SetEnvironmentVariableA("KORVANE_LONG_VARIABLE", (rundll + " " + std::string(600, 'a')).c_str()));
    const struct { std::string line, expected; } cases[] = {
        {"rundll32.exe shell32.dll,Control_RunDLL", rundll},  // a folder does not hide the system's file
        {"notepad.exe C:\\boot.ini", windows + "\\notepad.exe"},  // the Windows folder before the system one
        {"%KORVANE_LONG_VARIABLE% /x", rundll},
        {".\\my app.exe /x", root + "\\.\\my app.exe"},
        {"\\\\?\\" + root + "\\my app.exe /x", "\\\\?\\" + root + "\\my app.exe"},
        {name + " /x", root + "\\" + name},  // the current directory
        {"korvane-on-path.exe", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Resolve(c.line), c.expected) << c.line;
    ASSERT_EQ(_putenv_s("PATH", (savedPath + ";" + root + "\\path folder").c_str()), 0);  // the runtime's copy
    EXPECT_EQ(Resolve("korvane-on-path.exe -x"), root + "\\path folder\\korvane-on-path.exe");
    ASSERT_TRUE(files.File(beside));  // beside the program comes before the current directory
    EXPECT_EQ(Resolve(name + " /x"), beside);
    SetCurrentDirectoryA(savedDirectory.c_str());
    _putenv_s("PATH", savedPath.c_str());
    SetEnvironmentVariableA("KORVANE_LONG_VARIABLE", nullptr);
}

}  // namespace
