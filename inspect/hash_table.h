// Keyed record table: byte-string keys, one value pointer each, duplicate keys
// refused, insertion-ordered iteration, no removal. Memory and key comparison go
// through process-wide hooks installed once at start.
#pragma once

#include <cstddef>
#include <cstdint>

using TableAllocate = void* (*)(size_t byteCount);
using TableFree = void (*)(void* block);
// 0 when the keys are equal; any other value otherwise.
using TableCompare = int (*)(const void* storedKey, const void* probeKey, int32_t length);
using TableReleaseEntry = void (*)(void* key, int32_t keyLength, void* value, uint32_t ownerFlag);

struct TableHooks {
    TableAllocate allocate;
    TableFree free;
    TableCompare compare;
    TableReleaseEntry releaseEntry;
};

struct HashTableNode {
    HashTableNode* chainPrev;
    HashTableNode* chainNext;
    uint32_t hash;
    void* key;
    int32_t keyLength;
    void* value;
    HashTableNode* listPrev;
    HashTableNode* listNext;
};

struct HashTable {
    HashTableNode** buckets;
    uint32_t mask;
    uint32_t ownerFlag;
    HashTableNode* head;
    HashTableNode* tail;
};

// Record shape released by ReleaseTableEntry with ownerFlag 0: {kind, count, items}.
// Kind 100: the items are not owned. Kind 0xFFFF: items[0] chains sub-records.
struct TableRecord {
    uint32_t kind;
    uint32_t count;
    char** items;
};

constexpr uint32_t kRecordKindUnowned = 100;
constexpr uint32_t kRecordKindChain = 0xFFFF;

void SetTableHooks(TableAllocate allocate, TableFree free, TableCompare compare,
                   TableReleaseEntry releaseEntry);
const TableHooks& GetTableHooks();

HashTable* CreateTable(uint32_t bits, uint32_t ownerFlag);
HashTableNode* InsertEntry(HashTable* table, void* key, int32_t keyLength, void* value);
// As InsertEntry for a key the caller knows is not in the table (a loader numbering its
// own entries): no search for a duplicate, and the node goes first in its bucket's
// chain. With 256 buckets and many keys this keeps n inserts linear where InsertEntry's
// duplicate search makes them quadratic. Null only when out of memory.
HashTableNode* InsertNewEntry(HashTable* table, void* key, int32_t keyLength, void* value);
HashTableNode* FindEntry(const HashTable* table, const void* key, int32_t keyLength);
HashTableNode* FirstEntry(const HashTable* table);
HashTableNode* NextEntry(const HashTableNode* node);
void DestroyTable(HashTable* table, int release);

uint32_t HashKey(const void* key, int32_t length);

// The application's hooks: malloc/free, whole-key numeric compare, and the
// release rules for plain blocks (ownerFlag non-zero) and records (ownerFlag 0).
void* AllocateTableBlock(size_t byteCount);
void FreeTableBlock(void* block);
int CompareTableKeys(const void* storedKey, const void* probeKey, int32_t length);
void ReleaseTableEntry(void* key, int32_t keyLength, void* value, uint32_t ownerFlag);
void InstallApplicationTableHooks();

// Heap copy of length bytes of text plus a terminating zero (the table's value and
// record texts); null when out of memory.
char* NewTextCopy(const char* text, size_t length);
// Heap copy of a zero-terminated text; null when out of memory.
char* NewText(const char* text);

// Heap block holding a copy of a number of the key's width; null when out of memory.
void* NewUInt32Key(uint32_t number);
void* NewPointerKey(uintptr_t number);
