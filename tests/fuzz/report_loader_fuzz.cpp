// Fuzz target for report loading: the input is a whole file (after two bytes that choose
// the read size and where the sink stops), in which a line starting with a byte from 1
// to 20 starts with one of the record codes the program writes instead. The file is loaded in small reads and in whole
// chunks, which must give the same tree, and once more with the sink and the progress
// callback stopping part-way, which must give a prefix of it. Every load must keep keys
// sequential, parents earlier than their children, and the record table consistent.
#include "report/report_loader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "inspect/file_info.h"
#include "report/report_line.h"

namespace {

const uint32_t kCodes[] = {kCodeSystemInfo,     kCodeSectionHeading,        kCodeLocationHeading,
                           kCodeIniFileHeading, kCodeSubHeading,            kCodeFileTypeHeading,
                           kCodeValueEntryBase, kCodeValueEntryDetailsBase + 3, kCodeSubkeyHeadingBase + 4,
                           kCodeAutorunEntry,   kCodeAutorunEntryDetails,   kCodeAutorunSubEntry,
                           kCodeShortcutEntry,  kCodeRunningProcess,        kCodeModule,
                           kCodeEndedProcess,   kCodeEndedModule,           kCodeConnection,
                           kCodeConnection,     kCodeConnection};

std::string WithCodes(const uint8_t* data, size_t size) {
    std::string file;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = data[i];
        if ((i == 0 || data[i - 1] == '\n') && b >= 1 && b <= sizeof kCodes / sizeof kCodes[0]) {
            char code[16];
            std::snprintf(code, sizeof code, "%.8x|", static_cast<unsigned>(kCodes[b - 1]));
            file += code;
        } else {
            file += static_cast<char>(b);
        }
    }
    return file;
}

struct Sink {
    std::string tree;
    uint32_t lastKey = 0;
    uint32_t stopAtKey = 0;  // 0: never

    static int Insert(void* context, uint32_t parentKey, uint32_t key, const char* text, int hasChildren,
                      uint32_t stateImage) {
        auto* self = static_cast<Sink*>(context);
        if (key == self->stopAtKey) return 1;
        if (key != self->lastKey + 1 || parentKey >= key || (hasChildren != 0 && hasChildren != 1) ||
            (stateImage != 0 && stateImage != 4))
            std::abort();
        self->lastKey = key;
        self->tree += std::to_string(parentKey) + " " + text + (hasChildren ? "+" : "") +
                      (stateImage ? "!" : "") + "\n";
        return 0;
    }
};

struct File {
    const uint8_t* data;
    size_t size;
    size_t offset;
    size_t maxRead;
    uint64_t lastConsumed;
    int calls;
    int stopAtCall;  // 0: never

    static size_t Read(void* context, char* buffer, size_t size) {
        auto* self = static_cast<File*>(context);
        size_t n = self->size - self->offset;
        if (n > size) n = size;
        if (n > self->maxRead) n = self->maxRead;
        if (n) std::memcpy(buffer, self->data + self->offset, n);
        self->offset += n;
        return n;
    }
    static int Progress(void* context, uint64_t consumed) {
        auto* self = static_cast<File*>(context);
        if (consumed < self->lastConsumed || consumed > self->offset) std::abort();
        self->lastConsumed = consumed;
        return ++self->calls == self->stopAtCall;
    }
};

void CheckRecords(const HashTable* records, uint32_t count) {
    for (const HashTableNode* n = FirstEntry(records); n; n = NextEntry(n)) {
        uint32_t key = 0;
        if (n->keyLength != 4) std::abort();
        std::memcpy(&key, n->key, sizeof key);
        const auto* record = static_cast<const ItemRecord*>(n->value);
        if (key > count || record->count == 0 || !record->items) std::abort();
        if (key != 0) {
            if (record->kind > 7) std::abort();
            continue;
        }
        // The system-information index: ascending keys of type-7 records.
        if (record->kind != kRecordTypeSystemInfoIndex) std::abort();
        for (uint32_t i = 0; i < record->count; ++i) {
            const uintptr_t listed = IdListNumber(record, i);
            if (listed == 0 || listed > count || (i > 0 && listed <= IdListNumber(record, i - 1))) std::abort();
            const uint32_t listedKey = static_cast<uint32_t>(listed);
            const HashTableNode* item = FindEntry(records, &listedKey, 4);
            if (!item || static_cast<const ItemRecord*>(item->value)->kind != kRecordTypeSystemInfo) std::abort();
        }
    }
}

// Loads the file and returns the tree; result and item count go to the out-parameters.
std::string Load(const uint8_t* data, size_t size, size_t maxRead, uint32_t stopAtKey, int stopAtCall,
                 uint32_t* result, uint32_t* count) {
    HashTable* records = CreateTable(8, 0);
    if (!records) std::abort();
    Sink sink;
    sink.stopAtKey = stopAtKey;
    const ReportTreeSink treeSink = {&sink, Sink::Insert};
    ReportPlacer* placer = CreateReportPlacer(&treeSink, records);
    if (!placer) std::abort();
    File file = {data, size, 0, maxRead, 0, 0, stopAtCall};
    const ReportReadOps ops = {&file, File::Read, File::Progress};
    *result = LoadReportLines(&ops, placer);
    *count = ReportPlacerItemCount(placer);
    if (*count != sink.lastKey) std::abort();
    CheckRecords(records, *count);
    DestroyReportPlacer(placer);
    DestroyTable(records, 1);
    return sink.tree;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    InstallApplicationTableHooks();
    const size_t smallRead = 1 + data[0] % 61;
    const uint32_t stopAtKey = data[1];
    const int stopAtCall = 1 + data[0] % 7;
    const std::string file = WithCodes(data + 2, size - 2);
    data = reinterpret_cast<const uint8_t*>(file.data());
    size = file.size();

    uint32_t result = 0, count = 0;
    const std::string tree = Load(data, size, smallRead, 0, 0, &result, &count);
    if (result != 0) std::abort();
    uint32_t wholeResult = 0, wholeCount = 0;
    if (Load(data, size, kReportReadChunk, 0, 0, &wholeResult, &wholeCount) != tree || wholeResult != 0 ||
        wholeCount != count)
        std::abort();

    // Stopped by the sink (result 1) or the progress callback (result 3), or not at all.
    uint32_t stoppedResult = 0, stoppedCount = 0;
    const std::string part = Load(data, size, smallRead, stopAtKey, stopAtCall, &stoppedResult, &stoppedCount);
    if (tree.compare(0, part.size(), part) != 0) std::abort();
    if (stoppedResult == 1 ? stoppedCount + 1 != stopAtKey
                           : stoppedResult == 0 ? part != tree : stoppedResult != 3 || stoppedCount > count)
        std::abort();
    return 0;
}
