// The state images of process and module items: how each image changes when a process
// ends, collapses or expands, what the locked-module search marks, and what the live tree
// shows for a process item after ending its process.
#include <gtest/gtest.h>

#include "control/end_process.h"
#include "control/state_images.h"

namespace {

TEST(StateImages, TransitionsOfEveryImage) {
    struct Row { uint32_t s, gone, collapse, expandRunning; };
    // 0 plain, 1/2 holding the searched module (collapsed/expanded), 3 the searched
    // module, 4-7 the same struck through.
    const Row rows[] = {
        {0, 4, 0, 0}, {1, 5, 1, 2}, {2, 6, 1, 0}, {3, 7, 3, 0},
        {4, 4, 4, 4}, {5, 5, 5, 6}, {6, 6, 5, 6}, {7, 7, 7, 7},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.s);
        EXPECT_EQ(MarkGone(r.s), r.gone);
        EXPECT_EQ(ProcessImageOnCollapse(r.s), r.collapse);
        EXPECT_EQ(ProcessImageOnExpand(r.s), r.expandRunning);
    }
    // A process found gone on expanding: holding (1) becomes 6, the rest 4; its modules
    // 7 from 3, else 4.
    const uint32_t goneProcess[4] = {4, 6, 4, 4}, goneModule[4] = {4, 4, 4, 7};
    for (uint32_t s = 0; s <= 3; ++s) {
        EXPECT_EQ(GoneProcessImageOnExpand(s), goneProcess[s]) << s;
        EXPECT_EQ(GoneModuleImageOnExpand(s), goneModule[s]) << s;
    }
    EXPECT_EQ(GoneProcessImageOnExpand(5), 6u);
}

TEST(StateImages, SearchMarks) {
    // {matches or holds, expanded, gone}: module image, process image.
    const struct {
        bool match, expanded, gone;
        uint32_t module, process;
    } rows[] = {{false, true, false, 0, 0}, {true, false, false, 3, 1}, {true, true, false, 3, 2},
                {false, false, true, 4, 4}, {true, false, true, 7, 5},  {true, true, true, 7, 6}};
    for (const auto& r : rows) {
        EXPECT_EQ(SearchedModuleImage(r.match, r.gone), r.module) << r.match << r.gone;
        EXPECT_EQ(SearchedProcessImage(r.match, r.expanded, r.gone), r.process) << r.match << r.expanded << r.gone;
    }
}

TEST(EndProcess, TreeUpdateByExpansionImageAndOutcome) {
    const struct { bool expanded; uint32_t image; bool running; EndedProcessUpdate update; } rows[] = {
        {true, 2, true, RebuildModuleItems}, {true, 3, false, MarkProcessItemGone}, {true, 4, true, KeepProcessItem},
        {false, 1, true, KeepProcessItem},   {false, 5, false, MarkProcessItemGone},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(UpdateAfterEnding(r.expanded, r.image, r.running), r.update)
            << r.expanded << " " << r.image << " " << r.running;
    }
}

}  // namespace
