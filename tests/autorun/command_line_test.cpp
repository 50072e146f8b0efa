#include "autorun/command_line.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/autorun/command_line_fake.h"

namespace {

using Probes = std::vector<std::string>;

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs.SetVariable("SystemRoot", "C:\\WINNT");
        fs.SetVariable("windir", "C:\\WINNT");
        fs.SetVariable("PATH", "C:\\Tools;C:\\Bin\\");
        ops = fs.Ops();
    }

    // Resolves line from a fresh probe log; the found path, or "" when nothing is found.
    std::string Resolve(const std::string& line) {
        fs.probes.clear();
        const std::string before = line;
        char* path = nullptr;
        const bool found = ResolveCommandLine(&ops, line.c_str(), &path);
        EXPECT_EQ(line, before) << "the command line was modified";
        EXPECT_EQ(found, path != nullptr);
        std::string result;
        if (path != nullptr) {
            result = path;
            EXPECT_LE(result.size(), kMaxCandidateLength);
            EXPECT_EQ(fs.Kind(result), kEntryFile) << result;
        }
        std::free(path);
        return result;
    }

    std::string Locate(const std::string& name) {
        fs.probes.clear();
        char* path = nullptr;
        const int found = LocateFile(&ops, name.c_str(), &path);
        EXPECT_EQ(found, path != nullptr ? 1 : 0);
        std::string result = path != nullptr ? path : "";
        std::free(path);
        return result;
    }

    FakeSystem fs;
    CommandLineOps ops;
};

TEST_F(CommandLineTest, BareNameIsSearchedInFixedFolderOrder) {
    EXPECT_EQ(Locate("x.exe"), "");
    EXPECT_EQ(fs.probes, (Probes{"C:\\Korvane\\x.exe", "C:\\Work\\x.exe", "C:\\WINNT\\x.exe",
                                 "C:\\WINNT\\system32\\x.exe", "C:\\WINNT\\SYSTEM\\x.exe", "PATH:x.exe"}));

    // The 16-bit system folder exists apart only on NT.
    fs.AddFile("C:\\WINNT\\SYSTEM\\sound.drv");
    EXPECT_EQ(Locate("sound.drv"), "C:\\WINNT\\SYSTEM\\sound.drv");
    fs.nt = false;
    EXPECT_EQ(Locate("sound.drv"), "");
    EXPECT_EQ(fs.probes, (Probes{"C:\\Korvane\\sound.drv", "C:\\Work\\sound.drv", "C:\\WINNT\\sound.drv",
                                 "C:\\WINNT\\system32\\sound.drv", "PATH:sound.drv"}));
}

TEST_F(CommandLineTest, FirstFolderHoldingAFileWins) {
    fs.AddFile("C:\\Korvane\\dup.dll");
    fs.AddFile("C:\\WINNT\\system32\\dup.dll");
    EXPECT_EQ(Locate("dup.dll"), "C:\\Korvane\\dup.dll");

    // Folders of that name do not stop the search.
    fs.AddFolder("C:\\Korvane\\box.exe");
    fs.AddFolder("C:\\Work\\box.exe");
    fs.AddFile("C:\\WINNT\\system32\\box.exe");
    EXPECT_EQ(Locate("box.exe"), "C:\\WINNT\\system32\\box.exe");

    // The answer is the candidate as built, in the name's own letter case.
    fs.AddFile("C:\\WINNT\\NOTEPAD.EXE");
    EXPECT_EQ(Locate("Notepad.exe"), "C:\\WINNT\\Notepad.exe");

    // The PATH search comes last, and a folder it finds is no answer.
    fs.AddFile("C:\\Tools\\tool.exe");
    EXPECT_EQ(Locate("tool.exe"), "C:\\Tools\\tool.exe");
    fs.AddFolder("C:\\Bin\\thing.exe");
    EXPECT_EQ(Locate("thing.exe"), "");
    EXPECT_EQ(fs.probes.back(), "C:\\Bin\\thing.exe");
}

TEST_F(CommandLineTest, FolderQueriesThatFailOrEndInBackslash) {
    fs.currentDirectory.clear();
    fs.systemDirectory.clear();
    fs.moduleFileName = "korvane.exe";  // no folder: the name alone is tried
    fs.windowsDirectory = "C:\\";
    EXPECT_EQ(Locate("x.exe"), "");
    EXPECT_EQ(fs.probes, (Probes{"x.exe", "C:\\x.exe", "C:\\SYSTEM\\x.exe", "PATH:x.exe"}));

    fs.moduleFileName.clear();
    fs.windowsDirectory.clear();
    fs.AddFile("C:\\Bin\\x.exe");
    EXPECT_EQ(Locate("x.exe"), "C:\\Bin\\x.exe");
    EXPECT_EQ(fs.probes, (Probes{"PATH:x.exe", "C:\\Bin\\x.exe"}));
}

TEST_F(CommandLineTest, NamesWithTheirOwnLocationUseOnlyTheFullPath) {
    fs.AddFile("C:\\WINNT\\system32\\calc.exe");
    EXPECT_EQ(Locate("C:\\WINNT\\system32\\calc.exe"), "C:\\WINNT\\system32\\calc.exe");
    EXPECT_EQ(fs.probes, (Probes{"C:\\WINNT\\system32\\calc.exe"}));

    EXPECT_EQ(Locate("C:\\WINNT\\system32"), "");  // a folder
    EXPECT_EQ(fs.probes, (Probes{"C:\\WINNT\\system32"}));
    EXPECT_EQ(Locate("D:\\calc.exe"), "");
    EXPECT_EQ(fs.probes, (Probes{"D:\\calc.exe"}));

    fs.currentDirectory = "C:\\WINNT\\system32\\drivers";
    EXPECT_EQ(Locate("..\\calc.exe"), "C:\\WINNT\\system32\\calc.exe");
    EXPECT_EQ(Locate("c:calc.exe"), "");
    EXPECT_EQ(fs.probes, (Probes{"C:\\WINNT\\system32\\drivers\\calc.exe"}));

    fs.AddFile("\\\\server\\share\\x.exe");
    EXPECT_EQ(Locate("\\\\server\\share\\x.exe"), "\\\\server\\share\\x.exe");

    // A single leading backslash or ".\" is a relative name: the folders are searched.
    fs.currentDirectory = "C:\\Work";
    fs.AddFile("C:\\Work\\.\\y.exe");
    EXPECT_EQ(Locate(".\\y.exe"), "C:\\Work\\.\\y.exe");
    EXPECT_EQ(fs.probes, (Probes{"C:\\Korvane\\.\\y.exe", "C:\\Work\\.\\y.exe"}));
}

TEST_F(CommandLineTest, LocateFileArgumentsAndOverwrite) {
    fs.AddFile("C:\\Korvane\\x.exe");
    char* path = nullptr;
    EXPECT_EQ(LocateFile(&ops, nullptr, &path), 0);
    EXPECT_EQ(LocateFile(&ops, "x.exe", nullptr), 0);
    EXPECT_EQ(LocateFile(nullptr, "x.exe", &path), 0);
    EXPECT_EQ(LocateFile(&ops, "", &path), 0);
    EXPECT_EQ(path, nullptr);

    // LocateFile always replaces the variable on success; keeping it is ResolveCommandLine's rule.
    char old[] = "old";
    path = old;
    ASSERT_EQ(LocateFile(&ops, "x.exe", &path), 1);
    ASSERT_NE(path, old);
    EXPECT_STREQ(path, "C:\\Korvane\\x.exe");
    std::free(path);
}

TEST_F(CommandLineTest, UnquotedLineTriesPrefixesEndingAtBlanks) {
    fs.AddFile("C:\\Program Files\\App\\app.exe");
    EXPECT_EQ(Resolve("C:\\Program Files\\App\\app.exe /x"), "C:\\Program Files\\App\\app.exe");
    EXPECT_EQ(fs.probes, (Probes{"C:\\Program", "C:\\Program Files\\App\\app.exe"}));

    EXPECT_EQ(Resolve("C:\\Program Files\\App\\other.exe /x"), "");
    EXPECT_EQ(fs.probes, (Probes{"C:\\Program", "C:\\Program Files\\App\\other.exe",
                                 "C:\\Program Files\\App\\other.exe /x"}));

    // Two blanks in a row give a candidate that ends in a blank; a tab is a blank too.
    EXPECT_EQ(Resolve("C:\\a.exe  b\tc"), "");
    EXPECT_EQ(fs.probes, (Probes{"C:\\a.exe", "C:\\a.exe ", "C:\\a.exe  b", "C:\\a.exe  b\tc"}));

    fs.AddFile("C:\\WINNT\\system32\\rundll32.exe");
    EXPECT_EQ(Resolve("rundll32.exe shell32.dll,Control_RunDLL"), "C:\\WINNT\\system32\\rundll32.exe");
    EXPECT_EQ(fs.probes.size(), 4u);
}

TEST_F(CommandLineTest, QuotedLineLooksUpOnlyTheQuotedPath) {
    fs.AddFile("C:\\Program Files\\App\\app.exe");
    EXPECT_EQ(Resolve("\"C:\\Program Files\\App\\app.exe \t \" /x \"C:\\other.exe\""),
              "C:\\Program Files\\App\\app.exe");
    EXPECT_EQ(fs.probes, (Probes{"C:\\Program Files\\App\\app.exe"}));

    EXPECT_EQ(Resolve("\"C:\\Program Files\\App\\app.exe"), "C:\\Program Files\\App\\app.exe");  // no closing quote

    fs.AddFile("C:\\Program");
    EXPECT_EQ(Resolve("\"C:\\Program Files\\App\\gone.exe\" C:\\Program"), "");
    EXPECT_EQ(fs.probes, (Probes{"C:\\Program Files\\App\\gone.exe"}));

    fs.SetVariable("ProgramFiles", "C:\\Program Files");
    EXPECT_EQ(Resolve("\"%ProgramFiles%\\App\\app.exe\" -a"), "C:\\Program Files\\App\\app.exe");
    EXPECT_EQ(Resolve("\"\" x.exe"), "");
    EXPECT_TRUE(fs.probes.empty());
}

TEST_F(CommandLineTest, NtNativePrefixes) {
    fs.AddFile("C:\\WINNT\\System32\\drivers\\beep.sys");
    EXPECT_EQ(Resolve("\\SystemRoot\\System32\\drivers\\beep.sys"), "C:\\WINNT\\System32\\drivers\\beep.sys");
    EXPECT_EQ(fs.probes, (Probes{"C:\\WINNT\\System32\\drivers\\beep.sys"}));
    EXPECT_EQ(Resolve("\\systemroot\\system32\\drivers\\beep.sys"), "C:\\WINNT\\system32\\drivers\\beep.sys");
    // A backslash already following the prefix is not doubled.
    EXPECT_EQ(Resolve("\\SystemRoot\\\\System32\\drivers\\beep.sys"), "C:\\WINNT\\System32\\drivers\\beep.sys");
    EXPECT_EQ(fs.probes.size(), 1u);

    fs.AddFile("C:\\WINNT\\system32\\x.exe");
    EXPECT_EQ(Resolve("\\??\\C:\\WINNT\\system32\\x.exe"), "C:\\WINNT\\system32\\x.exe");
    EXPECT_EQ(fs.probes, (Probes{"C:\\WINNT\\system32\\x.exe"}));
    EXPECT_EQ(Resolve("\\??\\\"C:\\WINNT\\system32\\x.exe\" -k"), "C:\\WINNT\\system32\\x.exe");

    // Without the variable the prefix becomes a reference to nothing: a relative name.
    fs.environment.clear();
    EXPECT_EQ(Resolve("\\SystemRoot\\System32\\drivers\\beep.sys"), "");
    ASSERT_FALSE(fs.probes.empty());
    EXPECT_EQ(fs.probes[0], "C:\\Korvane\\\\System32\\drivers\\beep.sys");
}

TEST_F(CommandLineTest, LeadingEnvironmentVariable) {
    fs.AddFile("C:\\WINNT\\notepad.exe");
    EXPECT_EQ(Resolve("%windir%\\notepad.exe"), "C:\\WINNT\\notepad.exe");
    EXPECT_EQ(Resolve("%WINDIR%\\notepad.exe %windir%\\x.txt"), "C:\\WINNT\\notepad.exe");

    // An unset variable is removed; "\x.exe" is then found at the current drive's root.
    fs.AddFile("C:\\x.exe");
    EXPECT_EQ(Resolve("%UNSET%\\x.exe"), "C:\\x.exe");
    EXPECT_EQ(fs.probes.front(), "C:\\Korvane\\\\x.exe");

    fs.SetVariable("A", "C:\\x");
    EXPECT_EQ(Resolve("%A%%windir%.exe"), "");
    EXPECT_EQ(fs.probes.front(), "C:\\x%windir%.exe");  // only one reference is expanded
    EXPECT_EQ(Resolve("C:\\50%\\%windir%.exe"), "");
    EXPECT_EQ(fs.probes.front(), "C:\\50%\\%windir%.exe");  // not leading: left alone
    EXPECT_EQ(Resolve("%windir\\notepad.exe"), "");
    EXPECT_EQ(fs.probes.front(), "C:\\Korvane\\%windir\\notepad.exe");  // no closing percent sign
    EXPECT_EQ(Resolve("%%notepad.exe"), "C:\\WINNT\\notepad.exe");     // empty name: nothing set

    const std::string longest(259, 'N');
    fs.SetVariable(longest, "C:\\WINNT");
    EXPECT_EQ(Resolve("%" + longest + "%\\notepad.exe"), "C:\\WINNT\\notepad.exe");
    const std::string tooLong(260, 'N');
    fs.SetVariable(tooLong, "C:\\WINNT");
    EXPECT_EQ(Resolve("\"%" + tooLong + "%\\notepad.exe\""), "");
    EXPECT_TRUE(fs.probes.empty());  // left as it stands, every candidate too long

    // An expanded value takes part in the split at blanks, leading blank included.
    fs.SetVariable("ProgramFiles", "C:\\Program Files");
    fs.AddFile("C:\\Program Files\\App\\app.exe");
    EXPECT_EQ(Resolve("%ProgramFiles%\\App\\app.exe /s"), "C:\\Program Files\\App\\app.exe");
    EXPECT_EQ(fs.probes, (Probes{"C:\\Program", "C:\\Program Files\\App\\app.exe"}));
    fs.SetVariable("V", " y.exe");
    EXPECT_EQ(Resolve("%V%"), "");
    EXPECT_EQ(fs.probes.front(), "C:\\Korvane\\ y.exe");

    // A value far longer than the path buffers.
    fs.SetVariable("BIG", std::string(5000, 'b') + " c");
    EXPECT_EQ(Resolve("%BIG%\\notepad.exe"), "");
    EXPECT_TRUE(fs.probes.empty());
}

TEST_F(CommandLineTest, LineCleanupAndEmptyLines) {
    fs.AddFile("C:\\Work\\x.exe");
    EXPECT_EQ(Resolve(" \t x.exe\r\n\n\r"), "C:\\Work\\x.exe");
    EXPECT_EQ(Resolve("\"x.exe\"\r\n"), "C:\\Work\\x.exe");
    for (const char* line : {"", " \t ", "\r\n", " \r"}) {
        EXPECT_EQ(Resolve(line), "") << '"' << line << '"';
        EXPECT_TRUE(fs.probes.empty());
    }
}

TEST_F(CommandLineTest, ExistenceOnlyCallKeepsTheCallersString) {
    fs.AddFile("C:\\WINNT\\system32\\x.exe");
    char kept[] = "kept";
    char* path = kept;
    EXPECT_TRUE(ResolveCommandLine(&ops, "x.exe -a", &path));
    EXPECT_EQ(path, kept);
    EXPECT_STREQ(path, "kept");
    EXPECT_FALSE(ResolveCommandLine(&ops, "y.exe", &path));
    EXPECT_EQ(path, kept);

    fs.probes.clear();
    EXPECT_FALSE(ResolveCommandLine(&ops, "x.exe", nullptr));
    EXPECT_TRUE(fs.probes.empty());
    path = nullptr;
    EXPECT_FALSE(ResolveCommandLine(&ops, nullptr, &path));
    EXPECT_FALSE(ResolveCommandLine(nullptr, "x.exe", &path));
    EXPECT_EQ(path, nullptr);
}

TEST_F(CommandLineTest, OverlongCandidatesAreSkippedNotCut) {
    fs.windowsDirectory = "C:\\" + std::string(247, 'W');  // 250 characters
    const std::string name = "abcdefghijkl.exe";
    const std::string joined = fs.windowsDirectory + "\\" + name;  // 267 characters
    fs.AddFile(joined.substr(0, kMaxCandidateLength));  // where a cut candidate would land
    fs.AddFile(joined);
    EXPECT_EQ(Locate(name), "");
    EXPECT_EQ(fs.probes, (Probes{"C:\\Korvane\\" + name, "C:\\Work\\" + name, "C:\\WINNT\\system32\\" + name,
                                 "PATH:" + name}));

    const std::string exact = "C:\\" + std::string(257 - 4, 'e') + ".exe";  // 260 characters
    fs.AddFile(exact);
    EXPECT_EQ(Resolve(exact), exact);
    EXPECT_EQ(Resolve(exact + "x"), "");
    EXPECT_TRUE(fs.probes.empty());

    std::string line;
    for (int i = 0; i < 400; ++i) line += "part" + std::to_string(i) + (i % 3 == 0 ? "  " : " ");
    EXPECT_EQ(Resolve(line), "");
    for (const std::string& probe : fs.probes) {
        const size_t prefix = probe.compare(0, 5, "PATH:") == 0 ? 5 : 0;
        EXPECT_LE(probe.size() - prefix, kMaxCandidateLength) << probe;
    }
}

TEST_F(CommandLineTest, WildcardCandidatesAreNotSearched) {
    fs.AddFile("C:\\WINNT\\notepad.exe");
    EXPECT_EQ(Resolve("C:\\WINNT\\*.exe"), "");
    EXPECT_EQ(Resolve("note?ad.exe"), "");
    EXPECT_EQ(fs.probes, (Probes{"PATH:note?ad.exe"}));
}

TEST_F(CommandLineTest, DoubleByteTrailBytesAreNotDelimiters) {
    // 0x95 0x5C is one character whose second byte is a backslash.
    const std::string dbcsFolder = "C:\\\x95\\";
    fs.moduleFileName = "C:\\Kit\\\x95\\.exe";
    fs.windowsDirectory = dbcsFolder;
    fs.dbcs = true;
    EXPECT_EQ(Locate("x.exe"), "");
    EXPECT_EQ(fs.probes, (Probes{"C:\\Kit\\x.exe", "C:\\Work\\x.exe", dbcsFolder + "\\x.exe",
                                 "C:\\WINNT\\system32\\x.exe", dbcsFolder + "\\SYSTEM\\x.exe", "PATH:x.exe"}));
    // Read byte by byte the same folders look different.
    fs.dbcs = false;
    EXPECT_EQ(Locate("x.exe"), "");
    EXPECT_EQ(fs.probes[0], "C:\\Kit\\\x95\\x.exe");
    EXPECT_EQ(fs.probes[2], dbcsFolder + "x.exe");
    fs.dbcs = true;

    fs.AddFile(dbcsFolder + "\\app.exe");
    EXPECT_EQ(Resolve(dbcsFolder + "\\app.exe /x"), dbcsFolder + "\\app.exe");

    // Trail bytes equal to a percent sign or a blank end neither a variable name nor a candidate.
    fs.SetVariable("A\x81%", "C:\\D");
    EXPECT_EQ(Resolve("%A\x81%%\\x.exe"), "");
    EXPECT_EQ(fs.probes.front(), "C:\\D\\x.exe");
    EXPECT_EQ(Resolve("C:\\\x81 b.exe /x"), "");
    EXPECT_EQ(fs.probes.front(), "C:\\\x81 b.exe");
    EXPECT_EQ(Resolve("\"C:\\b\x81 \" /x"), "");
    EXPECT_EQ(fs.probes, (Probes{"C:\\b\x81 "}));

    // A lead byte right before the end stands alone.
    EXPECT_EQ(Resolve("x.exe\x81"), "");
    EXPECT_EQ(fs.probes.front(), "C:\\Kit\\x.exe\x81");
    EXPECT_EQ(Resolve("%\x81"), "");
    EXPECT_EQ(fs.probes.front(), "C:\\Kit\\%\x81");
}

}  // namespace
