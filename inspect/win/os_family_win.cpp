#include "inspect/win/os_family_win.h"

#include <windows.h>

#include <cstring>

#include "inspect/win/entry_points.h"

static_assert(sizeof(OSVERSIONINFOEXA) == 156, "extended version structure");
static_assert(sizeof(OSVERSIONINFOA) == 148, "short version structure");
static_assert(sizeof(OsVersionQuery::servicePack) == sizeof(OSVERSIONINFOA::szCSDVersion),
              "service-pack text");

namespace {
// The fields both version structures share (the extended one begins with the short one).
void CopyVersionFields(const OSVERSIONINFOA& info, OsVersionQuery* out) {
    out->platformId = info.dwPlatformId;
    out->majorVersion = info.dwMajorVersion;
    out->minorVersion = info.dwMinorVersion;
    out->buildNumber = info.dwBuildNumber;
    std::memcpy(out->servicePack, info.szCSDVersion, sizeof out->servicePack);
}

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW* info);

// The kernel's version query, looked up by name: absent on the 9x family.
void QueryTrueVersion(OsVersionQuery* out) {
    const auto query = LookUpLoadedEntry<RtlGetVersionFn>("ntdll.dll", "RtlGetVersion");
    if (!query) return;
    OSVERSIONINFOW info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (query(&info) != 0) return;  // an NTSTATUS other than success
    out->trueOk = true;
    out->trueMajor = info.dwMajorVersion;
    out->trueMinor = info.dwMinorVersion;
    out->trueBuild = info.dwBuildNumber;
}
}  // namespace

void QueryOsVersion(OsVersionQuery* out) {
    std::memset(out, 0, sizeof *out);
    QueryTrueVersion(out);

    OSVERSIONINFOEXA extended;
    std::memset(&extended, 0, sizeof extended);
    extended.dwOSVersionInfoSize = sizeof extended;
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended))) {
        out->extendedOk = true;
        CopyVersionFields(reinterpret_cast<const OSVERSIONINFOA&>(extended), out);
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
        CopyVersionFields(plain, out);
    }
}

int32_t DetectOsFamily(int32_t* productOut, int32_t* suiteOut) {
    OsVersionQuery query;
    QueryOsVersion(&query);
    return ClassifyOsFamily(query, productOut, suiteOut);
}
