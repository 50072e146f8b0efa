#include "inspect/file_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// ---- Version blocks built the way resource compilers lay them out ----------------------

struct Node {
    std::string key;
    std::vector<uint8_t> value;  // raw bytes; for text nodes the text without its NUL
    bool text = false;
    std::vector<Node> children;
};

Node Text(const std::string& key, const std::string& value) { return Node{key, {value.begin(), value.end()}, true, {}}; }

Node Binary(const std::string& key, std::vector<uint8_t> value) { return Node{key, std::move(value), false, {}}; }

Node Parent(const std::string& key, std::vector<Node> children) { return Node{key, {}, false, std::move(children)}; }

void Put16(std::vector<uint8_t>& out, size_t at, size_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Pad4(std::vector<uint8_t>& out) {
    while (out.size() % 4) out.push_back(0);
}

// Appends node at a 4-byte aligned offset; wide: the 32-bit form with UTF-16 texts.
void Serialize(const Node& node, bool wide, std::vector<uint8_t>& out) {
    const size_t start = out.size();
    out.resize(start + (wide ? 6 : 4), 0);
    for (char c : node.key) {
        out.push_back(static_cast<uint8_t>(c));
        if (wide) out.push_back(0);
    }
    out.insert(out.end(), wide ? 2 : 1, 0);
    Pad4(out);
    size_t valueLength = node.value.size();
    if (node.text) {
        for (uint8_t c : node.value) {
            out.push_back(c);
            if (wide) out.push_back(0);
        }
        out.insert(out.end(), wide ? 2 : 1, 0);
        valueLength += 1;  // with the NUL; units in the 32-bit form
    } else {
        out.insert(out.end(), node.value.begin(), node.value.end());
    }
    for (const Node& child : node.children) {
        Pad4(out);
        Serialize(child, wide, out);
    }
    Put16(out, start, out.size() - start);
    Put16(out, start + 2, valueLength);
    if (wide) Put16(out, start + 4, node.text ? 1 : 0);
}

std::vector<uint8_t> Fixed() {
    std::vector<uint8_t> v(52, 0);
    v[0] = 0xBD, v[1] = 0x04, v[2] = 0xEF, v[3] = 0xFE;
    return v;
}

// {language, code page} as stored: 0x0409 then 0x04b0.
std::vector<uint8_t> Us() { return {0x09, 0x04, 0xB0, 0x04}; }

std::vector<uint8_t> Build(bool wide, std::vector<Node> tables, std::vector<uint8_t> translation) {
    std::vector<Node> top;
    top.push_back(Parent("StringFileInfo", std::move(tables)));
    if (!translation.empty()) top.push_back(Parent("VarFileInfo", {Binary("Translation", std::move(translation))}));
    Node root{"VS_VERSION_INFO", Fixed(), false, std::move(top)};
    std::vector<uint8_t> out;
    Serialize(root, wide, out);
    return out;
}

// A US table and, as a decoy, the table an unswapped translation would name.
std::vector<uint8_t> SampleBlock(bool wide = true) {
    return Build(wide,
                 {Parent("04b00409", {Text("FileVersion", "wrong table")}),
                  Parent("040904B0", {Text("FileVersion", "5.1.2600"), Text("FileDescription", "Shell"),
                                      Text("ProductName", "Korvane Test"), Text("ProductVersion", "5.1")}),
                  Parent("08040936", {Text("FileVersion", "chinese table")})},
                 Us());
}

std::string Value(const std::vector<uint8_t>& block, const char* path) {
    VersionValue v;
    if (!FindVersionValue(block.data(), block.size(), path, &v)) return "<missing>";
    std::string s;
    for (size_t i = 0; i < v.size; i += v.wide ? 2 : 1) s.push_back(static_cast<char>(v.data[i]));
    return s;
}

// ---- In-memory system ------------------------------------------------------------------

struct FakeFile {
    std::string path;
    std::vector<uint8_t> version;  // empty: no resource
    bool statusReadable = true;
    FileStatus status = {};
};

struct FakeSystem {
    std::vector<FakeFile> files;
    bool failRead = false;
    int calls = 0;
    const FakeFile* Find(const char* path) {
        ++calls;
        for (const FakeFile& f : files)
            if (f.path == path) return &f;
        return nullptr;
    }
};

uint32_t FakeSize(void* ctx, const char* path) {
    const FakeFile* f = static_cast<FakeSystem*>(ctx)->Find(path);
    return f ? static_cast<uint32_t>(f->version.size()) : 0;
}

int FakeRead(void* ctx, const char* path, uint32_t size, void* block) {
    auto* sys = static_cast<FakeSystem*>(ctx);
    const FakeFile* f = sys->Find(path);
    if (!f || sys->failRead || size < f->version.size()) return 1;
    std::memcpy(block, f->version.data(), f->version.size());
    return 0;
}

int FakeStatus(void* ctx, const char* path, FileStatus* status) {
    const FakeFile* f = static_cast<FakeSystem*>(ctx)->Find(path);
    if (!f || !f->statusReadable) return 1;
    *status = f->status;
    return 0;
}

// A double-byte code page stand-in: each non-ASCII unit becomes two bytes "#x".
size_t FakeWideToAnsi(void*, const uint8_t* utf16le, size_t units, char* out, size_t outSize) {
    size_t needed = 0;
    for (size_t i = 0; i < units; ++i) needed += (utf16le[2 * i] < 0x80 && utf16le[2 * i + 1] == 0) ? 1 : 2;
    if (!out) return needed;
    if (outSize < needed) return 0;
    size_t o = 0;
    for (size_t i = 0; i < units; ++i) {
        if (utf16le[2 * i] < 0x80 && utf16le[2 * i + 1] == 0) {
            out[o++] = static_cast<char>(utf16le[2 * i]);
        } else {
            out[o++] = '#';
            out[o++] = 'x';
        }
    }
    return o;
}

class FileInfoTest : public ::testing::Test {
protected:
    FakeSystem sys;
    FileInfoOps ops = {&sys, FakeSize, FakeRead, FakeStatus, FakeWideToAnsi};

    void AddFile(const std::string& path, std::vector<uint8_t> version, bool statusReadable = true) {
        FakeFile f;
        f.path = path;
        f.version = std::move(version);
        f.statusReadable = statusReadable;
        f.status.size = 59392;
        f.status.modified = {2003, 12, 5, 23, 7, 9};
        sys.files.push_back(f);
    }

    std::string Details(const char* path, IdList* list) {
        char* out = reinterpret_cast<char*>(1);
        char* ret = GetFileDetails(&ops, &out, path, list);
        EXPECT_EQ(ret, out);
        if (!ret) return "<null>";
        std::string s = ret;
        std::free(ret);
        EXPECT_EQ(std::count(s.begin(), s.end(), '|'), 7) << s;
        return s;
    }
};

std::vector<std::string> Fields(const std::string& text) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == '|')
            fields.emplace_back();
        else
            fields.back().push_back(c);
    }
    return fields;
}

// ---- Version block lookups -------------------------------------------------------------

TEST(VersionBlockTest, PathsResolveInBothFormsWithoutRegardToCase) {
    for (bool wide : {true, false}) {
        SCOPED_TRACE(wide ? "32-bit form" : "16-bit form");
        const std::vector<uint8_t> block = SampleBlock(wide);
        EXPECT_EQ(Value(block, "\\StringFileInfo\\040904b0\\FileVersion"), std::string("5.1.2600\0", 9));
        EXPECT_EQ(Value(block, "\\\\stringfileinfo\\040904B0\\\\PRODUCTNAME\\"), std::string("Korvane Test\0", 13));
        VersionValue v;
        ASSERT_TRUE(FindVersionValue(block.data(), block.size(), "\\VarFileInfo\\Translation", &v));
        EXPECT_EQ(v.size, 4u);
        EXPECT_EQ(v.wide, wide);
        EXPECT_EQ(std::memcmp(v.data, Us().data(), 4), 0);
        ASSERT_TRUE(FindVersionValue(block.data(), block.size(), "\\", &v));
        EXPECT_EQ(v.size, 52u);
        EXPECT_EQ(Value(block, "\\StringFileInfo\\040904b0\\Comments"), "<missing>");
        EXPECT_EQ(Value(block, "\\StringFileInfo\\040904b0\\FileVersio"), "<missing>");
        EXPECT_EQ(Value(block, "\\StringFileInfo\\FileVersion"), "<missing>");
    }
}

TEST(VersionBlockTest, EveryReadStaysInsideTruncatedAndCorruptBlocks) {
    const std::vector<uint8_t> whole = SampleBlock();
    // Every prefix, in an exactly sized heap block so that an overread is caught.
    for (size_t n = 0; n <= whole.size(); ++n) {
        std::unique_ptr<uint8_t[]> copy(new uint8_t[n ? n : 1]);
        std::memcpy(copy.get(), whole.data(), n);
        VersionValue v;
        const bool found = FindVersionValue(copy.get(), n, "\\StringFileInfo\\040904b0\\ProductVersion", &v);
        if (found) {
            EXPECT_GE(v.data, copy.get());
            EXPECT_LE(v.data + v.size, copy.get() + n);
        }
        FindVersionValue(copy.get(), n, "\\VarFileInfo\\Translation", &v);
    }

    // A key without terminator inside its node is no match, not a read past it.
    std::vector<uint8_t> noNul(6, 0);
    Put16(noNul, 0, 6);
    noNul.insert(noNul.end(), {'V', 0});
    VersionValue v;
    EXPECT_FALSE(FindVersionValue(noNul.data(), noNul.size(), "\\", &v));
    EXPECT_FALSE(FindVersionValue(nullptr, 100, "\\", &v));
}

// ---- VersionInfo ------------------------------------------------------------------------

TEST_F(FileInfoTest, LoadSwapsTheTranslationAndGettersReadItsTable) {
    AddFile("c:\\a.exe", SampleBlock());
    VersionInfo info(&ops);
    ASSERT_TRUE(info.Load("c:\\a.exe"));
    EXPECT_EQ(info.translation, 0x040904b0u);
    char buf[64];
    EXPECT_EQ(info.GetFileVersion(buf, sizeof buf), 8u);
    EXPECT_STREQ(buf, "5.1.2600");
    info.GetFileDescription(buf, sizeof buf);
    EXPECT_STREQ(buf, "Shell");
    info.GetProductName(buf, sizeof buf);
    EXPECT_STREQ(buf, "Korvane Test");
    info.GetProductVersion(buf, sizeof buf);
    EXPECT_STREQ(buf, "5.1");
    // An explicit translation picks another table; a missing name gives the empty text.
    info.QueryString("FileVersion", 0x08040936, buf, sizeof buf);
    EXPECT_STREQ(buf, "chinese table");
    std::strcpy(buf, "junk");
    EXPECT_EQ(info.QueryString("Comments", 0, buf, sizeof buf), 0u);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(info.QueryString("FileVersion", 0x04070000, buf, sizeof buf), 0u);

    // The 16-bit form keeps its ANSI bytes.
    AddFile("c:\\old.exe", SampleBlock(false));
    ASSERT_TRUE(info.Load("c:\\old.exe"));
    info.GetProductName(buf, sizeof buf);
    EXPECT_STREQ(buf, "Korvane Test");
}

TEST_F(FileInfoTest, LoadFailsCleanlyWithoutResourceOrTranslation) {
    AddFile("c:\\none.exe", {});
    AddFile("c:\\notrans.exe", Build(true, {Parent("040904b0", {Text("FileVersion", "1.0")})}, {}));
    AddFile("c:\\short.exe", Build(true, {Parent("040904b0", {Text("FileVersion", "1.0")})}, {0x09, 0x04}));
    AddFile("c:\\good.exe", SampleBlock());
    VersionInfo info(&ops);
    char buf[16] = "junk";
    for (const char* path : {"c:\\none.exe", "c:\\notrans.exe", "c:\\short.exe", "c:\\missing.exe"}) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(info.Load("c:\\good.exe"));
        EXPECT_FALSE(info.Load(path));  // drops what was loaded before
        EXPECT_EQ(info.block, nullptr);
        EXPECT_EQ(info.GetFileVersion(buf, sizeof buf), 0u);
        EXPECT_STREQ(buf, "");
    }
    sys.failRead = true;
    EXPECT_FALSE(info.Load("c:\\good.exe"));
    EXPECT_EQ(info.block, nullptr);
    VersionInfo noOps(nullptr);
    EXPECT_FALSE(noOps.Load("c:\\good.exe"));
}

TEST_F(FileInfoTest, QueryStringHonoursTheBufferBound) {
    AddFile("c:\\a.exe", Build(true, {Parent("040904b0", {Text("FileDescription", "Ab\xE9" "cd")})}, Us()));
    VersionInfo info(&ops);
    ASSERT_TRUE(info.Load("c:\\a.exe"));
    // The converter widens the non-ASCII unit to two bytes: "Ab#xcd", 6 bytes.
    char buf[8];
    EXPECT_EQ(info.GetFileDescription(buf, sizeof buf), 6u);
    EXPECT_STREQ(buf, "Ab#xcd");
    std::memset(buf, '*', sizeof buf);
    EXPECT_EQ(info.GetFileDescription(buf, 4), 6u);
    EXPECT_STREQ(buf, "Ab#");
    EXPECT_EQ(buf[4], '*');
    EXPECT_EQ(info.GetFileDescription(buf, 0), 6u);
    EXPECT_EQ(buf[0], 'A');  // untouched
    EXPECT_EQ(info.GetFileDescription(nullptr, 100), 6u);

    // Without a converter, ASCII passes and the rest becomes "?".
    ops.wideToAnsi = nullptr;
    EXPECT_EQ(info.GetFileDescription(buf, sizeof buf), 5u);
    EXPECT_STREQ(buf, "Ab?cd");
}

// ---- Details text -----------------------------------------------------------------------

TEST_F(FileInfoTest, DetailsCarryAllEightFieldsInOrder) {
    AddFile("C:\\WIN\\EXPLORER.EXE", SampleBlock());
    IdList* list = NewIdList(0x1A4);
    ASSERT_TRUE(AppendIdListNumber(&list, 0x8));
    EXPECT_EQ(Details("C:\\WIN\\EXPLORER.EXE", list),
              "8,1a4|C:\\WIN\\EXPLORER.EXE|5.1.2600|59392|December 05, 2003 23:07:09|Shell|Korvane Test|5.1");

    // Sizes past 4 GB keep every digit; a single instance has no comma.
    sys.files[0].status.size = 0x123456789ull;
    sys.files[0].status.modified = {1999, 1, 31, 0, 0, 0};
    const std::vector<std::string> f = Fields(Details("C:\\WIN\\EXPLORER.EXE", NewIdList(4)));
    ASSERT_EQ(f.size(), 8u);
    EXPECT_EQ(f[0], "4");
    EXPECT_EQ(f[3], "4886718345");
    EXPECT_EQ(f[4], "January 31, 1999 00:00:00");

    if (sizeof(uintptr_t) == 8) {
        EXPECT_EQ(Fields(Details("C:\\WIN\\EXPLORER.EXE", NewIdList(0x7ff612340000ull)))[0], "7ff612340000");
    }
}

TEST_F(FileInfoTest, DetailsOfFilesMissingPartsLeaveThoseFieldsEmpty) {
    AddFile("c:\\plain.txt", {});
    EXPECT_EQ(Details("c:\\plain.txt", nullptr),
              "application does not loaded|c:\\plain.txt||59392|December 05, 2003 23:07:09|||");

    EXPECT_EQ(Details("c:\\gone.exe", nullptr), "application does not loaded|c:\\gone.exe||||||");

    AddFile("c:\\locked.exe", SampleBlock(), false);
    EXPECT_EQ(Details("c:\\locked.exe", nullptr),
              "application does not loaded|c:\\locked.exe|5.1.2600|||Shell|Korvane Test|5.1");

    // A time the system could not have produced is treated as an unreadable status.
    AddFile("c:\\odd.exe", {});
    sys.files.back().status.modified.month = 13;
    EXPECT_EQ(Details("c:\\odd.exe", nullptr), "application does not loaded|c:\\odd.exe||||||");

    // An empty path asks the system nothing.
    sys.calls = 0;
    EXPECT_EQ(Details("", NewIdList(0x10)), "10|||||||");
    EXPECT_EQ(Details(nullptr, nullptr), "application does not loaded|||||||");
    EXPECT_EQ(sys.calls, 0);

    // An empty list gives an empty instances field.
    IdList* empty = static_cast<IdList*>(std::malloc(sizeof(IdList)));
    *empty = {0, 0, nullptr};
    EXPECT_EQ(Details("", empty), "|||||||");

    FileInfoOps none = {};
    char* text = GetFileDetails(&none, nullptr, "c:\\x", nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "application does not loaded|c:\\x||||||");
    std::free(text);
}

TEST_F(FileInfoTest, LineBreaksInVersionStringsDoNotBreakTheText) {
    AddFile("c:\\a.exe", Build(true, {Parent("040904b0", {Text("FileDescription", "two\r\nlines")})}, Us()));
    EXPECT_EQ(Fields(Details("c:\\a.exe", nullptr))[5], "two  lines");
}

// ---- Process name lookup ----------------------------------------------------------------

class ProcessLookupTest : public ::testing::Test {
protected:
    HashTable* table = nullptr;
    void SetUp() override {
        InstallApplicationTableHooks();
        table = CreateTable(8, 1);
        ASSERT_NE(table, nullptr);
        Add(0x1A4, "C:\\WIN\\EXPLORER.EXE");
        Add(4, "System");
        Add(0x8, "c:\\win\\explorer.exe");
        Add(0x10, "C:\\WIN\\EXPLORER.EXE.BAK");
    }
    void TearDown() override { DestroyTable(table, 1); }
    void Add(uint32_t id, const char* name) {
        char* value = static_cast<char*>(std::malloc(std::strlen(name) + 1));
        std::strcpy(value, name);
        ASSERT_NE(InsertEntry(table, NewUInt32Key(id), 4, value), nullptr);
    }
};

TEST_F(ProcessLookupTest, MatchesWithoutRegardToCaseInTableOrder) {
    IdList* list = nullptr;
    IdList* found = FindProcessIdsByName(table, &list, "c:\\Win\\Explorer.exe");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found, list);
    ASSERT_EQ(list->count, 2u);
    EXPECT_EQ(IdListNumber(list, 0), 0x1A4u);
    EXPECT_EQ(IdListNumber(list, 1), 0x8u);
    EXPECT_EQ(IdListNumber(list, 2), 0u);

    // A second lookup appends to the same list.
    EXPECT_EQ(FindProcessIdsByName(table, &list, "SYSTEM"), list);
    ASSERT_EQ(list->count, 3u);
    EXPECT_EQ(IdListNumber(list, 2), 4u);

    FakeSystem sys;
    FileInfoOps ops = {&sys, FakeSize, FakeRead, FakeStatus, nullptr};
    char* text = GetFileDetails(&ops, nullptr, "", list);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "4,8,1a4|||||||");
    std::free(text);
}

TEST_F(ProcessLookupTest, NoMatchOrMissingArgumentsChangeNothing) {
    IdList* list = nullptr;
    EXPECT_EQ(FindProcessIdsByName(table, &list, "c:\\win\\explorer"), nullptr);
    EXPECT_EQ(FindProcessIdsByName(table, &list, ""), nullptr);
    EXPECT_EQ(list, nullptr);

    list = NewIdList(0x99);
    IdList* before = list;
    EXPECT_EQ(FindProcessIdsByName(nullptr, &list, "system"), nullptr);
    EXPECT_EQ(FindProcessIdsByName(table, nullptr, "system"), nullptr);
    EXPECT_EQ(FindProcessIdsByName(table, &list, "notepad.exe"), before);
    EXPECT_EQ(list, before);
    EXPECT_EQ(list->count, 1u);
    FreeIdList(list);
}

}  // namespace
