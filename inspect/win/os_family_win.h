// The system's version query and OS family detection.
#pragma once

#include <cstdint>

#include "inspect/os_family.h"

// Runs the extended version query, and the short one when that fails; and the
// kernel's query of the true version.
void QueryOsVersion(OsVersionQuery* out);

// OsFamily code of this system; see ClassifyOsFamily for the out values.
int32_t DetectOsFamily(int32_t* productOut, int32_t* suiteOut);
