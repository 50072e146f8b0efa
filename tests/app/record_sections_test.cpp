// Which system-information section of a loaded report an item belongs to.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/record_sections.h"

namespace {

TEST(RecordSections, LastSectionKeyNotAboveTheItem) {
    std::vector<char*> keys;
    for (uintptr_t k : {1u, 40u, 41u, 900u}) keys.push_back(reinterpret_cast<char*>(k));
    const ItemRecord index = {kRecordTypeSystemInfoIndex, static_cast<uint32_t>(keys.size()), keys.data()};
    const struct {
        uint32_t item;
        bool found;
        uint32_t section;
    } rows[] = {{0, false, 0}, {1, true, 1}, {2, true, 1}, {39, true, 1}, {40, true, 40},
                {41, true, 41}, {899, true, 41}, {900, true, 900}, {0xFFFFFFFF, true, 900}};
    for (const auto& r : rows) {
        uint32_t section = 0;
        EXPECT_EQ(FindSystemInfoSection(&index, r.item, &section), r.found) << r.item;
        EXPECT_EQ(section, r.section) << r.item;
    }
    // Not an index, or an empty one: no section.
    uint32_t section = 0;
    const ItemRecord file = {kRecordTypeFile, static_cast<uint32_t>(keys.size()), keys.data()};
    const ItemRecord empty = {kRecordTypeSystemInfoIndex, 0, nullptr};
    EXPECT_FALSE(FindSystemInfoSection(&file, 5, &section));
    EXPECT_FALSE(FindSystemInfoSection(&empty, 5, &section));
    EXPECT_FALSE(FindSystemInfoSection(nullptr, 5, &section));
}

}  // namespace
