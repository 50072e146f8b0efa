// The tree's state images and how they change: which items hold or are the module the
// locked-module search looks for, and which processes no longer run. Pure functions of
// the current image, shared by the search, the property panel and ending a process.
#pragma once

#include <cstdint>

constexpr uint32_t StateNone = 0;
constexpr uint32_t StateHoldsModuleCollapsed = 1;  // a process holding the searched module
constexpr uint32_t StateHoldsModuleExpanded = 2;
constexpr uint32_t StateSearchedModule = 3;
constexpr uint32_t StateGoneOffset = 4;            // added to 0..3 for an item whose process has ended

// Marks an item of a process found gone: 0..3 gain the gone offset; marked items stay.
inline uint32_t MarkGone(uint32_t s) { return s <= StateSearchedModule ? s + StateGoneOffset : s; }

// A process item collapsing: the holding mark follows (2 to 1, 6 to 5).
uint32_t ProcessImageOnCollapse(uint32_t s);
// A process item expanding while it still runs (its modules are read again): 1 becomes
// 2, anything else up to 3 becomes 0; marked items (above 3) turn 5 into 6 only.
uint32_t ProcessImageOnExpand(uint32_t s);
// A process item expanding that is found gone: 1 becomes 6, anything else up to 3
// becomes 4; its module items become 7 from 3 and 4 otherwise.
uint32_t GoneProcessImageOnExpand(uint32_t s);
uint32_t GoneModuleImageOnExpand(uint32_t s);

// The search's images: a module item that is the searched one, and a process item that
// holds it (expanded or not), both plus the gone offset when the process cannot be opened.
uint32_t SearchedModuleImage(bool matches, bool gone);
uint32_t SearchedProcessImage(bool holdsModule, bool expanded, bool gone);
