#include "inspect/os_description.h"

#include <cstdio>
#include <cstring>

namespace {

const char kBlankSuffix[] = "                    ";
const char kDomainController[] = " Domain controller   ";

constexpr int32_t kSuiteEnterprise = 0x2;
constexpr int32_t kSuiteDataCenter = 0x80;
constexpr int32_t kSuitePersonal = 0x200;
constexpr int32_t kSuiteBlade = 0x400;

const char* ServerSuffix(int32_t suite, const char* enterpriseText) {
    if (suite == 0) return kBlankSuffix;
    if (suite & kSuiteDataCenter) return " DataCenter Server   ";
    if (suite & kSuiteEnterprise) return enterpriseText;
    if (suite & kSuiteBlade) return " Web Server          ";
    return " Server              ";
}

const char* NtSuffix(int32_t product) {
    switch (product) {
        case 0: return kBlankSuffix;
        case 1: return " Workstation         ";
        case 2: return kDomainController;
        case 3: return " Server              ";
        default: return "";
    }
}

const char* Windows2000Suffix(int32_t product, int32_t suite) {
    switch (product) {
        case 0: return kBlankSuffix;
        case 1: return " Professional        ";
        case 2: return kDomainController;
        case 3: return ServerSuffix(suite, " Advanced Server     ");
        default: return "";
    }
}

const char* XpSuffix(int32_t product, int32_t suite) {
    switch (product) {
        case 0: return kBlankSuffix;
        case 1:
            if (suite == 0) return kBlankSuffix;
            if (suite & kSuitePersonal) return " Home Etition     ";
            return " Professional Edition";
        case 2: return kDomainController;
        case 3: return ServerSuffix(suite, " Enterprise Server   ");
        default: return "";
    }
}

// Windows 11 keeps the version 10.0 and is told apart by its build.
constexpr uint32_t kFirstWindows11Build = 22000;

const char* Nt6BaseText(const OsNumbers& version) {
    if (version.major == 6) {
        switch (version.minor) {
            case 0: return "OS WINDOWS VISTA ";
            case 1: return "OS WINDOWS 7     ";
            case 2: return "OS WINDOWS 8     ";
            case 3: return "OS WINDOWS 8.1   ";
            default: return "OS WINDOWS 10    ";
        }
    }
    if (version.major == 10 && version.build < kFirstWindows11Build) return "OS WINDOWS 10    ";
    return "OS WINDOWS 11    ";
}

}  // namespace

const char* OsBaseText(int32_t family, const OsNumbers& version) {
    switch (family) {
        case kOsWin32s: return "OS WINDOWS 3.1      ";
        case kOsWin32: return "OS WIN32            ";
        case kOsWindows95: return "OS WINDOWS 95    ";
        case kOsWindows98: return "OS WINDOWS 98    ";
        case kOsWindowsMe: return "OS WINDOWS ME    ";
        case kOsUnknown: return "Unknown OS       ";
        case kOsWindowsNt4: return "OS WINDOWS NT 4.0 ";
        case kOsWindowsNt3: return "OS WINDOWS NT 3.51";
        case kOsWindows2000: return "OS WINDOWS 2000  ";
        case kOsWindowsXp: return "OS WINDOWS XP    ";
        case kOsWindowsDotNet: return "OS WINDOWS .NET  ";
        case kOsWindowsNt6: return Nt6BaseText(version);
        default: return "";
    }
}

const char* OsSuffixText(int32_t family, int32_t product, int32_t suite) {
    switch (family) {
        case kOsWindows95: return (product == 'B' || product == 'C') ? " OSR2                " : "";
        case kOsWindows98: return product == 'A' ? " SE                  " : "";
        case kOsWindowsNt4:
        case kOsWindowsNt3:
        case kOsWindowsNt6: return NtSuffix(product);
        case kOsWindows2000: return Windows2000Suffix(product, suite);
        case kOsWindowsXp:
        case kOsWindowsDotNet: return XpSuffix(product, suite);
        default: return "";
    }
}

OsText FormatOsDescription(int32_t family, int32_t product, int32_t suite, const OsNumbers& version) {
    OsText result;
    std::snprintf(result.text, sizeof result.text, "%s%s", OsBaseText(family, version),
                  OsSuffixText(family, product, suite));
    return result;
}

OsText FormatOsVersion(const OsVersionQuery& query) {
    OsText result;
    result.text[0] = '\0';
    if (!query.extendedOk && !query.shortOk) return result;
    // The service-pack text need not be terminated inside its field.
    const size_t packLength = strnlen(query.servicePack, sizeof query.servicePack);
    const OsNumbers version = EffectiveOsNumbers(query);
    std::snprintf(result.text, sizeof result.text, "%u.%u.%u %.*s", static_cast<unsigned>(version.major),
                  static_cast<unsigned>(version.minor), static_cast<unsigned>(version.build & 0xFFFF),
                  static_cast<int>(packLength),
                  query.servicePack);
    return result;
}
