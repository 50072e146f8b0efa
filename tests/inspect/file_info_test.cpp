#include "inspect/file_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/support/lead_bytes.h"
#include "tests/support/version_blocks.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A US table between the tables an unswapped translation and another language would name.
Bytes SampleBlock(bool wide = true) {
    return VersionBlock(wide, {ParentNode("04b00409", {TextNode("FileVersion", "wrong table")}),
                               ParentNode("040904B0", {TextNode("FileVersion", "5.1.2600"), TextNode("FileDescription", "Shell"),
                                                       TextNode("ProductName", "Korvane Test"), TextNode("ProductVersion", "5.1")}),
                               ParentNode("08040936", {TextNode("FileVersion", "chinese table")})});
}

// A block whose US table holds one string.
Bytes OneString(const char* name, const char* value, const Bytes& translation = kUsTranslation) {
    return VersionBlock(true, {ParentNode("040904b0", {TextNode(name, value)})}, translation);
}

// In-memory files by path: version resource (empty: none) and status; a double-byte code
// page stand-in converts each non-ASCII unit to the two bytes "#x".
struct FakeFile {
    Bytes version;
    bool statusReadable = true;
    FileStatus status = {59392, {2003, 12, 5, 23, 7, 9}};
};
struct FileInfoTest : ::testing::Test {
    std::map<std::string, FakeFile> files;
    bool failRead = false;
    int calls = 0;
    static const FakeFile* Find(void* c, const char* path) {
        auto& t = *static_cast<FileInfoTest*>(c);
        ++t.calls;
        auto it = t.files.find(path);
        return it == t.files.end() ? nullptr : &it->second;
    }
    FileInfoOps ops = {
        this, [](void* c, const char* path) { return Find(c, path) ? static_cast<uint32_t>(Find(c, path)->version.size()) : 0u; },
        [](void* c, const char* path, uint32_t size, void* block) {
            const FakeFile* f = Find(c, path);
            if (!f || static_cast<FileInfoTest*>(c)->failRead || size < f->version.size()) return 1;
            return std::memcpy(block, f->version.data(), f->version.size()), 0;
        },
        [](void* c, const char* path, FileStatus* status) {
            const FakeFile* f = Find(c, path);
            if (f && f->statusReadable) *status = f->status;
            return f && f->statusReadable ? 0 : 1;
        },
        [](void*, const uint8_t* utf16le, size_t units, char* out, size_t outSize) -> size_t {
            std::string s;
            for (size_t i = 0; i < units; ++i) {
                s += utf16le[2 * i] < 0x80 && utf16le[2 * i + 1] == 0 ? std::string(1, char(utf16le[2 * i])) : "#x";
            }
            if (out && outSize < s.size()) return 0;
            if (out) std::memcpy(out, s.data(), s.size());
            return s.size();
        }};
};

TEST_F(FileInfoTest, LookupsInBothFormsStayInsideTheBlockAndSwapTheTranslation) {
    for (bool wide : {true, false}) {
        const Bytes block = SampleBlock(wide);
        files["x.exe"] = {block};
        VersionValue v;
        for (size_t n = 0; n < block.size(); ++n) {  // every prefix, exactly sized so an overread is caught
            const Bytes cut(block.begin(), block.begin() + static_cast<long>(n));
            if (FindVersionValue(cut.data(), n, "\\StringFileInfo\\040904b0\\ProductVersion", &v)) {
                EXPECT_LE(v.data + v.size, cut.data() + n);
            }
        }
        VersionInfo info(&ops);
        ASSERT_TRUE(info.Load("x.exe"));
        EXPECT_EQ(info.translation, 0x040904b0u);
        // Names compare without regard to case, and only whole; a translation names its own table.
        const struct { uint32_t code; const char* name; const char* expected; } strings[] = {
            {0, "PRODUCTNAME", "Korvane Test"}, {0, "FileVersio", ""}, {0x08040936, "FileVersion", "chinese table"},
            {0x04070000, "FileVersion", ""}};
        for (const auto& q : strings) {
            char f[16] = "junk";
            EXPECT_EQ(info.QueryString(q.name, q.code, f, sizeof f), std::strlen(q.expected)) << q.name << wide;
            EXPECT_STREQ(f, q.expected);
        }
    }
    const Bytes noNul = {6, 0, 0, 0, 0, 0, 'V', 0};  // a key without terminator inside its node
    VersionValue v;
    EXPECT_FALSE(FindVersionValue(noNul.data(), noNul.size(), "\\", &v));
    const Bytes block = SampleBlock();  // separators may repeat; a level cannot be skipped
    EXPECT_TRUE(FindVersionValue(block.data(), block.size(), "\\\\VarFileInfo\\\\Translation\\", &v));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.data), v.size), "\x09\x04\xB0\x04");
    EXPECT_FALSE(FindVersionValue(block.data(), block.size(), "\\StringFileInfo\\FileVersion", &v));
}

TEST_F(FileInfoTest, LoadFailsCleanlyAndStringsKeepTheirBound) {
    files["c:\\none.exe"] = {};
    files["c:\\notrans.exe"] = {OneString("FileVersion", "1.0", {})};
    files["c:\\short.exe"] = {OneString("FileVersion", "1.0", {0x09, 0x04})};
    files["c:\\good.exe"] = {OneString("FileDescription", "Ab\xE9" "cd")};
    VersionInfo info(&ops);
    char buf[8] = "junk";
    for (const char* path : {"c:\\none.exe", "c:\\notrans.exe", "c:\\short.exe", "c:\\missing.exe", "c:\\good.exe"}) {
        ASSERT_TRUE(info.Load("c:\\good.exe"));
        failRead = std::strcmp(path, "c:\\good.exe") == 0;
        EXPECT_FALSE(info.Load(path)) << path;  // drops what was loaded before
        failRead = false;
        EXPECT_EQ(info.GetFileDescription(buf, sizeof buf), 0u);
        EXPECT_STREQ(buf, "");
    }
    ASSERT_TRUE(info.Load("c:\\good.exe"));
    EXPECT_EQ(info.GetFileDescription(buf, sizeof buf), 6u);  // the converter widens the non-ASCII unit
    EXPECT_STREQ(buf, "Ab#xcd");
    std::memset(buf, '*', sizeof buf);
    EXPECT_EQ(info.GetFileDescription(buf, 4), 6u);
    EXPECT_EQ(std::string(buf, 5), std::string("Ab#\0*", 5));
    EXPECT_EQ(info.GetFileDescription(nullptr, 100), 6u);
    ops.wideToAnsi = nullptr;  // without a converter, ASCII passes and the rest becomes "?"
    EXPECT_EQ(info.GetFileDescription(buf, sizeof buf), 5u);
    EXPECT_STREQ(buf, "Ab?cd");
}

TEST_F(FileInfoTest, DetailsCarryEightFieldsLeavingMissingPartsEmpty) {
    files["C:\\WIN\\EXPLORER.EXE"] = {SampleBlock()};
    files["c:\\locked.exe"] = {SampleBlock(), false};
    files["c:\\odd.exe"].status.modified.month = 13;  // a time the system cannot give
    files["c:\\big.exe"].status = {0x123456789ull, {1999, 1, 31, 0, 0, 0}};
    files["c:\\lines.exe"] = {OneString("FileDescription", "two\r\nlines")};
    IdList* two = NewIdList(0x1A4);
    ASSERT_TRUE(AppendIdListNumber(&two, 0x8));
    auto* empty = static_cast<IdList*>(std::calloc(1, sizeof(IdList)));
    const std::string handle = sizeof(uintptr_t) == 8 ? "7ff612340000" : "12340000";
    const std::string none = "application does not loaded";
    const struct { const char* path; IdList* list; std::string expected; } cases[] = {
        {"C:\\WIN\\EXPLORER.EXE", two,
         "8,1a4|C:\\WIN\\EXPLORER.EXE|5.1.2600|59392|December 05, 2003 23:07:09|Shell|Korvane Test|5.1"},
        {"c:\\big.exe", nullptr, none + "|c:\\big.exe||4886718345|January 31, 1999 00:00:00|||"},
        {"c:\\gone.exe", nullptr, none + "|c:\\gone.exe||||||"},
        {"c:\\locked.exe", nullptr, none + "|c:\\locked.exe|5.1.2600|||Shell|Korvane Test|5.1"},
        {"c:\\odd.exe", nullptr, none + "|c:\\odd.exe||||||"},
        {"c:\\lines.exe", nullptr, none + "|c:\\lines.exe||59392|December 05, 2003 23:07:09|two  lines||"},
        {"", NewIdList(static_cast<uintptr_t>(0x7ff612340000ull)), handle + "|||||||"},
        {nullptr, empty, "|||||||"},
    };
    for (const auto& c : cases) {
        const int callsBefore = calls;
        char* out = nullptr;
        char* text = GetFileDetails(&ops, &out, c.path, c.list);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(out, text);
        EXPECT_EQ(std::string(text), c.expected);
        std::free(text);
        EXPECT_TRUE((c.path && *c.path) || calls == callsBefore) << "an empty path asks the system nothing";
    }
}

// Process IDs of the table's entries whose names match, in table order, appended to the list.
TEST(ProcessLookup, MatchesWholeNamesInTableOrder) {
    InstallApplicationTableHooks();
    HashTable* table = CreateTable(8, 1);
    for (const auto& [id, name] : {std::pair<uint32_t, const char*>{0x1A4, "C:\\WIN\\EXPLORER.EXE"}, {4, "System"},
                                   {0x8, "c:\\win\\explorer.exe"}, {0x10, "C:\\WIN\\EXPLORER.EXE.BAK"}}) {
        ASSERT_NE(InsertEntry(table, NewUInt32Key(id), 4, strdup(name)), nullptr);
    }
    IdList* list = nullptr;
    EXPECT_EQ(FindProcessIdsByName(table, &list, "notepad.exe", kGbk), nullptr);
    EXPECT_EQ(FindProcessIdsByName(table, &list, "c:\\Win\\Explorer.exe", kGbk), list);
    EXPECT_EQ(FindProcessIdsByName(table, &list, "SYSTEM", kGbk), list);
    EXPECT_EQ(FindProcessIdsByName(nullptr, &list, "system", kGbk), nullptr);
    EXPECT_EQ(FindProcessIdsByName(table, nullptr, "system", kGbk), nullptr);
    FileInfoOps none = {};  // every service missing: the details show the instances alone
    char* text = GetFileDetails(&none, nullptr, "", list);
    EXPECT_STREQ(text, "4,8,1a4|||||||");
    std::free(text);
    DestroyTable(table, 1);
}

}  // namespace
