// The autorun collectors and scans over the in-memory system: the exact report lines,
// the order of the places, progress and stop points, and that every key, search, link
// and temporary copy is released.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "autorun/autorun_scan.h"
#include "autorun/collectors.h"
#include "autorun/file_types.h"
#include "autorun/startup_folder.h"
#include "tests/autorun/autorun_fake.h"
#include "tests/autorun/autorun_places.h"

namespace {

using Lines = std::vector<std::string>;

std::string Details(const std::string& path, const std::string& instances = kNoInstancesText) {
    return instances + "|" + path + "||||||";
}

constexpr char kRun[] = "Software\\Test\\Run";
const std::string kApp = "C:\\App\\app.exe";

TEST(AutorunCollectors, RegistryValuesSubkeysIniSectionsAndStops) {
    FakeAutorun f;
    f.files.AddFile(kApp);
    f.files.SetVariable("APPDIR", "C:\\App");
    f.processes[0x1a4] = "C:\\APP\\APP.EXE";
    const std::string longLine = kApp + " " + std::string(600, 'x');
    f.SetValue(kHiveCurrentUser, kRun, "App", kApp + " -min");
    f.SetValue(kHiveCurrentUser, kRun, "Gone", "C:\\Gone\\x.exe");
    f.SetValue(kHiveCurrentUser, kRun, "", kApp);
    f.SetValue(kHiveCurrentUser, kRun, "Exp", "%APPDIR%\\app.exe", kRegistryExpandString);
    f.SetValue(kHiveCurrentUser, kRun, "Bin", "C:\\App\\app.exe", 3);
    f.SetValue(kHiveCurrentUser, kRun, "Long", longLine);
    f.SetValue(kHiveCurrentUser, "Software\\Test\\Win\\A", "load", "C:\\Gone\\y.exe");
    f.Key(kHiveCurrentUser, "Software\\Test\\Win\\Empty");
    f.Key(kHiveCurrentUser, "Software\\Test\\Win\\Locked").locked = true;
    HashTable* processes = CreateTable(8, 1);
    f.processOps.listProcesses(&f, processes, false);
    f.processOps.resolveImagePaths(&f, processes);
    const AutorunSystem system = f.System();
    const std::string app = "04004002|", withDetails = "|" + Details(kApp, "1a4");
    const struct { const char* path; bool withSubkeys, expandStrings; uint32_t stopAtStep, status, steps; Lines lines; } cases[] = {
        {kRun, false, true, 0, 0, 6,
         {app + "App = " + kApp + " -min" + withDetails, "00004002|Gone = C:\\Gone\\x.exe",
          app + " = " + kApp + withDetails, app + "Exp = %APPDIR%\\app.exe" + withDetails,
          app + "Long = " + longLine + withDetails, "--------|"}},
        // Expanded-string values are listed only where the family runs them.
        {kRun, false, false, 4, 3, 4,
         {app + "App = " + kApp + " -min" + withDetails, "00004002|Gone = C:\\Gone\\x.exe",
          app + " = " + kApp + withDetails, "--------|"}},
        {"Software\\Test\\Win", true, false, 0, 0, 2,
         {"--------|", "0000400a|A", "00004003|load = C:\\Gone\\y.exe", "--------|", "0000400a|Empty", "--------|",
          "0000400a|Locked"}},
        {"Software\\Test\\Missing", true, true, 0, 0, 0, {"--------|"}},
    };
    for (const auto& c : cases) {
        f.steps = 0;
        f.stopAtStep = c.stopAtStep;
        uint32_t status = 99;
        const Lines lines = CaptureLines(f, [&](FILE* stream) {
            const AutorunWriter w = {stream, &system, processes, nullptr, c.expandStrings, false};
            status = WalkRegistryKey(&w, kKeyValueLevel, &f.progress, kHiveCurrentUser, c.path, c.withSubkeys);
        });
        EXPECT_EQ(lines, c.lines) << c.path;
        EXPECT_EQ(status, c.status) << c.path;
        EXPECT_EQ(f.steps, c.steps) << c.path;
        EXPECT_TRUE(f.AllReleased());
    }
    EXPECT_EQ(CountKeyItems(&system, kHiveCurrentUser, "Software\\Test\\Win", true), 3u);
    EXPECT_EQ(CountKeyItems(&system, kHiveCurrentUser, kRun, false), 6u);

    // An INI line's command is what follows its first "=", here in a temporary copy.
    f.ini[f.Fold("C:\\W\\system.ini")]["BOOT"] = {"shell=" + kApp + " /a=b", "no command", "x=C:\\Gone\\x.exe"};
    const Lines ini = CaptureLines(f, [&](FILE* stream) {
        const AutorunWriter w = {stream, &system, processes, nullptr, true, false};
        ReadIniSection(&w, "boot", "C:\\W\\system.ini");
    });
    EXPECT_EQ(ini, Lines({"04004003|shell=" + kApp + " /a=b" + withDetails, "00004003|no command",
                          "00004003|x=C:\\Gone\\x.exe", "--------|"}));
    EXPECT_EQ(f.copiesMade, 1);
    EXPECT_TRUE(f.AllReleased());
    DestroyTable(processes, 1);
}

TEST(AutorunStartup, EntriesShortcutsAndLongPaths) {
    FakeAutorun f;
    f.AddEntry("C:\\Program Files", true, "PROGRA~1");
    f.AddEntry("C:\\Program Files\\App", true);
    f.AddEntry("C:\\Program Files\\App\\App.exe", false);
    const std::string folder = "C:\\Start", app = "C:\\Program Files\\App\\App.exe";
    f.AddLink(folder + "\\App.lnk", {"C:\\PROGRA~1\\APP\\APP.EXE", "-tray"});
    f.AddLink(folder + "\\Bare.lnk", {"C:\\PROGRA~1\\APP\\APP.EXE", ""});
    f.AddLink(folder + "\\Pipe.lnk", {"C:\\PROGRA~1\\APP\\APP.EXE", "/c a|b"});
    f.AddLink(folder + "\\Gone.lnk", {"C:\\PROGRA~1\\GONE\\X.EXE", "-x"});
    f.AddLink(folder + "\\Panel.lnk", {"", "", true, false});
    f.AddLink(folder + "\\run.lnk.exe", {"", "", false});
    f.AddEntry(folder + "\\App.LNK", false);
    f.AddEntry(folder + "\\sub", true);
    const AutorunSystem system = f.System();
    const auto shortcut = [&](const std::string& text, const std::string& target, const std::string& link) {
        return "c4b04a02|" + text + "|" + Details(target) + "|" + Details(folder + "\\" + link) + "|" + target;
    };
    const Lines expected = {
        shortcut(app + " -tray", app, "App.lnk"),
        shortcut(app, app, "Bare.lnk"),
        shortcut(app + " /c a!b", app, "Pipe.lnk"),
        shortcut("C:\\PROGRA~1\\GONE\\X.EXE -x", "C:\\PROGRA~1\\GONE\\X.EXE", "Gone.lnk"),
        "04004002|C:\\Start\\run.lnk.exe|" + Details("C:\\Start\\run.lnk.exe"),
        "04004002|C:\\Start\\App.LNK|" + Details("C:\\Start\\App.LNK"),
        "00004002|C:\\Start\\sub",
    };
    for (const std::string& path : {folder, folder + "\\"}) {
        const Lines lines = CaptureLines(f, [&](FILE* stream) {
            const AutorunWriter writer = {stream, &system, nullptr, nullptr, true, false};
            ListStartupFolder(&writer, path.c_str());
        });
        EXPECT_EQ(lines, expected) << path;
        EXPECT_TRUE(f.AllReleased());
    }
    // The long form of each component as the search names it; the path unchanged when one is missing.
    f.files.dbcs = true;
    char barred[] = "a|\x81|b";  // a bar, then a double-byte character whose trail byte is one
    MaskFieldBars(system.commandLine, barred);
    EXPECT_STREQ(barred, "a!\x81|b");
    f.Listing("C:", DirectoryEntry{"\x81\\Long", "\x81\\", true});  // a trail byte that is a backslash
    const std::pair<std::string, std::string> paths[] = {
        {"c:\\progra~1\\app\\", "c:\\Program Files\\App\\"},
        {"C:\\PROGRA~1\\\\APP", "C:\\Program Files\\"},
        {"C:\\", "C:\\"},
        {"C:\\\x81\\", "C:\\\x81\\Long"},
        {"C:\\PROGRA~1\\" + std::string(300, 'a'), "C:\\PROGRA~1\\" + std::string(300, 'a')},
        {"\\\\server\\share\\x.exe", "\\\\server\\share\\x.exe"},
        {"PROGRA~1\\APP", "PROGRA~1\\APP"},
    };
    for (const auto& [path, expectedLong] : paths) {
        char* found = LongPathOf(&system, path.c_str());
        EXPECT_EQ(found ? std::string(found) : "(null)", expectedLong) << path;
        std::free(found);
    }
    EXPECT_EQ(f.openSearches, 0);
}

TEST(AutorunFileTypes, CrcGroupsWithCollisionsAndShellCommands) {
    EXPECT_EQ(Crc32(5, "56789", Crc32(4, "1234", 0)), 0xCBF43926u);
    // Two names with one CRC-32 keep their own extensions.
    const char* a = "type29685295";
    const char* b = "type32060020";
    ASSERT_EQ(Crc32(12, a, 0), Crc32(12, b, 0));
    InstallApplicationTableHooks();
    HashTable* groups = CreateTypeGroups();
    const std::pair<const char*, const char*> added[] = {{a, ".a1"}, {b, ".b1"}, {a, ".a2"}, {"other", ".o"}, {b, ".b2"}};
    for (const auto& [name, extension] : added) EXPECT_TRUE(AddTypeExtension(groups, name, extension));
    const std::pair<const char*, const char*> joined[] = {
        {a, ".a1|.a2"}, {b, ".b1|.b2"}, {"other", ".o"}, {"OTHER", nullptr}, {"type", nullptr}};
    for (const auto& [name, extensions] : joined) {
        char* found = TypeExtensions(groups, name);
        EXPECT_STREQ(found, extensions) << name;
        std::free(found);
    }
    DestroyTable(groups, 1);

    FakeAutorun f;
    f.files.AddFile("C:\\WINNT\\notepad.exe");
    f.SetValue(kHiveClassesRoot, ".txt", "", "txtfile");
    f.SetValue(kHiveClassesRoot, ".text", "", "txtfile");
    f.SetValue(kHiveClassesRoot, ".none", "", "");
    f.SetValue(kHiveClassesRoot, ".TXT2", "", "TXTFILE2");
    f.SetValue(kHiveClassesRoot, "txtfile\\shell\\open\\command", "", "notepad.exe %1");
    f.SetValue(kHiveClassesRoot, "txtfile\\shell\\print\\command", "", "C:\\Gone\\print.exe /p");
    f.Key(kHiveClassesRoot, "txtfile\\shell\\nocommand");
    f.Key(kHiveClassesRoot, "txtfile2\\shell");
    f.Key(kHiveClassesRoot, "plain");
    const AutorunSystem system = f.System();
    const Lines expected = {
        "1000400a|txtfile\\shell|.txt|.text",
        "04004003|open\\command = notepad.exe %1|" + Details("C:\\WINNT\\notepad.exe"),
        "00004003|print\\command = C:\\Gone\\print.exe /p",
        "0000400a|txtfile2\\shell",
        "--------|",
    };
    for (uint32_t stopAt : {0u, 3u}) {  // stopped in the first pass: no heading at all
        f.steps = 0;
        f.stopAtStep = stopAt;
        uint32_t status = 99;
        const Lines lines = CaptureLines(f, [&](FILE* stream) {
            const AutorunWriter writer = {stream, &system, nullptr, nullptr, true, false};
            status = ListFileAssociations(&writer, &f.progress);
        });
        EXPECT_EQ(lines, stopAt ? Lines{"--------|"} : expected);
        EXPECT_EQ(status, stopAt ? 3u : 0u);
        EXPECT_EQ(f.steps, stopAt ? stopAt : 14u);
        EXPECT_TRUE(f.AllReleased());
    }
}

// A system with something in every kind of place, for both families.
void PlantEverywhere(FakeAutorun& f) {
    f.AddEntry("C:\\WINNT\\Profiles\\Admin\\Start Menu\\Programs\\Startup\\adm.exe", false);
    f.AddEntry("C:\\Users\\Bob\\Start Menu\\Programs\\Startup\\bob.exe", false);
    f.AddEntry("C:\\All\\Startup\\all.exe", false);
    f.AddEntry("C:\\WINDOWS\\Profiles\\Bo\\Start Menu\\Programs\\StartUp\\bo.exe", false);
    f.files.SetVariable("SystemDrive", "C:");
    f.processes = {{8, "C:\\WINNT\\system32\\smss.exe"}, {0x1a4, "C:\\All\\Startup\\all.exe"}};
    f.ini[f.Fold("C:\\WINNT\\system.ini")]["DRIVERS32"] = {"vidc.x=C:\\Gone\\x.dll"};
    const std::string nt = "Software\\Microsoft\\Windows NT\\CurrentVersion\\", run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    f.SetValue(kHiveLocalMachine, nt + "Windows", "load", "x.exe");
    f.SetValue(kHiveLocalMachine, nt + "Windows\\Sub", "run", "y.exe");
    f.SetValue(kHiveLocalMachine, run, "a", "a.exe");
    f.SetValue(kHiveLocalMachine, run + "Services", "s", "s.exe");
    f.SetValue(kHiveCurrentUser, run, "b", "b.exe");
    f.SetValue(kHiveUsers, ".DEFAULT\\" + run + "Once", "c", "c.exe");
    f.SetValue(kHiveClassesRoot, ".txt", "", "txtfile");
    f.SetValue(kHiveClassesRoot, "txtfile\\shell\\open\\command", "", "notepad.exe %1");
    f.SetValue(kHiveLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\explorer\\Shell Folders",
               "Common Startup", "C:\\All\\Startup");
    f.SetValue(kHiveLocalMachine, nt + "ProfileList\\S-1", "ProfileImagePath", "%SystemRoot%\\Profiles\\Admin");
    f.SetValue(kHiveLocalMachine, nt + "ProfileList\\S-2", "ProfileImagePath", "%SystemDrive%\\Users\\Bob");
    f.SetValue(kHiveLocalMachine, "software\\microsoft\\windows\\currentversion\\profilelist\\Bo", "ProfileImagePath",
               "C:\\WINDOWS\\Profiles\\Bo");
    f.SetValue(kHiveCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\ProfileReconciliation",
               "ProfileDirectory", "C:\\WINDOWS\\Profiles\\Ann");
    // The places of current systems: the 32-bit view, the Explorer policies, the
    // entries of RunOnceEx (in its subkeys) and scheduled tasks.
    f.AddEntry("C:\\App\\up.exe", false);
    f.AddEntry("C:\\App\\lib.dll", false);
    f.SetValue(kHiveLocalMachine32, run, "a32", "a32.exe");
    f.SetValue(kHiveCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run", "1",
               "%SystemDrive%\\App\\up.exe /p", kRegistryExpandString);
    f.SetValue(kHiveLocalMachine, run + "OnceEx", "Flags", "x.exe");
    f.SetValue(kHiveLocalMachine, run + "OnceEx\\0001", "1", "||C:\\App\\up.exe -x");
    f.SetValue(kHiveLocalMachine, run + "OnceEx\\0001", "2", "C:\\App\\lib.dll|DllInstall|-i");
    f.SetValue(kHiveLocalMachine32, run + "OnceEx\\0002", "1", "C:\\Gone\\z.dll");
    f.taskRoot.tasks = {{"Updater", {{"%SystemDrive%\\App\\up.exe", "-q"}}}};
    f.taskRoot.subfolders.push_back({"\\Vendor", {{"Two", {{"\"C:\\App\\up.exe\"", ""}, {"C:\\Gone\\g.exe", "a b"}}}}, {}, true});
    f.taskRoot.subfolders.push_back({"\\Empty", {}, {}, true});
    f.taskRoot.subfolders.push_back({"\\Locked", {{"Hidden", {{"C:\\App\\up.exe", ""}}}}, {}, false});
}

TEST(AutorunScan, PlacesInOrderProgressAndStops) {
    const std::string userShell = "software\\microsoft\\windows\\currentversion\\explorer\\user shell folders";
    const std::string bob = "C:\\Users\\Bob\\Start Menu\\Programs\\Startup\\bob.exe";
    const char* ntStartup = "%USERPROFILE%\\Start Menu\\Programs\\Startup";
    const struct { AutorunFamily family; const char* startup; Lines profiles; std::string userEntry; } cases[] = {
        // A profile under the Windows folder is named by its path below it, any other by its whole path.
        {kAutorunNtFamily, ntStartup, {"\\Profiles\\Admin", "%SystemDrive%\\Users\\Bob"}, bob},
        {kAutorunNt6Family, ntStartup, {"\\Profiles\\Admin", "%SystemDrive%\\Users\\Bob"}, bob},
        {kAutorun9xFamily, "C:\\WINDOWS\\Profiles\\Ann\\Start Menu\\Programs\\StartUp", {"Bo"},
         "C:\\WINDOWS\\Profiles\\Bo\\Start Menu\\Programs\\StartUp\\bo.exe"},
        {kAutorun9xFamily, "", {"Current user"}, ""},  // the current user's startup value: none
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profiles[0]);
        const bool nt = c.family != kAutorun9xFamily, current = c.family == kAutorunNt6Family;
        FakeAutorun f;
        PlantEverywhere(f);
        f.temporaryFolder = nt;  // else INI files are read in place
        if (c.startup[0]) f.SetValue(kHiveCurrentUser, userShell, "startup", c.startup);
        const AutorunSystem system = f.System(current);
        uint32_t status = 99;
        const Lines full = CaptureLines(f, [&](FILE* s) { status = ScanAutoruns(&system, &f.progress, s, c.family); });
        Lines expected = autoruntest::ExpectedHeadings(nt, "C:\\WINNT", current);
        expected.insert(expected.end(), c.profiles.begin(), c.profiles.end());
        if (current) {
            const Lines more = autoruntest::CurrentPlaceHeadings();
            expected.insert(expected.end(), more.begin(), more.end());
            expected.insert(expected.end(), {"\\", "\\Vendor"});  // the task folders with tasks
            // Every file was looked for without redirection, which is on again after.
            EXPECT_EQ(f.files.redirectedSearches, 0);
            EXPECT_GT(f.suspensions, 0);
        }
        EXPECT_EQ(autoruntest::Headings(full), expected);
        EXPECT_EQ(status, 0u);
        EXPECT_TRUE(f.AllReleased());
        // The NT family steps through the process listing too; the 9x family counts it only.
        EXPECT_EQ(f.steps + (nt ? 0 : 2), f.range);
        EXPECT_EQ(f.copiesMade, nt ? 4 : 0);
        // Each line once, in its group; the places of current systems only there.
        const std::string up = Details("C:\\App\\up.exe");
        const std::string all = "04004002|C:\\All\\Startup\\all.exe|" + Details("C:\\All\\Startup\\all.exe", "1a4");
        const struct { std::string line, group; bool everywhere; } lines[] = {
            {all, "StartUp", true}, {"00004003|vidc.x=C:\\Gone\\x.dll", "Ini", true},
            {"04004002|" + c.userEntry + "|" + Details(c.userEntry), "StartUp", !c.userEntry.empty()},
            {"00004002|Flags = x.exe", "HKEY_LOCAL_MACHINE", true},
            {"00004002|a32 = a32.exe", "HKEY_LOCAL_MACHINE (32-bit)", current},
            {"04004002|1 = %SystemDrive%\\App\\up.exe /p|" + up, "Explorer Run policies", current},
            {"0000400a|0001", "RunOnceEx", current},
            // A bar in a text would split the line into fields when read back: written as "!".
            {"04004003|1 = !!C:\\App\\up.exe -x|" + up, "RunOnceEx", current},
            {"04004003|2 = C:\\App\\lib.dll!DllInstall!-i|" + Details("C:\\App\\lib.dll"), "RunOnceEx", current},
            {"00004003|1 = C:\\Gone\\z.dll", "RunOnceEx", current},
            {"04004002|Updater = %SystemDrive%\\App\\up.exe -q|" + up, "Scheduled tasks", current},
            {"04004002|Two = \"C:\\App\\up.exe\"|" + up, "Scheduled tasks", current},
            {"00004002|Two = C:\\Gone\\g.exe a b", "Scheduled tasks", current},
        };
        for (const auto& e : lines) {
            const auto found = std::find(full.begin(), full.end(), e.line);
            EXPECT_EQ(std::count(full.begin(), full.end(), e.line), e.everywhere ? 1 : 0) << e.line;
            EXPECT_EQ(found == full.end() ? e.group : autoruntest::GroupOf(full, found - full.begin()), e.group) << e.line;
        }

        // Stopped at any step: 3, what was written before is kept, and at most the
        // end-of-block line of the walk that stopped follows.
        for (uint32_t stop = 1, steps = f.steps; stop <= steps; ++stop) {
            f.steps = 0;
            f.stopAtStep = stop;
            f.stoppedAt = -1;
            const Lines part = CaptureLines(f, [&](FILE* s) { status = ScanAutoruns(&system, &f.progress, s, c.family); });
            ASSERT_EQ(status, 3u) << stop;
            ASSERT_GE(f.stoppedAt, 0);
            ASSERT_LE(f.stoppedAt, static_cast<long>(full.size()));
            EXPECT_TRUE(std::equal(part.begin(), part.begin() + f.stoppedAt, full.begin())) << stop;
            const Lines after(part.begin() + f.stoppedAt, part.end());
            EXPECT_TRUE(after.empty() || after == Lines{"--------|"}) << stop;
            EXPECT_TRUE(f.AllReleased());
        }
    }
}

}  // namespace
