// Fuzz target for the report line parser: the input is one line as read from a file,
// parsed both from an exact-size buffer (no terminator) and as a NUL-terminated text.
#include "report/report_line.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

size_t CheckRecord(const ItemRecord* r, size_t inputSize) {
    if (!r) return 0;
    if (r->kind > 7 || r->count == 0 || !r->items) std::abort();
    size_t total = 0;
    for (uint32_t i = 0; i < r->count; ++i) {
        if (r->items[i]) {
            const size_t n = std::strlen(r->items[i]);
            if (n == 0) std::abort();  // empty fields are null items
            total += n;
        }
    }
    if (total > inputSize) std::abort();
    return total;
}

void ParseAndCheck(const char* line, size_t length, bool bounded, size_t inputSize) {
    char* text = nullptr;
    char* groupBText = nullptr;
    uint32_t level = 0, children = 0;
    ItemRecord* a = nullptr;
    ItemRecord* b = nullptr;
    const int result = bounded
        ? ParseReportLineBytes(line, length, &text, &groupBText, &level, &children, &a, &b)
        : ParseReportLine(line, &text, &groupBText, &level, &children, &a, &b);
    if (result == 0) {
        if (text || groupBText || a || b || level || children) std::abort();
        return;
    }
    if (result != 1 || level > 7 || (children != 0 && children != 8)) std::abort();
    if (length < 9 || line[8] != '|' || line[0] == '-') std::abort();
    size_t total = CheckRecord(a, inputSize) + CheckRecord(b, inputSize);
    if (text) total += std::strlen(text);
    if (groupBText) total += std::strlen(groupBText);
    // The group-B text is also kept in group B, so it may count twice.
    if (total > 2 * inputSize) std::abort();
    std::free(text);
    std::free(groupBText);
    FreeItemRecord(a);
    FreeItemRecord(b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly the input bytes on the heap, so any read past them is caught.
    char* exact = static_cast<char*>(std::malloc(size ? size : 1));
    if (!exact) return 0;
    if (size) std::memcpy(exact, data, size);
    ParseAndCheck(exact, size, true, size);
    std::free(exact);

    std::vector<char> terminated(data, data + size);
    terminated.push_back('\0');
    ParseAndCheck(terminated.data(), std::strlen(terminated.data()), false, size);
    return 0;
}
