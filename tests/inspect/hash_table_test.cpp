#include "inspect/hash_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <set>
#include <vector>

namespace {

// Counting allocator: every block handed out must come back exactly once.
std::set<void*> g_live;
void* CountingAllocate(size_t n) {
    void* p = std::malloc(n);
    if (p) g_live.insert(p);
    return p;
}
void CountingFree(void* p) {
    if (p) {
        EXPECT_EQ(g_live.erase(p), 1u) << "freed a block the table did not allocate";
    }
    std::free(p);
}

std::vector<void*> g_releasedKeys;
void RecordRelease(void* key, int32_t, void*, uint32_t) { g_releasedKeys.push_back(key); }

class HashTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_live.clear();
        g_releasedKeys.clear();
        SetTableHooks(CountingAllocate, CountingFree, CompareTableKeys, ReleaseTableEntry);
    }
    void TearDown() override { EXPECT_TRUE(g_live.empty()) << g_live.size() << " table blocks leaked"; }
};

char* Dup(const char* s) {
    char* p = static_cast<char*>(std::malloc(std::strlen(s) + 1));
    std::strcpy(p, s);
    return p;
}

TEST_F(HashTableTest, CreateRefusesMissingHooksAndZeroBits) {
    EXPECT_EQ(CreateTable(0, 1), nullptr);
    SetTableHooks(nullptr, CountingFree, CompareTableKeys, ReleaseTableEntry);
    EXPECT_EQ(CreateTable(8, 1), nullptr);
    SetTableHooks(CountingAllocate, nullptr, CompareTableKeys, ReleaseTableEntry);
    EXPECT_EQ(CreateTable(8, 1), nullptr);
    EXPECT_TRUE(g_live.empty());
}

TEST_F(HashTableTest, HashUsesOnlyTheSignExtendedFirstByte) {
    const uint32_t small = 0x12345607;
    EXPECT_EQ(HashKey(&small, 4), 5u * 7 + 10);
    const uint32_t high = 0x000000F0;  // first byte -16 as a signed byte
    EXPECT_EQ(HashKey(&high, 4), static_cast<uint32_t>(5 * -16 + 10));
    const uint32_t other = 0xABCDEF07;  // same low byte, same hash
    EXPECT_EQ(HashKey(&other, 4), HashKey(&small, 4));
    EXPECT_EQ(HashKey(&small, 0), 7u);
    EXPECT_EQ(HashKey(&small, -3), 0u);
}

TEST_F(HashTableTest, DuplicatesRefusedAndSameBucketKeysToldApart) {
    HashTable* t = CreateTable(8, 1);
    ASSERT_NE(t, nullptr);
    void* k1 = NewUInt32Key(0x100);  // all three share low byte 0 and so one bucket
    void* k2 = NewUInt32Key(0x200);
    void* k3 = NewUInt32Key(0x300);
    char* v1 = Dup("first");
    ASSERT_NE(InsertEntry(t, k1, 4, v1), nullptr);
    ASSERT_NE(InsertEntry(t, k2, 4, Dup("second")), nullptr);
    ASSERT_NE(InsertEntry(t, k3, 4, Dup("third")), nullptr);

    void* again = NewUInt32Key(0x200);
    char* refused = Dup("refused");
    EXPECT_EQ(InsertEntry(t, again, 4, refused), nullptr);  // stays the caller's

    const uint32_t probe = 0x200;
    HashTableNode* n = FindEntry(t, &probe, 4);
    ASSERT_NE(n, nullptr);
    EXPECT_STREQ(static_cast<char*>(n->value), "second");
    const uint32_t absent = 0x400;
    EXPECT_EQ(FindEntry(t, &absent, 4), nullptr);
    EXPECT_EQ(FindEntry(t, &probe, 8), nullptr) << "length is part of the key";

    int count = 0;
    for (HashTableNode* e = FirstEntry(t); e; e = NextEntry(e)) ++count;
    EXPECT_EQ(count, 3);

    std::free(again);
    std::free(refused);
    DestroyTable(t, 1);
}

TEST_F(HashTableTest, PointerWidthKeysCompareTheWholeKey) {
    HashTable* t = CreateTable(8, 1);
    ASSERT_NE(t, nullptr);
    // Same low four bytes, different high bytes: distinct handles on x64.
    const uint64_t a = 0x0000000100400000ull, b = 0x0000000200400000ull;
    void* ka = std::malloc(8);
    void* kb = std::malloc(8);
    std::memcpy(ka, &a, 8);
    std::memcpy(kb, &b, 8);
    ASSERT_NE(InsertEntry(t, ka, 8, Dup("a")), nullptr);
    ASSERT_NE(InsertEntry(t, kb, 8, Dup("b")), nullptr);
    HashTableNode* n = FindEntry(t, &b, 8);
    ASSERT_NE(n, nullptr);
    EXPECT_STREQ(static_cast<char*>(n->value), "b");
    EXPECT_LT(CompareTableKeys(&a, &b, 8), 0);
    EXPECT_GT(CompareTableKeys(&b, &a, 8), 0);
    DestroyTable(t, 1);
}

TEST_F(HashTableTest, IterationFollowsInsertionOrderAcrossBuckets) {
    HashTable* t = CreateTable(8, 1);
    ASSERT_NE(t, nullptr);
    const uint32_t ids[] = {0x2FF, 3, 0x100, 0x7A, 0x1003, 0xFFFFFFFF, 42, 0x200, 0x303};
    // Known-new keys (odd positions) go first in their chains: found, and refused again
    // by InsertEntry, like the others.
    for (size_t i = 0; i < std::size(ids); ++i) {
        void* key = NewUInt32Key(ids[i]);
        ASSERT_NE(i % 2 ? InsertNewEntry(t, key, 4, Dup("x")) : InsertEntry(t, key, 4, Dup("x")), nullptr);
    }
    for (uint32_t id : ids) {
        const HashTableNode* found = FindEntry(t, &id, 4);
        ASSERT_NE(found, nullptr) << id;
        EXPECT_EQ(std::memcmp(found->key, &id, 4), 0);
        EXPECT_EQ(InsertEntry(t, &id, 4, nullptr), nullptr) << id;
    }
    std::vector<uint32_t> seen;
    for (HashTableNode* e = FirstEntry(t); e; e = NextEntry(e)) {
        uint32_t id;
        std::memcpy(&id, e->key, 4);
        seen.push_back(id);
    }
    EXPECT_EQ(seen, std::vector<uint32_t>(std::begin(ids), std::end(ids)));
    EXPECT_EQ(t->tail->listNext, nullptr);
    DestroyTable(t, 1);
}

TEST_F(HashTableTest, EmptyTableAndNullDestroy) {
    HashTable* t = CreateTable(8, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(FirstEntry(t), nullptr);
    DestroyTable(t, 1);
    DestroyTable(nullptr, 1);
}

TEST_F(HashTableTest, DestroyWithoutReleaseLeavesKeysAndValuesToTheCaller) {
    SetTableHooks(CountingAllocate, CountingFree, CompareTableKeys, RecordRelease);
    HashTable* t = CreateTable(8, 1);
    ASSERT_NE(t, nullptr);
    uint32_t key = 5;
    char value[] = "caller's";
    ASSERT_NE(InsertEntry(t, &key, 4, value), nullptr);
    DestroyTable(t, 0);
    EXPECT_TRUE(g_releasedKeys.empty());
    EXPECT_STREQ(value, "caller's");
}

TEST_F(HashTableTest, DestroyWithReleaseHandsEveryEntryToTheHook) {
    SetTableHooks(CountingAllocate, CountingFree, CompareTableKeys, RecordRelease);
    HashTable* t = CreateTable(8, 1);
    ASSERT_NE(t, nullptr);
    uint32_t keys[] = {1, 0x101, 2};
    for (uint32_t& k : keys) ASSERT_NE(InsertEntry(t, &k, 4, nullptr), nullptr);
    DestroyTable(t, 1);
    EXPECT_EQ(g_releasedKeys.size(), 3u);
}

// Records are checked for leaks and double frees by the sanitizer build.
TableRecord* NewRecord(uint32_t kind, std::vector<char*> items) {
    auto* r = static_cast<TableRecord*>(std::malloc(sizeof(TableRecord)));
    r->kind = kind;
    r->count = static_cast<uint32_t>(items.size());
    r->items = static_cast<char**>(std::malloc(items.size() * sizeof(char*) + 1));
    for (size_t i = 0; i < items.size(); ++i) r->items[i] = items[i];
    return r;
}

TEST_F(HashTableTest, ReleaseRulesForRecords) {
    HashTable* t = CreateTable(8, 0);
    ASSERT_NE(t, nullptr);
    ASSERT_NE(InsertEntry(t, NewUInt32Key(1), 4, NewRecord(2, {Dup("a"), Dup("b")})), nullptr);

    // Kind 100 borrows its items: they must survive the release.
    static char borrowed1[] = "borrowed", borrowed2[] = "items";
    ASSERT_NE(InsertEntry(t, NewUInt32Key(2), 4, NewRecord(kRecordKindUnowned, {borrowed1, borrowed2})), nullptr);

    // Kind 0xFFFF: link, name, extensions; two chained sub-records.
    TableRecord* last = NewRecord(1, {nullptr, Dup("typeC"), Dup(".c")});
    TableRecord* middle = NewRecord(kRecordKindChain, {reinterpret_cast<char*>(last), Dup("typeB")});
    TableRecord* head = NewRecord(kRecordKindChain, {reinterpret_cast<char*>(middle), Dup("typeA"), Dup(".a"), Dup(".aa")});
    ASSERT_NE(InsertEntry(t, NewUInt32Key(3), 4, head), nullptr);

    ASSERT_NE(InsertEntry(t, NewUInt32Key(4), 4, nullptr), nullptr);  // null value: key only
    DestroyTable(t, 1);
    EXPECT_STREQ(borrowed1, "borrowed");
    EXPECT_STREQ(borrowed2, "items");
}

TEST_F(HashTableTest, PlainBlocksReleasedWithOwnerFlag) {
    HashTable* t = CreateTable(8, 1);
    ASSERT_NE(t, nullptr);
    ASSERT_NE(InsertEntry(t, NewUInt32Key(9), 4, Dup("name.exe")), nullptr);
    DestroyTable(t, 1);
}

}  // namespace
