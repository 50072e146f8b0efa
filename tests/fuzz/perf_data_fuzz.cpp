// Performance-data answers from the fuzzer, in two modes chosen by the first byte:
// raw bytes as the block (the signature stamped in on request), or a well-formed
// block of a few instances with the input applied as 32-bit patches and a cut.
// The same bytes also go through the counter-name walk.
#include "inspect/perf_data.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void ToAnsi(void*, const uint16_t* text, size_t length, char* out, size_t outSize) {
    size_t n = 0;
    for (; n < length && n + 1 < outSize; ++n) out[n] = text[n] < 0x80 ? static_cast<char>(text[n]) : '?';
    out[n] = '\0';
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

// Block header, object header, counters 6 (offset 8) and 784 (offset 16), then
// instances "Idle" 0, "System" 4, "_Total" 0, "app" 1234, each with a 24-byte block.
std::vector<uint8_t> Template() {
    std::vector<uint8_t> b(32 + 64 + 80, 0);
    std::memcpy(b.data(), u"PERF", 8);
    Put32(b, 24, 32);
    Put32(b, 36, 64 + 80);
    Put32(b, 40, 64);
    Put32(b, 64, 2);
    Put32(b, 72, 4);
    Put32(b, 96 + 4, 6);
    Put32(b, 96 + 36, 8);
    Put32(b, 136 + 4, 784);
    Put32(b, 136 + 36, 16);
    const char16_t* names[] = {u"Idle", u"System", u"_Total", u"app"};
    const uint32_t ids[] = {0, 4, 0, 1234};
    for (int i = 0; i < 4; ++i) {
        const size_t at = b.size();
        b.resize(at + 48 + 24, 0);
        Put32(b, at, 48);
        Put32(b, at + 16, 24);
        for (size_t k = 0; names[i][k]; ++k) std::memcpy(&b[at + 24 + 2 * k], &names[i][k], 2);
        Put32(b, at + 48, 24);
        Put32(b, at + 48 + 16, ids[i]);
    }
    return b;
}

struct Seen {
    uint32_t visits;
};

int32_t Check(void* context, const PerfProcessInstance* instance) {
    auto* seen = static_cast<Seen*>(context);
    if (++seen->visits > kPerfMaxInstances) __builtin_trap();
    if (strnlen(instance->name, sizeof instance->name) >= sizeof instance->name) __builtin_trap();
    const bool expected = instance->processId != 0 && std::strcmp(instance->name, "_Total") != 0;
    if (instance->isProcess != expected) __builtin_trap();
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::vector<uint8_t> block;
    if (data[0] & 2) {
        // Patch mode: byte 1 cuts the end off, then (offset, value) records of 5 bytes.
        block = Template();
        const size_t cut = size > 1 ? data[1] % 16 : 0;
        for (size_t at = 2; at + 5 <= size; at += 5) {
            const size_t where = data[at] % (block.size() - 3);
            uint32_t value;
            std::memcpy(&value, data + at + 1, 4);
            Put32(block, where, value);
        }
        block.resize(block.size() - cut);
    } else {
        block.assign(data, data + size);
        if (size >= 8 && (data[0] & 1)) std::memcpy(block.data(), u"PERF", 8);
    }
    block.shrink_to_fit();

    const uint32_t candidates[] = {784, 6, size >= 12 ? static_cast<uint32_t>(data[8]) : 0u};
    Seen seen = {0};
    const int32_t result = WalkPerfProcesses(block.data(), block.size(), candidates, 3, ToAnsi, nullptr, Check, &seen);
    if (result != 0 && seen.visits != 0) __builtin_trap();

    PerfProcessIds ids;
    const int32_t counted = CollectPerfProcessIds(block.data(), block.size(), candidates, 3, ToAnsi, nullptr, &ids);
    if (counted != result || ids.instanceCount != seen.visits || ids.idCount > ids.instanceCount) __builtin_trap();

    std::vector<char> list(data, data + size);
    CounterNames names;
    if (ParseCounterNames(list.data(), list.size(), &names) == 0 &&
        (names.processIndex[0] < '0' || names.processIndex[0] > '9')) {
        __builtin_trap();
    }
    FreeCounterNames(&names);
    return 0;
}
