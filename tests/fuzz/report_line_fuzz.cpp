// Fuzz target for the report line parser: the input is one line as read from a file,
// parsed both from an exact-size buffer (no terminator) and as a NUL-terminated text.
#include "report/report_line.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/support/lead_bytes.h"

namespace {

// The bytes of a group's items; empty fields must be null items.
size_t GroupBytes(const ItemRecord* r) {
    size_t total = 0;
    if (r && (r->kind > 7 || r->count == 0 || !r->items)) std::abort();
    for (uint32_t i = 0; r && i < r->count; ++i) {
        if (r->items[i] && std::strlen(r->items[i]) == 0) std::abort();
        total += r->items[i] ? std::strlen(r->items[i]) : 0;
    }
    return total;
}

void ParseAndCheck(const char* line, size_t length, bool bounded, size_t inputSize) {
    char *text = nullptr, *groupBText = nullptr;
    uint32_t level = 0, children = 0;
    ItemRecord *a = nullptr, *b = nullptr;
    const int result = bounded ? ParseReportLineBytes(line, length, &text, &groupBText, &level, &children, &a, &b)
                               : ParseReportLine(line, &text, &groupBText, &level, &children, &a, &b);
    // Nothing out when refused; else a level, a children flag, a proper code, and every
    // item from the line once (the group-B text is kept in group B as well).
    const size_t texts = (text ? std::strlen(text) : 0) + (groupBText ? std::strlen(groupBText) : 0);
    if (result == 0 ? text || groupBText || a || b || level || children
                    : result != 1 || level > 7 || (children != 0 && children != 8) || length < 9 || line[8] != '|' ||
                          line[0] == '-' || GroupBytes(a) > inputSize || GroupBytes(b) > inputSize ||
                          texts + GroupBytes(a) + GroupBytes(b) > 2 * inputSize) {
        std::abort();
    }
    std::free(text);
    std::free(groupBText);
    FreeItemRecord(a);
    FreeItemRecord(b);
}

// A span of the line must be whole fields as a plain byte walk splits them in GBK: it
// starts after a bar that no lead byte claims and ends at one, or at the content's end.
void CheckWholeFields(const char* line, size_t size, const char* span, size_t spanLength) {
    if (!span) return;
    size_t end = size;
    for (size_t i = 0; i < end; ++i) {
        if (line[i] == '\n' || line[i] == '\0') end = i;
    }
    if (end > 0 && line[end - 1] == '\r') --end;
    std::vector<bool> bar(end + 1, false);
    bar[8] = true;  // the code's own bar
    for (size_t i = 9; i < end; ++i) {
        if (line[i] == '|') bar[i] = true;
        else if (GbkLeadByte(nullptr, static_cast<unsigned char>(line[i])) && i + 1 < end) ++i;
    }
    const size_t from = static_cast<size_t>(span - line), to = from + spanLength;
    if (from < 9 || !bar[from - 1] || to > end || (to < end && !bar[to])) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> exact(data, data + size);  // exactly the input bytes, so any read past them is caught
    exact.shrink_to_fit();
    ParseAndCheck(exact.data(), size, true, size);
    // Split as in a double-byte code page: the text spans are whole fields of the line.
    ReportLineParts parts;
    if (SplitReportLine(exact.data(), size, &parts, &kGbk) == 1) {
        const char* end = exact.data() + size;
        if ((parts.text && parts.text + parts.textLength > end) ||
            (parts.groupBText && parts.groupBText + parts.groupBTextLength > end)) {
            std::abort();
        }
        CheckWholeFields(exact.data(), size, parts.text, parts.textLength);
        CheckWholeFields(exact.data(), size, parts.groupBText, parts.groupBTextLength);
        GroupBytes(parts.groupA);
        GroupBytes(parts.groupB);
        FreeItemRecord(parts.groupA);
        FreeItemRecord(parts.groupB);
    }
    exact.push_back('\0');
    ParseAndCheck(exact.data(), std::strlen(exact.data()), false, size);
    return 0;
}
