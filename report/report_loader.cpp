#include "report/report_loader.h"

#include <cstdlib>
#include <cstring>

#include "inspect/file_info.h"
#include "report/report_line.h"

namespace {

constexpr uint32_t kRootKey = 0;
constexpr uint32_t kEndedStateImage = 4;

// What the placer keeps of one created item: its place in the tree, for walking up from
// the current item and over a parent's children, and its text, for finding an
// application's item among its parent's children.
struct PlacedItem {
    uint32_t parent;
    uint32_t firstChild;   // 0: none
    uint32_t lastChild;
    uint32_t nextSibling;  // 0: the last child
    uint32_t textHash;     // set once the item is in the child index
    uint32_t textLength;   // lines are far shorter than 4 GiB
    size_t textOffset;     // into ReportPlacer::texts
    bool childrenIndexed;  // every child of this item is in the child index
};

// Grows *array (elementSize bytes per element) to hold at least needed elements,
// doubling; false (nothing changed) when out of memory or the size overflows.
bool Reserve(void** array, size_t* capacity, size_t needed, size_t elementSize, size_t initial) {
    if (needed <= *capacity) return true;
    size_t grown = *capacity ? *capacity : initial;
    while (grown < needed) {
        if (grown > SIZE_MAX / 2) return false;
        grown *= 2;
    }
    if (grown > SIZE_MAX / elementSize) return false;
    void* block = std::realloc(*array, grown * elementSize);
    if (!block) return false;
    *array = block;
    *capacity = grown;
    return true;
}

uint32_t TextHash(const char* text, size_t length) {
    uint32_t hash = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < length; ++i) hash = (hash ^ static_cast<unsigned char>(text[i])) * 16777619u;
    return hash;
}

uint32_t ChildSlotHash(uint32_t parent, uint32_t textHash) {
    return (textHash ^ (parent * 0x9e3779b1u)) * 0x85ebca6bu;
}

}  // namespace

struct ReportPlacer {
    ReportTreeSink sink;
    HashTable* records;
    LeadByteOps leadBytes;
    IdList* systemInfoIndex;  // stored under key 0 once the first system-information item exists
    uint32_t key;             // the last key given
    uint32_t cur;             // the current item (kRootKey before the first item)
    uint32_t depth;           // tree depth just below cur: 0 when cur is the root
    bool failed;              // a line could not be placed; no further line is accepted
    PlacedItem* items;        // [key]; entry 0 is the root
    size_t itemCapacity;
    char* texts;              // every item's text, zero-terminated, one after another
    size_t textsUsed;
    size_t textsCapacity;
    // Open-addressed index of the first child with a given text under a given parent,
    // holding the children of the items searched so far: item keys, 0 for a free slot;
    // never more than half full.
    uint32_t* childSlots;
    size_t childSlotCount;  // a power of two, or 0 before the first search
    size_t childCount;
};

namespace {

const char* ItemText(const ReportPlacer& p, uint32_t key) { return p.texts + p.items[key].textOffset; }

// The slot that holds the first child of parent with this text, or the free slot where
// it would go. The index must have a free slot.
size_t FindChildSlot(const ReportPlacer& p, uint32_t parent, const char* text, size_t length, uint32_t hash) {
    const size_t mask = p.childSlotCount - 1;
    for (size_t slot = ChildSlotHash(parent, hash) & mask;; slot = (slot + 1) & mask) {
        const uint32_t key = p.childSlots[slot];
        if (key == 0) return slot;
        const PlacedItem& item = p.items[key];
        if (item.parent == parent && item.textHash == hash && item.textLength == length &&
            std::memcmp(ItemText(p, key), text, length) == 0)
            return slot;
    }
}

// Makes room for `more` entries, rebuilding the index larger when it would pass half full.
bool ReserveChildSlots(ReportPlacer& p, size_t more) {
    if (more > SIZE_MAX / 2 - p.childCount) return false;
    if ((p.childCount + more) * 2 <= p.childSlotCount) return true;
    size_t count = p.childSlotCount ? p.childSlotCount : 256;
    while (count < (p.childCount + more) * 2) count *= 2;
    auto* slots = static_cast<uint32_t*>(std::calloc(count, sizeof(uint32_t)));
    if (!slots) return false;
    uint32_t* old = p.childSlots;
    const size_t oldCount = p.childSlotCount;
    p.childSlots = slots;
    p.childSlotCount = count;
    for (size_t i = 0; i < oldCount; ++i) {
        const uint32_t key = old[i];
        if (key == 0) continue;
        const PlacedItem& item = p.items[key];
        p.childSlots[FindChildSlot(p, item.parent, ItemText(p, key), item.textLength, item.textHash)] = key;
    }
    std::free(old);
    return true;
}

// Enters child `key` in the index unless an earlier child of its parent has its text.
// Room must have been reserved.
void IndexChild(ReportPlacer& p, uint32_t key) {
    PlacedItem& item = p.items[key];
    item.textHash = TextHash(ItemText(p, key), item.textLength);
    const size_t slot = FindChildSlot(p, item.parent, ItemText(p, key), item.textLength, item.textHash);
    if (p.childSlots[slot] == 0) {
        p.childSlots[slot] = key;
        ++p.childCount;
    }
}

// Sets *found to the first child of parent whose text equals text exactly, 0 when there is
// none; false when out of memory. A parent's children enter the index at its first search
// and from then on as they are created, so items never searched cost nothing here.
bool FindChild(ReportPlacer& p, uint32_t parent, const char* text, size_t length, uint32_t* found) {
    PlacedItem& item = p.items[parent];
    if (!item.childrenIndexed) {
        size_t children = 0;
        for (uint32_t c = item.firstChild; c != 0; c = p.items[c].nextSibling) ++children;
        if (!ReserveChildSlots(p, children + 1)) return false;
        for (uint32_t c = item.firstChild; c != 0; c = p.items[c].nextSibling) IndexChild(p, c);
        item.childrenIndexed = true;
    }
    *found = p.childSlots ? p.childSlots[FindChildSlot(p, parent, text, length, TextHash(text, length))] : 0;
    return true;
}

// Goes up from the current item until an item of level `level` would be its child, and
// returns the parent for that item. A level deeper than depth stays below cur.
uint32_t RiseTo(ReportPlacer& p, uint32_t level) {
    while (level < p.depth) {
        p.cur = p.items[p.cur].parent;
        --p.depth;
    }
    return p.cur;
}

bool StoreRecord(ReportPlacer& p, uint32_t key, ItemRecord* record) {
    void* keyBlock = NewUInt32Key(key);
    if (!keyBlock) return false;
    if (!InsertNewEntry(p.records, keyBlock, sizeof key, record)) {
        std::free(keyBlock);
        return false;
    }
    return true;
}

// Adds the key of a new system-information item to the index under key 0.
bool IndexSystemInfo(ReportPlacer& p, uint32_t key) {
    const bool created = p.systemInfoIndex == nullptr;
    if (!AppendIdListNumber(&p.systemInfoIndex, key)) return false;
    if (created && !StoreRecord(p, kRootKey, p.systemInfoIndex)) {
        FreeIdList(p.systemInfoIndex);
        p.systemInfoIndex = nullptr;
        return false;
    }
    return true;
}

// Creates the next item under parent, makes it the current item and stores *record
// (when not null) under its key; the table then owns the record and *record is null.
bool NewItem(ReportPlacer& p, uint32_t parent, const char* text, size_t length, int hasChildren,
             ItemRecord** record) {
    if (p.key == UINT32_MAX || length > UINT32_MAX) return false;
    const uint32_t key = p.key + 1;
    const bool indexed = p.items[parent].childrenIndexed;
    // Room first, so a failure leaves the placer as it was.
    if (length > SIZE_MAX - 1 - p.textsUsed ||
        !Reserve(reinterpret_cast<void**>(&p.texts), &p.textsCapacity, p.textsUsed + length + 1, 1, 1 << 16) ||
        !Reserve(reinterpret_cast<void**>(&p.items), &p.itemCapacity, size_t{key} + 1, sizeof(PlacedItem), 1024) ||
        (indexed && !ReserveChildSlots(p, 1)))
        return false;
    char* stored = p.texts + p.textsUsed;
    std::memcpy(stored, text, length);
    stored[length] = '\0';
    const uint32_t stateImage = *record && (*record)->kind == kRecordTypeEndedFile ? kEndedStateImage : 0;
    if (p.sink.insertItem(p.sink.context, parent, key, stored, hasChildren, stateImage) != 0) return false;

    p.key = key;
    p.items[key] = {parent, 0, 0, 0, 0, static_cast<uint32_t>(length), p.textsUsed, false};
    p.textsUsed += length + 1;
    PlacedItem& parentItem = p.items[parent];
    if (parentItem.lastChild) {
        p.items[parentItem.lastChild].nextSibling = key;
    } else {
        parentItem.firstChild = key;
    }
    parentItem.lastChild = key;
    if (indexed) IndexChild(p, key);
    p.cur = key;
    p.depth += 1;

    if (*record) {
        const bool systemInfo = (*record)->kind == kRecordTypeSystemInfo;
        if (!StoreRecord(p, key, *record)) return false;
        *record = nullptr;
        if (systemInfo && !IndexSystemInfo(p, key)) return false;
    }
    return true;
}

// Places the items of one split line; the records it stores leave `line`.
bool PlaceParts(ReportPlacer& p, ReportLineParts& line) {
    if (line.groupBText) {
        uint32_t found = 0;
        if (line.groupA && line.groupA->kind == kRecordTypeConnection) {
            // A connection row goes below its application's item, made by the first row.
            if (!FindChild(p, RiseTo(p, line.level), line.groupBText, line.groupBTextLength, &found)) return false;
            if (found != 0) {
                p.cur = found;
                p.depth += 1;
            }
        }
        if (found == 0 && !NewItem(p, RiseTo(p, line.level), line.groupBText, line.groupBTextLength, 1, &line.groupB))
            return false;
    }
    if (line.text) {
        // Below the group-B item when the line has one.
        const uint32_t level = line.level + (line.groupBText ? 1 : 0);
        if (!NewItem(p, RiseTo(p, level), line.text, line.textLength, line.hasChildren ? 1 : 0, &line.groupA))
            return false;
    }
    return true;
}

}  // namespace

ReportPlacer* CreateReportPlacer(const ReportTreeSink* sink, HashTable* records, const LeadByteOps* leadBytes) {
    // The placer numbers the entries itself, so it stores them without a duplicate
    // search; a table that already holds entries could hold its keys.
    if (!sink || !sink->insertItem || !records || FirstEntry(records)) return nullptr;
    auto* p = static_cast<ReportPlacer*>(std::calloc(1, sizeof(ReportPlacer)));
    if (!p) return nullptr;
    p->sink = *sink;
    p->records = records;
    if (leadBytes) p->leadBytes = *leadBytes;
    if (!Reserve(reinterpret_cast<void**>(&p->items), &p->itemCapacity, 1, sizeof(PlacedItem), 1024)) {
        std::free(p);
        return nullptr;
    }
    p->items[kRootKey] = {kRootKey, 0, 0, 0, 0, 0, 0, false};
    return p;
}

int PlaceReportLine(ReportPlacer* placer, const char* line, size_t length) {
    if (!placer || placer->failed) return 1;
    ReportLineParts parts;
    const int split = SplitReportLine(line, length, &parts, &placer->leadBytes);
    if (split == 0) return 0;
    const bool placed = split == 1 && PlaceParts(*placer, parts);
    FreeItemRecord(parts.groupA);
    FreeItemRecord(parts.groupB);
    if (!placed) placer->failed = true;
    return placed ? 0 : 1;
}

uint32_t ReportPlacerItemCount(const ReportPlacer* placer) { return placer ? placer->key : 0; }

void DestroyReportPlacer(ReportPlacer* placer) {
    if (!placer) return;
    std::free(placer->items);
    std::free(placer->texts);
    std::free(placer->childSlots);
    std::free(placer);
}

namespace {

// Places one line of the file (line end removed); false when placing failed.
bool PlaceFileLine(ReportPlacer* placer, const char* line, size_t length) {
    if (length > 0 && line[length - 1] == '\r') --length;
    if (length == 0 || length > kMaxReportLineBytes) return true;
    return PlaceReportLine(placer, line, length) == 0;
}

}  // namespace

uint32_t LoadReportLines(const ReportReadOps* ops, ReportPlacer* placer) {
    if (!ops || !ops->read || !placer) return 1;
    char* data = nullptr;
    size_t capacity = 0;
    size_t pending = 0;     // bytes of a line not yet ended, at the start of data
    bool skipping = false;  // inside a line longer than kMaxReportLineBytes
    uint64_t consumed = 0;
    uint32_t result = 0;
    for (;;) {
        // pending stays at most kMaxReportLineBytes + 1 (a CR may follow the longest line).
        if (!Reserve(reinterpret_cast<void**>(&data), &capacity, pending + kReportReadChunk, 1,
                     2 * kReportReadChunk)) {
            result = 1;
            break;
        }
        const size_t got = ops->read(ops->context, data + pending, kReportReadChunk);
        if (got > kReportReadChunk) {
            result = 1;
            break;
        }
        if (got == 0) {
            if (pending > 0) {
                if (!skipping && !PlaceFileLine(placer, data, pending)) {
                    result = 1;
                    break;
                }
                consumed += pending;
                if (ops->progress) ops->progress(ops->context, consumed);
            }
            break;
        }
        // Lines end in this chunk; the pending part had no line end, so the search starts
        // after it.
        const size_t end = pending + got;
        size_t start = 0;
        for (size_t scan = pending; scan < end;) {
            const auto* lf = static_cast<const char*>(std::memchr(data + scan, '\n', end - scan));
            if (!lf) break;
            const size_t stop = static_cast<size_t>(lf - data);
            if (skipping) {
                skipping = false;
            } else if (!PlaceFileLine(placer, data + start, stop - start)) {
                result = 1;
                break;
            }
            consumed += stop + 1 - start;
            start = scan = stop + 1;
        }
        if (result != 0) break;
        pending = end - start;
        if (skipping || pending > kMaxReportLineBytes + 1) {
            skipping = true;  // the rest of this line is dropped up to its line end
            consumed += pending;
            pending = 0;
        } else if (start > 0 && pending > 0) {
            std::memmove(data, data + start, pending);
        }
        if (ops->progress && ops->progress(ops->context, consumed) != 0) {
            result = 3;
            break;
        }
    }
    std::free(data);
    return result;
}
