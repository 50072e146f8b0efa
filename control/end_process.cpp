#include "control/end_process.h"

#include "control/state_images.h"

EndedProcessUpdate UpdateAfterEnding(bool expanded, uint32_t image, bool running) {
    if (expanded && image > StateSearchedModule) return KeepProcessItem;
    if (running) return expanded ? RebuildModuleItems : KeepProcessItem;
    return MarkProcessItemGone;
}
