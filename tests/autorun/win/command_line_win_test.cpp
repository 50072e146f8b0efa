// Command-line resolution through the real folders, environment, runtime searches and
// file system of the Wine prefix: each system operation of the table answers as the
// portable logic expects.
#include <windows.h>

#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>

#include <cctype>
#include <string>
#include <vector>

#include "autorun/win/command_line_win.h"

namespace {

std::string Variable(const char* name) {
    char value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? value : "";
}

// The file a path names, in one spelling: full, lower case.
std::string Canonical(const std::string& path) {
    char full[MAX_PATH + 1] = {};
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    std::string text = length > 0 && length < MAX_PATH ? full : "";
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// What a line resolves to, "" for nothing; canonical when not compared exactly.
std::string Resolve(const std::string& line, bool exact = true) {
    char* path = nullptr;
    const bool resolved = ResolveCommandLine(line.c_str(), &path);
    EXPECT_EQ(resolved, path != nullptr) << line;
    if (path) {
        EXPECT_EQ(_msize(path), 261u) << "every found path has a MAX_PATH + 1 block";
    }
    const std::string found = path ? path : "";
    std::free(path);
    return exact ? found : Canonical(found);
}

// Works in a temporary folder whose name holds a blank, as the current directory; what it
// creates is removed, and the directory and PATH are restored.
struct CommandLineWinTest : ::testing::Test {
    void SetUp() override {
        char buffer[MAX_PATH] = {};
        ASSERT_TRUE(GetSystemDirectoryA(buffer, MAX_PATH));
        system = buffer;
        rundll = system + "\\rundll32.exe";
        ASSERT_TRUE(GetWindowsDirectoryA(buffer, MAX_PATH));
        windows = buffer;
        ASSERT_TRUE(GetCurrentDirectoryA(MAX_PATH, buffer));
        savedDirectory = buffer;
        savedPath = Variable("PATH");
        ASSERT_TRUE(GetTempPathA(MAX_PATH, buffer));
        root = std::string(buffer) + "korvane cl " + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(Make(root, true) && SetCurrentDirectoryA(root.c_str()));
    }
    void TearDown() override {
        SetCurrentDirectoryA(savedDirectory.c_str());
        _putenv_s("PATH", savedPath.c_str());
        SetEnvironmentVariableA("KORVANE_LONG_VARIABLE", nullptr);
        for (size_t i = created.size(); i-- > 0;) {
            if (!RemoveDirectoryA(created[i].c_str())) DeleteFileA(created[i].c_str());
        }
    }
    bool Make(const std::string& path, bool folder = false) {
        HANDLE file = folder ? nullptr : CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (folder ? !CreateDirectoryA(path.c_str(), nullptr) : file == INVALID_HANDLE_VALUE) return false;
        if (!folder) CloseHandle(file);
        created.push_back(path);
        return true;
    }
    std::string system, rundll, windows, root, savedDirectory, savedPath;
    std::vector<std::string> created;
};

TEST_F(CommandLineWinTest, FoldersEnvironmentSearchesAndEntriesOfTheSystem) {
    const std::string program = root + "\\my app.exe", onPath = root + "\\path folder\\korvane-on-path.exe";
    ASSERT_TRUE(Make(program) && Make(root + "\\my", true) && Make(root + "\\path folder", true) && Make(onPath));
    ASSERT_TRUE(Make(root + "\\rundll32.exe", true));  // a folder must not hide the system program
    // A value longer than a path is read whole; its first blank ends the first candidate.
    ASSERT_TRUE(SetEnvironmentVariableA("KORVANE_LONG_VARIABLE", (rundll + " " + std::string(600, 'a')).c_str()));
    const std::string driver = Variable("SystemRoot") + "\\system32\\drivers\\mountmgr.sys";
    const struct { std::string line, expected; bool exact; } cases[] = {
        {"  \trundll32.exe   shell32.dll,Control_RunDLL desk.cpl\r\n", rundll, true},
        {"RUNDLL32.EXE", system + "\\RUNDLL32.EXE", true},
        {"notepad.exe C:\\boot.ini", windows + "\\notepad.exe", true},  // the Windows folder before the system one
        {"\\systemroot\\System32\\DRIVERS\\mountmgr.sys /x\r\n", driver, false},
        {"%windir%\\notepad.exe", Variable("windir") + "\\notepad.exe", false},
        {"%KORVANE_LONG_VARIABLE% /x", rundll, true},
        {"\"" + rundll + "\" shell32.dll,Control_RunDLL", rundll, true},
        {program + " /x \"some argument\"", program, true},
        {root + "\\my /x", "", true},
        {".\\my app.exe /x", program, false},  // the current directory
        {"\\\\?\\" + program + " /x", "\\\\?\\" + program, true},  // "?" of the prefix is no wildcard
        {"korvane-on-path.exe", "", true},
    };
    for (const auto& c : cases) EXPECT_EQ(Resolve(c.line, c.exact), c.exact ? c.expected : Canonical(c.expected)) << c.line;
    ASSERT_EQ(_putenv_s("PATH", (savedPath + ";" + root + "\\path folder").c_str()), 0);  // the runtime's copy
    EXPECT_EQ(Resolve("korvane-on-path.exe -x", false), Canonical(onPath));

    // A bare name is looked for beside the program before the current directory.
    char own[MAX_PATH] = {};
    ASSERT_TRUE(GetModuleFileNameA(nullptr, own, MAX_PATH));
    const std::string name = "korvane-order-" + std::to_string(GetCurrentProcessId()) + ".exe";
    const std::string beside = std::string(own).substr(0, std::string(own).rfind('\\') + 1) + name;
    ASSERT_TRUE(Make(root + "\\" + name));
    EXPECT_EQ(Resolve(name + " /x"), root + "\\" + name);
    ASSERT_TRUE(Make(beside));
    EXPECT_EQ(Resolve(name + " /x"), beside);
}

}  // namespace
