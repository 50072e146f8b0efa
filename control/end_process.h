// Ending a process: what the live tree shows for the process item afterwards. The
// ending itself and the tree work are control/win/end_process.h.
#pragma once

#include <cstdint>

enum EndedProcessUpdate : int32_t {
    KeepProcessItem = 0,     // nothing changes
    RebuildModuleItems = 1,  // the process survived: its module items are read again
    MarkProcessItemGone = 2, // the item and its children get the struck-through images
};

// For a process item with state image `image`, expanded or not, after it was asked to
// end: an expanded item already marked gone stays; a survivor that is expanded has its
// modules read again, a collapsed one stays; a process that no longer runs is marked.
EndedProcessUpdate UpdateAfterEnding(bool expanded, uint32_t image, bool running);
