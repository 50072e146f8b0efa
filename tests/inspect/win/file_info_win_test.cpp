// File information against the real version library and file system under Wine.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "inspect/hash_table.h"
#include "inspect/win/file_info_win.h"

namespace {

std::string OwnPath() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields;
    for (size_t start = 0, bar;; start = bar + 1) {
        bar = text.find('|', start);
        fields.push_back(text.substr(start, bar == std::string::npos ? bar : bar - start));
        if (bar == std::string::npos) return fields;
    }
}

// Takes over a details text; "" stands for a null answer.
std::string Take(char* details) {
    std::string text = details ? details : "";
    std::free(details);
    return text;
}

size_t (VersionInfo::*const kGetters[4])(char*, size_t) const = {
    &VersionInfo::GetFileDescription, &VersionInfo::GetFileVersion, &VersionInfo::GetProductName,
    &VersionInfo::GetProductVersion};
const char* const kStringNames[4] = {"FileDescription", "FileVersion", "ProductName", "ProductVersion"};

std::string Query(const VersionInfo& info, int getter) {
    char text[1024];
    const size_t length = (info.*kGetters[getter])(text, sizeof text);
    EXPECT_EQ(length, std::strlen(text));
    return text;
}

// Loads path through the code under test and through VerQueryValueA and compares the
// translation and the four strings; returns how many strings were not empty.
int CompareWithVersionLibrary(const std::string& path) {
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(path.c_str(), &ignored));
    void* value = nullptr;
    UINT length = 0;
    const bool referenceLoaded = !block.empty() &&
                                 GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()) &&
                                 VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length) &&
                                 length >= 4;
    VersionInfo info(SystemFileInfoOps());
    const bool loaded = info.Load(path.c_str());
    EXPECT_EQ(loaded, referenceLoaded) << path;
    if (!loaded || !referenceLoaded) return 0;
    WORD pair[2];
    std::memcpy(pair, value, sizeof pair);
    const uint32_t translation = (static_cast<uint32_t>(pair[0]) << 16) | pair[1];
    EXPECT_EQ(info.translation, translation) << path;
    int filled = 0;
    for (int i = 0; i < 4; ++i) {
        char subBlock[128];
        std::snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%08x\\%s", static_cast<unsigned>(translation),
                      kStringNames[i]);
        std::string expected;
        if (VerQueryValueA(block.data(), subBlock, &value, &length) && value) expected = static_cast<char*>(value);
        EXPECT_EQ(Query(info, i), expected) << path << " " << kStringNames[i];
        if (!expected.empty()) ++filled;
    }
    return filled;
}

// A name of this test in the temporary folder; "" when that folder is not known.
std::string TempPath(const char* name) {
    char base[MAX_PATH] = {};
    const DWORD length = GetTempPathA(MAX_PATH, base);
    return length > 0 && length < MAX_PATH ? base + ("korvane-" + std::to_string(GetCurrentProcessId())) + " " + name
                                           : "";
}

class FileInfoWinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InstallApplicationTableHooks(); }
    void TearDown() override {
        for (const std::string& file : files_) DeleteFileA(file.c_str());
    }

    // Creates a sparse file of size bytes, written at time if given; its path, or "".
    std::string MakeFile(const char* name, uint64_t size, const FILETIME* time = nullptr) {
        const std::string path = TempPath(name);
        HANDLE file = path.empty() ? INVALID_HANDLE_VALUE
                                   : CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return "";
        files_.push_back(path);
        DWORD ignored = 0;
        DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        const bool made = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file) &&
                          (!time || SetFileTime(file, nullptr, nullptr, time));
        CloseHandle(file);
        return made ? path : "";
    }

    std::vector<std::string> files_;
};

TEST_F(FileInfoWinTest, OwnExecutableCarriesTheProgramsVersionResource) {
    const std::string self = OwnPath();
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(self.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(CompareWithVersionLibrary(self), 4);
    VersionInfo info(SystemFileInfoOps());
    ASSERT_TRUE(info.Load(self.c_str()));
    EXPECT_EQ(info.translation, 0x080404b0u);
    // The details of the running program carry the same strings.
    const std::vector<std::string> fields = SplitFields(Take(GetFileDetails(nullptr, self.c_str(), NewIdList(0x1A4))));
    ASSERT_EQ(fields.size(), 8u);
    const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    EXPECT_EQ(fields[0] + "|" + fields[1] + "|" + fields[3], "1a4|" + self + "|" + std::to_string(size));
    EXPECT_FALSE(fields[4].empty());
    const char* const expected[4] = {"Korvane Inspector", "3, 0, 0, 0", "Korvane Inspector", "3, 0, 0, 0"};
    const int detailsField[4] = {5, 2, 6, 7};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Query(info, i), expected[i]) << kStringNames[i];
        EXPECT_EQ(fields[detailsField[i]], expected[i]) << kStringNames[i];
    }

    // An explicit translation names its own table; one the file lacks gives nothing.
    char text[64];
    EXPECT_EQ(info.QueryString("CompanyName", 0x080404b0u, text, sizeof text), 7u);
    EXPECT_STREQ(text, "Korvane");
    EXPECT_EQ(info.QueryString("CompanyName", 0x040904b0u, text, sizeof text), 0u);
    EXPECT_STREQ(text, "");
    char shortText[5];
    EXPECT_EQ(info.GetProductName(shortText, sizeof shortText), std::strlen("Korvane Inspector"));
    EXPECT_STREQ(shortText, "Korv");
}

TEST_F(FileInfoWinTest, SystemLibrariesReadAsTheVersionLibraryReadsThem) {
    char folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    int filled = 0;
    for (const char* name : {"kernel32.dll", "user32.dll", "comctl32.dll", "shell32.dll", "rundll32.exe"}) {
        const std::string path = std::string(folder) + "\\" + name;
        ASSERT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path;
        filled += CompareWithVersionLibrary(path);
    }
    EXPECT_GT(filled, 0);  // the comparison means something only with version strings present
}

TEST_F(FileInfoWinTest, DetailsOfKnownAndMissingFiles) {
    SYSTEMTIME local = {2003, 7, 0, 5, 13, 4, 9, 0};
    SYSTEMTIME universal;
    FILETIME time;
    ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) &&
                SystemTimeToFileTime(&universal, &time));
    const std::string path = MakeFile("known size.dat", 12345, &time);
    ASSERT_FALSE(path.empty());

    char* details = nullptr;
    char* returned = GetFileDetails(&details, path.c_str(), nullptr);
    EXPECT_EQ(returned, details);
    EXPECT_EQ(Take(details), "application does not loaded|" + path + "||12345|July 05, 2003 13:04:09|||");

    // Beyond 4 GiB the whole size is shown.
    const std::string large = MakeFile("large.dat", 5368709121ull);
    ASSERT_FALSE(large.empty());
    EXPECT_NE(Take(GetFileDetails(nullptr, large.c_str(), nullptr)).find(large + "||5368709121|"), std::string::npos);

    const std::string missing = TempPath("not here.exe");
    EXPECT_EQ(Take(GetFileDetails(nullptr, missing.c_str(), NewIdList(0x1A4))), "1a4|" + missing + "||||||");
    EXPECT_EQ(Take(GetFileDetails(nullptr, "", nullptr)), "application does not loaded|||||||");
}

}  // namespace
