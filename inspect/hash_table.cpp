#include "inspect/hash_table.h"

#include <cstdlib>
#include <cstring>

namespace {
TableHooks g_hooks = {nullptr, nullptr, nullptr, nullptr};
}

void SetTableHooks(TableAllocate allocate, TableFree free, TableCompare compare,
                   TableReleaseEntry releaseEntry) {
    g_hooks = {allocate, free, compare, releaseEntry};
}

const TableHooks& GetTableHooks() { return g_hooks; }

uint32_t HashKey(const void* key, int32_t length) {
    if (length < 0) return 0;
    // Only the first byte enters, sign-extended: sum of (s + i) for i = length .. 0.
    const uint32_t s = static_cast<uint32_t>(static_cast<int32_t>(*static_cast<const int8_t*>(key)));
    const uint32_t n = static_cast<uint32_t>(length);
    const uint64_t triangle = static_cast<uint64_t>(n) * (static_cast<uint64_t>(n) + 1) / 2;
    return (n + 1) * s + static_cast<uint32_t>(triangle);
}

HashTable* CreateTable(uint32_t bits, uint32_t ownerFlag) {
    if (!g_hooks.allocate || !g_hooks.free || bits == 0 || bits > 24) return nullptr;
    auto* table = static_cast<HashTable*>(g_hooks.allocate(sizeof(HashTable)));
    if (!table) return nullptr;
    const size_t bucketCount = size_t{1} << bits;
    table->buckets = static_cast<HashTableNode**>(g_hooks.allocate(bucketCount * sizeof(HashTableNode*)));
    if (!table->buckets) {
        g_hooks.free(table);
        return nullptr;
    }
    for (size_t i = 0; i < bucketCount; ++i) table->buckets[i] = nullptr;
    table->mask = static_cast<uint32_t>(bucketCount - 1);
    table->ownerFlag = ownerFlag;
    table->head = nullptr;
    table->tail = nullptr;
    return table;
}

static HashTableNode* NewNode(uint32_t hash, void* key, int32_t keyLength, void* value) {
    auto* node = static_cast<HashTableNode*>(g_hooks.allocate(sizeof(HashTableNode)));
    if (!node) return nullptr;
    *node = {nullptr, nullptr, hash, key, keyLength, value, nullptr, nullptr};
    return node;
}

static void AppendToList(HashTable* table, HashTableNode* node) {
    node->listPrev = table->tail;
    if (table->tail) table->tail->listNext = node;
    table->tail = node;
    if (!table->head) table->head = node;
}

HashTableNode* InsertEntry(HashTable* table, void* key, int32_t keyLength, void* value) {
    const uint32_t h = HashKey(key, keyLength);
    HashTableNode** bucket = &table->buckets[h & table->mask];
    HashTableNode* last = nullptr;
    for (HashTableNode* n = *bucket; n; n = n->chainNext) {
        if (n->keyLength == keyLength && g_hooks.compare(n->key, key, keyLength) == 0) return nullptr;
        last = n;
    }
    HashTableNode* node = NewNode(h, key, keyLength, value);
    if (!node) return nullptr;
    if (last) {
        node->chainPrev = last;
        last->chainNext = node;
    } else {
        *bucket = node;
    }
    AppendToList(table, node);
    return node;
}

HashTableNode* InsertNewEntry(HashTable* table, void* key, int32_t keyLength, void* value) {
    const uint32_t h = HashKey(key, keyLength);
    HashTableNode** bucket = &table->buckets[h & table->mask];
    HashTableNode* node = NewNode(h, key, keyLength, value);
    if (!node) return nullptr;
    node->chainNext = *bucket;
    if (*bucket) (*bucket)->chainPrev = node;
    *bucket = node;
    AppendToList(table, node);
    return node;
}

HashTableNode* FindEntry(const HashTable* table, const void* key, int32_t keyLength) {
    const uint32_t h = HashKey(key, keyLength);
    for (HashTableNode* n = table->buckets[h & table->mask]; n; n = n->chainNext) {
        if (n->keyLength == keyLength && g_hooks.compare(n->key, key, keyLength) == 0) return n;
    }
    return nullptr;
}

HashTableNode* FirstEntry(const HashTable* table) { return table->head; }

HashTableNode* NextEntry(const HashTableNode* node) { return node->listNext; }

void DestroyTable(HashTable* table, int release) {
    if (!table) return;
    for (uint32_t b = 0; b <= table->mask; ++b) {
        HashTableNode* n = table->buckets[b];
        while (n) {
            HashTableNode* next = n->chainNext;
            if (release) g_hooks.releaseEntry(n->key, n->keyLength, n->value, table->ownerFlag);
            g_hooks.free(n);
            n = next;
        }
    }
    g_hooks.free(table->buckets);
    g_hooks.free(table);
}

void* AllocateTableBlock(size_t byteCount) { return std::malloc(byteCount); }

void FreeTableBlock(void* block) { std::free(block); }

int CompareTableKeys(const void* storedKey, const void* probeKey, int32_t length) {
    // The whole key is one little-endian unsigned number (4-byte IDs, pointer-width handles).
    const auto* a = static_cast<const uint8_t*>(storedKey);
    const auto* b = static_cast<const uint8_t*>(probeKey);
    for (int32_t i = length - 1; i >= 0; --i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

void ReleaseTableEntry(void* key, int32_t keyLength, void* value, uint32_t ownerFlag) {
    std::free(key);
    if (!value) return;
    if (ownerFlag != 0) {
        std::free(value);
        return;
    }
    auto* record = static_cast<TableRecord*>(value);
    if (record->items) {
        if (record->kind == kRecordKindChain && record->count > 0) {
            // items[0] heads a chain of sub-records; each keeps the next link in its own items[0].
            while (record->items[0]) {
                auto* sub = reinterpret_cast<TableRecord*>(record->items[0]);
                record->items[0] = sub->items ? (sub->count > 0 ? sub->items[0] : nullptr) : nullptr;
                if (sub->items) {
                    for (uint32_t i = sub->count; i-- > 1;) std::free(sub->items[i]);
                    std::free(sub->items);
                }
                std::free(sub);
            }
        }
        if (record->kind != kRecordKindUnowned) {
            for (uint32_t i = record->count; i-- > 0;) std::free(record->items[i]);
        }
        std::free(record->items);
    }
    std::free(record);
}

void InstallApplicationTableHooks() {
    SetTableHooks(AllocateTableBlock, FreeTableBlock, CompareTableKeys, ReleaseTableEntry);
}

char* NewTextCopy(const char* text, size_t length) {
    auto* copy = static_cast<char*>(std::malloc(length + 1));
    if (!copy) return nullptr;
    if (length) std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

char* NewText(const char* text) { return NewTextCopy(text, std::strlen(text)); }

void* NewUInt32Key(uint32_t number) {
    void* key = std::malloc(sizeof number);
    if (key) std::memcpy(key, &number, sizeof number);
    return key;
}

void* NewPointerKey(uintptr_t number) {
    void* key = std::malloc(sizeof number);
    if (key) std::memcpy(key, &number, sizeof number);
    return key;
}
