// Command-line resolution over the in-memory system: the candidates each line gives and
// the folders each name is looked for in, in order, as the paths asked about show.
#include "autorun/command_line.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/command_line_fake.h"

namespace {

// A command line (or, with locate, a name), the path found ("" for none), and the paths
// asked about, joined with "|"; a trailing "..." leaves the later ones open. That the
// found path is an existing file, the line unchanged and the answer agreeing with the
// path is the fuzz target's check on every input.
struct Case { std::string input, found, probes; };

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* file : {"C:\\WINNT\\SYSTEM\\sound.drv", "C:\\WINNT\\system32\\box.exe", "C:\\root.exe",
                                 "C:\\WINNT\\NOTEPAD.EXE", "C:\\Tools\\tool.exe", "C:\\WINNT\\system32\\calc.exe",
                                 "\\\\server\\share\\s.exe", "C:\\Work\\.\\y.exe", "C:\\Work\\w.exe",
                                 "C:\\Program Files\\App\\app.exe", "C:\\WINNT\\System32\\drivers\\beep.sys"})
            fs.AddFile(file);
        for (const char* folder : {"C:\\Korvane\\box.exe", "C:\\Work\\box.exe", "C:\\Bin\\thing.exe", "C:\\WINNT\\system32",
                                   "C:\\Program"})
            fs.AddFolder(folder);
        for (const auto& [name, value] : {std::pair<const char*, const char*>{"SystemRoot", "C:\\WINNT"}, {"windir", "C:\\WINNT"},
                                          {"PATH", "C:\\Tools;C:\\Bin\\"}, {"ProgramFiles", "C:\\Program Files"}})
            fs.SetVariable(name, value);
    }

    // Resolves (with locate: locates) each input from a fresh probe log.
    void Check(const std::vector<Case>& cases, bool locate = false) {
        const CommandLineOps ops = fs.Ops();
        for (const Case& c : cases) {
            SCOPED_TRACE(c.input.substr(0, 80));
            fs.probes.clear();
            char* path = nullptr;
            if (locate) LocateFile(&ops, c.input.c_str(), &path); else ResolveCommandLine(&ops, c.input.c_str(), &path);
            EXPECT_EQ(std::string(path ? path : ""), c.found);
            std::free(path);
            std::string probes;
            for (const std::string& probe : fs.probes) probes += (probes.empty() ? "" : "|") + probe;
            const bool open = c.probes.size() >= 3 && c.probes.compare(c.probes.size() - 3, 3, "...") == 0;
            const std::string expected = c.probes.substr(0, c.probes.size() - (open ? 3 : 0));
            EXPECT_EQ(open ? probes.substr(0, expected.size()) : probes, expected);
        }
    }

    FakeSystem fs;
};

TEST_F(CommandLineTest, LocateFileFolderOrder) {
    Check({{"none.exe", "", "C:\\Korvane\\none.exe|C:\\Work\\none.exe|C:\\WINNT\\none.exe|"
                            "C:\\WINNT\\system32\\none.exe|C:\\WINNT\\SYSTEM\\none.exe|PATH:none.exe"},
           {"sound.drv", "C:\\WINNT\\SYSTEM\\sound.drv", "..."},
           // folders of the name do not stop the search; the answer keeps the name's letter case
           {"box.exe", "C:\\WINNT\\system32\\box.exe",
            "C:\\Korvane\\box.exe|C:\\Work\\box.exe|C:\\WINNT\\box.exe|C:\\WINNT\\system32\\box.exe"},
           {"Notepad.exe", "C:\\WINNT\\Notepad.exe", "..."},
           {"thing.exe", "", "C:\\Korvane\\thing.exe|C:\\Work\\thing.exe|C:\\WINNT\\thing.exe|C:\\WINNT\\system32\\"
                             "thing.exe|C:\\WINNT\\SYSTEM\\thing.exe|PATH:thing.exe|C:\\Bin\\thing.exe"},
           // names with their own location go through the full-path conversion only
           {"C:\\WINNT\\system32", "", "C:\\WINNT\\system32"},
           {"..\\WINNT\\system32\\calc.exe", "C:\\WINNT\\system32\\calc.exe", "C:\\WINNT\\system32\\calc.exe"},
           {"c:calc.exe", "", "C:\\Work\\calc.exe"},
           {"\\\\server\\share\\s.exe", "\\\\server\\share\\s.exe", "\\\\server\\share\\s.exe"},
           {".\\y.exe", "C:\\Work\\.\\y.exe", "C:\\Korvane\\.\\y.exe|C:\\Work\\.\\y.exe"}},
          true);
    fs.nt = false;  // the 16-bit system folder is searched apart on NT only
    Check({{"sound.drv", "", "C:\\Korvane\\sound.drv|C:\\Work\\sound.drv|C:\\WINNT\\sound.drv|"
                             "C:\\WINNT\\system32\\sound.drv|PATH:sound.drv"}}, true);
    fs.currentDirectory.clear();  // failing folder queries are skipped
    fs.systemDirectory.clear();
    fs.moduleFileName = "korvane.exe";  // no folder: the name alone is tried
    fs.windowsDirectory = "C:\\";
    Check({{"x.exe", "", "x.exe|C:\\x.exe|PATH:x.exe"}}, true);
}

TEST_F(CommandLineTest, ResolveCandidateOrder) {
    const std::string longName(259, 'N'), tooLongName(260, 'N');
    const std::string exact = "C:\\" + std::string(253, 'e') + ".exe";  // 260 characters
    for (const std::string& name : {longName, tooLongName}) fs.SetVariable(name, "C:\\WINNT");
    fs.SetVariable("A", "C:\\x");
    fs.SetVariable("V", " y.exe");
    fs.SetVariable("BIG", std::string(5000, 'b') + " c");
    fs.AddFile(exact);
    const std::string app = "C:\\Program Files\\App\\app.exe", other = "C:\\Program Files\\App\\other.exe";
    const std::string calc = "C:\\WINNT\\system32\\calc.exe", notepad = "C:\\WINNT\\notepad.exe";
    Check({// unquoted: ever longer prefixes ending before a blank or tab
           {app + " /x", app, "C:\\Program|" + app},
           {other + " /x", "", "C:\\Program|" + other + "|" + other + " /x"},
           {"C:\\a.exe  b\tc", "", "C:\\a.exe|C:\\a.exe |C:\\a.exe  b|C:\\a.exe  b\tc"},
           // quoted: only the quoted path, trailing blanks cut, the arguments never tried
           {"\"" + app + " \t \" /x \"C:\\other.exe\"", app, app},
           {"\"" + app, app, app},
           {"\"C:\\gone.exe\" " + calc, "", "C:\\gone.exe"},
           {"\"%ProgramFiles%\\App\\app.exe\" -a", app, app},
           // native prefixes, in any letter case
           {"\\systemroot\\system32\\drivers\\beep.sys", "C:\\WINNT\\system32\\drivers\\beep.sys", "..."},
           {"\\??\\\"" + calc + "\" -k", calc, calc},
           // a leading variable: set, unset (removed), not closed, not leading, or too long
           {"%WINDIR%\\notepad.exe %windir%\\x.txt", notepad, notepad},
           {"%UNSET%\\root.exe", "C:\\root.exe", "C:\\Korvane\\\\root.exe|..."},
           {"%A%%windir%.exe", "", "C:\\x%windir%.exe"},
           {"%windir\\notepad.exe", "", "C:\\Korvane\\%windir\\notepad.exe|..."},
           {"%" + longName + "%\\notepad.exe", notepad, notepad},
           {"\"%" + tooLongName + "%\\notepad.exe\"", "", ""},
           {"%ProgramFiles%\\App\\app.exe /s", app, "C:\\Program|" + app},
           {"%V%", "", "C:\\Korvane\\ y.exe|..."},
           {"%BIG%\\notepad.exe", "", ""},
           // blanks and line ends around the line; wildcards; the longest candidate allowed
           {" \t w.exe\r\n\n\r", "C:\\Work\\w.exe", "..."},
           {" \t \r\n", "", ""},
           {"C:\\WINNT\\*.exe", "", ""},
           {"note?ad.exe", "", "PATH:note?ad.exe"},
           {exact, exact, exact},
           {exact + "x", "", ""}});
    // Without the variable "\SystemRoot\" still becomes a reference, to nothing; a backslash
    // already following it is not doubled (that would make a UNC name).
    fs.environment.erase(fs.Fold("SystemRoot"));
    Check({{"\\SystemRoot\\System32\\drivers\\beep.sys", "", "C:\\Korvane\\\\System32\\drivers\\beep.sys|..."},
           {"\\SystemRoot\\\\System32\\drivers\\beep.sys", "", "C:\\Korvane\\\\System32\\drivers\\beep.sys|..."}});
}

// A variable that already holds a string only learns whether the file exists; null
// arguments find nothing and ask the system nothing.
TEST_F(CommandLineTest, ExistenceOnlyCallAndNullArguments) {
    const CommandLineOps ops = fs.Ops();
    char kept[] = "kept";
    char* path = kept;
    EXPECT_TRUE(ResolveCommandLine(&ops, "calc.exe -a", &path));
    EXPECT_FALSE(ResolveCommandLine(&ops, "none.exe", &path));
    fs.probes.clear();
    EXPECT_FALSE(ResolveCommandLine(&ops, nullptr, &path) || ResolveCommandLine(nullptr, "calc.exe", &path) ||
                 ResolveCommandLine(&ops, "calc.exe", nullptr));
    EXPECT_EQ(LocateFile(&ops, nullptr, &path) + LocateFile(nullptr, "x", &path) + LocateFile(&ops, "x", nullptr), 0);
    EXPECT_TRUE(fs.probes.empty());
    EXPECT_EQ(path, kept);  // the fuzz target checks that kept is left as it was
    ASSERT_EQ(LocateFile(&ops, "calc.exe", &path), 1);  // LocateFile replaces the variable even when set
    EXPECT_STREQ(path, "C:\\WINNT\\system32\\calc.exe");
    std::free(path);
}

// No candidate is longer than kMaxCandidateLength on any line: the fuzz target's check.
TEST_F(CommandLineTest, OverlongCandidatesAreSkippedNotCut) {
    fs.windowsDirectory = "C:\\" + std::string(247, 'W');  // 250 characters
    const std::string joined = fs.windowsDirectory + "\\abcdefghijkl.exe";  // 267 characters
    fs.AddFile(joined.substr(0, kMaxCandidateLength));  // where a cut candidate would land
    fs.AddFile(joined);
    Check({{"abcdefghijkl.exe", "", "C:\\Korvane\\abcdefghijkl.exe|C:\\Work\\abcdefghijkl.exe|"
                                    "C:\\WINNT\\system32\\abcdefghijkl.exe|PATH:abcdefghijkl.exe"}}, true);
}

TEST_F(CommandLineTest, DoubleByteTrailBytesAreNotDelimiters) {
    const std::string folder = "C:\\\x95\\";  // 0x95 0x5C: one character ending in a backslash byte
    fs.moduleFileName = "C:\\Kit\\\x95\\.exe";
    fs.windowsDirectory = folder;
    fs.AddFile(folder + "\\app.exe");
    fs.SetVariable("A\x81%", "C:\\D");
    fs.dbcs = true;
    Check({{"x.exe", "", "C:\\Kit\\x.exe|C:\\Work\\x.exe|" + folder + "\\x.exe|C:\\WINNT\\system32\\x.exe|" +
                             folder + "\\SYSTEM\\x.exe|PATH:x.exe"}}, true);
    Check({{folder + "\\app.exe /x", folder + "\\app.exe", folder + "\\app.exe"},
           // trail bytes equal to "%" or a blank end neither a variable name nor a candidate
           {"%A\x81%%\\x.exe", "", "C:\\D\\x.exe"},
           {"C:\\\x81 b.exe /x", "", "C:\\\x81 b.exe|..."},
           {"\"C:\\b\x81 \" /x", "", "C:\\b\x81 "},
           // a lead byte right before the end stands alone
           {"x.exe\x81", "", "C:\\Kit\\x.exe\x81|..."},
           {"%\x81", "", "C:\\Kit\\%\x81|..."}});
    fs.dbcs = false;  // read byte by byte the same folders look different
    Check({{"x.exe", "", "C:\\Kit\\\x95\\x.exe|C:\\Work\\x.exe|" + folder + "x.exe|..."}}, true);
}

}  // namespace
