#include "report/report_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Everything one parse returns, released on destruction.
struct Parsed {
    int result = -1;
    char* text = reinterpret_cast<char*>(1);  // poisoned: the parser must overwrite
    char* groupBText = reinterpret_cast<char*>(1);
    uint32_t level = 99;
    uint32_t hasChildren = 99;
    ItemRecord* groupA = reinterpret_cast<ItemRecord*>(1);
    ItemRecord* groupB = reinterpret_cast<ItemRecord*>(1);

    Parsed() = default;
    Parsed(const Parsed&) = delete;
    Parsed& operator=(const Parsed&) = delete;
    ~Parsed() {
        if (result == -1) return;
        std::free(text);
        std::free(groupBText);
        FreeItemRecord(groupA);
        FreeItemRecord(groupB);
    }
};

void Parse(const std::string& line, Parsed& p) {
    p.result = ParseReportLine(line.c_str(), &p.text, &p.groupBText, &p.level, &p.hasChildren,
                               &p.groupA, &p.groupB);
}

// A record's items as strings; a null item shows as "<null>".
std::vector<std::string> Items(const ItemRecord* r) {
    std::vector<std::string> out;
    if (!r) return out;
    for (uint32_t i = 0; i < r->count; ++i) out.push_back(r->items[i] ? r->items[i] : "<null>");
    return out;
}

std::string Opt(const char* s) { return s ? s : "<null>"; }

// "code|f1|f2|...|fN".
std::string NumberedLine(uint32_t code, int fieldCount) {
    char head[16];
    std::snprintf(head, sizeof head, "%.8x", code);
    std::string line = head;
    for (int i = 1; i <= fieldCount; ++i) line += "|f" + std::to_string(i);
    return line;
}

std::vector<std::string> Fields(std::initializer_list<int> numbers) {
    std::vector<std::string> out;
    for (int n : numbers) out.push_back("f" + std::to_string(n));
    return out;
}

std::vector<std::string> FieldRange(int first, int last) {
    std::vector<std::string> out;
    for (int n = first; n <= last; ++n) out.push_back("f" + std::to_string(n));
    return out;
}

// ---------------------------------------------------------------------------
// Parsing every written code: which numbered field lands where.

struct LayoutRow {
    uint32_t code;
    int fieldCount;
    uint32_t level;
    bool children;
    const char* text;        // expected text, null for none
    const char* groupBText;  // expected group-B text, null for none
    int typeA;               // -1: no group A
    std::vector<std::string> groupA;
    int typeB;  // -1: no group B
    std::vector<std::string> groupB;
};

TEST(ParseReportLine, FieldLayoutOfEveryWrittenCode) {
    const LayoutRow rows[] = {
        {kCodeSystemInfo, 3, 0, false, "f1", nullptr, 7, Fields({2, 3}), -1, {}},
        {kCodeSectionHeading, 1, 0, true, "f1", nullptr, -1, {}, -1, {}},
        {kCodeLocationHeading, 1, 1, true, "f1", nullptr, -1, {}, -1, {}},
        {kCodeIniFileHeading, 9, 1, true, "f1", nullptr, 1, FieldRange(2, 9), -1, {}},
        {kCodeSubHeading, 1, 2, true, "f1", nullptr, -1, {}, -1, {}},
        {kCodeFileTypeHeading, 4, 2, true, "f1", nullptr, 4, Fields({2, 3, 4}), -1, {}},
        {kCodeValueEntryBase + 4, 1, 4, false, "f1", nullptr, -1, {}, -1, {}},
        {kCodeValueEntryDetailsBase + 5, 9, 5, false, "f1", nullptr, 1, FieldRange(2, 9), -1, {}},
        {kCodeSubkeyHeadingBase + 3, 1, 3, true, "f1", nullptr, -1, {}, -1, {}},
        {kCodeAutorunEntry, 1, 2, false, "f1", nullptr, -1, {}, -1, {}},
        {kCodeAutorunEntryDetails, 9, 2, false, "f1", nullptr, 1, FieldRange(2, 9), -1, {}},
        {kCodeAutorunSubEntry, 1, 3, false, "f1", nullptr, -1, {}, -1, {}},
        {kCodeAutorunSubEntryDetails, 9, 3, false, "f1", nullptr, 1, FieldRange(2, 9), -1, {}},
        {kCodeShortcutEntry, 18, 2, false, "f1", "f11", 1, FieldRange(2, 9), 6, FieldRange(10, 18)},
        {kCodeRunningProcess, 9, 1, true, "f2", nullptr, 1, FieldRange(3, 9), -1, {}},
        {kCodeModule, 10, 2, false, "f2", nullptr, 1, FieldRange(3, 10), -1, {}},
        {kCodeEndedProcess, 9, 1, true, "f2", nullptr, 2, FieldRange(3, 9), -1, {}},
        {kCodeEndedModule, 10, 2, false, "f2", nullptr, 2, FieldRange(3, 10), -1, {}},
        {kCodeConnection, 17, 1, false, "f4", "f9", 3, Fields({1, 2, 3, 5, 6, 7, 8}), 1,
         FieldRange(9, 17)},
    };
    for (const LayoutRow& row : rows) {
        const std::string line = NumberedLine(row.code, row.fieldCount);
        SCOPED_TRACE(line);
        Parsed p;
        Parse(line, p);
        ASSERT_EQ(p.result, 1);
        EXPECT_EQ(p.level, row.level);
        EXPECT_EQ(p.hasChildren != 0, row.children);
        EXPECT_EQ(Opt(p.text), Opt(row.text));
        EXPECT_EQ(Opt(p.groupBText), Opt(row.groupBText));
        if (row.typeA < 0) {
            EXPECT_EQ(p.groupA, nullptr);
        } else {
            ASSERT_NE(p.groupA, nullptr);
            EXPECT_EQ(p.groupA->kind, static_cast<uint32_t>(row.typeA));
            EXPECT_EQ(Items(p.groupA), row.groupA);
        }
        if (row.typeB < 0) {
            EXPECT_EQ(p.groupB, nullptr);
        } else {
            ASSERT_NE(p.groupB, nullptr);
            EXPECT_EQ(p.groupB->kind, static_cast<uint32_t>(row.typeB));
            EXPECT_EQ(Items(p.groupB), row.groupB);
        }
    }
}

TEST(ParseReportLine, ProcessLineWithEmptyFields) {
    Parsed p;
    Parse("04008019|PROCESS|explorer|1a4||||||", p);
    ASSERT_EQ(p.result, 1);
    EXPECT_EQ(p.level, 1u);
    EXPECT_EQ(p.hasChildren, 8u);  // the flag bit itself
    EXPECT_STREQ(p.text, "explorer");
    EXPECT_EQ(p.groupBText, nullptr);
    ASSERT_NE(p.groupA, nullptr);
    EXPECT_EQ(p.groupA->kind, kRecordTypeFile);
    EXPECT_EQ(Items(p.groupA), (std::vector<std::string>{"1a4", "<null>", "<null>", "<null>",
                                                          "<null>", "<null>", "<null>"}));
    EXPECT_EQ(p.groupB, nullptr);
}

TEST(ParseReportLine, PipeInsideTextShiftsLaterFields) {
    Parsed p;
    Parse("04008012|MODULE|C:\\a|b.dll|1|C:\\a|b.dll|1.0|400|t|d|p|1.0", p);
    ASSERT_EQ(p.result, 1);
    EXPECT_STREQ(p.text, "C:\\a");
    EXPECT_EQ(Items(p.groupA), (std::vector<std::string>{"b.dll", "1", "C:\\a", "b.dll", "1.0",
                                                          "400", "t", "d", "p", "1.0"}));
}

TEST(ParseReportLine, NotRecordLines) {
    const char* lines[] = {
        "",
        "|",
        "00004008",           // no field separator
        "4008|PROCESS",       // fewer than eight digits
        "0004008|PROCESS",
        "000004008|PROCESS",  // nine digits
        "--------|",
        "--------|-------",
        "--------|PROCESS/MODULE|ID|Name",
        "-0004008|x",         // a dash first is never a record
        "0000400g|PROCESS",   // not hexadecimal
        "  0x4008|PROCESS",   // would read as a number with a lenient scanner
        "+0004008|PROCESS",
        "\r\n",
        "\n00004008|PROCESS",  // the line ends before the code
        "00004008\r\n|PROCESS",
    };
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        Parsed p;
        Parse(line, p);
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.text, nullptr);
        EXPECT_EQ(p.groupBText, nullptr);
        EXPECT_TRUE(!p.groupA && !p.groupB && p.level == 0 && p.hasChildren == 0);
    }
}

TEST(ParseReportLine, NullArgumentsRejectedAndOthersCleared) {
    char* text = reinterpret_cast<char*>(1);
    char* groupBText = reinterpret_cast<char*>(1);
    uint32_t level = 5, children = 5;
    ItemRecord* a = reinterpret_cast<ItemRecord*>(1);
    EXPECT_EQ(ParseReportLine("00004008|X", &text, &groupBText, &level, &children, &a, nullptr), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(groupBText, nullptr);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(level + children, 0u);
    ItemRecord* b = nullptr;
    EXPECT_EQ(ParseReportLine(nullptr, &text, &groupBText, &level, &children, &a, &b), 0);
    EXPECT_EQ(ParseReportLine("00004008|X", nullptr, &groupBText, &level, &children, &a, &b), 0);
}

TEST(ParseReportLine, LineEndsAndCaseOfDigits) {
    {
        Parsed p;  // CR LF and a lone LF end the line; a CR before the end is not data
        Parse("04004002|run.exe|1|C:\\run.exe\r\n04004002|next", p);
        ASSERT_EQ(p.result, 1);
        EXPECT_STREQ(p.text, "run.exe");
        EXPECT_EQ(Items(p.groupA), (std::vector<std::string>{"1", "C:\\run.exe"}));
    }
    {
        Parsed p;  // a CR inside a text stays
        Parse("00004002|a\rb\r", p);
        ASSERT_EQ(p.result, 1);
        EXPECT_STREQ(p.text, "a\rb");
    }
    {
        Parsed p;  // upper-case digits read alike
        Parse("0400801A|PROCESS|x|1", p);
        ASSERT_EQ(p.result, 1);
        EXPECT_EQ(p.level, 2u);
        EXPECT_STREQ(p.text, "x");
    }
}

TEST(ParseReportLine, EmptyAndMissingFields) {
    {
        Parsed p;  // the field after the last bar exists even when empty
        Parse("00004008|", p);
        ASSERT_EQ(p.result, 1);
        ASSERT_NE(p.text, nullptr);
        EXPECT_STREQ(p.text, "");
    }
    {
        Parsed p;  // the text field lies beyond the line: no text, the rest still grouped
        Parse("04008019|PROCESS", p);
        ASSERT_EQ(p.result, 1);
        EXPECT_EQ(p.text, nullptr);
        EXPECT_EQ(p.groupA, nullptr);
    }
    {
        Parsed p;  // fields 0 everywhere: no text field can match, everything is group A
        Parse("00000000|a||b", p);
        ASSERT_EQ(p.result, 1);
        EXPECT_EQ(p.text, nullptr);
        EXPECT_EQ(p.groupBText, nullptr);
        ASSERT_NE(p.groupA, nullptr);
        EXPECT_EQ(p.groupA->kind, 0u);
        EXPECT_EQ(Items(p.groupA), (std::vector<std::string>{"a", "<null>", "b"}));
        EXPECT_EQ(p.groupB, nullptr);
    }
}

TEST(ParseReportLine, SplitSkipsAndFieldsBeyond63) {
    {
        // split 3, skipB 2, group-B text 4, skipA 1, text 2: field 1 dropped, 2 text,
        // 3 and 4 dropped at the split, so the group-B text field never comes.
        const uint32_t code = EncodeRecordCode({1, 0, 1, 2, 3, 2, 4, 1, 6});
        Parsed p;
        Parse(NumberedLine(code, 7), p);
        ASSERT_EQ(p.result, 1);
        EXPECT_STREQ(p.text, "f2");
        EXPECT_EQ(p.groupA, nullptr);
        EXPECT_EQ(p.groupBText, nullptr);
        ASSERT_NE(p.groupB, nullptr);
        EXPECT_EQ(p.groupB->kind, 6u);
        EXPECT_EQ(Items(p.groupB), FieldRange(5, 7));
    }
    {
        // split 0 reads as 63: fields from 63 on form group B, whose text field is 63.
        const uint32_t code = EncodeRecordCode({0, 0, 0, 0, 0, 1, 63, 2, 5});
        Parsed p;
        Parse(NumberedLine(code, 70), p);
        ASSERT_EQ(p.result, 1);
        EXPECT_STREQ(p.text, "f1");
        EXPECT_EQ(Items(p.groupA), FieldRange(2, 62));
        EXPECT_STREQ(p.groupBText, "f63");
        ASSERT_NE(p.groupB, nullptr);
        EXPECT_EQ(p.groupB->kind, 5u);
        EXPECT_EQ(Items(p.groupB), FieldRange(63, 70));
    }
    {
        // A long line under a code without a split: from field 63 on, the fields form a
        // group B of type 0 without a text; none is lost.
        Parsed p;
        Parse(NumberedLine(kCodeAutorunEntryDetails, 1000), p);
        ASSERT_EQ(p.result, 1);
        EXPECT_EQ(Items(p.groupA), FieldRange(2, 62));
        EXPECT_EQ(p.groupBText, nullptr);
        ASSERT_NE(p.groupB, nullptr);
        EXPECT_EQ(p.groupB->kind, 0u);
        EXPECT_EQ(Items(p.groupB), FieldRange(63, 1000));
    }
}

TEST(ParseReportLine, BoundedLineWithoutTerminator) {
    // The bytes end exactly at the buffer's end: no NUL to stop at.
    const std::string content = "04008012|MODULE|C:\\x.dll|1|C:\\x.dll";
    std::vector<char> exact(content.begin(), content.end());
    char* text = nullptr;
    char* groupBText = nullptr;
    uint32_t level = 0, children = 0;
    ItemRecord* a = nullptr;
    ItemRecord* b = nullptr;
    ASSERT_EQ(ParseReportLineBytes(exact.data(), exact.size(), &text, &groupBText, &level, &children,
                                   &a, &b),
              1);
    EXPECT_STREQ(text, "C:\\x.dll");
    EXPECT_EQ(Items(a), (std::vector<std::string>{"1", "C:\\x.dll"}));
    std::free(text);
    FreeItemRecord(a);

    // A shorter bound cuts the line like an end; a bound inside the code rejects it.
    ASSERT_EQ(ParseReportLineBytes(exact.data(), 20, &text, &groupBText, &level, &children, &a, &b), 1);
    EXPECT_STREQ(text, "C:\\x");
    EXPECT_EQ(a, nullptr);
    std::free(text);
    EXPECT_EQ(ParseReportLineBytes(exact.data(), 8, &text, &groupBText, &level, &children, &a, &b), 0);
    EXPECT_EQ(ParseReportLineBytes(exact.data(), 0, &text, &groupBText, &level, &children, &a, &b), 0);
}

TEST(ParseReportLine, RecordsGoIntoTheRecordTableAndAreReleasedThere) {
    InstallApplicationTableHooks();
    HashTable* table = CreateTable(8, 0);
    ASSERT_NE(table, nullptr);
    Parsed p;
    Parse("c4b04a02|C:\\t.exe|1|C:\\t.exe|1.0|9|t|d|p|1.0|2|C:\\t.lnk|||t|||", p);
    ASSERT_EQ(p.result, 1);
    ASSERT_NE(InsertEntry(table, NewUInt32Key(1), 4, p.groupA), nullptr);
    ASSERT_NE(InsertEntry(table, NewUInt32Key(2), 4, p.groupB), nullptr);
    p.groupA = nullptr;  // the table owns them now
    p.groupB = nullptr;
    const uint32_t probe = 2;
    HashTableNode* n = FindEntry(table, &probe, 4);
    ASSERT_NE(n, nullptr);
    const auto* shortcut = static_cast<const ItemRecord*>(n->value);
    EXPECT_EQ(shortcut->kind, kRecordTypeShortcut);
    EXPECT_STREQ(ItemRecordField(shortcut, 2), "C:\\t.lnk");  // the group-B text stays in place
    EXPECT_STREQ(ItemRecordField(shortcut, 3), "");            // empty field
    EXPECT_STREQ(ItemRecordField(shortcut, 9), "");            // last, empty
    EXPECT_STREQ(ItemRecordField(shortcut, 10), "");           // beyond the count
    EXPECT_STREQ(ItemRecordField(shortcut, 0), "");
    EXPECT_STREQ(ItemRecordField(nullptr, 1), "");
    DestroyTable(table, 1);  // the sanitizer build reports any leak or double free
}

// ---------------------------------------------------------------------------
// Writing

std::string ReadAll(FILE* f) {
    std::string bytes;
    std::rewind(f);
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    return bytes;
}

// Splits at CR LF; a lone LF or CR would stay inside a line and fail the comparisons.
std::vector<std::string> SplitCrLf(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t pos; (pos = bytes.find("\r\n", start)) != std::string::npos; start = pos + 2)
        lines.push_back(bytes.substr(start, pos - start));
    EXPECT_EQ(start, bytes.size()) << "bytes after the last line end";
    return lines;
}

TEST(WriteReportLine, ExactBytesAndUnderlines) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    WriteReportLine(f, kCodeSystemInfo, "Windows XP", "Windows XP|5.1.2600", "");
    WriteSeparatorLine(f, 0, "");
    WriteReportLine(f, kCodeSectionHeading, kProcessSectionLabel, nullptr, "");
    WriteSeparatorLine(f, 0, "");
    WriteSeparatorLine(f, 0, kProcessColumnHeader);
    WriteSeparatorLine(f, std::strlen(kProcessColumnHeader), "ignored");
    WriteSeparatorLine(f, 0, "");
    WriteReportLine(f, kCodeRunningProcess, "explorer", "1a4||||||", kPrefixProcess);
    WriteReportLine(f, kCodeModule, "C:\\e.exe", "1|C:\\e.exe|6.0|1000|t|d|p|6.0", kPrefixModule);
    WriteReportLine(f, kCodeSectionHeading, "", nullptr, nullptr);  // empty text: dashless underline
    WriteReportLine(f, kCodeAutorunEntry, nullptr, "", "");         // empty extra still adds its bar
    WriteSeparatorLine(f, 300, nullptr);                            // longer than one chunk
    const std::string bytes = ReadAll(f);
    std::fclose(f);

    const std::string expected =
        "1c004000|Windows XP|Windows XP|5.1.2600\r\n"
        "--------|----------\r\n"
        "--------|\r\n"
        "00004008|PROCESS\r\n"
        "--------|-------\r\n"
        "--------|\r\n"
        "--------|PROCESS/MODULE|ID|Name|File Version|File Size|File Modification|"
        "File Description|Prodact Name|Prodact Version\r\n"
        "--------|" + std::string(109, '-') + "\r\n"
        "--------|\r\n"
        "04008019|PROCESS|explorer|1a4||||||\r\n"
        "04008012|MODULE|C:\\e.exe|1|C:\\e.exe|6.0|1000|t|d|p|6.0\r\n"
        "00004008|\r\n"
        "--------|\r\n"
        "00004002||\r\n"
        "--------|" + std::string(300, '-') + "\r\n";
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(std::strlen(kConnectionColumnHeader), 155u);
}

TEST(WriteReportLine, WrittenLinesParseBack) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    WriteReportLine(f, kCodeSystemInfo, "Windows 2000", "Windows 2000|5.0.2195", "");
    WriteReportLine(f, kCodeConnection, "TCP",
                    "pc|127.0.0.1|1025|pc|127.0.0.1|1026|ESTABLISHED|app.exe|1|C:\\app.exe|1.0|2|t|d|p|1.0",
                    "");
    WriteReportLine(f, kCodeEndedProcess, "gone.exe", "2c||||||", kPrefixEndedProcess);
    WriteSeparatorLine(f, 0, "");
    const std::string bytes = ReadAll(f);
    std::fclose(f);

    const std::vector<std::string> lines = SplitCrLf(bytes);
    ASSERT_EQ(lines.size(), 5u);
    int records = 0;
    for (const std::string& line : lines) {
        Parsed p;
        Parse(line, p);
        if (p.result == 1) ++records;
    }
    EXPECT_EQ(records, 3);  // the underline and the end-of-block line carry no data

    {
        Parsed p;
        Parse(lines[0], p);
        ASSERT_EQ(p.result, 1);
        EXPECT_STREQ(p.text, "Windows 2000");
        ASSERT_NE(p.groupA, nullptr);
        EXPECT_EQ(p.groupA->kind, kRecordTypeSystemInfo);
        EXPECT_EQ(Items(p.groupA), (std::vector<std::string>{"Windows 2000", "5.0.2195"}));
    }
    {
        Parsed p;
        Parse(lines[2], p);
        ASSERT_EQ(p.result, 1);
        EXPECT_STREQ(p.text, "1025");
        EXPECT_STREQ(p.groupBText, "app.exe");
        EXPECT_EQ(Items(p.groupA), (std::vector<std::string>{"TCP", "pc", "127.0.0.1", "pc",
                                                              "127.0.0.1", "1026", "ESTABLISHED"}));
        EXPECT_EQ(p.groupB->count, 9u);
    }
    {
        Parsed p;
        Parse(lines[3], p);
        ASSERT_EQ(p.result, 1);
        EXPECT_STREQ(p.text, "gone.exe");
        EXPECT_EQ(p.groupA->kind, kRecordTypeEndedFile);
        EXPECT_STREQ(ItemRecordField(p.groupA, 1), "2c");
    }
}

}  // namespace
