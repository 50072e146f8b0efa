// Child program of os_detection_win_test: prints what the OS detection and the OS
// description say in this process, next to the system's own version answer, one
// "name=value" line each. Texts are printed in brackets so that their trailing blanks
// survive. Wine fixes the version a process sees when it starts, so the test changes
// the version setting and then starts this program.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "inspect/win/os_description_win.h"
#include "inspect/win/os_family_win.h"

int main() {
    OSVERSIONINFOEXA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) {
        std::printf("error=[version query failed]\n");
        return 1;
    }
    char servicePack[sizeof info.szCSDVersion + 1];
    std::memcpy(servicePack, info.szCSDVersion, sizeof info.szCSDVersion);
    servicePack[sizeof info.szCSDVersion] = '\0';
    std::printf("raw.platform=%lu\n", static_cast<unsigned long>(info.dwPlatformId));
    std::printf("raw.major=%lu\n", static_cast<unsigned long>(info.dwMajorVersion));
    std::printf("raw.minor=%lu\n", static_cast<unsigned long>(info.dwMinorVersion));
    std::printf("raw.build=%lu\n", static_cast<unsigned long>(info.dwBuildNumber));
    std::printf("raw.servicePack=[%s]\n", servicePack);
    std::printf("raw.productType=%u\n", static_cast<unsigned>(info.wProductType));
    std::printf("raw.suiteMask=%u\n", static_cast<unsigned>(info.wSuiteMask));

    int32_t product = -1;
    int32_t suite = -1;
    const int32_t family = DetectOsFamily(&product, &suite);
    std::printf("family=%ld\n", static_cast<long>(family));
    std::printf("familyWithoutOut=%ld\n", static_cast<long>(DetectOsFamily(nullptr, nullptr)));
    std::printf("product=%ld\n", static_cast<long>(product));
    std::printf("suite=%ld\n", static_cast<long>(suite));
    std::printf("description=[%s]\n", DescribeOs().text);
    std::printf("version=[%s]\n", DescribeOsVersion().text);
    std::fflush(stdout);
    return 0;
}
