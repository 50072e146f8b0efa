#include "control/state_images.h"

uint32_t ProcessImageOnCollapse(uint32_t s) {
    if (s == StateHoldsModuleExpanded) return StateHoldsModuleCollapsed;
    if (s == StateHoldsModuleExpanded + StateGoneOffset) return StateHoldsModuleCollapsed + StateGoneOffset;
    return s;
}

uint32_t ProcessImageOnExpand(uint32_t s) {
    if (s > StateSearchedModule) {
        return s == StateHoldsModuleCollapsed + StateGoneOffset ? StateHoldsModuleExpanded + StateGoneOffset : s;
    }
    return s == StateHoldsModuleCollapsed ? StateHoldsModuleExpanded : StateNone;
}

uint32_t GoneProcessImageOnExpand(uint32_t s) {
    if (s > StateSearchedModule) return ProcessImageOnExpand(s);
    return s == StateHoldsModuleCollapsed ? StateHoldsModuleExpanded + StateGoneOffset : StateGoneOffset;
}

uint32_t GoneModuleImageOnExpand(uint32_t s) {
    return s == StateSearchedModule ? StateSearchedModule + StateGoneOffset : StateGoneOffset;
}

uint32_t SearchedModuleImage(bool matches, bool gone) {
    return (matches ? StateSearchedModule : StateNone) + (gone ? StateGoneOffset : 0);
}

uint32_t SearchedProcessImage(bool holdsModule, bool expanded, bool gone) {
    const uint32_t image = holdsModule ? (expanded ? StateHoldsModuleExpanded : StateHoldsModuleCollapsed) : StateNone;
    return image + (gone ? StateGoneOffset : 0);
}
