// Child of os_detection_win_test: prints the system's version answer and what the OS
// detection and description say in this process, one "name=[value]" line each.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "inspect/win/os_description_win.h"
#include "inspect/win/os_family_win.h"

int main() {
    OSVERSIONINFOEXA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return 1;
    int32_t product = -1;
    int32_t suite = -1;
    const long family = DetectOsFamily(&product, &suite);
    std::printf("platform=[%lu]\nmajor=[%lu]\nminor=[%lu]\nbuild=[%lu]\nservicePack=[%.128s]\n",
                static_cast<unsigned long>(info.dwPlatformId), static_cast<unsigned long>(info.dwMajorVersion),
                static_cast<unsigned long>(info.dwMinorVersion), static_cast<unsigned long>(info.dwBuildNumber),
                info.szCSDVersion);
    std::printf("productType=[%u]\nsuiteMask=[%u]\nfamily=[%ld]\nfamilyWithoutOut=[%ld]\nproduct=[%ld]\nsuite=[%ld]\n",
                static_cast<unsigned>(info.wProductType), static_cast<unsigned>(info.wSuiteMask), family,
                static_cast<long>(DetectOsFamily(nullptr, nullptr)), static_cast<long>(product),
                static_cast<long>(suite));
    std::printf("description=[%s]\nversion=[%s]\n", DescribeOs().text, DescribeOsVersion().text);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
