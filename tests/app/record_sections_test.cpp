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
    const ItemRecord file = {kRecordTypeFile, static_cast<uint32_t>(keys.size()), keys.data()};
    const ItemRecord empty = {kRecordTypeSystemInfoIndex, 0, nullptr};
    // {record, item, section}; section 0: none.
    const struct {
        const ItemRecord* record;
        uint32_t item, section;
    } rows[] = {{&index, 0, 0},   {&index, 1, 1},   {&index, 39, 1}, {&index, 40, 40}, {&index, 899, 41},
                {&index, 0xFFFFFFFF, 900}, {&file, 5, 0}, {&empty, 5, 0}, {nullptr, 5, 0}};
    for (const auto& r : rows) {
        uint32_t section = 0;
        EXPECT_EQ(FindSystemInfoSection(r.record, r.item, &section), r.section != 0) << r.item;
        EXPECT_EQ(section, r.section) << r.item;
    }
}

}  // namespace
