// What the live tree shows for a process item after ending its process.
#include <gtest/gtest.h>

#include "control/end_process.h"

namespace {

TEST(EndProcess, TreeUpdateByExpansionImageAndOutcome) {
    const struct {
        bool expanded;
        uint32_t image;
        bool running;
        EndedProcessUpdate update;
    } rows[] = {
        {true, 0, true, RebuildModuleItems},  {true, 2, true, RebuildModuleItems},
        {true, 3, false, MarkProcessItemGone}, {true, 4, true, KeepProcessItem},
        {true, 6, false, KeepProcessItem},     {false, 1, true, KeepProcessItem},
        {false, 1, false, MarkProcessItemGone}, {false, 5, false, MarkProcessItemGone},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(UpdateAfterEnding(r.expanded, r.image, r.running), r.update)
            << r.expanded << " " << r.image << " " << r.running;
    }
}

}  // namespace
