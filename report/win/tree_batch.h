// Tree items that a worker creates and the interface thread inserts in batches: one
// message per batch instead of one per item (a message from the worker to the interface
// thread costs far more than an insertion, above all under Wine). Items are numbered 1,
// 2, 3, ... in the order they are queued; an item's parent is an existing tree item or
// an item queued earlier. The result is exactly what inserting one item at a time, last
// under its parent, would give.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

struct TreeBatch;

// progressWindow: where the batches are run on the interface thread (see
// RunOnInterfaceThread); null inserts from the calling thread. Null when out of memory.
TreeBatch* CreateTreeBatch(HWND tree, HWND progressWindow);
void DestroyTreeBatch(TreeBatch* batch);

// Queues an item last under parentNumber (an earlier item's number) or, when that is 0,
// under parentItem (null: the root). state is a state-image index. The new item's
// number; 0 when out of memory.
uint32_t QueueTreeItem(TreeBatch* batch, HTREEITEM parentItem, uint32_t parentNumber, const char* text,
                       LPARAM data, bool hasChildren, uint32_t state);

// Inserts the queued items when enough are waiting or some time has passed since the
// last batch; FlushTreeBatch inserts them now. False when an insertion failed (or the
// interface thread could not be reached, as when the operation is being stopped).
bool FlushTreeBatchIfDue(TreeBatch* batch);
bool FlushTreeBatch(TreeBatch* batch);

// The tree item of an inserted item's number; null before its batch ran or when it failed.
HTREEITEM TreeBatchItem(const TreeBatch* batch, uint32_t number);

// Items per batch, and the longest a queued item waits while the worker goes on.
constexpr uint32_t kTreeBatchItems = 4096;
constexpr DWORD kTreeBatchMs = 250;
