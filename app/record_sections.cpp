#include "app/record_sections.h"

#include <cstddef>

namespace {
uint32_t IndexKey(const ItemRecord* index, uint32_t i) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(index->items[i]));
}
}  // namespace

bool FindSystemInfoSection(const ItemRecord* index, uint32_t itemKey, uint32_t* sectionKey) {
    if (!index || index->kind != kRecordTypeSystemInfoIndex || index->count == 0 || !index->items) return false;
    // Binary search for the first key above itemKey; the section is the one before it.
    uint32_t low = 0, high = index->count;
    while (low < high) {
        const uint32_t middle = low + (high - low) / 2;
        if (IndexKey(index, middle) <= itemKey) low = middle + 1;
        else high = middle;
    }
    if (low == 0) return false;
    *sectionKey = IndexKey(index, low - 1);
    return true;
}
