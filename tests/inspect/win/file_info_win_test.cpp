// File information through the real file system under Wine (the version library's part
// is checked by the module lines of the process-block test).
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <string>

#include "inspect/win/file_info_win.h"
#include "tests/support/probe_test_util.h"

namespace {

// A sparse file beyond 4 GiB, written at a local time: its whole size and that time.
TEST(FileInfoWin, SizeBeyondFourGigabytesAndLocalTime) {
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
    EXPECT_EQ(probetest::TakeText(GetFileDetails(nullptr, path.c_str(), nullptr)),
              "application does not loaded|" + path + "||5368709121|July 05, 2003 13:04:09|||");
    DeleteFileA(path.c_str());
}

}  // namespace
