#include "inspect/win/os_family_win.h"

#include <windows.h>

#include <cstring>

static_assert(sizeof(OSVERSIONINFOEXA) == 156, "extended version structure");
static_assert(sizeof(OSVERSIONINFOA) == 148, "short version structure");
static_assert(sizeof(OsVersionQuery::servicePack) == sizeof(OSVERSIONINFOA::szCSDVersion),
              "service-pack text");

void QueryOsVersion(OsVersionQuery* out) {
    std::memset(out, 0, sizeof *out);

    OSVERSIONINFOEXA extended;
    std::memset(&extended, 0, sizeof extended);
    extended.dwOSVersionInfoSize = sizeof extended;
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended))) {
        out->extendedOk = true;
        out->platformId = extended.dwPlatformId;
        out->majorVersion = extended.dwMajorVersion;
        out->minorVersion = extended.dwMinorVersion;
        out->buildNumber = extended.dwBuildNumber;
        std::memcpy(out->servicePack, extended.szCSDVersion, sizeof out->servicePack);
        out->suiteMask = extended.wSuiteMask;
        out->productType = extended.wProductType;
        return;
    }

    // Older systems know only the short structure.
    OSVERSIONINFOA plain;
    std::memset(&plain, 0, sizeof plain);
    plain.dwOSVersionInfoSize = sizeof plain;
    if (GetVersionExA(&plain)) {
        out->shortOk = true;
        out->platformId = plain.dwPlatformId;
        out->majorVersion = plain.dwMajorVersion;
        out->minorVersion = plain.dwMinorVersion;
        out->buildNumber = plain.dwBuildNumber;
        std::memcpy(out->servicePack, plain.szCSDVersion, sizeof out->servicePack);
    }
}

int32_t DetectOsFamily(int32_t* productOut, int32_t* suiteOut) {
    OsVersionQuery query;
    QueryOsVersion(&query);
    return ClassifyOsFamily(query, productOut, suiteOut);
}
