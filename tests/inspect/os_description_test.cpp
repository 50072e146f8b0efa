#include "inspect/os_description.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Describe(int32_t family, int32_t product = 0, int32_t suite = 0) {
    return FormatOsDescription(family, product, suite).text;
}

const std::string kBlank(20, ' ');

TEST(OsDescription, BaseTextsKeepTheirWidth) {
    struct {
        int32_t family;
        const char* text;
        size_t length;
    } const bases[] = {
        {0, "OS WINDOWS 3.1      ", 20}, {1, "OS WIN32            ", 20}, {2, "OS WINDOWS 95    ", 17},
        {3, "OS WINDOWS 98    ", 17},    {4, "OS WINDOWS ME    ", 17},    {10, "Unknown OS       ", 17},
        {11, "OS WINDOWS NT 4.0 ", 18},  {12, "OS WINDOWS NT 3.51", 18},  {13, "OS WINDOWS 2000  ", 17},
        {14, "OS WINDOWS XP    ", 17},   {15, "OS WINDOWS .NET  ", 17},
    };
    for (const auto& b : bases) {
        EXPECT_STREQ(OsBaseText(b.family), b.text);
        EXPECT_EQ(std::strlen(OsBaseText(b.family)), b.length) << b.family;
    }
    for (int32_t family : {-1, 5, 6, 7, 8, 9, 16, 1000}) {
        EXPECT_STREQ(OsBaseText(family), "") << family;
        EXPECT_EQ(Describe(family, 1, 0x200), "") << family;
    }
}

TEST(OsDescription, EditionSuffixesOfTheNinetyFiveFamily) {
    EXPECT_EQ(Describe(2, 'B'), "OS WINDOWS 95     OSR2                ");
    EXPECT_EQ(Describe(2, 'C'), "OS WINDOWS 95     OSR2                ");
    EXPECT_EQ(Describe(2, 'A'), "OS WINDOWS 95    ");
    EXPECT_EQ(Describe(3, 'A'), "OS WINDOWS 98     SE                  ");
    EXPECT_EQ(Describe(3, 'B'), "OS WINDOWS 98    ");
    EXPECT_EQ(Describe(4, 'A'), "OS WINDOWS ME    ");
    EXPECT_EQ(Describe(1, 'A'), "OS WIN32            ");
    EXPECT_EQ(std::strlen(OsSuffixText(2, 'B', 0)), 21u);
    EXPECT_EQ(std::strlen(OsSuffixText(3, 'A', 0)), 21u);
}

TEST(OsDescription, NtRule) {
    for (int32_t family : {11, 12}) {
        EXPECT_EQ(OsSuffixText(family, 0, 0x2), kBlank);
        EXPECT_STREQ(OsSuffixText(family, 1, 0), " Workstation         ");
        EXPECT_STREQ(OsSuffixText(family, 2, 0), " Domain controller   ");
        EXPECT_STREQ(OsSuffixText(family, 3, 0x80), " Server              ");
        EXPECT_STREQ(OsSuffixText(family, 4, 0), "");
    }
    // NT 4 without the extended query reports product type 0.
    EXPECT_EQ(Describe(11, 0, 0), "OS WINDOWS NT 4.0 " + kBlank);
}

TEST(OsDescription, ServerSuffixTestsTheSuiteBitsInOrder) {
    EXPECT_EQ(Describe(13, 3, 0x2), "OS WINDOWS 2000   Advanced Server     ");
    EXPECT_STREQ(OsSuffixText(13, 3, 0), kBlank.c_str());
    EXPECT_STREQ(OsSuffixText(13, 3, 0x82), " DataCenter Server   ");
    EXPECT_STREQ(OsSuffixText(13, 3, 0x402), " Advanced Server     ");
    EXPECT_STREQ(OsSuffixText(13, 3, 0x400), " Web Server          ");
    EXPECT_STREQ(OsSuffixText(13, 3, 0x10), " Server              ");
    EXPECT_STREQ(OsSuffixText(15, 3, 0x2), " Enterprise Server   ");
    EXPECT_STREQ(OsSuffixText(14, 3, 0x480), " DataCenter Server   ");
    EXPECT_STREQ(OsSuffixText(13, 1, 0), " Professional        ");
    EXPECT_STREQ(OsSuffixText(13, 2, 0), " Domain controller   ");
    EXPECT_STREQ(OsSuffixText(13, 0, 0x2), kBlank.c_str());
    EXPECT_STREQ(OsSuffixText(13, 5, 0x2), "");
}

TEST(OsDescription, XpRule) {
    EXPECT_EQ(Describe(14, 1, 0x300), "OS WINDOWS XP     Home Etition     ");
    EXPECT_EQ(std::strlen(OsSuffixText(14, 1, 0x200)), 18u);
    EXPECT_STREQ(OsSuffixText(14, 1, 0x100), " Professional Edition");
    EXPECT_STREQ(OsSuffixText(14, 1, 0), kBlank.c_str());
    EXPECT_STREQ(OsSuffixText(15, 1, 0x200), " Home Etition     ");
    EXPECT_STREQ(OsSuffixText(15, 2, 0), " Domain controller   ");
    EXPECT_STREQ(OsSuffixText(14, 0, 0x200), kBlank.c_str());
    EXPECT_STREQ(OsSuffixText(14, -1, 0x200), "");
    // Every 21-character suffix really is 21 characters.
    for (int32_t family : {11, 13, 14}) {
        for (int32_t product = 0; product <= 3; ++product) {
            for (int32_t suite : {0x2, 0x80, 0x100, 0x400}) {
                EXPECT_EQ(std::strlen(OsSuffixText(family, product, suite)), product == 0 ? 20u : 21u)
                    << family << " " << product << " " << suite;
            }
        }
    }
}

OsVersionQuery Query(uint32_t major, uint32_t minor, uint32_t build, const char* pack) {
    OsVersionQuery q;
    std::memset(&q, 0, sizeof q);
    q.extendedOk = true;
    q.platformId = kPlatformWindowsNt;
    q.majorVersion = major;
    q.minorVersion = minor;
    q.buildNumber = build;
    std::strncpy(q.servicePack, pack, sizeof q.servicePack);
    return q;
}

TEST(OsDescription, VersionText) {
    EXPECT_STREQ(FormatOsVersion(Query(5, 1, 2600, "Service Pack 2")).text, "5.1.2600 Service Pack 2");
    // The 9x build number carries the version in its high word.
    EXPECT_STREQ(FormatOsVersion(Query(4, 10, 0x040A08AE, "")).text, "4.10.2222 ");
    OsVersionQuery shortOnly = Query(4, 0, 1381, "Service Pack 6");
    shortOnly.extendedOk = false;
    shortOnly.shortOk = true;
    EXPECT_STREQ(FormatOsVersion(shortOnly).text, "4.0.1381 Service Pack 6");
    OsVersionQuery none = Query(4, 0, 1381, "x");
    none.extendedOk = false;
    EXPECT_STREQ(FormatOsVersion(none).text, "");
}

TEST(OsDescription, VersionTextTakesAnUnterminatedServicePackWhole) {
    OsVersionQuery q = Query(4294967295u, 4294967295u, 0xFFFFFFFF, "");
    std::memset(q.servicePack, 'x', sizeof q.servicePack);
    const std::string text = FormatOsVersion(q).text;
    EXPECT_EQ(text, "4294967295.4294967295.65535 " + std::string(kServicePackTextSize, 'x'));
}

TEST(OsDescription, DetectionFeedsTheDescription) {
    OsVersionQuery q = Query(5, 1, 2600, "Service Pack 1");
    q.productType = 1;
    q.suiteMask = 0x200;
    int32_t product = 0, suite = 0;
    const int32_t family = ClassifyOsFamily(q, &product, &suite);
    EXPECT_EQ(FormatOsDescription(family, product, suite).text, std::string("OS WINDOWS XP     Home Etition     "));
}

}  // namespace
