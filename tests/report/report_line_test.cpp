#include "report/report_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A group as "kind:item,item" with "~" for a null item; "-" for no record.
std::string Group(const ItemRecord* r) {
    if (!r) return "-";
    std::string out = std::to_string(r->kind) + ":";
    for (uint32_t i = 0; i < r->count; ++i) out += (i ? "," : "") + std::string(r->items[i] ? r->items[i] : "~");
    return out;
}

// Parses a line of length bytes (up to its NUL when length is SIZE_MAX) and shows it as
// "level(+ when the children flag is set)|text|group A|group-B text|group B", "~" for a
// null text; "none" when the line is no record and every output is cleared. The outputs
// start poisoned: the parser must overwrite every one of them.
std::string Parse(const char* line, size_t length = SIZE_MAX) {
    char *text = reinterpret_cast<char*>(1), *groupBText = text;
    uint32_t level = 99, hasChildren = 99;
    ItemRecord *a = reinterpret_cast<ItemRecord*>(1), *b = a;
    const int result = length == SIZE_MAX
                           ? ParseReportLine(line, &text, &groupBText, &level, &hasChildren, &a, &b)
                           : ParseReportLineBytes(line, length, &text, &groupBText, &level, &hasChildren, &a, &b);
    if (result == 0 && !text && !groupBText && !a && !b && !level && !hasChildren) return "none";
    if (result != 1) return "result " + std::to_string(result) + ", outputs not cleared";
    const std::string shown = std::to_string(level) + (hasChildren == 0 ? "" : hasChildren == 8 ? "+" : "+?") + "|" +
                              (text ? text : "~") + "|" + Group(a) + "|" + (groupBText ? groupBText : "~") + "|" +
                              Group(b);
    std::free(text), std::free(groupBText), FreeItemRecord(a), FreeItemRecord(b);
    return shown;
}

// "code|f1|f2|...|fN".
std::string NumberedLine(uint32_t code, int fieldCount) {
    char head[16];
    std::snprintf(head, sizeof head, "%.8x", code);
    std::string line = head;
    for (int i = 1; i <= fieldCount; ++i) line += "|f" + std::to_string(i);
    return line;
}

// The group "kind:ffirst,...,flast".
std::string F(uint32_t kind, int first, int last) {
    std::string out = std::to_string(kind) + ":";
    for (int n = first; n <= last; ++n) out += (n > first ? ",f" : "f") + std::to_string(n);
    return out;
}

// Codes of each shape the program writes (levels, children, skips, splits, group types),
// codes built field by field, and lines as written.
TEST(ParseReportLine, CodesAndFieldLayouts) {
    const struct { std::string line, expect; } rows[] = {
        {NumberedLine(kCodeSystemInfo, 3), "0|f1|" + F(7, 2, 3) + "|~|-"},
        {NumberedLine(kCodeSectionHeading, 1), "0+|f1|-|~|-"},
        {NumberedLine(kCodeIniFileHeading, 9), "1+|f1|" + F(1, 2, 9) + "|~|-"},
        {NumberedLine(kCodeFileTypeHeading, 4), "2+|f1|" + F(4, 2, 4) + "|~|-"},
        {NumberedLine(kCodeAutorunEntryDetails, 9), "2|f1|" + F(1, 2, 9) + "|~|-"},
        {NumberedLine(kCodeShortcutEntry, 18), "2|f1|" + F(1, 2, 9) + "|f11|" + F(6, 10, 18)},
        {NumberedLine(kCodeRunningProcess, 9), "1+|f2|" + F(1, 3, 9) + "|~|-"},
        {NumberedLine(kCodeConnection, 17), "1|f4|3:f1,f2,f3,f5,f6,f7,f8|f9|" + F(1, 9, 17)},
        // skip 1, split 3 dropping 3 and 4 (skipB 2), so the group-B text field 4 never comes
        {NumberedLine(EncodeRecordCode({1, 0, 1, 2, 3, 2, 4, 1, 6}), 7), "1|f2|-|~|" + F(6, 5, 7)},
        // split 0 reads as 63; fields from 63 on form group B, none is lost
        {NumberedLine(EncodeRecordCode({0, 0, 0, 0, 0, 1, 63, 2, 5}), 70),
         "0|f1|" + F(2, 2, 62) + "|f63|" + F(5, 63, 70)},
        {NumberedLine(kCodeAutorunEntryDetails, 1000), "2|f1|" + F(1, 2, 62) + "|~|" + F(0, 63, 1000)},
        // empty fields are null items; "|" inside a text shifts the later fields
        {"04008019|PROCESS|explorer|1a4||||||", "1+|explorer|1:1a4,~,~,~,~,~,~|~|-"},
        {"04008012|MODULE|C:\\a|b.dll|1|C:\\a|b.dll|1.0|400|t|d|p|1.0",
         "2|C:\\a|1:b.dll,1,C:\\a,b.dll,1.0,400,t,d,p,1.0|~|-"},
        // CR LF ends the line, a CR inside a text stays; upper-case digits read alike
        {"04004002|run.exe|1|C:\\run.exe\r\n04004002|next", "2|run.exe|1:1,C:\\run.exe|~|-"},
        {"00004002|a\rb\r", "2|a\rb|-|~|-"},
        {"0400801A|PROCESS|x|1", "2+|x|1:1|~|-"},
        // the field after the last bar exists even when empty; missing fields give nothing
        {"00004008|", "0+||-|~|-"},
        {"04008019|PROCESS", "1+|~|-|~|-"},
        {"00000000|a||b", "0|~|0:a,~,b|~|-"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line.substr(0, 80));
        EXPECT_EQ(Parse(row.line.c_str()), row.expect);
    }
}

TEST(ParseReportLine, NotRecordLinesAndNullArgumentsClearEveryOutput) {
    for (const char* line : {"", "|", "00004008", "0004008|PROCESS", "000004008|PROCESS", "--------|", "-0004008|x",
                             "0000400g|PROCESS", "  0x4008|PROCESS", "+0004008|PROCESS", "\n00004008|PROCESS",
                             "00004008\r\n|PROCESS"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Parse(line), "none");
    }
    // A null argument rejects the line; the other outputs are still cleared.
    char *text = reinterpret_cast<char*>(1), *groupBText = text;
    uint32_t level = 5, children = 5;
    ItemRecord *a = reinterpret_cast<ItemRecord*>(1), *b = nullptr;
    EXPECT_EQ(ParseReportLine("00004008|X", &text, &groupBText, &level, &children, &a, nullptr), 0);
    EXPECT_TRUE(!text && !groupBText && !a && level == 0 && children == 0);
    EXPECT_EQ(ParseReportLine(nullptr, &text, &groupBText, &level, &children, &a, &b), 0);
    EXPECT_EQ(ParseReportLine("00004008|X", nullptr, &groupBText, &level, &children, &a, &b), 0);
}

TEST(ParseReportLine, BoundedBufferWithoutTerminatorAndFieldsOutOfRange) {
    const std::string content = "04008012|MODULE|C:\\x.dll|1|C:\\x.dll";
    const std::vector<char> exact(content.begin(), content.end());  // no NUL after the last byte
    EXPECT_EQ(Parse(exact.data(), exact.size()), "2|C:\\x.dll|1:1,C:\\x.dll|~|-");
    EXPECT_EQ(Parse(exact.data(), 20), "2|C:\\x|-|~|-");
    EXPECT_EQ(Parse(exact.data(), 8), "none");
    char *text, *groupBText;
    uint32_t level, children;
    ItemRecord *a, *b;
    // group A: "1", empty, "3", five empty: its array is full
    ASSERT_EQ(ParseReportLine("04004002|x|1||3|||||", &text, &groupBText, &level, &children, &a, &b), 1);
    EXPECT_STREQ(ItemRecordField(a, 3), "3");
    for (uint32_t n : {0u, 2u, 8u, 9u}) EXPECT_STREQ(ItemRecordField(a, n), "") << n;
    EXPECT_STREQ(ItemRecordField(nullptr, 1), "");
    std::free(text), std::free(groupBText), FreeItemRecord(a), FreeItemRecord(b);
}

// With GBK's lead bytes a bar that is the trail byte of a character stays in its field,
// wherever the character falls in the parser's eight-byte steps; a byte above 0x7F that
// leads no character, or a character before a real bar, does not hide that bar.
TEST(SplitReportLine, TrailByteBarsStayInTheirFieldAtEveryOffset) {
    const LeadByteOps gbk = {[](void*, unsigned char byte) { return byte >= 0x81 && byte <= 0xFE ? 1 : 0; }, nullptr};
    const struct { std::string piece; size_t fieldLength; } rows[] = {
        {"\x96|z", 3}, {"\x96\x41\x96|z", 5}, {"\x80|z", 1}, {"\x81\x81|z", 2}};
    for (size_t pad = 0; pad < 18; ++pad) {
        for (const auto& row : rows) {
            const std::string field = std::string(pad, 'a') + row.piece, line = "04008012|MODULE|" + field + "|1";
            ReportLineParts parts;
            ASSERT_EQ(SplitReportLine(line.data(), line.size(), &parts, &gbk), 1);
            EXPECT_EQ(std::string(parts.text, parts.textLength), field.substr(0, pad + row.fieldLength)) << pad;
            FreeItemRecord(parts.groupA), FreeItemRecord(parts.groupB);
        }
    }
}

TEST(WriteReportLine, ExactBytes) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    WriteReportLine(f, kCodeSystemInfo, "Windows XP", "Windows XP|5.1.2600", "");
    WriteSeparatorLine(f, 0, "");
    WriteReportLine(f, kCodeSectionHeading, kProcessSectionLabel, nullptr, "");
    WriteSeparatorLine(f, 0, kProcessColumnHeader);
    WriteSeparatorLine(f, std::strlen(kProcessColumnHeader), "ignored");
    WriteReportLine(f, kCodeRunningProcess, "explorer", "1a4||||||", kPrefixProcess);
    WriteReportLine(f, kCodeModule, "C:\\e.exe", "1|C:\\e.exe|6.0|1000|t|d|p|6.0", kPrefixModule);
    WriteReportLine(f, kCodeEndedProcess, "gone.exe", "2c||||||", kPrefixEndedProcess);
    WriteReportLine(f, kCodeSectionHeading, "", nullptr, nullptr);  // empty text: dashless underline
    WriteReportLine(f, kCodeAutorunEntry, nullptr, "", "");         // empty extra still adds its bar
    WriteSeparatorLine(f, 300, nullptr);                            // longer than one chunk of dashes
    std::string bytes;
    std::rewind(f);
    char buffer[512];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    std::fclose(f);

    EXPECT_EQ(bytes,
              "1c004000|Windows XP|Windows XP|5.1.2600\r\n"
              "--------|----------\r\n"
              "--------|\r\n"
              "00004008|PROCESS\r\n"
              "--------|-------\r\n"
              "--------|PROCESS/MODULE|ID|Name|File Version|File Size|File Modification|"
              "File Description|Prodact Name|Prodact Version\r\n"
              "--------|" + std::string(109, '-') + "\r\n"
              "04008019|PROCESS|explorer|1a4||||||\r\n"
              "04008012|MODULE|C:\\e.exe|1|C:\\e.exe|6.0|1000|t|d|p|6.0\r\n"
              "08008019|KILLED PROCESS|gone.exe|2c||||||\r\n"
              "00004008|\r\n"
              "--------|\r\n"
              "00004002||\r\n"
              "--------|" + std::string(300, '-') + "\r\n");
}

}  // namespace
