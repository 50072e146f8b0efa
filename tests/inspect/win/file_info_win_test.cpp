// File information against the real version library and file system under Wine.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "inspect/win/file_info_win.h"
#include "tests/support/probe_test_util.h"

namespace {

using probetest::OwnPath;
using probetest::SystemFile;
using probetest::TakeText;

const char* const kStringNames[4] = {"FileVersion", "FileDescription", "ProductName", "ProductVersion"};

// The translation and the four strings of path through the code under test, joined by
// "|", and the same through VerQueryValueA.
std::pair<std::string, std::string> ReadBothWays(const std::string& path) {
    std::string ours, theirs;
    VersionInfo info(SystemFileInfoOps());
    char text[1024];
    if (info.Load(path.c_str())) {
        ours = std::to_string(info.translation);
        for (const char* name : kStringNames) ours += "|" + std::string(text, info.QueryString(name, 0, text, sizeof text));
    }
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(path.c_str(), &ignored));
    void* value = nullptr;
    UINT length = 0;
    if (!block.empty() && GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()) &&
        VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
        WORD pair[2];
        std::memcpy(pair, value, sizeof pair);
        const uint32_t translation = (static_cast<uint32_t>(pair[0]) << 16) | pair[1];
        theirs = std::to_string(translation);
        for (const char* name : kStringNames) {
            std::snprintf(text, sizeof text, "\\StringFileInfo\\%08x\\%s", static_cast<unsigned>(translation), name);
            theirs += "|" + std::string(VerQueryValueA(block.data(), text, &value, &length) && value
                                            ? static_cast<char*>(value) : "");
        }
    }
    return {ours, theirs};
}

TEST(FileInfoWin, VersionStringsReadAsTheVersionLibraryReadsThem) {
    // Wine's rundll32.exe has no version resource: both sides must load nothing.
    const std::pair<std::string, bool> files[] = {
        {SystemFile("kernel32.dll"), true}, {SystemFile("user32.dll"), true}, {SystemFile("comctl32.dll"), true},
        {SystemFile("shell32.dll"), true},  {SystemFile("rundll32.exe"), false}};
    for (const auto& [path, resource] : files) {
        const auto [ours, theirs] = ReadBothWays(path);
        EXPECT_EQ(ours, theirs) << path;
        EXPECT_EQ(theirs.size() > 12, resource) << path;
    }
    // This program's own resource, also through the details text and an explicit translation.
    const std::string self = OwnPath();
    EXPECT_EQ(ReadBothWays(self).first,
              std::to_string(0x080404b0u) + "|3, 0, 0, 0|Korvane Inspector|Korvane Inspector|3, 0, 0, 0");
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(self.c_str(), GetFileExInfoStandard, &data));
    const std::string details = TakeText(GetFileDetails(nullptr, self.c_str(), NewIdList(0x1A4)));
    const std::string head = "1a4|" + self + "|3, 0, 0, 0|" + std::to_string(data.nFileSizeLow) + "|";
    const std::string tail = "|Korvane Inspector|Korvane Inspector|3, 0, 0, 0";
    EXPECT_EQ(details.substr(0, head.size()), head);
    EXPECT_EQ(details.substr(details.size() - std::min(details.size(), tail.size())), tail);
    VersionInfo info(SystemFileInfoOps());
    ASSERT_TRUE(info.Load(self.c_str()));
    char text[5];
    EXPECT_EQ(info.QueryString("CompanyName", 0x040904b0u, text, sizeof text), 0u);
    EXPECT_EQ(info.QueryString("CompanyName", 0x080404b0u, text, sizeof text), 7u);
    EXPECT_STREQ(text, "Korv");
}

// A sparse file of size bytes written at time, in the temporary folder; "" on failure.
std::string MakeFile(uint64_t size, const FILETIME& time) {
    const std::string path = probetest::TempFile();
    HANDLE file = path.empty() ? INVALID_HANDLE_VALUE
                               : CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    DWORD ignored = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    const bool made = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file) &&
                      SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
    return made ? path : "";
}

TEST(FileInfoWin, DetailsOfKnownAndMissingFiles) {
    SYSTEMTIME local = {2003, 7, 0, 5, 13, 4, 9, 0}, universal;
    FILETIME time;
    ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) && SystemTimeToFileTime(&universal, &time));
    // Beyond 4 GiB the whole size is shown.
    for (uint64_t size : {12345ull, 5368709121ull}) {
        const std::string path = MakeFile(size, time);
        ASSERT_FALSE(path.empty());
        char* details = nullptr;
        char* returned = GetFileDetails(&details, path.c_str(), nullptr);
        EXPECT_EQ(returned, details);
        EXPECT_EQ(TakeText(details),
                  "application does not loaded|" + path + "||" + std::to_string(size) + "|July 05, 2003 13:04:09|||");
        DeleteFileA(path.c_str());
    }
    const std::string missing = SystemFile("korvane-not-here.exe");
    EXPECT_EQ(TakeText(GetFileDetails(nullptr, missing.c_str(), NewIdList(0x1A4))), "1a4|" + missing + "||||||");
}

}  // namespace
