// The autorun scans over the in-memory system: the exact report line of each kind of
// entry in its group, the order of the places, progress and stop points, and that every
// key, search, link and temporary copy is released; the type grouping and long paths
// on their own.
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

const std::string kApp = "C:\\App\\app.exe", kLongLine = kApp + " " + std::string(600, 'x');
const std::string kLinked = "C:\\Program Files\\App\\App.exe", kStartup = "C:\\All\\Startup";

// A system with something in every kind of place, for every family.
void PlantEverywhere(FakeAutorun& f) {
    for (const char* file : {"C:\\WINNT\\Profiles\\Admin\\Start Menu\\Programs\\Startup\\adm.exe", "C:\\All\\Startup\\all.exe",
                             "C:\\Users\\Bob\\Start Menu\\Programs\\Startup\\bob.exe", "C:\\App\\up.exe", "C:\\App\\lib.dll",
                             "C:\\WINDOWS\\Profiles\\Bo\\Start Menu\\Programs\\StartUp\\bo.exe", "C:\\App\\app.exe"})
        f.AddEntry(file, false);
    f.files.AddFile("C:\\WINNT\\notepad.exe");
    f.files.SetVariable("SystemDrive", "C:");
    f.files.SetVariable("APPDIR", "C:\\App");
    // Startup shortcuts name their targets by short names; the one without a target is skipped.
    f.AddEntry("C:\\Program Files", true, "PROGRA~1");
    f.AddEntry("C:\\Program Files\\App", true);
    f.AddEntry(kLinked, false);
    f.AddLink(kStartup + "\\App.lnk", {"C:\\PROGRA~1\\APP\\APP.EXE", "-tray"});
    f.AddLink(kStartup + "\\Bare.lnk", {"C:\\PROGRA~1\\APP\\APP.EXE", ""});
    f.AddLink(kStartup + "\\Pipe.lnk", {"C:\\PROGRA~1\\APP\\APP.EXE", "/c a|b"});
    f.AddLink(kStartup + "\\Gone.lnk", {"C:\\PROGRA~1\\GONE\\X.EXE", "-x"});
    f.AddLink(kStartup + "\\Panel.lnk", {"", "", true, false});
    f.AddLink(kStartup + "\\run.lnk.exe", {"", "", false});
    f.AddEntry(kStartup + "\\App.LNK", false);
    f.AddEntry(kStartup + "\\sub", true);
    f.processes = {{8, "C:\\WINNT\\system32\\smss.exe"}, {0x1a4, "C:\\All\\Startup\\all.exe"}, {0x2c, "C:\\APP\\APP.EXE"}};
    // An INI line's command is what follows its first "=".
    f.ini[f.Fold("C:\\WINNT\\system.ini")]["DRIVERS32"] = {"vidc.x=C:\\Gone\\x.dll", "shell=" + kApp + " /a=b", "no command"};
    const std::string nt = "Software\\Microsoft\\Windows NT\\CurrentVersion\\", cv = "Software\\Microsoft\\Windows\\CurrentVersion\\";
    const std::string run = cv + "Run";
    // From a32 on: the 32-bit view, the Explorer policies and RunOnceEx, whose subkeys'
    // entries only current systems list.
    const struct { RegistryHive hive; std::string path; const char* name; std::string data; uint32_t type = kRegistryString; } values[] = {
        {kHiveLocalMachine, nt + "Windows", "load", "x.exe"}, {kHiveLocalMachine, nt + "Windows\\Sub", "run", "y.exe"},
        {kHiveLocalMachine, run, "a", "a.exe"},              {kHiveLocalMachine, run + "Services", "s", "s.exe"},
        {kHiveCurrentUser, run, "App", kApp + " -min"},      {kHiveCurrentUser, run, "Gone", "C:\\Gone\\x.exe"},
        {kHiveCurrentUser, run, "", kApp},                   {kHiveCurrentUser, run, "Long", kLongLine},
        {kHiveCurrentUser, run, "Exp", "%APPDIR%\\app.exe", kRegistryExpandString},
        {kHiveCurrentUser, run, "Bin", kApp, 3 /* binary: never listed */},
        {kHiveUsers, ".DEFAULT\\" + run + "Once", "c", "c.exe"},
        {kHiveClassesRoot, ".txt", "", "txtfile"},           {kHiveClassesRoot, ".text", "", "txtfile"},
        {kHiveClassesRoot, ".none", "", ""},                 {kHiveClassesRoot, ".TXT2", "", "TXTFILE2"},
        {kHiveClassesRoot, "txtfile\\shell\\open\\command", "", "notepad.exe %1"},
        {kHiveClassesRoot, "txtfile\\shell\\print\\command", "", "C:\\Gone\\print.exe /p"},
        {kHiveLocalMachine, cv + "explorer\\Shell Folders", "Common Startup", kStartup + "\\"},
        {kHiveLocalMachine, nt + "ProfileList\\S-1", "ProfileImagePath", "%SystemRoot%\\Profiles\\Admin"},
        {kHiveLocalMachine, nt + "ProfileList\\S-2", "ProfileImagePath", "%SystemDrive%\\Users\\Bob"},
        {kHiveLocalMachine, "software\\microsoft\\windows\\currentversion\\profilelist\\Bo", "ProfileImagePath", "C:\\WINDOWS\\Profiles\\Bo"},
        {kHiveCurrentUser, cv + "ProfileReconciliation", "ProfileDirectory", "C:\\WINDOWS\\Profiles\\Ann"},
        {kHiveLocalMachine32, run, "a32", "a32.exe"}, {kHiveLocalMachine, run + "OnceEx", "Flags", "x.exe"},
        {kHiveCurrentUser, cv + "Policies\\Explorer\\Run", "1", "%SystemDrive%\\App\\up.exe /p", kRegistryExpandString},
        {kHiveLocalMachine, run + "OnceEx\\0001", "1", "||C:\\App\\up.exe -x"},
        {kHiveLocalMachine, run + "OnceEx\\0001", "2", "C:\\App\\lib.dll|DllInstall|-i"},
        {kHiveLocalMachine32, run + "OnceEx\\0002", "1", "C:\\Gone\\z.dll"},
    };
    for (const auto& v : values) f.SetValue(v.hive, v.path, v.name, v.data, v.type);
    for (const char* key : {"txtfile\\shell\\nocommand", "txtfile2\\shell", "plain"}) f.Key(kHiveClassesRoot, key);
    f.Key(kHiveLocalMachine, nt + "Windows\\Empty");
    f.Key(kHiveLocalMachine, nt + "Windows\\Locked").locked = true;
    f.taskRoot.tasks = {{"Updater", {{"%SystemDrive%\\App\\up.exe", "-q"}}}};
    f.taskRoot.subfolders.push_back({"\\Vendor", {{"Two", {{"\"C:\\App\\up.exe\"", ""}, {"C:\\Gone\\g.exe", "a b"}}}}, {}, true});
    f.taskRoot.subfolders.push_back({"\\Empty", {}, {}, true});
    f.taskRoot.subfolders.push_back({"\\Locked", {{"Hidden", {{"C:\\App\\up.exe", ""}}}}, {}, false});
}

TEST(AutorunScan, EveryEntryOncePlacesInOrderProgressAndStops) {
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
        // The range counts what is stepped through, except the process listing on 9x and
        // the locked subkey on NT, counted but never walked.
        EXPECT_EQ(f.steps + (nt ? 1 : f.processes.size()), f.range);
        EXPECT_EQ(f.copiesMade, nt ? 4 : 0);
        // Each run of lines once, in its group; what a family does not read, nowhere.
        const std::string app = "04004002|", withDetails = "|" + Details(kApp, "2c"), up = Details("C:\\App\\up.exe");
        const auto shortcut = [&](const std::string& text, const std::string& target, const std::string& link) {
            return "c4b04a02|" + text + "|" + Details(target) + "|" + Details(kStartup + "\\" + link) + "|" + target;
        };
        Lines userRun = {app + "App = " + kApp + " -min" + withDetails, "00004002|Gone = C:\\Gone\\x.exe",
                         app + " = " + kApp + withDetails, app + "Long = " + kLongLine + withDetails, "--------|"};
        // Expanded-string values are listed only where the family runs them; binary ones never.
        if (nt) userRun.insert(userRun.end() - 1, app + "Exp = %APPDIR%\\app.exe" + withDetails);
        const struct { Lines run; std::string group; bool listed; } runs[] = {
            {userRun, "HKEY_CURRENT_USER", true},
            // A subkey that cannot be opened keeps its heading and has no block.
            {{"00004002|load = x.exe", "--------|", "0000400a|Sub", "00004003|run = y.exe", "--------|", "0000400a|Empty",
              "--------|", "0000400a|Locked"}, "HKEY_LOCAL_MACHINE", nt},
            {{"00004003|vidc.x=C:\\Gone\\x.dll", "04004003|shell=" + kApp + " /a=b" + withDetails, "00004003|no command",
              "--------|"}, "Ini", true},
            {{"1000400a|txtfile\\shell|.txt|.text",
              "04004003|open\\command = notepad.exe %1|" + Details("C:\\WINNT\\notepad.exe"),
              "00004003|print\\command = C:\\Gone\\print.exe /p", "0000400a|txtfile2\\shell", "--------|"}, "HKEY_CLASSES_ROOT", true},
            {{"04004002|C:\\All\\Startup\\all.exe|" + Details("C:\\All\\Startup\\all.exe", "1a4"),
              shortcut(kLinked + " -tray", kLinked, "App.lnk"), shortcut(kLinked, kLinked, "Bare.lnk"),
              shortcut(kLinked + " /c a!b", kLinked, "Pipe.lnk"),
              shortcut("C:\\PROGRA~1\\GONE\\X.EXE -x", "C:\\PROGRA~1\\GONE\\X.EXE", "Gone.lnk"),
              "04004002|C:\\All\\Startup\\run.lnk.exe|" + Details("C:\\All\\Startup\\run.lnk.exe"),
              "04004002|C:\\All\\Startup\\App.LNK|" + Details("C:\\All\\Startup\\App.LNK"), "00004002|C:\\All\\Startup\\sub",
              "--------|"}, "StartUp", true},
            {{"04004002|" + c.userEntry + "|" + Details(c.userEntry)}, "StartUp", !c.userEntry.empty()},
            {{"00004002|Flags = x.exe"}, "HKEY_LOCAL_MACHINE", true},
            {{"00004002|a32 = a32.exe"}, "HKEY_LOCAL_MACHINE (32-bit)", current},
            {{"04004002|1 = %SystemDrive%\\App\\up.exe /p|" + up}, "Explorer Run policies", current},
            // A bar in a text would split the line into fields when read back: written as "!".
            {{"0000400a|0001", "04004003|1 = !!C:\\App\\up.exe -x|" + up,
              "04004003|2 = C:\\App\\lib.dll!DllInstall!-i|" + Details("C:\\App\\lib.dll")}, "RunOnceEx", current},
            {{"00004003|1 = C:\\Gone\\z.dll"}, "RunOnceEx", current},
            {{"04004002|Updater = %SystemDrive%\\App\\up.exe -q|" + up}, "Scheduled tasks", current},
            {{"04004002|Two = \"C:\\App\\up.exe\"|" + up, "00004002|Two = C:\\Gone\\g.exe a b"}, "Scheduled tasks", current},
        };
        for (const auto& r : runs) {
            SCOPED_TRACE(r.run[0].substr(0, 100));
            auto found = std::search(full.begin(), full.end(), r.run.begin(), r.run.end());
            EXPECT_EQ(found == full.end() ? r.group : autoruntest::GroupOf(full, found - full.begin()), r.group);
            EXPECT_EQ(found != full.end(), r.listed);
            if (found != full.end()) {
                EXPECT_EQ(std::search(found + 1, full.end(), r.run.begin(), r.run.end()), full.end());
            }
        }
        for (const std::string& line : full) EXPECT_EQ(line.find("Bin = "), std::string::npos);

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

TEST(AutorunParts, TypeGroupsWithCrcCollisionsAndLongPaths) {
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

    // The long form of each component as the search names it; the path unchanged when one is missing.
    FakeAutorun f;
    PlantEverywhere(f);
    f.files.dbcs = true;
    f.Listing("C:", DirectoryEntry{"\x81\\Long", "\x81\\", true});  // a trail byte that is a backslash
    const AutorunSystem system = f.System();
    char barred[] = "a|\x81|b";  // a bar, then a double-byte character whose trail byte is one
    MaskFieldBars(system.commandLine, barred);
    EXPECT_STREQ(barred, "a!\x81|b");
    const std::pair<std::string, std::string> paths[] = {
        {"c:\\progra~1\\app\\", "c:\\Program Files\\App\\"}, {"C:\\PROGRA~1\\\\APP", "C:\\Program Files\\"},
        {"C:\\", "C:\\"}, {"C:\\\x81\\", "C:\\\x81\\Long"}, {"\\\\server\\share\\x.exe", "\\\\server\\share\\x.exe"},
        {"C:\\PROGRA~1\\" + std::string(300, 'a'), "C:\\PROGRA~1\\" + std::string(300, 'a')}};
    for (const auto& [path, expectedLong] : paths) {
        char* found = LongPathOf(&system, path.c_str());
        EXPECT_EQ(found ? std::string(found) : "(null)", expectedLong) << path;
        std::free(found);
    }
    EXPECT_EQ(f.openSearches, 0);
}

}  // namespace
