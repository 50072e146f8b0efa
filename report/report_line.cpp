#include "report/report_line.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kSeparatorHead[] = "--------|";
constexpr char kLineEnd[] = "\r\n";
constexpr size_t kCodeDigits = 8;

void WriteText(FILE* stream, const char* text) {
    if (text && *text) std::fputs(text, stream);
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A group being filled: the record plus the capacity of its items array, which is
// allocated once, for the most fields the group can receive.
struct GroupBuilder {
    ItemRecord* record;
    size_t capacity;
};

// Appends one field (null item when empty); creates the record with room for capacity
// items on the first append.
bool AppendField(GroupBuilder& group, uint32_t type, const char* start, size_t length) {
    if (!group.record) {
        if (group.capacity == 0 || group.capacity > SIZE_MAX / sizeof(char*)) return false;
        auto* record = static_cast<ItemRecord*>(std::malloc(sizeof(ItemRecord)));
        auto* items = static_cast<char**>(std::malloc(group.capacity * sizeof(char*)));
        if (!record || !items) {
            std::free(record);
            std::free(items);
            return false;
        }
        *record = {type, 0, items};
        group.record = record;
    }
    ItemRecord& record = *group.record;
    if (record.count == group.capacity || record.count == UINT32_MAX) return false;
    char* item = nullptr;
    if (length) {
        item = NewTextCopy(start, length);
        if (!item) return false;
    }
    record.items[record.count++] = item;
    return true;
}

void ClearOutputs(char** textOut, char** groupBTextOut, uint32_t* levelOut, uint32_t* hasChildrenOut,
                  ItemRecord** groupAOut, ItemRecord** groupBOut) {
    if (textOut) *textOut = nullptr;
    if (groupBTextOut) *groupBTextOut = nullptr;
    if (levelOut) *levelOut = 0;
    if (hasChildrenOut) *hasChildrenOut = 0;
    if (groupAOut) *groupAOut = nullptr;
    if (groupBOut) *groupBOut = nullptr;
}

// Length of the line's content: up to the first NUL or LF within length bytes, less a
// CR directly before that end.
size_t ContentLength(const char* line, size_t length) {
    size_t end = length;
    if (const void* lf = std::memchr(line, '\n', end)) end = static_cast<size_t>(static_cast<const char*>(lf) - line);
    if (const void* nul = std::memchr(line, '\0', end)) end = static_cast<size_t>(static_cast<const char*>(nul) - line);
    if (end > 0 && line[end - 1] == '\r') --end;
    return end;
}

// The first byte above 0x7F in [c, limit), or limit; eight bytes at a time.
const char* FirstHighByte(const char* c, const char* limit) {
    for (uint64_t word; limit - c >= 8; c += 8) {
        std::memcpy(&word, c, sizeof word);
        if (word & 0x8080808080808080u) break;
    }
    while (c < limit && static_cast<unsigned char>(*c) <= 0x7F) ++c;
    return c;
}

// FindBar with lead bytes. Only the bytes before a bar decide whether it is a trail
// byte; a run without a byte above 0x7F is passed over whole.
const char* FindBarAfterLeadBytes(const char* from, const char* end, const LeadByteOps* leadBytes) {
    const char* bar = static_cast<const char*>(std::memchr(from, '|', static_cast<size_t>(end - from)));
    for (const char* c = from; bar;) {
        c = FirstHighByte(c, bar);
        if (c == bar) return bar;
        const auto byte = static_cast<unsigned char>(*c);
        c += c + 1 < end && leadBytes->isLeadByte(leadBytes->context, byte) ? 2 : 1;
        if (c > bar) bar = static_cast<const char*>(std::memchr(c, '|', static_cast<size_t>(end - c)));
    }
    return nullptr;
}

// The first field bar in [from, end). With lead bytes, the trail byte of a double-byte
// character is never taken for one (in GBK, Shift-JIS and Big5 it can be "|"); the lead
// bytes of these code pages are all above 0x7F, so ASCII bytes are not asked about.
const char* FindBar(const char* from, const char* end, const LeadByteOps* leadBytes) {
    if (leadBytes && leadBytes->isLeadByte) return FindBarAfterLeadBytes(from, end, leadBytes);
    return static_cast<const char*>(std::memchr(from, '|', static_cast<size_t>(end - from)));
}

// The code of a record line whose content is end bytes long: false unless the line
// starts with exactly eight hexadecimal digits and "|".
bool CodeOfContent(const char* line, size_t end, uint32_t* code) {
    if (end <= kCodeDigits || line[kCodeDigits] != '|' || line[0] == '-') return false;
    uint32_t value = 0;
    for (size_t i = 0; i < kCodeDigits; ++i) {
        const int digit = HexDigitValue(line[i]);
        if (digit < 0) return false;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    *code = value;
    return true;
}

}  // namespace

RecordCodeFields DecodeRecordCode(uint32_t code) {
    return {RecordLevel(code),       RecordHasChildren(code) ? 1u : 0u,
            RecordSkipA(code),       RecordSkipB(code),
            RecordSplitField(code),  RecordTextField(code),
            RecordGroupBTextField(code), RecordTypeA(code),
            RecordTypeB(code)};
}

uint32_t EncodeRecordCode(const RecordCodeFields& f) {
    return (f.level & 7) | (f.hasChildren ? 8u : 0u) | ((f.skipA & 3) << 4) | ((f.skipB & 3) << 6) |
           ((f.splitField & 63) << 8) | ((f.textField & 63) << 14) |
           ((f.groupBTextField & 63) << 20) | ((f.typeA & 7) << 26) | ((f.typeB & 7) << 29);
}

void WriteSeparatorLine(FILE* stream, size_t dashCount, const char* text) {
    if (!stream) return;
    std::fputs(kSeparatorHead, stream);
    if (dashCount == 0) {
        WriteText(stream, text);
    } else {
        // Dashes in fixed chunks: any count is written without a heap buffer.
        static const char dashes[] =
            "----------------------------------------------------------------"
            "----------------------------------------------------------------";
        constexpr size_t chunk = sizeof dashes - 1;
        for (size_t left = dashCount; left > 0;) {
            const size_t n = left < chunk ? left : chunk;
            std::fwrite(dashes, 1, n, stream);
            left -= n;
        }
    }
    std::fputs(kLineEnd, stream);
}

void WriteReportLine(FILE* stream, uint32_t code, const char* text, const char* extra,
                     const char* prefix) {
    if (!stream) return;
    std::fprintf(stream, "%.8x|", static_cast<unsigned>(code));
    WriteText(stream, prefix);
    WriteText(stream, text);
    if (extra) {
        std::fputc('|', stream);
        WriteText(stream, extra);
    }
    std::fputs(kLineEnd, stream);
    if (RecordLevel(code) == 0) {
        const size_t textLength = text ? std::strlen(text) : 0;
        WriteSeparatorLine(stream, textLength, "");
    }
}

void WriteSectionHeader(FILE* stream, const char* label, const char* columns) {
    WriteReportLine(stream, kCodeSectionHeading, label, nullptr, "");
    WriteSeparatorLine(stream, 0, "");
    WriteSeparatorLine(stream, 0, columns);
    WriteSeparatorLine(stream, std::strlen(columns), "");
    WriteSeparatorLine(stream, 0, "");
}

int SplitReportLine(const char* line, size_t length, ReportLineParts* parts, const LeadByteOps* leadBytes) {
    if (!parts) return 0;
    *parts = {nullptr, 0, nullptr, 0, 0, 0, nullptr, nullptr};
    if (!line) return 0;
    const size_t end = ContentLength(line, length);
    uint32_t code = 0;
    if (!CodeOfContent(line, end, &code)) return 0;

    const uint32_t typeA = RecordTypeA(code);
    const uint32_t typeB = RecordTypeB(code);
    const uint64_t split = RecordSplitField(code);
    uint64_t skip = RecordSkipA(code);
    uint64_t textField = RecordTextField(code);

    // Fields run from after the code's "|" to the content end; the last field may be
    // empty. Their count bounds each group, so its items array is allocated once.
    uint64_t fieldCount = 1;
    for (const char* bar = line + kCodeDigits + 1; (bar = FindBar(bar, line + end, leadBytes)); ++bar) ++fieldCount;
    const uint64_t lastA = fieldCount < split ? fieldCount : split - 1;
    GroupBuilder groupA = {nullptr, static_cast<size_t>(lastA > skip ? lastA - skip : 0)};
    GroupBuilder groupB = {nullptr, static_cast<size_t>(fieldCount >= split ? fieldCount - split + 1 : 0)};
    bool ok = true;

    size_t start = kCodeDigits + 1;
    for (uint64_t number = 1; ok; ++number) {
        const char* bar = FindBar(line + start, line + end, leadBytes);
        const size_t stop = bar ? static_cast<size_t>(bar - line) : end;
        const char* field = line + start;
        const size_t fieldLength = stop - start;

        if (number > skip) {
            if (number < split) {
                if (number == textField) {
                    parts->text = field;
                    parts->textLength = fieldLength;
                } else {
                    ok = AppendField(groupA, typeA, field, fieldLength);
                }
            } else {
                bool intoGroupB = number > split;
                if (number == split) {
                    const uint64_t skipB = RecordSkipB(code);
                    textField = RecordGroupBTextField(code);
                    if (skipB != 0) {
                        skip = skipB + split - 1;  // drops this field and the next skipB - 1
                    } else {
                        intoGroupB = true;
                    }
                }
                if (intoGroupB) {
                    // The group-B text field stays in its group as well.
                    if (number == textField) {
                        parts->groupBText = field;
                        parts->groupBTextLength = fieldLength;
                    }
                    ok = AppendField(groupB, typeB, field, fieldLength);
                }
            }
        }
        if (stop >= end) break;
        start = stop + 1;
    }

    if (!ok) {
        FreeItemRecord(groupA.record);
        FreeItemRecord(groupB.record);
        *parts = {nullptr, 0, nullptr, 0, 0, 0, nullptr, nullptr};
        return 2;
    }
    parts->level = RecordLevel(code);
    parts->hasChildren = RecordHasChildren(code);
    parts->groupA = groupA.record;
    parts->groupB = groupB.record;
    return 1;
}

int ParseReportLineBytes(const char* line, size_t length, char** textOut, char** groupBTextOut,
                         uint32_t* levelOut, uint32_t* hasChildrenOut, ItemRecord** groupAOut,
                         ItemRecord** groupBOut) {
    ClearOutputs(textOut, groupBTextOut, levelOut, hasChildrenOut, groupAOut, groupBOut);
    if (!line || !textOut || !groupBTextOut || !levelOut || !hasChildrenOut || !groupAOut || !groupBOut)
        return 0;
    ReportLineParts parts;
    if (SplitReportLine(line, length, &parts) != 1) return 0;
    char* text = parts.text ? NewTextCopy(parts.text, parts.textLength) : nullptr;
    char* groupBText = parts.groupBText ? NewTextCopy(parts.groupBText, parts.groupBTextLength) : nullptr;
    if ((parts.text && !text) || (parts.groupBText && !groupBText)) {
        std::free(text);
        std::free(groupBText);
        FreeItemRecord(parts.groupA);
        FreeItemRecord(parts.groupB);
        return 0;
    }
    *levelOut = parts.level;
    *hasChildrenOut = parts.hasChildren;
    *textOut = text;
    *groupBTextOut = groupBText;
    *groupAOut = parts.groupA;
    *groupBOut = parts.groupB;
    return 1;
}

int ParseReportLine(const char* line, char** textOut, char** groupBTextOut, uint32_t* levelOut,
                    uint32_t* hasChildrenOut, ItemRecord** groupAOut, ItemRecord** groupBOut) {
    const size_t length = line ? std::strlen(line) : 0;
    return ParseReportLineBytes(line, length, textOut, groupBTextOut, levelOut, hasChildrenOut,
                                groupAOut, groupBOut);
}

void FreeItemRecord(ItemRecord* record) {
    if (!record) return;
    ReleaseTableEntry(nullptr, 0, record, 0);
}

const char* ItemRecordField(const ItemRecord* record, uint32_t n) {
    if (!record || !record->items || n == 0 || n > record->count) return "";
    const char* item = record->items[n - 1];
    return item ? item : "";
}
