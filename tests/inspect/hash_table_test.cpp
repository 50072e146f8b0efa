// The record table; what its release rules free is checked for leaks and double frees
// by the sanitizer build.
#include "inspect/hash_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<void*> g_released;
void RecordRelease(void* key, int32_t, void*, uint32_t) { g_released.push_back(key); }

void* Key64(uint64_t v) {
    void* k = std::malloc(8);
    std::memcpy(k, &v, 8);
    return k;
}

// 0x100, 0x200 and 0x300 share their first byte and so one bucket; the two 8-byte keys
// differ only above their low four bytes, as two module handles on x64 can.
TEST(HashTable, WholeKeysDecideAndIterationKeepsInsertionOrder) {
    SetTableHooks(nullptr, FreeTableBlock, CompareTableKeys, ReleaseTableEntry);
    EXPECT_EQ(CreateTable(8, 1), nullptr);
    InstallApplicationTableHooks();
    EXPECT_EQ(CreateTable(0, 1), nullptr);
    HashTable* t = CreateTable(8, 1);
    ASSERT_NE(t, nullptr);
    // fresh: a key known to be new, linked without the duplicate search.
    const struct { void* key; int32_t length; bool inserted, fresh; } inserts[] = {
        {NewUInt32Key(0x100), 4, true, false}, {NewUInt32Key(0x200), 4, true, false}, {NewUInt32Key(0x300), 4, true, false},
        {NewUInt32Key(0x200), 4, false, false}, {Key64(0x100400000ull), 8, true, false},
        {Key64(0x200400000ull), 8, true, false}, {NewUInt32Key(0x500), 4, true, true}};
    std::vector<void*> expected, seen;
    for (const auto& row : inserts) {
        char* value = strdup("v");
        HashTableNode* node = row.fresh ? InsertNewEntry(t, row.key, row.length, value)
                                        : InsertEntry(t, row.key, row.length, value);
        EXPECT_EQ(node != nullptr, row.inserted);
        if (row.inserted) expected.push_back(row.key);
        else std::free(row.key), std::free(value);  // a refused entry stays the caller's
    }
    for (HashTableNode* e = FirstEntry(t); e; e = NextEntry(e)) seen.push_back(e->key);
    EXPECT_EQ(seen, expected);
    // The hash reads the first byte only, sign-extended: sum of (byte + i) for i = length .. 0.
    const uint32_t id = 0x200, high = 0xF0, fresh = 0x500;
    const uint64_t handle = 0x200400000ull, wideId = 0x200;
    EXPECT_EQ(HashKey(&high, 4), static_cast<uint32_t>(5 * -16 + 10));
    EXPECT_EQ(FindEntry(t, &id, 4)->key, expected[1]);
    EXPECT_EQ(FindEntry(t, &handle, 8)->key, expected[4]);
    EXPECT_EQ(FindEntry(t, &wideId, 8), nullptr) << "the length is part of the key";
    EXPECT_EQ(InsertEntry(t, const_cast<uint32_t*>(&fresh), 4, nullptr), nullptr) << "a fresh key is refused again";
    DestroyTable(t, 1);
}

TableRecord* NewRecord(uint32_t kind, std::vector<char*> items) {
    auto* r = static_cast<TableRecord*>(std::malloc(sizeof(TableRecord)));
    *r = {kind, static_cast<uint32_t>(items.size()), static_cast<char**>(std::malloc(items.size() * sizeof(char*) + 1))};
    for (size_t i = 0; i < items.size(); ++i) r->items[i] = items[i];
    return r;
}

TEST(HashTable, ReleaseRulesForBlocksAndRecords) {
    SetTableHooks(AllocateTableBlock, FreeTableBlock, CompareTableKeys, RecordRelease);
    uint32_t keys[] = {1, 0x101, 2};
    for (int release : {0, 1}) {  // entries are released only when asked
        HashTable* t = CreateTable(8, 1);
        for (uint32_t& k : keys) ASSERT_NE(InsertEntry(t, &k, 4, nullptr), nullptr);
        DestroyTable(t, release);
        EXPECT_EQ(g_released.size(), release ? 3u : 0u);
    }
    InstallApplicationTableHooks();
    HashTable* blocks = CreateTable(8, 1);
    HashTable* records = CreateTable(8, 0);
    ASSERT_NE(InsertEntry(blocks, NewUInt32Key(9), 4, strdup("name.exe")), nullptr);
    static char borrowed[] = "borrowed";  // kind 100 borrows its items: they survive the release
    // Kind 0xFFFF: items[0] links the next sub-record; two are chained. Key 4: a key alone.
    TableRecord* last = NewRecord(1, {nullptr, strdup("typeC"), strdup(".c")});
    TableRecord* middle = NewRecord(kRecordKindChain, {reinterpret_cast<char*>(last), strdup("typeB")});
    void* values[] = {NewRecord(2, {strdup("a"), strdup("b")}), NewRecord(kRecordKindUnowned, {borrowed, borrowed}),
                      NewRecord(kRecordKindChain, {reinterpret_cast<char*>(middle), strdup("typeA"), strdup(".a")}), nullptr};
    for (uint32_t key = 1; key <= 4; ++key) ASSERT_NE(InsertEntry(records, NewUInt32Key(key), 4, values[key - 1]), nullptr);
    DestroyTable(blocks, 1);
    DestroyTable(records, 1);
    EXPECT_STREQ(borrowed, "borrowed");
}

}  // namespace
