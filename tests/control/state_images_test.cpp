// The state-image transitions of process and module items, for every image.
#include <gtest/gtest.h>

#include "control/state_images.h"

namespace {

TEST(StateImages, TransitionsOfEveryImage) {
    struct Row {
        uint32_t s, gone, collapse, expandRunning;
    };
    // 0 plain, 1/2 holding the searched module (collapsed/expanded), 3 the searched
    // module, 4-7 the same struck through.
    const Row rows[] = {
        {0, 4, 0, 0}, {1, 5, 1, 2}, {2, 6, 1, 0}, {3, 7, 3, 0},
        {4, 4, 4, 4}, {5, 5, 5, 6}, {6, 6, 5, 6}, {7, 7, 7, 7},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.s);
        EXPECT_EQ(MarkGone(r.s), r.gone);
        EXPECT_EQ(MarkGone(MarkGone(r.s)), r.gone) << "marking twice shifts no further";
        EXPECT_EQ(ProcessImageOnCollapse(r.s), r.collapse);
        EXPECT_EQ(ProcessImageOnExpand(r.s), r.expandRunning);
    }
    // A process found gone on expanding: holding (1) becomes 6, the rest 4; its modules
    // 7 from 3, else 4.
    const uint32_t goneProcess[4] = {4, 6, 4, 4};
    const uint32_t goneModule[4] = {4, 4, 4, 7};
    for (uint32_t s = 0; s <= 3; ++s) {
        EXPECT_EQ(GoneProcessImageOnExpand(s), goneProcess[s]) << s;
        EXPECT_EQ(GoneModuleImageOnExpand(s), goneModule[s]) << s;
    }
}

TEST(StateImages, SearchMarks) {
    EXPECT_EQ(SearchedModuleImage(false, false), 0u);
    EXPECT_EQ(SearchedModuleImage(true, false), 3u);
    EXPECT_EQ(SearchedModuleImage(false, true), 4u);
    EXPECT_EQ(SearchedModuleImage(true, true), 7u);
    EXPECT_EQ(SearchedProcessImage(false, true, false), 0u);
    EXPECT_EQ(SearchedProcessImage(true, false, false), 1u);
    EXPECT_EQ(SearchedProcessImage(true, true, false), 2u);
    EXPECT_EQ(SearchedProcessImage(true, false, true), 5u);
    EXPECT_EQ(SearchedProcessImage(true, true, true), 6u);
    EXPECT_EQ(SearchedProcessImage(false, false, true), 4u);
}

}  // namespace
