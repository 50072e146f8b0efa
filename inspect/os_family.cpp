#include "inspect/os_family.h"

namespace {

void SetOut(int32_t* productOut, int32_t* suiteOut, int32_t product, int32_t suite) {
    if (productOut) *productOut = product;
    if (suiteOut) *suiteOut = suite;
}

}  // namespace

int32_t ServicePackLetter(const OsVersionQuery& query) {
    // The second character only counts while the text has not ended before it.
    if (query.servicePack[0] == '\0') return 0;
    return static_cast<int32_t>(static_cast<int8_t>(query.servicePack[1]));
}

OsNumbers EffectiveOsNumbers(const OsVersionQuery& query) {
    if (query.trueOk && query.platformId == kPlatformWindowsNt) {
        return {query.trueMajor, query.trueMinor, query.trueBuild};
    }
    return {query.majorVersion, query.minorVersion, query.buildNumber};
}

int32_t ClassifyOsFamily(const OsVersionQuery& query, int32_t* productOut, int32_t* suiteOut) {
    if (!query.extendedOk && !query.shortOk) return kOsUnknown;
    const bool extended = query.extendedOk;
    const OsNumbers version = EffectiveOsNumbers(query);

    if (query.platformId == kPlatformWin32s) {
        SetOut(productOut, suiteOut, 0, 0);
        return kOsWin32s;
    }

    if (query.platformId == kPlatformWindowsNt) {
        if (extended) {
            SetOut(productOut, suiteOut, query.productType, query.suiteMask);
        } else {
            SetOut(productOut, suiteOut, 0, 0);
        }
        if (version.major <= 3) return kOsWindowsNt3;
        if (version.major == 4) return kOsWindowsNt4;
        if (version.major >= 6) return kOsWindowsNt6;
        if (version.minor == 0) return kOsWindows2000;
        if (version.minor == 1) return kOsWindowsXp;
        if (version.minor == 2) return kOsWindowsDotNet;
        // A later 5.x version is handled like the 9x platform below.
    } else if (query.platformId != kPlatformWindows) {
        SetOut(productOut, suiteOut, 0, 0);
        return kOsUnknown;
    }

    if (extended) {
        SetOut(productOut, suiteOut, ServicePackLetter(query), query.suiteMask);
    } else {
        SetOut(productOut, suiteOut, 0, 0);
    }
    if (version.major != 4) return kOsWin32;
    if (version.minor >= 90) return kOsWindowsMe;
    if (version.minor < 10) return kOsWindows95;
    return kOsWindows98;
}
