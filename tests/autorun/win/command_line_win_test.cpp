// Command-line resolution against the real folders, environment and file system of the
// Wine prefix.
#include <windows.h>

#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "autorun/win/command_line_win.h"

namespace {

// The file a path names, in one canonical spelling.
std::string Canonical(const std::string& path) {
    char full[MAX_PATH + 1] = {};
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    std::string text = length > 0 && length < MAX_PATH ? full : "";
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Variable(const char* name) {
    char value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? value : "";
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct Case {
    std::string line;
    std::string expected;  // "" when nothing may be found
    bool exact = true;     // false: compared as canonical paths, without regard to case
};

void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 120));
        char* path = nullptr;
        const bool resolved = ResolveCommandLine(c.line.c_str(), &path);
        EXPECT_EQ(resolved, path != nullptr);
        if (path) {
            EXPECT_EQ(_msize(path), 261u);  // every found path has a MAX_PATH + 1 block
        }
        const std::string found = path ? path : "";
        std::free(path);
        EXPECT_EQ(c.exact ? found : Canonical(found), c.exact ? c.expected : Canonical(c.expected));
    }
}

// Works in a temporary folder whose name holds a blank, as the current directory;
// created files go last-made-first, and the directory and PATH are restored.
class CommandLineWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        char buffer[MAX_PATH] = {};
        const auto fits = [](DWORD length) { return length > 0 && length < MAX_PATH; };
        ASSERT_TRUE(fits(GetWindowsDirectoryA(buffer, MAX_PATH)));
        windows_ = buffer;
        ASSERT_TRUE(fits(GetSystemDirectoryA(buffer, MAX_PATH)));
        system_ = buffer;
        ASSERT_TRUE(fits(GetModuleFileNameA(nullptr, buffer, MAX_PATH)));
        program_ = buffer;
        program_.resize(program_.find_last_of('\\'));
        rundll_ = system_ + "\\rundll32.exe";
        ASSERT_TRUE(Exists(rundll_));
        ASSERT_FALSE(Exists(program_ + "\\rundll32.exe") || Exists(windows_ + "\\rundll32.exe"));

        ASSERT_TRUE(fits(GetCurrentDirectoryA(MAX_PATH, buffer)));
        savedDirectory_ = buffer;
        savedPath_ = Variable("PATH");
        ASSERT_TRUE(fits(GetTempPathA(MAX_PATH, buffer)));
        root_ = std::string(buffer) + "korvane cl " + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(Make(root_, true));
        ASSERT_TRUE(SetCurrentDirectoryA(root_.c_str()));
    }

    void TearDown() override {
        SetCurrentDirectoryA(savedDirectory_.c_str());
        if (pathChanged_) _putenv_s("PATH", savedPath_.c_str());
        for (size_t i = created_.size(); i-- > 0;) {
            if (!RemoveDirectoryA(created_[i].c_str())) DeleteFileA(created_[i].c_str());
        }
    }

    bool Make(const std::string& path, bool folder = false) {
        HANDLE file = folder ? nullptr : CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (folder ? !CreateDirectoryA(path.c_str(), nullptr) : file == INVALID_HANDLE_VALUE) return false;
        if (!folder) CloseHandle(file);
        created_.push_back(path);
        return true;
    }

    static std::string UniqueName(const char* stem) {
        return std::string("korvane-") + stem + "-" + std::to_string(GetCurrentProcessId()) + ".exe";
    }

    std::string windows_, system_, program_, rundll_, root_, savedDirectory_, savedPath_;
    bool pathChanged_ = false;
    std::vector<std::string> created_;
};

TEST_F(CommandLineWinTest, SystemFoldersNativeRootAndVariables) {
    const std::string systemRoot = Variable("SystemRoot");
    const std::string driver = systemRoot + "\\system32\\drivers\\mountmgr.sys";
    ASSERT_TRUE(Exists(driver));
    ASSERT_TRUE(Exists(windows_ + "\\notepad.exe"));
    // A value longer than a path is read whole; its first blank ends the first candidate.
    ASSERT_TRUE(SetEnvironmentVariableA("KORVANE_LONG_VARIABLE", (rundll_ + " " + std::string(600, 'a')).c_str()));
    const std::string systemName = system_.substr(system_.find_last_of('\\') + 1);
    const std::string longName(400, 'k');
    Check({
        {"rundll32.exe shell32.dll,Control_RunDLL", rundll_},
        {"  \trundll32.exe   shell32.dll,Control_RunDLL desk.cpl\r\n", rundll_},
        {"RUNDLL32.EXE", system_ + "\\RUNDLL32.EXE"},
        {"notepad.exe C:\\boot.ini", windows_ + "\\notepad.exe"},  // Windows folder before system
        {rundll_ + " shell32.dll,Control_RunDLL", rundll_},
        {system_ + "\\..\\" + systemName + "\\rundll32.exe /x", rundll_},
        {"\\SystemRoot\\system32\\drivers\\mountmgr.sys", driver},
        {"\\systemroot\\System32\\DRIVERS\\mountmgr.sys /x\r\n", driver, false},
        {"\\??\\" + rundll_ + " shell32.dll,Control_RunDLL", rundll_},
        {"%SystemRoot%\\system32\\rundll32.exe shell32.dll", systemRoot + "\\system32\\rundll32.exe"},
        {"%windir%\\notepad.exe", Variable("windir") + "\\notepad.exe", false},
        {"%KORVANE_UNSET_VARIABLE%\\system32\\rundll32.exe -x", rundll_, false},
        {"%KORVANE_LONG_VARIABLE% /x", rundll_},
        {"\"" + rundll_ + "\" shell32.dll,Control_RunDLL", rundll_},
        {"\"%SystemRoot%\\system32\\rundll32.exe\" /x", systemRoot + "\\system32\\rundll32.exe"},
        {"\"" + rundll_ + " shell32.dll\"", ""},  // one attempt: nothing is cut inside quotes
        {"\"" + system_ + "\" x", ""},
        {system_ + "\\rundll3?.exe", ""},
        {"rundll3*.exe", ""},
        {"%SystemRoot%\\system32\\" + UniqueName("nowhere"), ""},
        {longName + ".exe /x", ""},
        {"\"" + root_ + "\\" + longName + "\"", ""},
        {rundll_ + std::string(300, ' ') + "x", rundll_},
    });
    SetEnvironmentVariableA("KORVANE_LONG_VARIABLE", nullptr);
}

TEST_F(CommandLineWinTest, CreatedFilesFoldersAndTheSearchOrder) {
    const std::string program = root_ + "\\my app.exe";
    ASSERT_TRUE(Make(program));
    ASSERT_TRUE(Make(root_ + "\\my", true));            // the part before the blank is a folder
    ASSERT_TRUE(Make(root_ + "\\rundll32.exe", true));  // must not hide the system program
    Check({
        {program + " /x \"some argument\"", program},
        {"\"" + program + "\" /x", program},
        {"\"" + root_ + "\\my\" /x", ""},
        {root_ + "\\my /x", ""},
        {"rundll32.exe shell32.dll,Control_RunDLL", rundll_},
        {"..\\" + root_.substr(root_.find_last_of('\\') + 1) + "\\my app.exe -x", program},
        {".\\my app.exe /x", program, false},
        {"\\\\?\\" + program + " /x", "\\\\?\\" + program},
        {root_ + "\\missing.exe", ""},
    });

    // A bare name: the program's folder, then the current directory, ..., last PATH.
    const std::string name = UniqueName("order");
    ASSERT_TRUE(Make(root_ + "\\" + name));
    Check({{name + " /x", root_ + "\\" + name}});
    ASSERT_TRUE(Make(program_ + "\\" + name));
    Check({{name + " /x", program_ + "\\" + name}});

    const std::string pathFolder = root_ + "\\path folder";
    const std::string pathName = UniqueName("path");
    ASSERT_TRUE(Make(pathFolder, true));
    ASSERT_TRUE(Make(pathFolder + "\\" + pathName));
    Check({{pathName, ""}});
    pathChanged_ = true;
    ASSERT_EQ(_putenv_s("PATH", (savedPath_ + ";" + pathFolder).c_str()), 0);  // the runtime's copy, read by the search
    Check({{pathName + " -x", pathFolder + "\\" + pathName, false}});
}

TEST_F(CommandLineWinTest, ExistenceOnlyCall) {
    EXPECT_FALSE(ResolveCommandLine("rundll32.exe", nullptr));

    // A variable that already holds a string only learns whether the file exists.
    char* held = _strdup("caller's own text");
    ASSERT_NE(held, nullptr);
    char* const before = held;
    EXPECT_TRUE(ResolveCommandLine("rundll32.exe shell32.dll,Control_RunDLL", &held));
    EXPECT_FALSE(ResolveCommandLine((root_ + "\\missing.exe").c_str(), &held));
    EXPECT_EQ(held, before);
    EXPECT_STREQ(held, "caller's own text");
    std::free(held);
}

}  // namespace
