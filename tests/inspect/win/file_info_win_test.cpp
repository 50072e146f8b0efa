// File information through the real version library and file system under Wine.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "inspect/win/file_info_win.h"
#include "tests/support/probe_test_util.h"

namespace {

using probetest::TakeText;

// This program's own resource gives the whole details text: the version library's
// block, the system's text conversion and the file status, wired as the logic expects.
TEST(FileInfoWin, DetailsOfRealFiles) {
    const std::string self = probetest::OwnPath();
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(self.c_str(), GetFileExInfoStandard, &data));
    const std::string details = TakeText(GetFileDetails(nullptr, self.c_str(), NewIdList(0x1A4)));
    const std::string head = "1a4|" + self + "|3, 0, 0, 0|" + std::to_string(data.nFileSizeLow) + "|";
    const std::string tail = "|Korvane Inspector|Korvane Inspector|3, 0, 0, 0";
    EXPECT_EQ(details.substr(0, head.size()), head);
    EXPECT_EQ(details.substr(details.size() - std::min(details.size(), tail.size())), tail);

    // A sparse file beyond 4 GiB, written at a local time: its whole size and that time.
    SYSTEMTIME local = {2003, 7, 0, 5, 13, 4, 9, 0}, universal;
    FILETIME time;
    ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) && SystemTimeToFileTime(&universal, &time));
    const std::string path = probetest::TempFile();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD ignored = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = 5368709121LL;
    EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file) && SetFileTime(file, nullptr, nullptr, &time));
    CloseHandle(file);
    EXPECT_EQ(TakeText(GetFileDetails(nullptr, path.c_str(), nullptr)),
              "application does not loaded|" + path + "||5368709121|July 05, 2003 13:04:09|||");
    DeleteFileA(path.c_str());
}

}  // namespace
