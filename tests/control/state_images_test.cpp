// The state images of process and module items (0 plain, 1/2 holding the searched
// module collapsed/expanded, 3 the searched module, 4-7 the same struck through) and
// what the live tree does with a process item after ending its process.
#include <gtest/gtest.h>

#include "control/end_process.h"
#include "control/state_images.h"

namespace {

TEST(StateImages, TransitionsOfEveryImage) {
    // image: struck through, collapsed, expanded while running, and expanded when found
    // gone as a process item and (0 to 3 only) as one of its module items.
    const struct { uint32_t s, gone, collapse, expand, goneProcess, goneModule; } rows[] = {
        {0, 4, 0, 0, 4, 4}, {1, 5, 1, 2, 6, 4}, {2, 6, 1, 0, 4, 4}, {3, 7, 3, 0, 4, 7},
        {4, 4, 4, 4, 4, 0}, {5, 5, 5, 6, 6, 0}, {6, 6, 5, 6, 6, 0}, {7, 7, 7, 7, 7, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.s);
        EXPECT_EQ(MarkGone(r.s), r.gone);
        EXPECT_EQ(ProcessImageOnCollapse(r.s), r.collapse);
        EXPECT_EQ(ProcessImageOnExpand(r.s), r.expand);
        EXPECT_EQ(GoneProcessImageOnExpand(r.s), r.goneProcess);
        if (r.s <= 3) {
            EXPECT_EQ(GoneModuleImageOnExpand(r.s), r.goneModule);
        }
    }
    // The search's marks of a process that cannot be opened are struck through.
    EXPECT_EQ(SearchedModuleImage(true, true), 7u);
    EXPECT_EQ(SearchedProcessImage(true, false, true), 5u);
    EXPECT_EQ(SearchedProcessImage(false, true, true), 4u);
}

TEST(EndProcess, TreeUpdateByExpansionImageAndOutcome) {
    const struct { bool expanded; uint32_t image; bool running; EndedProcessUpdate update; } rows[] = {
        {true, 2, true, RebuildModuleItems}, {true, 3, false, MarkProcessItemGone}, {true, 4, true, KeepProcessItem},
        {false, 1, true, KeepProcessItem},   {false, 5, false, MarkProcessItemGone},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(UpdateAfterEnding(r.expanded, r.image, r.running), r.update) << r.expanded << r.image << r.running;
    }
}

}  // namespace
