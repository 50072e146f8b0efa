#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "inspect/os_description.h"
#include "inspect/os_family.h"

namespace {

enum Query { kExtended, kShort, kNone };

// A version query; trueMajor > 0 adds the kernel's true version beside it.
OsVersionQuery Version(Query kind, uint32_t platform, uint32_t major, uint32_t minor, const char* pack = "",
                       uint8_t product = 0, uint16_t suite = 0, uint32_t build = 1234, uint32_t trueMajor = 0,
                       uint32_t trueMinor = 0, uint32_t trueBuild = 0) {
    OsVersionQuery q = {kind == kExtended, kind == kShort, platform, major,    minor,     build,    {},
                        suite,             product,        trueMajor > 0,    trueMajor, trueMinor, trueBuild};
    std::strncpy(q.servicePack, pack, sizeof q.servicePack);
    return q;
}

// The family with its out values: NT product type and suite mask, or on the 9x path
// (later 5.x versions included) the service pack's second character, signed; zeroes
// after the short query and for other platforms; untouched when neither query answered.
TEST(OsFamily, FamilyProductAndSuite) {
    const struct { OsVersionQuery query; int32_t family, product, suite; } rows[] = {
        {Version(kExtended, 0, 3, 10, " B", 1, 0x200), kOsWin32s, 0, 0},
        {Version(kExtended, 1, 4, 0, " C", 9, 0x40), kOsWindows95, 'C', 0x40},
        {Version(kExtended, 1, 4, 9, "B"), kOsWindows95, 0, 0},
        {Version(kExtended, 1, 4, 10), kOsWindows98, 0, 0},
        {Version(kExtended, 1, 4, 90, "\x20\xC1"), kOsWindowsMe, -63, 0},
        {Version(kShort, 1, 4, 0, " B", 1, 0x200), kOsWindows95, 0, 0},
        {Version(kExtended, 3, 4, 0, " B", 1, 0x200), kOsUnknown, 0, 0},
        {Version(kExtended, 2, 3, 51), kOsWindowsNt3, 0, 0},
        {Version(kExtended, 2, 4, 0, "", 0xFF, 0xFFFF), kOsWindowsNt4, 255, 65535},
        {Version(kExtended, 2, 5, 0, "", 3, 0x2), kOsWindows2000, 3, 2},
        {Version(kShort, 2, 5, 1, "Service Pack 1", 1, 0x200), kOsWindowsXp, 0, 0},
        {Version(kExtended, 2, 5, 2), kOsWindowsDotNet, 0, 0},
        {Version(kExtended, 2, 5, 3, "Service Pack 1", 1, 0x100), kOsWin32, 'e', 0x100},
        {Version(kExtended, 2, 6, 0), kOsWindowsNt6, 0, 0},
        {Version(kNone, 2, 5, 1, "xy", 1, 1), kOsUnknown, -7, -9},
    };
    for (const auto& r : rows) {
        int32_t product = -7, suite = -9;
        EXPECT_EQ(ClassifyOsFamily(r.query, &product, &suite), r.family) << r.query.majorVersion << "." << r.query.minorVersion;
        EXPECT_EQ(product, r.product) << r.query.servicePack;
        EXPECT_EQ(suite, r.suite) << r.query.servicePack;
    }
    EXPECT_EQ(ClassifyOsFamily(Version(kExtended, 2, 5, 0, "", 3, 0x2), nullptr, nullptr), kOsWindows2000);
}

// Each edition rule once; server editions test the suite bits in order: data center,
// enterprise, blade.
TEST(OsDescription, EditionRules) {
    const std::string blank(20, ' ');
    const struct { int32_t family, product, suite; std::string text; } rows[] = {
        {kOsWindows95, 'B', 0, "OS WINDOWS 95     OSR2                "}, {kOsWindows95, 'A', 0, "OS WINDOWS 95    "},
        {kOsWindowsNt3, 2, 0, "OS WINDOWS NT 3.51 Domain controller   "}, {kOsWindowsNt4, 4, 0, "OS WINDOWS NT 4.0 "},
        {kOsWindows2000, 1, 0, "OS WINDOWS 2000   Professional        "}, {kOsWindows2000, 3, 0, "OS WINDOWS 2000  " + blank},
        {kOsWindows2000, 3, 0x82, "OS WINDOWS 2000   DataCenter Server   "},
        {kOsWindows2000, 3, 0x402, "OS WINDOWS 2000   Advanced Server     "},
        {kOsWindows2000, 3, 0x400, "OS WINDOWS 2000   Web Server          "},
        {kOsWindows2000, 3, 0x10, "OS WINDOWS 2000   Server              "},
        {kOsWindowsXp, 1, 0x300, "OS WINDOWS XP     Home Etition     "},
        {kOsWindowsXp, 1, 0x100, "OS WINDOWS XP     Professional Edition"}, {kOsWindowsXp, 1, 0, "OS WINDOWS XP    " + blank},
        {kOsWindowsDotNet, 3, 0x2, "OS WINDOWS .NET   Enterprise Server   "}, {5, 1, 0x200, ""},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(FormatOsDescription(r.family, r.product, r.suite, OsNumbers{}).text, r.text)
            << r.family << " " << r.product << " " << r.suite;
    }
}

// NT 6 and later by the true version, which the old queries may understate (8.1 and
// later without a manifest that declares them, or a compatibility setting); the version
// text of every query.
TEST(OsDescription, CurrentWindowsByTheTrueVersionAndVersionTexts) {
    const std::string blank(20, ' ');
    OsVersionQuery unterminated = Version(kExtended, 2, 4294967295u, 4294967295u, "", 0, 0, 0xFFFFFFFF);
    std::memset(unterminated.servicePack, 'x', sizeof unterminated.servicePack);
    const struct { OsVersionQuery query; std::string text, version; } rows[] = {
        {Version(kExtended, 2, 6, 0, "Service Pack 2", 1, 0, 6002), "OS WINDOWS VISTA  Workstation         ",
         "6.0.6002 Service Pack 2"},
        {Version(kExtended, 2, 6, 1, "", 3, 0, 7601, 6, 1, 7601), "OS WINDOWS 7      Server              ", "6.1.7601 "},
        {Version(kExtended, 2, 6, 2, "", 2, 0, 9200, 6, 2, 9200), "OS WINDOWS 8      Domain controller   ", "6.2.9200 "},
        {Version(kExtended, 2, 6, 2, "", 1, 0, 9200, 6, 3, 9600), "OS WINDOWS 8.1    Workstation         ", "6.3.9600 "},
        {Version(kShort, 2, 6, 2, "", 1, 0, 9200, 10, 0, 19045), "OS WINDOWS 10    " + blank, "10.0.19045 "},
        {Version(kExtended, 2, 5, 1, "Service Pack 3", 1, 0, 2600, 10, 0, 21999), "OS WINDOWS 10     Workstation         ",
         "10.0.21999 Service Pack 3"},
        {Version(kExtended, 2, 6, 2, "", 7, 0, 9200, 10, 0, 22000), "OS WINDOWS 11    ", "10.0.22000 "},
        // The true version counts on the NT platform only; a 9x build keeps the version in its high word.
        {Version(kExtended, 1, 4, 10, " A", 0, 0, 0x040A08AE, 6, 1, 7601), "OS WINDOWS 98     SE                  ",
         "4.10.2222  A"},
        {Version(kShort, 2, 4, 0, "Service Pack 6", 0, 0, 1381), "OS WINDOWS NT 4.0 " + blank, "4.0.1381 Service Pack 6"},
        {Version(kNone, 2, 4, 0, "x"), "Unknown OS       ", ""},
        {unterminated, "OS WINDOWS 11    " + blank, "4294967295.4294967295.65535 " + std::string(kServicePackTextSize, 'x')},
    };
    for (const auto& r : rows) {
        int32_t product = -1, suite = -1;
        const int32_t family = ClassifyOsFamily(r.query, &product, &suite);
        EXPECT_EQ(FormatOsDescription(family, product, suite, EffectiveOsNumbers(r.query)).text, r.text) << r.version;
        EXPECT_EQ(FormatOsVersion(r.query).text, r.version);
    }
}

}  // namespace
