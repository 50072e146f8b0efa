#include "inspect/os_family.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

enum class Query { Extended, Short, None };

OsVersionQuery Version(Query kind, uint32_t platform, uint32_t major, uint32_t minor,
                       const char* pack = "", uint8_t product = 0, uint16_t suite = 0) {
    OsVersionQuery q;
    std::memset(&q, 0, sizeof q);
    q.extendedOk = kind == Query::Extended;
    q.shortOk = kind == Query::Short;
    q.platformId = platform;
    q.majorVersion = major;
    q.minorVersion = minor;
    q.buildNumber = 1234;
    std::strncpy(q.servicePack, pack, sizeof q.servicePack);
    // The short query has no product type or suite mask; stale values must not leak through.
    q.productType = product;
    q.suiteMask = suite;
    return q;
}

struct Row {
    uint32_t platform, major, minor;
    int32_t family;
};

TEST(OsFamily, EveryRowOfTheCodeTableWithBothQueries) {
    const Row rows[] = {
        {0, 3, 10, kOsWin32s},       {1, 3, 95, kOsWin32},          {1, 5, 0, kOsWin32},
        {2, 6, 0, kOsWin32},         {2, 6, 1, kOsWin32},           {2, 5, 3, kOsWin32},
        {2, 10, 0, kOsWin32},        {1, 4, 0, kOsWindows95},       {1, 4, 9, kOsWindows95},
        {1, 4, 10, kOsWindows98},    {1, 4, 89, kOsWindows98},      {1, 4, 90, kOsWindowsMe},
        {1, 4, 200, kOsWindowsMe},   {3, 4, 0, kOsUnknown},         {7, 5, 1, kOsUnknown},
        {2, 4, 0, kOsWindowsNt4},    {2, 4, 7, kOsWindowsNt4},      {2, 3, 51, kOsWindowsNt3},
        {2, 0, 0, kOsWindowsNt3},    {2, 5, 0, kOsWindows2000},     {2, 5, 1, kOsWindowsXp},
        {2, 5, 2, kOsWindowsDotNet},
    };
    for (const Row& r : rows) {
        for (Query kind : {Query::Extended, Query::Short}) {
            const OsVersionQuery q = Version(kind, r.platform, r.major, r.minor, " B", 3, 0x112);
            EXPECT_EQ(ClassifyOsFamily(q, nullptr, nullptr), r.family)
                << "platform " << r.platform << " version " << r.major << "." << r.minor
                << (kind == Query::Extended ? " extended" : " short");
        }
    }
}

TEST(OsFamily, NeitherQueryGivesUnknownAndLeavesTheOutValues) {
    int32_t product = -7, suite = -9;
    EXPECT_EQ(ClassifyOsFamily(Version(Query::None, 2, 5, 1, "xy", 1, 1), &product, &suite), kOsUnknown);
    EXPECT_EQ(product, -7);
    EXPECT_EQ(suite, -9);
}

TEST(OsFamily, NtFamilyReportsProductTypeAndSuiteMaskAfterTheExtendedQuery) {
    int32_t product = -1, suite = -1;
    EXPECT_EQ(ClassifyOsFamily(Version(Query::Extended, 2, 5, 1, "Service Pack 2", 1, 0x300), &product, &suite),
              kOsWindowsXp);
    EXPECT_EQ(product, 1);
    EXPECT_EQ(suite, 0x300);
    // Both widen without sign.
    EXPECT_EQ(ClassifyOsFamily(Version(Query::Extended, 2, 4, 0, "", 0xFF, 0xFFFF), &product, &suite),
              kOsWindowsNt4);
    EXPECT_EQ(product, 255);
    EXPECT_EQ(suite, 65535);
}

TEST(OsFamily, NinetyFivePathReportsTheServicePackLetter) {
    int32_t product = -1, suite = -1;
    EXPECT_EQ(ClassifyOsFamily(Version(Query::Extended, 1, 4, 0, " C", 9, 0x40), &product, &suite), kOsWindows95);
    EXPECT_EQ(product, 'C');
    EXPECT_EQ(suite, 0x40);
    EXPECT_EQ(ClassifyOsFamily(Version(Query::Extended, 1, 4, 10, " A"), &product, &suite), kOsWindows98);
    EXPECT_EQ(product, 'A');
    // A byte above 0x7F is a signed character widened.
    EXPECT_EQ(ClassifyOsFamily(Version(Query::Extended, 1, 4, 90, "\x20\xC1"), &product, &suite), kOsWindowsMe);
    EXPECT_EQ(product, -63);
    // A text shorter than two characters has no letter.
    EXPECT_EQ(ClassifyOsFamily(Version(Query::Extended, 1, 4, 0, "B"), &product, &suite), kOsWindows95);
    EXPECT_EQ(product, 0);
    EXPECT_EQ(ClassifyOsFamily(Version(Query::Extended, 1, 4, 0, ""), &product, &suite), kOsWindows95);
    EXPECT_EQ(product, 0);
}

TEST(OsFamily, NewerNtVersionsTakeTheNinetyFivePathOutValues) {
    int32_t product = -1, suite = -1;
    EXPECT_EQ(ClassifyOsFamily(Version(Query::Extended, 2, 6, 1, "Service Pack 1", 1, 0x100), &product, &suite),
              kOsWin32);
    EXPECT_EQ(product, 'e');
    EXPECT_EQ(suite, 0x100);
}

TEST(OsFamily, ShortQueryAndUnrecognisedPlatformsGiveZeroOutValues) {
    const OsVersionQuery cases[] = {
        Version(Query::Short, 2, 5, 1, "Service Pack 1", 1, 0x200),
        Version(Query::Short, 1, 4, 0, " B", 1, 0x200),
        Version(Query::Short, 2, 6, 0, " B", 1, 0x200),
        Version(Query::Extended, 0, 3, 10, " B", 1, 0x200),
        Version(Query::Extended, 3, 4, 0, " B", 1, 0x200),
    };
    for (const OsVersionQuery& q : cases) {
        int32_t product = -1, suite = -1;
        ClassifyOsFamily(q, &product, &suite);
        EXPECT_EQ(product, 0) << "platform " << q.platformId;
        EXPECT_EQ(suite, 0) << "platform " << q.platformId;
    }
}

TEST(OsFamily, OneOutValueMayBeNull) {
    int32_t suite = -1;
    EXPECT_EQ(ClassifyOsFamily(Version(Query::Extended, 2, 5, 0, "", 3, 0x2), nullptr, &suite), kOsWindows2000);
    EXPECT_EQ(suite, 2);
    int32_t product = -1;
    EXPECT_EQ(ClassifyOsFamily(Version(Query::Extended, 1, 4, 0, " B", 0, 7), &product, nullptr), kOsWindows95);
    EXPECT_EQ(product, 'B');
}

}  // namespace
