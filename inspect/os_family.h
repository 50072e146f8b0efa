// Operating-system family detection from the answers of the system's version query.
// The classification is portable; inspect/win/os_family_win.h runs the real query.
#pragma once

#include <cstddef>
#include <cstdint>

// OsFamily codes. Above kOsUnknown: NT family; below: 9x family.
constexpr int32_t kOsWin32s = 0;
constexpr int32_t kOsWin32 = 1;  // a 9x or NT version newer than the ones known here
constexpr int32_t kOsWindows95 = 2;
constexpr int32_t kOsWindows98 = 3;
constexpr int32_t kOsWindowsMe = 4;
constexpr int32_t kOsUnknown = 10;
constexpr int32_t kOsWindowsNt4 = 11;
constexpr int32_t kOsWindowsNt3 = 12;
constexpr int32_t kOsWindows2000 = 13;
constexpr int32_t kOsWindowsXp = 14;
constexpr int32_t kOsWindowsDotNet = 15;
constexpr int32_t kOsWindowsNt6 = 16;  // NT 6.0 and later: Vista, 7, 8, 8.1, 10, 11

constexpr uint32_t kPlatformWin32s = 0;
constexpr uint32_t kPlatformWindows = 1;
constexpr uint32_t kPlatformWindowsNt = 2;

constexpr size_t kServicePackTextSize = 128;

// What the version queries answered. The extended query (156-byte structure) is
// tried first; the short one (148 bytes, no product type or suite mask) only when it
// fails. The version fields hold the answer of whichever query worked. The true
// version comes from the kernel's own query, which NT systems since 2000 answer
// unaltered: Windows 8.1 and later tell the other queries 6.2 unless the program's
// manifest declares them, and compatibility settings can lower those answers.
struct OsVersionQuery {
    bool extendedOk;
    bool shortOk;
    uint32_t platformId;
    uint32_t majorVersion;
    uint32_t minorVersion;
    uint32_t buildNumber;
    char servicePack[kServicePackTextSize];  // need not be zero-terminated
    uint16_t suiteMask;
    uint8_t productType;
    bool trueOk;  // the true version below was read
    uint32_t trueMajor;
    uint32_t trueMinor;
    uint32_t trueBuild;
};

// The version numbers that detection and the texts go by: the true ones on the NT
// platform when they were read, else those of the query that worked.
struct OsNumbers {
    uint32_t major;
    uint32_t minor;
    uint32_t build;
};
OsNumbers EffectiveOsNumbers(const OsVersionQuery& query);

// Maps the query answers to an OsFamily code, by the effective version numbers.
// productOut and suiteOut may be null. NT family after the extended query: product
// type and suite mask. 9x path (also NT 5.3 and later 5.x): second character of the
// service-pack text (signed) and the suite mask. Both 0 after the short query and for
// codes 0 and 10; left untouched when neither query worked.
int32_t ClassifyOsFamily(const OsVersionQuery& query, int32_t* productOut, int32_t* suiteOut);

// Second character of the service-pack text as a signed byte widened, 0 when the
// text is shorter than two characters.
int32_t ServicePackLetter(const OsVersionQuery& query);
