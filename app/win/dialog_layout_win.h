// The window side of the dialog layout (the solver is app/dialog_layout.h): measures a
// dialog's direct children, maps dialog units with the dialog's own font, moves the
// controls in one deferred batch and shows the problems of a table that does not fit.
#pragma once

#include <windows.h>

#include <cstddef>

#include "app/dialog_layout.h"

// Lays out the dialog's children by the rules. A table that does not fit the dialog is
// reported in message boxes (and, unless only a metric stays open, nothing moves).
// True when the layout succeeded or there was nothing to lay out.
bool ApplyWindowLayout(HWND dialog, const LayoutRule* rules, size_t ruleCount);
