// Performance-data blocks of one object, built for the tests and the fuzz target.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

struct PerfInstance { std::u16string name; uint32_t processId; };
struct PerfCounter { uint32_t nameIndex, offset; };

// 784 is the process-ID counter.
inline const std::vector<PerfCounter> kPerfCounters = {{6, 8}, {784, 16}, {1410, 24}};

inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

// A name conversion for the walk: ASCII stays, every other unit becomes '?'; cut short at outSize.
inline void AsciiNameToAnsi(void*, const uint16_t* text, size_t length, char* out, size_t outSize) {
    size_t n = 0;
    for (; n < length && n + 1 < outSize; ++n) out[n] = text[n] < 0x80 ? static_cast<char>(text[n]) : '?';
    out[n] = '\0';
}

// Block header (32), object header (64), counter definitions (40 each), then each instance
// with a 32-byte counter block holding its ID at idOffset. declared -2: as many as built.
inline std::vector<uint8_t> PerfBlock(const std::vector<PerfInstance>& instances, uint32_t idOffset = 16,
                                      const std::vector<PerfCounter>& counters = kPerfCounters,
                                      int32_t declared = -2) {
    const uint32_t header = static_cast<uint32_t>(64 + 40 * counters.size());
    std::vector<uint8_t> b(32 + header, 0);
    std::memcpy(&b[0], u"PERF", 8);
    const auto count = static_cast<uint32_t>(declared == -2 ? static_cast<int32_t>(instances.size()) : declared);
    for (auto [at, v] : {std::pair<size_t, uint32_t>{24, 32}, {36, header}, {40, 64},
                         {64, static_cast<uint32_t>(counters.size())}, {72, count}}) {
        Put32(b, at, v);
    }
    for (size_t i = 0; i < counters.size(); ++i) {
        Put32(b, 96 + 40 * i, 40);
        Put32(b, 96 + 40 * i + 4, counters[i].nameIndex);
        Put32(b, 96 + 40 * i + 36, counters[i].offset);
    }
    for (const PerfInstance& inst : instances) {
        const size_t at = b.size(), nameBytes = (inst.name.size() + 1) * 2;
        const size_t definition = (24 + nameBytes + 7) / 8 * 8;
        b.resize(at + definition + 32, 0);
        Put32(b, at, static_cast<uint32_t>(definition));
        Put32(b, at + 16, 24);
        Put32(b, at + 20, static_cast<uint32_t>(nameBytes));
        std::memcpy(&b[at + 24], inst.name.data(), inst.name.size() * 2);
        Put32(b, at + definition, 32);
        Put32(b, at + definition + idOffset, inst.processId);
    }
    Put32(b, 32, static_cast<uint32_t>(b.size() - 32));
    return b;
}
