#include "inspect/perf_data.h"

#include <cstdlib>
#include <cstring>

#include "inspect/processes_names.h"

namespace {

// Layout of the performance-data block and its object type (byte offsets).
constexpr size_t kBlockHeaderLengthAt = 24;
constexpr size_t kBlockMinSize = kBlockHeaderLengthAt + 4;
constexpr size_t kObjectDefinitionLengthAt = 4;
constexpr size_t kObjectHeaderLengthAt = 8;
constexpr size_t kObjectCounterCountAt = 32;
constexpr size_t kObjectInstanceCountAt = 40;
constexpr size_t kObjectMinSize = kObjectInstanceCountAt + 4;
constexpr size_t kCounterDefinitionSize = 40;
constexpr size_t kCounterNameIndexAt = 4;
constexpr size_t kCounterOffsetAt = 36;
constexpr size_t kInstanceNameOffsetAt = 16;
constexpr size_t kInstanceMinSize = 24;

const uint8_t kSignature[8] = {'P', 0, 'E', 0, 'R', 0, 'F', 0};

// UTF-16 units handed to the conversion: every unit gives at least one byte
// of a single-byte or double-byte code page, so more could never fit a name.
constexpr size_t kMaxNameUnits = 2 * kProcessNameSize;

uint32_t ReadU32(const uint8_t* data, uint64_t at) {
    uint32_t value;
    std::memcpy(&value, data + at, sizeof value);
    return value;
}

// True when [at, at + length) lies inside a buffer of size bytes.
bool Fits(uint64_t at, uint64_t length, size_t size) {
    return at <= size && length <= size - at;
}

struct PerfObject {
    uint64_t firstCounter;
    uint32_t counterCount;
    uint64_t firstInstance;
    int32_t instanceCount;
};

bool ReadPerfObject(const uint8_t* data, size_t size, PerfObject* object) {
    if (!data || size < kBlockMinSize || std::memcmp(data, kSignature, sizeof kSignature) != 0) {
        return false;
    }
    const uint64_t at = ReadU32(data, kBlockHeaderLengthAt);
    if (!Fits(at, kObjectMinSize, size)) return false;
    object->firstInstance = at + ReadU32(data, at + kObjectDefinitionLengthAt);
    object->firstCounter = at + ReadU32(data, at + kObjectHeaderLengthAt);
    object->counterCount = ReadU32(data, at + kObjectCounterCountAt);
    object->instanceCount = static_cast<int32_t>(ReadU32(data, at + kObjectInstanceCountAt));
    return Fits(object->firstCounter, uint64_t{object->counterCount} * kCounterDefinitionSize, size);
}

bool EqualsNoCase(const char* text, size_t length, const char* ascii) {
    if (std::strlen(ascii) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        if (c != static_cast<unsigned char>(ascii[i])) return false;
    }
    return true;
}

// Length of the run of decimal digits that ends the string.
size_t TrailingDigits(const char* text, size_t length) {
    size_t run = 0;
    while (run < length && text[length - 1 - run] >= '0' && text[length - 1 - run] <= '9') ++run;
    return run;
}

bool AppendCandidate(CounterNames* names, uint32_t index) {
    if (names->idCandidateCount == names->idCandidateCapacity) {
        const uint32_t capacity = names->idCandidateCapacity ? names->idCandidateCapacity * 2 : 8;
        if (capacity <= names->idCandidateCapacity) return false;
        void* grown = std::realloc(names->idCandidates, capacity * sizeof(uint32_t));
        if (!grown) return false;
        names->idCandidates = static_cast<uint32_t*>(grown);
        names->idCandidateCapacity = capacity;
    }
    names->idCandidates[names->idCandidateCount++] = index;
    return true;
}

// Where one instance's name and process ID lie, found by the checking pass.
struct InstanceSpot {
    uint64_t nameAt;
    uint32_t nameUnits;
    uint32_t processId;
};

}  // namespace

int32_t ParseCounterNames(const char* list, size_t size, CounterNames* names) {
    std::memset(names, 0, sizeof *names);
    if (!list) return 1;
    const char* previous = nullptr;
    size_t previousLength = 0;
    size_t at = 0;
    while (at < size) {
        const char* text = list + at;
        const void* end = std::memchr(text, 0, size - at);
        if (!end) break;  // a string cut off by the end of the value is not used
        const size_t length = static_cast<size_t>(static_cast<const char*>(end) - text);
        if (length == 0) break;
        if (previous) {
            const size_t digits = TrailingDigits(previous, previousLength);
            const char* digitText = previous + previousLength - digits;
            if (EqualsNoCase(text, length, "process")) {
                if (digits > 0 && digits < kPerfIndexTextSize) {
                    std::memcpy(names->processIndex, digitText, digits);
                    names->processIndex[digits] = '\0';
                }
            } else if (EqualsNoCase(text, length, "id process") && digits > 0 && digits <= 10) {
                uint64_t number = 0;
                for (size_t i = 0; i < digits; ++i) number = number * 10 + static_cast<uint64_t>(digitText[i] - '0');
                if (number <= UINT32_MAX && !AppendCandidate(names, static_cast<uint32_t>(number))) return 1;
            }
        }
        previous = text;
        previousLength = length;
        at += length + 1;
    }
    return names->processIndex[0] != '\0' ? 0 : 1;
}

void FreeCounterNames(CounterNames* names) {
    std::free(names->idCandidates);
    names->idCandidates = nullptr;
    names->idCandidateCount = 0;
    names->idCandidateCapacity = 0;
}

uint32_t FindProcessIdCounter(const uint8_t* data, size_t size, const uint32_t* candidates,
                              uint32_t candidateCount) {
    PerfObject object;
    if (!candidates || !ReadPerfObject(data, size, &object)) return 0;
    for (uint32_t c = 0; c < candidateCount; ++c) {
        for (uint32_t i = 0; i < object.counterCount; ++i) {
            const uint64_t at = object.firstCounter + uint64_t{i} * kCounterDefinitionSize;
            if (ReadU32(data, at + kCounterNameIndexAt) != candidates[c]) continue;
            const uint32_t offset = ReadU32(data, at + kCounterOffsetAt);
            if (offset != 0) return offset;
            break;  // only the first definition with this index counts
        }
    }
    return 0;
}

int32_t WalkPerfProcesses(const uint8_t* data, size_t size, const uint32_t* candidates,
                          uint32_t candidateCount, PerfToAnsi toAnsi, void* textContext,
                          PerfInstanceVisitor visit, void* visitContext) {
    PerfObject object;
    if (!toAnsi || !visit || !ReadPerfObject(data, size, &object)) return 1;
    const uint32_t idOffset = FindProcessIdCounter(data, size, candidates, candidateCount);
    if (idOffset == 0) return 1;

    uint32_t count = 0;
    if (object.instanceCount > 0) {
        count = static_cast<uint32_t>(object.instanceCount);
        if (count > kPerfMaxInstances) count = kPerfMaxInstances;
    }

    // First pass: every instance, its name and its counter block must lie inside
    // the block before anything is reported.
    InstanceSpot spots[kPerfMaxInstances];
    uint64_t at = object.firstInstance;
    for (uint32_t i = 0; i < count; ++i) {
        if (!Fits(at, kInstanceMinSize, size)) return 1;
        const uint32_t definitionLength = ReadU32(data, at);
        if (definitionLength < kInstanceMinSize || !Fits(at, definitionLength, size)) return 1;
        // The name belongs to the instance definition, terminator included.
        const uint64_t definitionEnd = at + definitionLength;
        const uint64_t nameAt = at + ReadU32(data, at + kInstanceNameOffsetAt);
        uint64_t units = 0;
        for (;;) {
            const uint64_t unitAt = nameAt + 2 * units;
            if (unitAt > definitionEnd || definitionEnd - unitAt < 2) return 1;
            if (data[unitAt] == 0 && data[unitAt + 1] == 0) break;
            ++units;
        }
        const uint64_t counterBlock = definitionEnd;
        if (!Fits(counterBlock, 4, size)) return 1;
        const uint32_t blockLength = ReadU32(data, counterBlock);
        if (!Fits(counterBlock, blockLength, size) || uint64_t{idOffset} + 4 > blockLength) return 1;
        spots[i].nameAt = nameAt;
        spots[i].nameUnits = static_cast<uint32_t>(units);
        spots[i].processId = ReadU32(data, counterBlock + idOffset);
        at = counterBlock + blockLength;
    }

    // Second pass: convert and report.
    uint16_t units[kMaxNameUnits];
    PerfProcessInstance instance;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t length = spots[i].nameUnits < kMaxNameUnits ? spots[i].nameUnits : kMaxNameUnits;
        std::memcpy(units, data + spots[i].nameAt, length * sizeof(uint16_t));
        instance.name[0] = '\0';
        toAnsi(textContext, units, length, instance.name, sizeof instance.name);
        instance.name[sizeof instance.name - 1] = '\0';
        instance.processId = spots[i].processId;
        instance.isProcess = instance.processId != 0 && std::strcmp(instance.name, "_Total") != 0;
        const int32_t answer = visit(visitContext, &instance);
        if (answer != 0) return answer;
    }
    return 0;
}

namespace {

int32_t CollectVisitor(void* context, const PerfProcessInstance* instance) {
    auto* out = static_cast<PerfProcessIds*>(context);
    ++out->instanceCount;
    if (instance->isProcess) out->ids[out->idCount++] = instance->processId;
    return 0;
}

}  // namespace

int32_t CollectPerfProcessIds(const uint8_t* data, size_t size, const uint32_t* candidates,
                              uint32_t candidateCount, PerfToAnsi toAnsi, void* textContext,
                              PerfProcessIds* out) {
    out->instanceCount = 0;
    out->idCount = 0;
    const int32_t result =
        WalkPerfProcesses(data, size, candidates, candidateCount, toAnsi, textContext, CollectVisitor, out);
    if (result != 0) {
        out->instanceCount = 0;
        out->idCount = 0;
    }
    return result;
}

int32_t LoadCounterNames(const PerfDataOps& ops, CounterNames* names) {
    std::memset(names, 0, sizeof *names);
    if (!ops.queryCounterNames) return 1;
    uint32_t size = 0;
    if (ops.queryCounterNames(ops.context, "Counters", nullptr, &size) != kPerfQueryOk) return 1;
    if (size == 0 || size > kPerfMaxBlockSize) return 1;
    char* list = static_cast<char*>(std::calloc(size, 1));
    if (!list) return 1;
    uint32_t got = size;
    const int32_t answer = ops.queryCounterNames(ops.context, "Counters", reinterpret_cast<uint8_t*>(list), &got);
    int32_t result = 1;
    if (answer == kPerfQueryOk) result = ParseCounterNames(list, got < size ? got : size, names);
    std::free(list);
    return result;
}

int32_t QueryPerfData(const PerfDataOps& ops, const char* valueName, uint8_t** blockOut,
                      uint32_t* sizeOut) {
    *blockOut = nullptr;
    *sizeOut = 0;
    if (!ops.queryPerformanceData) return 1;
    uint32_t capacity = kPerfFirstBlockSize;
    for (;;) {
        auto* block = static_cast<uint8_t*>(std::calloc(capacity, 1));
        if (!block) return 1;
        uint32_t got = capacity;
        const int32_t answer = ops.queryPerformanceData(ops.context, valueName, block, &got);
        if (answer == kPerfQueryOk) {
            if (got < sizeof kSignature || got > capacity ||
                std::memcmp(block, kSignature, sizeof kSignature) != 0) {
                std::free(block);
                return 1;
            }
            *blockOut = block;
            *sizeOut = got;
            return 0;
        }
        std::free(block);
        if (answer != kPerfQueryMoreData) return 1;
        // The size reported with "more data" may not be larger than what was
        // offered; growing from the larger of the two always makes progress.
        const uint64_t next = uint64_t{got > capacity ? got : capacity} + kPerfGrowStep;
        if (next > kPerfMaxBlockSize) return 1;
        capacity = static_cast<uint32_t>(next);
    }
}

namespace {

struct TableFill {
    HashTable* table;
    PerfAfterInstance afterInstance;
    void* progressContext;
};

int32_t TableVisitor(void* context, const PerfProcessInstance* instance) {
    auto* fill = static_cast<TableFill*>(context);
    // A refused duplicate ID or a failed allocation leaves that one process out.
    if (instance->isProcess) InsertProcessEntry(fill->table, instance->processId, instance->name);
    return fill->afterInstance ? fill->afterInstance(fill->progressContext) : 0;
}

// Counter names and the performance-data block of the process object.
int32_t LoadProcessObject(const PerfDataOps& ops, CounterNames* names, uint8_t** block, uint32_t* size) {
    *block = nullptr;
    *size = 0;
    if (LoadCounterNames(ops, names) != 0) return 1;
    return QueryPerfData(ops, names->processIndex, block, size);
}

}  // namespace

int32_t ListPerfProcesses(const PerfDataOps& ops, HashTable* table, PerfAfterInstance afterInstance,
                          void* progressContext) {
    if (!table) return 1;
    CounterNames names;
    uint8_t* block = nullptr;
    uint32_t size = 0;
    int32_t result = LoadProcessObject(ops, &names, &block, &size);
    if (result == 0) {
        TableFill fill = {table, afterInstance, progressContext};
        result = WalkPerfProcesses(block, size, names.idCandidates, names.idCandidateCount, ops.toAnsi,
                                   ops.context, TableVisitor, &fill);
    }
    std::free(block);
    FreeCounterNames(&names);
    return result;
}

uint32_t CountPerfProcessItems(const PerfDataOps& ops, int includeModules) {
    CounterNames names;
    uint8_t* block = nullptr;
    uint32_t size = 0;
    uint32_t count = 0;
    if (LoadProcessObject(ops, &names, &block, &size) == 0) {
        auto* ids = static_cast<PerfProcessIds*>(std::malloc(sizeof(PerfProcessIds)));
        if (ids && CollectPerfProcessIds(block, size, names.idCandidates, names.idCandidateCount, ops.toAnsi,
                                         ops.context, ids) == 0) {
            count = ids->instanceCount;
            if (includeModules && ops.countModules) {
                for (uint32_t i = 0; i < ids->idCount; ++i) {
                    const uint32_t modules = ops.countModules(ops.context, ids->ids[i]);
                    count = modules > UINT32_MAX - count ? UINT32_MAX : count + modules;
                }
            }
        }
        std::free(ids);
    }
    std::free(block);
    FreeCounterNames(&names);
    return count;
}
