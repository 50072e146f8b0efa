// The module items of a live process item, and the locked-module search: which processes
// hold a given DLL, marked in the tree with state images.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstddef>
#include <cstdint>

#include "report/win/tree_batch.h"

struct SystemProbe;

constexpr size_t kSearchedPathSize = 512;

// Queues one child item per module of processId under the process item (parentNumber of
// the batch, or parentItem when that is 0): text the module's upper-case path, data its
// handle, state 3 for a module whose short path equals searchedPath when markMatches is
// set. Returns the batch number of the item to select: the module selectModuleHandle, else
// the first marked module; 0 for none. *result: the module listing's result, or 3 when a
// stop was requested. Process 0 (the idle process) has no modules: nothing, result 0.
uint32_t QueueModuleItems(SystemProbe* probe, TreeBatch* batch, HTREEITEM parentItem, uint32_t parentNumber,
                          uint32_t processId, uintptr_t selectModuleHandle, bool markMatches,
                          const char* searchedPath, HWND progressWindow, uint32_t* result);

// The same on the interface thread, inserted at once under an existing process item whose
// data is the process ID; returns the tree item to select (null for none).
HTREEITEM AddModuleItems(SystemProbe* probe, HWND tree, HTREEITEM processItem, uintptr_t selectModuleHandle,
                         bool markMatches, const char* searchedPath, uint32_t* result);

// Deletes the module items of a process item and lists its modules again under it,
// marking the one whose short path is searchedPath; returns what AddModuleItems returns.
HTREEITEM ReplaceModuleItems(SystemProbe* probe, HWND tree, HTREEITEM processItem, const char* searchedPath,
                             uint32_t* result);

// The upper-case short path form of path in out (kSearchedPathSize bytes); false, with
// out empty, when the file has none (it does not exist) or it does not fit.
bool UpperShortPath(const char* path, char* out);

// Button 1009: asks for the DLL (the search dialog, template 132), stores its short path
// in searchedPath (emptied when the file has none) and marks every module item that is
// that file and every process item that holds it; a process that cannot be opened gets
// its marks struck through. Nothing happens when the dialog is cancelled.
void RunLockedModuleSearch(SystemProbe* probe, HWND tree, char* searchedPath);
