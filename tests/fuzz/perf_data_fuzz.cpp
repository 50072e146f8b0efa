// Performance-data answers from the fuzzer, in two modes chosen by the first byte: raw
// bytes as the block (the signature stamped in on request), or a well-formed block with
// the input applied as 32-bit patches and a cut. The same bytes go through the
// counter-name walk.
#include "inspect/perf_data.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/support/perf_data_blocks.h"

namespace {

const std::vector<uint8_t> kTemplate =
    PerfBlock({{u"Idle", 0}, {u"System", 4}, {u"_Total", 0}, {u"app", 1234}}, 16, {{6, 8}, {784, 16}});
uint32_t visits;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::vector<uint8_t> block(data, data + size);
    if (data[0] & 2) {  // byte 1 cuts the end off, then records of (offset, 32-bit value)
        block = kTemplate;
        for (size_t at = 2; at + 5 <= size; at += 5) {
            uint32_t value;
            std::memcpy(&value, data + at + 1, 4);
            Put32(block, data[at] % (block.size() - 3), value);
        }
        block.resize(block.size() - (size > 1 ? data[1] % 16 : 0));
    } else if (size >= 8 && (data[0] & 1)) {
        std::memcpy(block.data(), u"PERF", 8);
    }
    block.shrink_to_fit();
    // Every visit is a real process unless it is the idle process or "_Total", with a
    // terminated name; a malformed block visits nothing; the collected IDs agree.
    const uint32_t candidates[] = {784, 6, size >= 12 ? static_cast<uint32_t>(data[8]) : 0u};
    visits = 0;
    const int32_t result = WalkPerfProcesses(
        block.data(), block.size(), candidates, 3, AsciiNameToAnsi, nullptr,
        [](void*, const PerfProcessInstance* in) {
            const bool real = in->processId != 0 && std::strcmp(in->name, "_Total") != 0;
            if (++visits > kPerfMaxInstances || strnlen(in->name, sizeof in->name) == sizeof in->name || in->isProcess != real) {
                std::abort();
            }
            return int32_t{0};
        },
        nullptr);
    PerfProcessIds ids;
    const int32_t counted = CollectPerfProcessIds(block.data(), block.size(), candidates, 3, AsciiNameToAnsi, nullptr, &ids);
    if ((result != 0 && visits != 0) || counted != result || ids.instanceCount != visits || ids.idCount > ids.instanceCount) {
        std::abort();
    }
    std::vector<char> list(data, data + size);  // exactly sized
    CounterNames names;
    const char first = ParseCounterNames(list.data(), list.size(), &names) == 0 ? names.processIndex[0] : '0';
    FreeCounterNames(&names);
    if (first < '0' || first > '9') std::abort();
    return 0;
}
