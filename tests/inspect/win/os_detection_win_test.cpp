// OS detection and OS description on the systems Wine pretends to be: the default
// version in this process, and Windows XP x64 (5.2) in a child process started after
// the prefix's version setting was changed. Each result is compared with what the
// system's own version query answers in the same process.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "inspect/win/os_description_win.h"
#include "inspect/win/os_family_win.h"

namespace {

constexpr DWORD kChildTimeoutMs = 60000;

// The version setting of the prefix, HKCU\Software\Wine "Version". Changes it for the
// object's lifetime and puts back what was there (or removes the value) on every path.
class WineVersionSetting {
public:
    // value null: the setting is removed, so processes see Wine's default version.
    explicit WineVersionSetting(const char* value) {
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                            nullptr, &key_, nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        DWORD size = 0;
        if (RegQueryValueExA(key_, "Version", nullptr, &savedType_, nullptr, &size) == ERROR_SUCCESS) {
            saved_.resize(size);
            if (RegQueryValueExA(key_, "Version", nullptr, &savedType_, saved_.data(), &size) != ERROR_SUCCESS) {
                return;  // cannot keep what was there: change nothing
            }
            saved_.resize(size);
            hadValue_ = true;
        }
        LONG result;
        if (value) {
            result = RegSetValueExA(key_, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                    static_cast<DWORD>(std::strlen(value) + 1));
        } else {
            result = RegDeleteValueA(key_, "Version");
            if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
        }
        changed_ = true;  // restore even after a partial failure
        applied_ = result == ERROR_SUCCESS;
    }

    ~WineVersionSetting() {
        if (key_ && changed_) {
            if (hadValue_) {
                RegSetValueExA(key_, "Version", 0, savedType_, saved_.data(), static_cast<DWORD>(saved_.size()));
            } else {
                RegDeleteValueA(key_, "Version");
            }
        }
        if (key_) RegCloseKey(key_);
    }

    WineVersionSetting(const WineVersionSetting&) = delete;
    WineVersionSetting& operator=(const WineVersionSetting&) = delete;

    bool applied() const { return applied_; }

private:
    HKEY key_ = nullptr;
    bool hadValue_ = false;
    bool changed_ = false;
    bool applied_ = false;
    DWORD savedType_ = REG_SZ;
    std::vector<BYTE> saved_;
};

// "name=value" lines; a value in brackets keeps its blanks, without the brackets.
std::map<std::string, std::string> ParseLines(const std::string& output) {
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t equals = line.find('=');
        if (equals != std::string::npos) {
            std::string value = line.substr(equals + 1);
            if (value.size() >= 2 && value.front() == '[' && value.back() == ']') value = value.substr(1, value.size() - 2);
            values[line.substr(0, equals)] = value;
        }
        start = end + 1;
    }
    return values;
}

struct ChildResult {
    bool started = false;
    bool finished = false;
    DWORD exitCode = 0;
    std::string output;
};

// Runs os_detection_helper.exe from this program's folder and collects its standard output.
ChildResult RunHelper() {
    ChildResult result;
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return result;
    std::string helper(path, length);
    helper = helper.substr(0, helper.find_last_of('\\') + 1) + "os_detection_helper.exe";

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    std::string commandLine = "\"" + helper + "\"";
    result.started = CreateProcessA(helper.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                    &startup, &process) != FALSE;
    CloseHandle(writeEnd);  // the child holds the only write end now
    if (!result.started) {
        CloseHandle(readEnd);
        return result;
    }

    char buffer[512];
    DWORD read = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        result.output.append(buffer, read);
        if (result.output.size() > 65536) break;  // a runaway child
    }
    CloseHandle(readEnd);

    if (WaitForSingleObject(process.hProcess, kChildTimeoutMs) == WAIT_OBJECT_0) {
        result.finished = GetExitCodeProcess(process.hProcess, &result.exitCode) != FALSE;
    } else {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, kChildTimeoutMs);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

// The version text as the description builds it from the system's own answer.
std::string VersionText(unsigned long major, unsigned long minor, unsigned long build, const std::string& pack) {
    char text[256];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu %s", major, minor, build & 0xFFFF, pack.c_str());
    return text;
}

TEST(OsDetectionWin, DefaultWineVersionIsNewerThanTheKnownSystems) {
    OSVERSIONINFOEXA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)));
    ASSERT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    ASSERT_GE(info.dwMajorVersion, 6u) << "the prefix is not at Wine's default version";

    // The query as the detection sees it.
    OsVersionQuery query;
    QueryOsVersion(&query);
    EXPECT_TRUE(query.extendedOk);
    EXPECT_EQ(query.platformId, info.dwPlatformId);
    EXPECT_EQ(query.majorVersion, info.dwMajorVersion);
    EXPECT_EQ(query.minorVersion, info.dwMinorVersion);
    EXPECT_EQ(query.buildNumber, info.dwBuildNumber);
    EXPECT_EQ(query.productType, info.wProductType);
    EXPECT_EQ(query.suiteMask, info.wSuiteMask);
    EXPECT_EQ(std::strncmp(query.servicePack, info.szCSDVersion, sizeof info.szCSDVersion), 0);

    // A newer NT system takes the 9x path: its out values are the service pack's second
    // character and the suite mask.
    int32_t product = -1;
    int32_t suite = -1;
    EXPECT_EQ(DetectOsFamily(&product, &suite), kOsWin32);
    const int32_t letter = info.szCSDVersion[0] ? static_cast<int8_t>(info.szCSDVersion[1]) : 0;
    EXPECT_EQ(product, letter);
    EXPECT_EQ(suite, info.wSuiteMask);
    EXPECT_EQ(DetectOsFamily(nullptr, nullptr), kOsWin32);

    EXPECT_STREQ(DescribeOs().text, "OS WIN32            ");
    EXPECT_EQ(std::string(DescribeOsVersion().text),
              VersionText(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, info.szCSDVersion));
}

// A child started at Wine's default version detects it as the test process does,
// judged against the child's own version answer.
TEST(OsDetectionWin, ChildAtTheDefaultVersion) {
    ChildResult child;
    {
        WineVersionSetting setting(nullptr);
        ASSERT_TRUE(setting.applied());
        child = RunHelper();
    }
    ASSERT_TRUE(child.started) << "os_detection_helper.exe did not start";
    ASSERT_TRUE(child.finished) << child.output;
    std::map<std::string, std::string> values = ParseLines(child.output);
    ASSERT_EQ(child.exitCode, 0u) << values["error"];

    ASSERT_EQ(values["raw.platform"], "2");
    ASSERT_GE(std::strtoul(values["raw.major"].c_str(), nullptr, 10), 6u);
    const std::string pack = values["raw.servicePack"];
    const int32_t letter = pack.empty() ? 0 : static_cast<int8_t>(pack.size() > 1 ? pack[1] : '\0');
    EXPECT_EQ(values["family"], "1");
    EXPECT_EQ(values["familyWithoutOut"], "1");
    EXPECT_EQ(values["product"], std::to_string(letter));
    EXPECT_EQ(values["suite"], values["raw.suiteMask"]);
    EXPECT_EQ(values["description"], "OS WIN32            ");
    EXPECT_EQ(values["version"], VersionText(std::strtoul(values["raw.major"].c_str(), nullptr, 10),
                                             std::strtoul(values["raw.minor"].c_str(), nullptr, 10),
                                             std::strtoul(values["raw.build"].c_str(), nullptr, 10), pack));
}

TEST(OsDetectionWin, WindowsXp64IsTheDotNetServerFamily) {
    ChildResult child;
    {
        WineVersionSetting setting("winxp64");
        ASSERT_TRUE(setting.applied());
        child = RunHelper();
    }  // restored before anything is checked
    ASSERT_TRUE(child.started) << "os_detection_helper.exe did not start";
    ASSERT_TRUE(child.finished) << child.output;
    std::map<std::string, std::string> values = ParseLines(child.output);
    ASSERT_EQ(child.exitCode, 0u) << values["error"];

    // The system's own answer in the child: NT 5.2, a workstation without the
    // personal-edition bit.
    ASSERT_EQ(values["raw.platform"], "2");
    ASSERT_EQ(values["raw.major"], "5");
    ASSERT_EQ(values["raw.minor"], "2");
    ASSERT_EQ(values["raw.productType"], "1");
    const unsigned long suiteMask = std::strtoul(values["raw.suiteMask"].c_str(), nullptr, 10);
    ASSERT_NE(suiteMask, 0u);
    ASSERT_EQ(suiteMask & 0x200u, 0u);

    EXPECT_EQ(values["family"], "15");
    EXPECT_EQ(values["familyWithoutOut"], "15");
    EXPECT_EQ(values["product"], "1");
    EXPECT_EQ(values["suite"], std::to_string(suiteMask));
    EXPECT_EQ(values["description"], "OS WINDOWS .NET   Professional Edition");
    EXPECT_EQ(values["version"], VersionText(5, 2, std::strtoul(values["raw.build"].c_str(), nullptr, 10),
                                             values["raw.servicePack"]));

    // This process started before the change and keeps its own version.
    EXPECT_EQ(DetectOsFamily(nullptr, nullptr), kOsWin32);
}

}  // namespace
