#include "report/win/tree_batch.h"

#include <cstring>
#include <new>
#include <vector>

#include "jobs/win/progress.h"

namespace {

struct PendingItem {
    HTREEITEM parentItem;
    uint32_t parentNumber;
    size_t textOffset;
    LPARAM data;
    bool hasChildren;
    uint32_t state;
};

// Batches of more items than this are inserted with the tree's redrawing switched off.
constexpr size_t kQuietInsertItems = 32;

}  // namespace

struct TreeBatch {
    HWND tree;
    HWND progressWindow;
    std::vector<PendingItem> pending;
    std::vector<char> texts;       // the pending items' texts, each zero-terminated
    std::vector<HTREEITEM> items;  // by number - 1; null until inserted
    DWORD lastFlush;
    bool ran;                      // set by the interface thread when a batch ran
    bool failed;
};

namespace {

// Runs on the interface thread.
void InsertPending(void* argument) {
    auto* batch = static_cast<TreeBatch*>(argument);
    batch->ran = true;
    const bool quiet = batch->pending.size() > kQuietInsertItems;
    if (quiet) SendMessageW(batch->tree, WM_SETREDRAW, FALSE, 0);
    const uint32_t first = static_cast<uint32_t>(batch->items.size() - batch->pending.size());
    for (size_t i = 0; i < batch->pending.size(); ++i) {
        const PendingItem& p = batch->pending[i];
        HTREEITEM parent = p.parentNumber ? batch->items[p.parentNumber - 1] : p.parentItem;
        if (p.parentNumber && !parent) {  // its parent could not be inserted
            batch->failed = true;
            continue;
        }
        TVINSERTSTRUCTA insert = {};
        insert.hParent = parent ? parent : TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE | TVIF_CHILDREN;
        insert.item.pszText = &batch->texts[p.textOffset];
        insert.item.lParam = p.data;
        insert.item.cChildren = p.hasChildren ? 1 : 0;
        insert.item.stateMask = TVIS_STATEIMAGEMASK;
        insert.item.state = INDEXTOSTATEIMAGEMASK(p.state);
        auto item = reinterpret_cast<HTREEITEM>(
            SendMessageA(batch->tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
        if (!item) batch->failed = true;
        batch->items[first + i] = item;
    }
    if (quiet) {
        SendMessageW(batch->tree, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(batch->tree, nullptr, TRUE);
    }
}

}  // namespace

TreeBatch* CreateTreeBatch(HWND tree, HWND progressWindow) {
    auto* batch = new (std::nothrow) TreeBatch;
    if (!batch) return nullptr;
    batch->tree = tree;
    batch->progressWindow = progressWindow;
    batch->lastFlush = GetTickCount();
    batch->ran = false;
    batch->failed = false;
    return batch;
}

void DestroyTreeBatch(TreeBatch* batch) { delete batch; }

uint32_t QueueTreeItem(TreeBatch* batch, HTREEITEM parentItem, uint32_t parentNumber, const char* text,
                       LPARAM data, bool hasChildren, uint32_t state) {
    if (!batch || parentNumber > batch->items.size()) return 0;
    if (!text) text = "";
    const size_t offset = batch->texts.size();
    const size_t pendingCount = batch->pending.size();
    try {
        batch->texts.insert(batch->texts.end(), text, text + strlen(text) + 1);
        batch->pending.push_back({parentItem, parentNumber, offset, data, hasChildren, state});
        batch->items.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        // Undone whole: a pending item without its number would shift every later one.
        batch->texts.resize(offset);
        batch->pending.resize(pendingCount);
        return 0;
    }
    return static_cast<uint32_t>(batch->items.size());
}

bool FlushTreeBatch(TreeBatch* batch) {
    if (!batch) return false;
    batch->lastFlush = GetTickCount();
    if (batch->pending.empty()) return !batch->failed;
    batch->ran = false;
    RunOnInterfaceThread(batch->progressWindow, InsertPending, batch);
    if (!batch->ran) batch->failed = true;
    batch->pending.clear();
    batch->texts.clear();
    return !batch->failed;
}

bool FlushTreeBatchIfDue(TreeBatch* batch) {
    if (!batch) return false;
    if (batch->pending.size() < kTreeBatchItems && GetTickCount() - batch->lastFlush < kTreeBatchMs) {
        return !batch->failed;
    }
    return FlushTreeBatch(batch);
}

HTREEITEM TreeBatchItem(const TreeBatch* batch, uint32_t number) {
    if (!batch || number == 0 || number > batch->items.size()) return nullptr;
    return batch->items[number - 1];
}
