// Command-line resolution through the real operations of the Wine prefix: each entry of
// the system table (program folder, current, Windows and system folders, environment,
// full path, the runtime's PATH search, directory entries) answers as the portable
// logic expects; the order and the edge cases of the lines are tested natively.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "autorun/win/command_line_win.h"
#include "tests/support/autorun_plant.h"
#include "tests/support/probe_test_util.h"

namespace {

// What a line resolves to; "" for nothing.
std::string Resolve(const std::string& line) {
    char* path = nullptr;
    const bool resolved = ResolveCommandLine(line.c_str(), &path);
    EXPECT_EQ(resolved, path != nullptr) << line;
    return probetest::TakeText(path);
}

TEST(CommandLineWin, EachSystemOperationAnswersAsTheLogicExpects) {
    char buffer[MAX_PATH] = {};
    ASSERT_TRUE(GetSystemDirectoryA(buffer, MAX_PATH));
    const std::string system = buffer, rundll = system + "\\rundll32.exe", windows = planttest::WindowsFolder();
    ASSERT_TRUE(GetCurrentDirectoryA(MAX_PATH, buffer));
    const std::string savedDirectory = buffer, savedPath = getenv("PATH") ? getenv("PATH") : "";
    // A current directory whose name holds a blank, with a folder named like a system program.
    const std::string root = planttest::TempFolder() + "korvane cl " + planttest::UniqueSuffix();
    const std::string own = probetest::OwnPath(), name = "korvane-order-" + planttest::UniqueSuffix() + ".exe";
    const std::string beside = own.substr(0, own.rfind('\\') + 1) + name;
    planttest::FilePlant files;
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
