// Command-line resolution against the real folders, environment and file system of
// the Wine prefix: system programs named in the usual autorun forms, files the test
// creates (names with blanks, folders in the way), the folder search order, missing
// files and the existence-only call.
#include <windows.h>

#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "autorun/win/command_line_win.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The file a path names, in one canonical spelling.
std::string Canonical(const std::string& path) {
    char full[MAX_PATH + 1] = {};
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? Lower(full) : std::string();
}

std::string WindowsFolder() {
    char folder[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? folder : std::string();
}

std::string SystemFolder() {
    char folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? folder : std::string();
}

std::string ProgramFolder() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\'));
}

std::string Variable(const char* name) {
    char value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? value : std::string();
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Resolves line into a fresh path variable; "" when nothing is found.
std::string Resolve(const std::string& line) {
    char* path = nullptr;
    const bool found = ResolveCommandLine(line.c_str(), &path);
    std::string result;
    if (found) {
        EXPECT_NE(path, nullptr) << line;
        if (path) {
            // Every found path comes in its own MAX_PATH + 1 block.
            EXPECT_EQ(_msize(path), 261u) << line;
            result = path;
        }
    } else {
        EXPECT_EQ(path, nullptr) << line;
    }
    std::free(path);
    return result;
}

// Each test works in a temporary folder whose name holds a blank; it is the current
// directory while the test runs. Everything the test creates is removed afterwards,
// last created first, and the current directory and PATH are restored.
class CommandLineWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        windows_ = WindowsFolder();
        system_ = SystemFolder();
        program_ = ProgramFolder();
        ASSERT_FALSE(windows_.empty());
        ASSERT_FALSE(system_.empty());
        ASSERT_FALSE(program_.empty());
        rundll_ = system_ + "\\rundll32.exe";
        ASSERT_TRUE(Exists(rundll_));

        char saved[MAX_PATH] = {};
        const DWORD length = GetCurrentDirectoryA(MAX_PATH, saved);
        ASSERT_TRUE(length > 0 && length < MAX_PATH);
        savedDirectory_ = saved;
        savedPath_ = Variable("PATH");

        char temp[MAX_PATH] = {};
        const DWORD tempLength = GetTempPathA(MAX_PATH, temp);
        ASSERT_TRUE(tempLength > 0 && tempLength < MAX_PATH);
        char name[64];
        std::snprintf(name, sizeof name, "korvane cl %lu", static_cast<unsigned long>(GetCurrentProcessId()));
        root_ = std::string(temp) + name;
        ASSERT_TRUE(MakeFolder(root_));
        ASSERT_TRUE(SetCurrentDirectoryA(root_.c_str()));
        // The names this test looks for are its own: nothing of that name may lie beside it.
        ASSERT_FALSE(Exists(program_ + "\\rundll32.exe"));
        ASSERT_FALSE(Exists(windows_ + "\\rundll32.exe"));
    }

    void TearDown() override {
        SetCurrentDirectoryA(savedDirectory_.c_str());
        if (pathChanged_) _putenv_s("PATH", savedPath_.c_str());
        for (size_t i = created_.size(); i-- > 0;) {
            if (created_[i].folder) {
                RemoveDirectoryA(created_[i].path.c_str());
            } else {
                DeleteFileA(created_[i].path.c_str());
            }
        }
    }

    bool MakeFolder(const std::string& path) {
        if (!CreateDirectoryA(path.c_str(), nullptr)) return false;
        created_.push_back({path, true});
        return true;
    }

    bool MakeFile(const std::string& path) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        created_.push_back({path, false});
        DWORD written = 0;
        const BOOL ok = WriteFile(file, "MZ", 2, &written, nullptr);
        CloseHandle(file);
        return ok != FALSE;
    }

    void AppendToPath(const std::string& folder) {
        pathChanged_ = true;
        // _putenv_s changes both the runtime's copy, which the PATH search reads, and
        // the process environment.
        ASSERT_EQ(_putenv_s("PATH", (savedPath_ + ";" + folder).c_str()), 0);
    }

    // A name no other file of the prefix has.
    static std::string UniqueName(const char* stem) {
        char name[64];
        std::snprintf(name, sizeof name, "korvane-%s-%lu.exe", stem, static_cast<unsigned long>(GetCurrentProcessId()));
        return name;
    }

    struct Created {
        std::string path;
        bool folder;
    };
    std::string windows_, system_, program_, rundll_, root_;
    std::string savedDirectory_, savedPath_;
    bool pathChanged_ = false;
    std::vector<Created> created_;
};

TEST_F(CommandLineWinTest, SystemProgramsWithArguments) {
    EXPECT_EQ(Resolve("rundll32.exe shell32.dll,Control_RunDLL"), rundll_);
    EXPECT_EQ(Resolve("  \trundll32.exe   shell32.dll,Control_RunDLL desk.cpl"), rundll_);
    EXPECT_EQ(Resolve("rundll32.exe\r\n\r"), rundll_);
    EXPECT_EQ(Resolve("RUNDLL32.EXE"), system_ + "\\RUNDLL32.EXE");  // the name as written
    // The Windows folder is searched before the system folder.
    ASSERT_TRUE(Exists(windows_ + "\\notepad.exe"));
    EXPECT_EQ(Resolve("notepad.exe C:\\boot.ini"), windows_ + "\\notepad.exe");

    // Full paths, also through "..", are taken as they are and canonicalised.
    EXPECT_EQ(Resolve(rundll_ + " shell32.dll,Control_RunDLL"), rundll_);
    EXPECT_EQ(Resolve(system_ + "\\..\\" + system_.substr(system_.find_last_of('\\') + 1) + "\\rundll32.exe /x"),
              rundll_);

    EXPECT_EQ(Resolve(""), "");
    EXPECT_EQ(Resolve(" \t  "), "");
    EXPECT_EQ(Resolve("\r\n"), "");
}

TEST_F(CommandLineWinTest, NativeRootAndLeadingVariables) {
    const std::string systemRoot = Variable("SystemRoot");
    ASSERT_FALSE(systemRoot.empty());
    const std::string driver = systemRoot + "\\system32\\drivers\\mountmgr.sys";
    ASSERT_TRUE(Exists(driver));

    EXPECT_EQ(Resolve("\\SystemRoot\\system32\\drivers\\mountmgr.sys"), driver);
    // The native root in any case, with arguments and a line break behind it.
    EXPECT_EQ(Lower(Resolve("\\systemroot\\System32\\DRIVERS\\mountmgr.sys /x\r\n")), Lower(driver));
    EXPECT_EQ(Resolve("\\??\\" + rundll_ + " shell32.dll,Control_RunDLL"), rundll_);

    EXPECT_EQ(Resolve("%SystemRoot%\\system32\\rundll32.exe shell32.dll,Control_RunDLL"),
              systemRoot + "\\system32\\rundll32.exe");
    EXPECT_EQ(Lower(Resolve("%windir%\\notepad.exe")), Lower(Variable("windir") + "\\notepad.exe"));

    // An unset variable is removed: the rest, "\system32\rundll32.exe", is found
    // below the Windows folder.
    ASSERT_TRUE(SetEnvironmentVariableA("KORVANE_UNSET_VARIABLE", nullptr));
    EXPECT_EQ(Canonical(Resolve("%KORVANE_UNSET_VARIABLE%\\system32\\rundll32.exe -x")), Lower(rundll_));
    // Without the SystemRoot variable the native root is dropped and the rest is found
    // below the Windows folder.
    ASSERT_TRUE(SetEnvironmentVariableA("SystemRoot", nullptr));
    const std::string withoutRoot = Resolve("\\SystemRoot\\system32\\drivers\\mountmgr.sys");
    SetEnvironmentVariableA("SystemRoot", systemRoot.c_str());
    EXPECT_EQ(Canonical(withoutRoot), Lower(driver));

    // A value longer than a path is read whole; its first blank ends the first candidate.
    ASSERT_TRUE(SetEnvironmentVariableA("KORVANE_LONG_VARIABLE", (rundll_ + " " + std::string(600, 'a')).c_str()));
    EXPECT_EQ(Resolve("%KORVANE_LONG_VARIABLE% /x"), rundll_);
    SetEnvironmentVariableA("KORVANE_LONG_VARIABLE", nullptr);

    // Only a reference at the very start is expanded.
    EXPECT_EQ(Resolve("x%SystemRoot%\\system32\\rundll32.exe"), "");
}

TEST_F(CommandLineWinTest, QuotedPathsIgnoreTheirArguments) {
    EXPECT_EQ(Resolve("\"" + rundll_ + "\" shell32.dll,Control_RunDLL"), rundll_);
    EXPECT_EQ(Resolve("\"" + rundll_ + " \t \"  \"quoted argument\""), rundll_);
    EXPECT_EQ(Resolve("\"%SystemRoot%\\system32\\rundll32.exe\" /x"), Variable("SystemRoot") + "\\system32\\rundll32.exe");
    EXPECT_EQ(Resolve("\"rundll32.exe\""), rundll_);
    // Without a closing quote the whole rest is the path.
    EXPECT_EQ(Resolve("\"" + rundll_), rundll_);

    // The quoted form makes one attempt: arguments inside the quotes are not cut off.
    EXPECT_EQ(Resolve("\"" + rundll_ + " shell32.dll\""), "");
    EXPECT_EQ(Resolve("\"" + system_ + "\" x"), "");
}

TEST_F(CommandLineWinTest, NamesWithBlanksAndFoldersInTheWay) {
    const std::string program = root_ + "\\my app.exe";
    ASSERT_TRUE(MakeFile(program));
    ASSERT_TRUE(MakeFolder(root_ + "\\my"));  // the prefix before the blank names a folder

    EXPECT_EQ(Resolve(program + " /x \"some argument\""), program);
    EXPECT_EQ(Resolve(program), program);
    EXPECT_EQ(Resolve("\"" + program + "\" /x"), program);
    EXPECT_EQ(Resolve("\"" + root_ + "\\my\" /x"), "");
    EXPECT_EQ(Resolve(root_ + "\\my /x"), "");

    // The shortest prefix that names a file wins.
    const std::string tool = root_ + "\\tool";
    ASSERT_TRUE(MakeFile(tool));
    ASSERT_TRUE(MakeFile(root_ + "\\tool kit.exe"));
    EXPECT_EQ(Resolve(root_ + "\\tool kit.exe -run"), tool);
    EXPECT_EQ(Resolve("\"" + root_ + "\\tool kit.exe\" -run"), root_ + "\\tool kit.exe");

    // A folder of the program's name in the current directory does not hide the file
    // in the system folder.
    ASSERT_TRUE(MakeFolder(root_ + "\\rundll32.exe"));
    EXPECT_EQ(Resolve("rundll32.exe shell32.dll,Control_RunDLL"), rundll_);

    // A relative path with ".." is converted against the current directory.
    const std::string rootName = root_.substr(root_.find_last_of('\\') + 1);
    EXPECT_EQ(Resolve("..\\" + rootName + "\\my app.exe -x"), program);

    // A path relative to the current directory, and the long-path form.
    EXPECT_EQ(Canonical(Resolve(".\\my app.exe /x")), Lower(program));
    EXPECT_EQ(Resolve("\\\\?\\" + program + " /x"), "\\\\?\\" + program);

    // Wildcards never match another file.
    EXPECT_EQ(Resolve(system_ + "\\rundll3?.exe"), "");
    EXPECT_EQ(Resolve("\"" + system_ + "\\rundll*\""), "");
    EXPECT_EQ(Resolve("rundll3*.exe"), "");
}

TEST_F(CommandLineWinTest, BareNamesFollowTheFolderOrder) {
    // Current directory.
    const std::string name = UniqueName("order");
    ASSERT_TRUE(MakeFile(root_ + "\\" + name));
    EXPECT_EQ(Resolve(name + " /x"), root_ + "\\" + name);

    // Beside the program comes first.
    ASSERT_TRUE(MakeFile(program_ + "\\" + name));
    EXPECT_EQ(Resolve(name + " /x"), program_ + "\\" + name);

    // The old 16-bit system folder of the NT platform, created for the test when the
    // prefix has none.
    const std::string sixteenBit = windows_ + "\\SYSTEM";
    if (!Exists(sixteenBit)) {
        ASSERT_TRUE(MakeFolder(sixteenBit));
    }
    const std::string driverName = UniqueName("16bit");
    ASSERT_TRUE(MakeFile(sixteenBit + "\\" + driverName));
    EXPECT_EQ(Lower(Resolve(driverName)), Lower(sixteenBit + "\\" + driverName));

    // Last, the folders of PATH.
    const std::string pathFolder = root_ + "\\path folder";
    ASSERT_TRUE(MakeFolder(pathFolder));
    const std::string pathName = UniqueName("path");
    ASSERT_TRUE(MakeFile(pathFolder + "\\" + pathName));
    EXPECT_EQ(Resolve(pathName), "");
    AppendToPath(pathFolder);
    EXPECT_EQ(Lower(Resolve(pathName + " -x")), Lower(pathFolder + "\\" + pathName));
}

TEST_F(CommandLineWinTest, MissingFilesAndTheExistenceOnlyCall) {
    const std::string missing = root_ + "\\missing.exe";
    EXPECT_EQ(Resolve(missing), "");
    EXPECT_EQ(Resolve("\"" + missing + "\" /x"), "");
    EXPECT_EQ(Resolve(UniqueName("nowhere")), "");
    EXPECT_EQ(Resolve("%SystemRoot%\\system32\\" + UniqueName("nowhere")), "");
    EXPECT_FALSE(ResolveCommandLine("rundll32.exe", nullptr));

    // A variable that already holds a string only learns whether the file exists.
    char* held = _strdup("caller's own text");
    ASSERT_NE(held, nullptr);
    char* const before = held;
    EXPECT_TRUE(ResolveCommandLine("rundll32.exe shell32.dll,Control_RunDLL", &held));
    EXPECT_EQ(held, before);
    EXPECT_STREQ(held, "caller's own text");
    EXPECT_FALSE(ResolveCommandLine(missing.c_str(), &held));
    EXPECT_EQ(held, before);
    EXPECT_STREQ(held, "caller's own text");
    std::free(held);

    // LocateFile looks up one name as it stands.
    char* located = nullptr;
    EXPECT_EQ(LocateFile("rundll32.exe", &located), 1);
    ASSERT_NE(located, nullptr);
    EXPECT_EQ(std::string(located), rundll_);
    std::free(located);
    located = nullptr;
    EXPECT_EQ(LocateFile("rundll32.exe shell32.dll", &located), 0);
    EXPECT_EQ(located, nullptr);

    // Lines and candidates far beyond MAX_PATH are searched safely and not found.
    const std::string longName(400, 'k');
    EXPECT_EQ(Resolve(longName + ".exe /x"), "");
    EXPECT_EQ(Resolve("\"" + root_ + "\\" + longName + "\""), "");
    EXPECT_EQ(Resolve(rundll_ + std::string(300, ' ') + "x"), rundll_);
}

}  // namespace
