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

// Base text of an OsFamily code; "" for codes without one.
const char* OsBaseText(int32_t family);

// Edition suffix for a family, product value and suite mask as DetectOsFamily
// reports them; "" when the family's rule adds none.
const char* OsSuffixText(int32_t family, int32_t product, int32_t suite);

// Base text followed by the suffix.
OsText FormatOsDescription(int32_t family, int32_t product, int32_t suite);

// "major.minor.build service-pack" with the build's low 16 bits; empty when
// neither version query answered.
OsText FormatOsVersion(const OsVersionQuery& query);
