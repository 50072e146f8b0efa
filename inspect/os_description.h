// The two texts that name the operating system in the report and the property
// panel: a fixed-width product and edition description, and the version numbers
// with the service-pack text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "inspect/os_family.h"

// Large enough for any description and any version text.
constexpr size_t kOsTextSize = 160;

struct OsText {
    char text[kOsTextSize];
};

// Base text of an OsFamily code; "" for codes without one. NT 6 and later is named
// by its version: 6.0 Vista, 6.1 7, 6.2 8, 6.3 8.1, later 6.x and 10.0 below build
// 22000 10, from build 22000 (and later major versions) 11.
const char* OsBaseText(int32_t family, const OsNumbers& version);

// Edition suffix for a family, product value and suite mask as DetectOsFamily
// reports them; "" when the family's rule adds none.
const char* OsSuffixText(int32_t family, int32_t product, int32_t suite);

// Base text followed by the suffix.
OsText FormatOsDescription(int32_t family, int32_t product, int32_t suite, const OsNumbers& version);

// "major.minor.build service-pack" of the effective version numbers, with the build's
// low 16 bits; empty when neither version query answered.
OsText FormatOsVersion(const OsVersionQuery& query);
