// OS detection and description at Wine's default version in this process, and at
// Windows XP x64 (5.2) in a child started after the prefix's version setting changed.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "inspect/win/os_description_win.h"
#include "inspect/win/os_family_win.h"

namespace {

// Sets HKCU\Software\Wine "Version" for the object's lifetime; puts back what was there
// (or removes the value) on every path, and changes nothing when the old value cannot be kept.
struct WineVersionSetting {
    HKEY key = nullptr;
    LONG read = ERROR_INVALID_FUNCTION;  // how the old value was read
    bool applied = false;
    DWORD type = REG_SZ;
    DWORD size = 256;
    BYTE saved[256];

    explicit WineVersionSetting(const char* value) {
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                            nullptr, &key, nullptr) != ERROR_SUCCESS) {
            key = nullptr;
            return;
        }
        read = RegQueryValueExA(key, "Version", nullptr, &type, saved, &size);
        if (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND) return;
        applied = RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                 static_cast<DWORD>(std::strlen(value) + 1)) == ERROR_SUCCESS;
    }
    ~WineVersionSetting() {
        if (!key) return;
        if (read == ERROR_SUCCESS) RegSetValueExA(key, "Version", 0, type, saved, size);
        if (read == ERROR_FILE_NOT_FOUND) RegDeleteValueA(key, "Version");
        RegCloseKey(key);
    }
};

// Runs os_detection_helper.exe beside this program; its "name=[value]" lines, and
// "exit" with its exit code.
std::map<std::string, std::string> RunHelper() {
    std::map<std::string, std::string> values;
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return values;
    std::string helper(path, length);
    helper = "\"" + helper.substr(0, helper.find_last_of('\\') + 1) + "os_detection_helper.exe\"";
    FILE* output = _popen(helper.c_str(), "r");
    if (!output) return values;
    char line[512];
    while (std::fgets(line, sizeof line, output)) {
        const std::string text = line;
        const size_t open = text.find("=[");
        const size_t close = text.rfind(']');
        if (open != std::string::npos && close != std::string::npos && close > open) {
            values[text.substr(0, open)] = text.substr(open + 2, close - open - 2);
        }
    }
    values["exit"] = std::to_string(_pclose(output));
    return values;
}

std::string VersionText(unsigned long major, unsigned long minor, unsigned long build, const std::string& pack) {
    char text[256];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu %s", major, minor, build & 0xFFFF, pack.c_str());
    return text;
}

TEST(OsDetectionWin, DefaultWineVersionIsNewerThanTheKnownSystems) {
    OSVERSIONINFOEXA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)));
    ASSERT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    ASSERT_GE(info.dwMajorVersion, 6u) << "the prefix is not at Wine's default version";

    // A newer NT system takes the 9x path: the service pack's second character and the suite mask.
    int32_t product = -1;
    int32_t suite = -1;
    EXPECT_EQ(DetectOsFamily(&product, &suite), kOsWin32);
    EXPECT_EQ(product, info.szCSDVersion[0] ? static_cast<int8_t>(info.szCSDVersion[1]) : 0);
    EXPECT_EQ(suite, info.wSuiteMask);
    EXPECT_EQ(DetectOsFamily(nullptr, nullptr), kOsWin32);
    EXPECT_STREQ(DescribeOs().text, "OS WIN32            ");
    EXPECT_EQ(std::string(DescribeOsVersion().text),
              VersionText(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, info.szCSDVersion));
}

TEST(OsDetectionWin, WindowsXp64IsTheDotNetServerFamily) {
    std::map<std::string, std::string> values;
    {
        WineVersionSetting setting("winxp64");
        ASSERT_TRUE(setting.applied);
        values = RunHelper();
    }  // restored before anything is checked
    ASSERT_EQ(values["exit"], "0") << "os_detection_helper.exe did not run to its end";

    // The child's own answer: NT 5.2, a workstation without the personal-edition bit.
    ASSERT_EQ(values["platform"] + " " + values["major"] + "." + values["minor"], "2 5.2");
    ASSERT_EQ(values["productType"], "1");
    const unsigned long suiteMask = std::strtoul(values["suiteMask"].c_str(), nullptr, 10);
    ASSERT_NE(suiteMask, 0u);
    ASSERT_EQ(suiteMask & 0x200u, 0u);

    EXPECT_EQ(values["family"], "15");
    EXPECT_EQ(values["familyWithoutOut"], "15");
    EXPECT_EQ(values["product"], "1");
    EXPECT_EQ(values["suite"], values["suiteMask"]);
    EXPECT_EQ(values["description"], "OS WINDOWS .NET   Professional Edition");
    EXPECT_EQ(values["version"],
              VersionText(5, 2, std::strtoul(values["build"].c_str(), nullptr, 10), values["servicePack"]));
    // This process started before the change and keeps its own version.
    EXPECT_EQ(DetectOsFamily(nullptr, nullptr), kOsWin32);
}

}  // namespace
