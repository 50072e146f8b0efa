// A report file in memory, a tree sink that writes down what it is given, and a load
// that shows the tree and the record table as text: for the loader's tests, its fuzz
// target and its benchmark. A broken rule (keys not 1, 2, 3, ..., a parent not before its
// child, a progress count that goes back or past the bytes read, an inconsistent record
// table) sets `broken`.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "inspect/file_info.h"
#include "report/report_line.h"
#include "report/report_loader.h"

namespace reportfake {

// Read at most maxRead bytes at a time; the read numbered failAtRead (from 1) answers an
// error and the progress call numbered stopAtCall (from 1) asks to stop.
struct MemoryFile {
    const std::string& bytes;
    size_t maxRead = kReportReadChunk, offset = 0;
    int reads = 0, failAtRead = 0, progressCalls = 0, stopAtCall = 0;
    uint64_t lastConsumed = 0;
    bool broken = false;

    static size_t Read(void* context, char* buffer, size_t size) {
        auto* f = static_cast<MemoryFile*>(context);
        if (++f->reads == f->failAtRead) return SIZE_MAX;
        const size_t n = std::min({size, f->maxRead, f->bytes.size() - f->offset});
        std::memcpy(buffer, f->bytes.data() + f->offset, n);
        f->offset += n;
        return n;
    }
    static int Progress(void* context, uint64_t consumed) {
        auto* f = static_cast<MemoryFile*>(context);
        f->broken |= consumed < f->lastConsumed || consumed > f->offset;
        f->lastConsumed = consumed;
        return ++f->progressCalls == f->stopAtCall;
    }
};

// Items as "parent/key text" joined by "; ", "+" for the children flag and "!" for
// state image 4; key stopAtKey (0: none) is refused.
struct RecordingSink {
    std::string tree;
    uint32_t lastKey = 0, stopAtKey = 0;
    bool broken = false;

    static int Insert(void* context, uint32_t parentKey, uint32_t key, const char* text, int hasChildren,
                      uint32_t stateImage) {
        auto* s = static_cast<RecordingSink*>(context);
        if (key == s->stopAtKey) return 1;
        s->broken |= key != s->lastKey + 1 || parentKey >= key || (hasChildren != 0 && hasChildren != 1) ||
                     (stateImage != 0 && stateImage != 4);
        s->lastKey = key;
        s->tree += (s->tree.empty() ? "" : "; ") + std::to_string(parentKey) + "/" + std::to_string(key) + " " + text +
                   (hasChildren ? "+" : "") + (stateImage ? "!" : "");
        return 0;
    }
};

// The record table as "key:kind/count", the system-information index (ascending keys
// of type-7 items) as "0:[keys]".
inline std::string ShowRecords(const HashTable* records, uint32_t count, bool* broken) {
    std::string out;
    for (const HashTableNode* n = FirstEntry(records); n; n = NextEntry(n)) {
        uint32_t key = 0;
        *broken |= n->keyLength != sizeof key;
        if (n->keyLength != sizeof key) continue;
        std::memcpy(&key, n->key, sizeof key);
        const auto* r = static_cast<const ItemRecord*>(n->value);
        *broken |= key > count || r->count == 0 || !r->items ||
                   (key ? r->kind > kRecordTypeSystemInfo : r->kind != kRecordTypeSystemInfoIndex);
        out += (out.empty() ? "" : " ") + std::to_string(key) + ":";
        if (key != 0 || r->kind != kRecordTypeSystemInfoIndex) {
            out += std::to_string(r->kind) + "/" + std::to_string(r->count);
            continue;
        }
        for (uint32_t i = 0; i < r->count; ++i) {
            const uint32_t listed = static_cast<uint32_t>(IdListNumber(r, i));
            const HashTableNode* item = FindEntry(records, &listed, sizeof listed);
            *broken |= IdListNumber(r, i) != listed || listed == 0 || listed > count ||
                       (i > 0 && listed <= IdListNumber(r, i - 1)) || !item ||
                       static_cast<const ItemRecord*>(item->value)->kind != kRecordTypeSystemInfo;
            out += (i ? "," : "[") + std::to_string(listed);
        }
        out += "]";
    }
    return out;
}

struct LoadOutcome {
    uint32_t result, count;
    std::string tree, records;
    uint64_t consumed;  // as the last progress call told it
    bool broken;
};

inline LoadOutcome Load(MemoryFile& file, RecordingSink& sink, const LeadByteOps* leadBytes = nullptr) {
    InstallApplicationTableHooks();
    HashTable* records = CreateTable(8, 0);
    const ReportTreeSink treeSink = {&sink, RecordingSink::Insert};
    ReportPlacer* placer = CreateReportPlacer(&treeSink, records, leadBytes);
    const ReportReadOps ops = {&file, MemoryFile::Read, MemoryFile::Progress};
    const uint32_t result = LoadReportLines(&ops, placer);
    LoadOutcome out = {result, ReportPlacerItemCount(placer), sink.tree, "", file.lastConsumed, false};
    out.broken = file.broken || sink.broken || out.count != sink.lastKey;
    out.records = ShowRecords(records, out.count, &out.broken);
    DestroyReportPlacer(placer);
    DestroyTable(records, 1);
    return out;
}

inline LoadOutcome Load(const std::string& bytes, size_t maxRead = kReportReadChunk,
                        const LeadByteOps* leadBytes = nullptr) {
    MemoryFile file{bytes, maxRead};
    RecordingSink sink;
    return Load(file, sink, leadBytes);
}

}  // namespace reportfake
