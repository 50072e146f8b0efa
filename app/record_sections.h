// The report view's sections: each system-information item begins one, and the index
// record under key 0 lists their item keys in ascending order.
#pragma once

#include <cstdint>

#include "report/report_line.h"

// The key of the system-information item whose section holds itemKey: the last key of
// the index that is not above it. False when the index is empty or not an index, or
// itemKey lies before its first section.
bool FindSystemInfoSection(const ItemRecord* index, uint32_t itemKey, uint32_t* sectionKey);
