#include "autorun/file_types.h"

#include <cstdlib>
#include <cstring>

#include "autorun/collectors.h"
#include "report/report_line.h"

namespace {

constexpr char kShellSuffix[] = "\\shell";
constexpr char kCommandSuffix[] = "\\command";
constexpr char kCommandSeparator[] = "\\command = ";
// Kind of the record that a chain gains first; later ones carry the chain's kind.
constexpr uint32_t kRecordKindChained = 1;

struct CrcTable {
    uint32_t entries[256];
    CrcTable() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[i] = c;
        }
    }
};

// Records of a chain hold their link in items[0] and their name in items[1].
uint32_t NameIndex(const TableRecord* record) { return record->kind == 0 ? 0 : 1; }
TableRecord* NextInChain(const TableRecord* record) {
    return record->kind == 0 ? nullptr : reinterpret_cast<TableRecord*>(record->items[0]);
}

bool AppendItem(TableRecord* record, char* item) {
    auto** items = static_cast<char**>(std::realloc(record->items, (record->count + 1) * sizeof(char*)));
    if (!items) return false;
    items[record->count++] = item;
    record->items = items;
    return true;
}

// A record whose items start with the given ones.
TableRecord* NewRecord(uint32_t kind, char* first, char* second, uint32_t count) {
    auto* record = static_cast<TableRecord*>(std::malloc(sizeof(TableRecord)));
    auto** items = static_cast<char**>(std::malloc(2 * sizeof(char*)));
    if (!record || !items) {
        std::free(record);
        std::free(items);
        return nullptr;
    }
    items[0] = first;
    items[1] = second;
    *record = {kind, count, items};
    return record;
}

TableRecord* FindGroup(const HashTable* groups, uint32_t crc, const char* typeName) {
    const HashTableNode* node = FindEntry(groups, &crc, sizeof crc);
    for (auto* record = node ? static_cast<TableRecord*>(node->value) : nullptr; record; record = NextInChain(record)) {
        if (std::strcmp(record->items[NameIndex(record)], typeName) == 0) return record;
    }
    return nullptr;
}

// A new group for typeName: the table's first for its CRC, or the end of that CRC's chain.
TableRecord* AddGroup(HashTable* groups, uint32_t crc, const char* typeName) {
    char* name = NewText(typeName);
    if (!name) return nullptr;
    HashTableNode* node = FindEntry(groups, &crc, sizeof crc);
    if (!node) {
        void* key = NewUInt32Key(crc);
        TableRecord* record = key ? NewRecord(0, name, nullptr, 1) : nullptr;
        if (record && InsertEntry(groups, key, sizeof crc, record)) return record;
        std::free(key);
        std::free(name);
        if (record) std::free(record->items);
        std::free(record);
        return nullptr;
    }
    auto* head = static_cast<TableRecord*>(node->value);
    TableRecord* record = NewRecord(head->kind == 0 ? kRecordKindChained : kRecordKindChain, nullptr, name, 2);
    if (!record) {
        std::free(name);
        return nullptr;
    }
    if (head->kind == 0) {
        // The lone record becomes the chain's head: its items move up behind a link.
        if (!AppendItem(head, nullptr)) {
            std::free(record->items);
            std::free(record);
            std::free(name);
            return nullptr;
        }
        std::memmove(head->items + 1, head->items, (head->count - 1) * sizeof(char*));
        head->items[0] = nullptr;
        head->kind = kRecordKindChain;
    }
    TableRecord* last = head;
    while (NextInChain(last)) last = NextInChain(last);
    last->items[0] = reinterpret_cast<char*>(record);
    return record;
}

}  // namespace

uint32_t Crc32(size_t length, const void* data, uint32_t previous) {
    static const CrcTable table;
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t crc = ~previous;
    for (size_t i = 0; i < length; ++i) crc = table.entries[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

HashTable* CreateTypeGroups() { return CreateTable(8, 0); }

bool AddTypeExtension(HashTable* groups, const char* typeName, const char* extension) {
    if (!groups) return false;
    const uint32_t crc = Crc32(std::strlen(typeName), typeName, 0);
    TableRecord* record = FindGroup(groups, crc, typeName);
    if (!record) record = AddGroup(groups, crc, typeName);
    char* copy = record ? NewText(extension) : nullptr;
    if (copy && AppendItem(record, copy)) return true;
    std::free(copy);
    return false;
}

char* TypeExtensions(const HashTable* groups, const char* typeName) {
    const TableRecord* record = groups ? FindGroup(groups, Crc32(std::strlen(typeName), typeName, 0), typeName) : nullptr;
    const uint32_t first = record ? NameIndex(record) + 1 : 0;
    if (!record || record->count <= first) return nullptr;
    size_t length = 0;
    for (uint32_t i = first; i < record->count; ++i) length += std::strlen(record->items[i]) + 1;
    auto* joined = static_cast<char*>(std::malloc(length));
    if (!joined) return nullptr;
    size_t at = 0;
    for (uint32_t i = first; i < record->count; ++i) {
        const size_t itemLength = std::strlen(record->items[i]);
        std::memcpy(joined + at, record->items[i], itemLength);
        at += itemLength;
        joined[at++] = '|';
    }
    joined[length - 1] = '\0';
    return joined;
}

namespace {

struct KeyNames {
    char* bytes;
    size_t used, capacity;
    bool complete;  // every name read is kept
};

void KeepName(KeyNames* names, const char* name) {
    const size_t size = std::strlen(name) + 1;
    if (!names->complete) return;
    if (names->used + size > names->capacity) {
        const size_t capacity = (names->capacity + size) * 2;
        auto* bytes = static_cast<char*>(std::realloc(names->bytes, capacity));
        if (!bytes) {
            names->complete = false;
            return;
        }
        names->bytes = bytes;
        names->capacity = capacity;
    }
    std::memcpy(names->bytes + names->used, name, size);
    names->used += size;
}

// First pass: each extension key's default value names the type it is bound to.
void GroupExtension(const AutorunSystem* system, RegistryKey root, const char* name, HashTable* groups) {
    if (name[0] != '.') return;
    RegistryKey key = OpenRegistrySubkey(system, root, name);
    uint32_t type = 0;
    char* typeName = ReadRegistryValue(system, key, "", &type);
    if (typeName) AddTypeExtension(groups, typeName, name);
    std::free(typeName);
    CloseRegistryKey(system, key);
}

// Second pass: the heading of a type that has a "shell" key, and each verb's command.
void ListShellCommands(const AutorunWriter* writer, RegistryKey root, const char* name, const HashTable* groups) {
    const AutorunSystem* system = writer->system;
    char* shellPath = JoinTexts({name, kShellSuffix});
    RegistryKey shell = shellPath ? OpenRegistrySubkey(system, root, shellPath) : nullptr;
    uint32_t verbs = 0;
    uint32_t values = 0;
    if (shell && QueryRegistryCounts(system, shell, &verbs, &values)) {
        char* extensions = TypeExtensions(groups, name);
        if (extensions) {
            WriteReportLine(writer->stream, kCodeFileTypeHeading, shellPath, extensions, "");
        } else {
            WriteReportLine(writer->stream, kCodeSubHeading, shellPath, nullptr, "");
        }
        std::free(extensions);
        for (uint32_t index = 0; index < verbs; ++index) {
            char verb[kKeyNameSize];
            if (!EnumRegistrySubkey(system, shell, index, verb)) continue;
            char* commandPath = JoinTexts({verb, kCommandSuffix});
            RegistryKey commandKey = commandPath ? OpenRegistrySubkey(system, shell, commandPath) : nullptr;
            uint32_t type = 0;
            char* command = ReadRegistryValue(system, commandKey, "", &type);
            char* text = command ? JoinTexts({verb, kCommandSeparator, command}) : nullptr;
            if (text) WriteAutorunEntry(writer, kSubEntryLevel, text, command);
            std::free(text);
            std::free(command);
            CloseRegistryKey(system, commandKey);
            std::free(commandPath);
        }
    }
    CloseRegistryKey(system, shell);
    std::free(shellPath);
}

}  // namespace

uint32_t ListFileAssociations(const AutorunWriter* writer, const ProgressOps* progress) {
    const AutorunSystem* system = writer->system;
    RegistryKey root = OpenRegistryKey(system, kHiveClassesRoot, nullptr);
    uint32_t keys = 0;
    uint32_t values = 0;
    if (!root || !QueryRegistryCounts(system, root, &keys, &values)) {
        CloseRegistryKey(system, root);
        WriteSeparatorLine(writer->stream, 0, "");
        return 1;
    }
    HashTable* groups = CreateTypeGroups();
    // The names the first pass reads are kept for the second (zero-terminated, one after
    // another), so the root is enumerated once; without memory for them it is read again.
    KeyNames names = {nullptr, 0, 0, true};
    uint32_t status = 0;
    char name[kKeyNameSize];
    for (uint32_t index = 0; index < keys && status == 0; ++index) {
        if (!EnumRegistrySubkey(system, root, index, name)) continue;
        KeepName(&names, name);
        GroupExtension(system, root, name, groups);
        if (StepAndCheck(progress)) status = kStoppedStatus;
    }
    size_t at = 0;
    for (uint32_t index = 0; index < keys && status == 0; ++index) {
        const char* next = name;
        if (names.complete) {
            if (at >= names.used) break;
            next = names.bytes + at;
            at += std::strlen(next) + 1;
        } else if (!EnumRegistrySubkey(system, root, index, name)) {
            continue;
        }
        ListShellCommands(writer, root, next, groups);
        if (StepAndCheck(progress)) status = kStoppedStatus;
    }
    std::free(names.bytes);
    CloseRegistryKey(system, root);
    DestroyTable(groups, 1);
    WriteSeparatorLine(writer->stream, 0, "");
    return status;
}
