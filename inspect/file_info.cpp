#include "inspect/file_info.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// ---- Version block parsing --------------------------------------------------------
//
// A version block is a tree of nodes. Each node: u16 length (whole node, children
// included), u16 value length, in the 32-bit form a u16 type (1 text, 0 binary), the
// NUL-terminated key (UTF-16 in the 32-bit form, ANSI in the 16-bit form), padding to a
// 4-byte boundary, the value, padding, then the children up to the node's length.
// Offsets are aligned relative to the block start. The value length of a 32-bit text
// node counts UTF-16 units; every other value length counts bytes.

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

size_t Align4(size_t offset) { return (offset + 3) & ~static_cast<size_t>(3); }

struct VersionNode {
    size_t end;            // one past the node's last byte, never past its parent's end
    size_t keyStart;
    size_t keyLength;      // characters (units in the 32-bit form), without the NUL
    size_t valueStart;
    size_t valueSize;      // bytes, within the node
    size_t childrenStart;  // may lie at or past end: no children
};

struct VersionBlock {
    const uint8_t* bytes;
    size_t size;
    bool wide;
};

size_t HeaderSize(const VersionBlock& block) { return block.wide ? 6 : 4; }

// Reads the node at start, which must end at or before limit.
bool ReadNode(const VersionBlock& block, size_t start, size_t limit, VersionNode* node) {
    const size_t header = HeaderSize(block);
    if (start >= limit || limit - start < header) return false;
    const uint8_t* p = block.bytes + start;
    const size_t length = ReadU16(p);
    if (length < header) return false;
    const size_t valueLength = ReadU16(p + 2);
    const bool textValue = block.wide && ReadU16(p + 4) == 1;
    node->end = (length > limit - start) ? limit : start + length;

    // Key up to its terminator, which must lie inside the node.
    const size_t unit = block.wide ? 2 : 1;
    size_t pos = start + header;
    size_t keyLength = 0;
    for (;;) {
        if (pos > node->end || node->end - pos < unit) return false;
        const bool terminator = block.wide ? ReadU16(block.bytes + pos) == 0 : block.bytes[pos] == 0;
        pos += unit;
        if (terminator) break;
        ++keyLength;
    }
    node->keyStart = start + header;
    node->keyLength = keyLength;

    const size_t valueBytes = textValue ? valueLength * 2 : valueLength;
    node->valueStart = Align4(pos);
    if (node->valueStart >= node->end) {
        node->valueStart = node->end;
        node->valueSize = 0;
    } else {
        const size_t room = node->end - node->valueStart;
        node->valueSize = valueBytes < room ? valueBytes : room;
    }
    node->childrenStart = Align4(node->valueStart + valueBytes);
    return true;
}

bool KeyEquals(const VersionBlock& block, const VersionNode& node, const char* name, size_t length) {
    if (node.keyLength != length) return false;
    for (size_t i = 0; i < length; ++i) {
        const unsigned c = block.wide ? ReadU16(block.bytes + node.keyStart + 2 * i)
                                      : block.bytes[node.keyStart + i];
        if (c > 0xFF) return false;
        if (FoldAsciiUpper(static_cast<unsigned char>(c)) != FoldAsciiUpper(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return true;
}

bool OpenBlock(const void* bytes, size_t size, VersionBlock* block, VersionNode* root) {
    if (!bytes || size < 4) return false;
    block->bytes = static_cast<const uint8_t*>(bytes);
    block->size = size;
    // The 16-bit form has the key's first character where the 32-bit form has its
    // type word (0 or 1).
    block->wide = !(size > 4 && block->bytes[4] >= 0x20);
    return ReadNode(*block, 0, size, root);
}

// Moves *node to its child named name (length bytes).
bool StepInto(const VersionBlock& block, VersionNode* node, const char* name, size_t length) {
    size_t offset = node->childrenStart;
    while (offset < node->end) {
        VersionNode child;
        if (!ReadNode(block, offset, node->end, &child)) return false;
        if (KeyEquals(block, child, name, length)) {
            *node = child;
            return true;
        }
        offset = Align4(child.end);  // child.end > offset: every node is at least a header long
    }
    return false;
}

VersionValue ValueOf(const VersionBlock& block, const VersionNode& node) {
    return VersionValue{block.bytes + node.valueStart, node.valueSize, block.wide};
}

// ---- Text conversion ---------------------------------------------------------------

size_t AsciiFromWide(const uint8_t* utf16le, size_t unitCount, char* out, size_t outSize) {
    if (!out) return unitCount;
    if (outSize < unitCount) return 0;
    for (size_t i = 0; i < unitCount; ++i) {
        const uint16_t c = ReadU16(utf16le + 2 * i);
        out[i] = c < 0x80 ? static_cast<char>(c) : '?';
    }
    return unitCount;
}

size_t ConvertWide(const FileInfoOps* ops, const uint8_t* utf16le, size_t unitCount, char* out,
                   size_t outSize) {
    if (ops && ops->wideToAnsi) return ops->wideToAnsi(ops->context, utf16le, unitCount, out, outSize);
    return AsciiFromWide(utf16le, unitCount, out, outSize);
}

void Terminate(char* out, size_t outSize, size_t length) {
    if (outSize > 0) out[length < outSize ? length : outSize - 1] = '\0';
}

// Copies a text value into out (see VersionInfo::QueryString); returns its full length.
size_t CopyTextValue(const FileInfoOps* ops, const VersionValue& value, char* out, size_t outSize) {
    if (!out) outSize = 0;
    Terminate(out, outSize, 0);
    if (!value.wide) {
        const void* nul = std::memchr(value.data, 0, value.size);
        const size_t length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - value.data)
                                  : value.size;
        if (outSize > 0) {
            const size_t copied = length < outSize ? length : outSize - 1;
            std::memcpy(out, value.data, copied);
            Terminate(out, outSize, copied);
        }
        return length;
    }

    size_t units = 0;
    while (units < value.size / 2 && ReadU16(value.data + 2 * units) != 0) ++units;
    if (units == 0) return 0;
    const size_t needed = ConvertWide(ops, value.data, units, nullptr, 0);
    if (needed == 0 || outSize == 0) return needed;
    if (needed < outSize) {
        size_t written = ConvertWide(ops, value.data, units, out, needed);
        if (written > needed) written = needed;
        Terminate(out, outSize, written);
        return written;
    }
    // Too long for out: convert whole, keep the head.
    char* whole = static_cast<char*>(std::malloc(needed));
    if (!whole) return needed;
    size_t written = ConvertWide(ops, value.data, units, whole, needed);
    if (written > needed) written = needed;
    const size_t copied = written < outSize ? written : outSize - 1;
    std::memcpy(out, whole, copied);
    Terminate(out, outSize, copied);
    std::free(whole);
    return written;
}

// ---- Text building -----------------------------------------------------------------

struct TextBuilder {
    char* data;
    size_t length;
    size_t capacity;
    bool failed;
};

// Room for extra more bytes and a terminator.
bool Reserve(TextBuilder& text, size_t extra) {
    if (text.failed) return false;
    if (extra > SIZE_MAX / 2 - text.length - 1) {
        text.failed = true;
        return false;
    }
    const size_t needed = text.length + extra + 1;
    if (needed <= text.capacity) return true;
    size_t capacity = text.capacity < 128 ? 128 : text.capacity;
    while (capacity < needed) capacity *= 2;
    char* grown = static_cast<char*>(std::realloc(text.data, capacity));
    if (!grown) {
        text.failed = true;
        return false;
    }
    text.data = grown;
    text.capacity = capacity;
    return true;
}

void Append(TextBuilder& text, const char* s, size_t n) {
    if (!Reserve(text, n)) return;
    if (n) std::memcpy(text.data + text.length, s, n);
    text.length += n;
    text.data[text.length] = '\0';
}

void Append(TextBuilder& text, const char* s) { Append(text, s, std::strlen(s)); }

// One version string as a details field. A line break would end the report line that
// carries the text, so CR and LF become blanks.
void AppendVersionString(TextBuilder& text, const VersionInfo& info, const char* name) {
    const size_t length = info.QueryString(name, 0, nullptr, 0);
    if (length == 0 || !Reserve(text, length)) return;
    char* tail = text.data + text.length;
    info.QueryString(name, 0, tail, length + 1);
    const void* nul = std::memchr(tail, 0, length);
    const size_t written = nul ? static_cast<size_t>(static_cast<const char*>(nul) - tail) : length;
    for (size_t i = 0; i < written; ++i) {
        if (tail[i] == '\r' || tail[i] == '\n') tail[i] = ' ';
    }
    text.length += written;
    text.data[text.length] = '\0';
}

// Instances field: the numbers from the last to the first, lower-case hexadecimal,
// joined by ",". A list of no numbers gives an empty field.
void AppendInstances(TextBuilder& text, const IdList* list) {
    if (!list) {
        Append(text, kNoInstancesText);
        return;
    }
    const uint32_t count = list->items ? list->count : 0;
    for (uint32_t i = count; i-- > 0;) {
        char number[2 * sizeof(uintptr_t) + 2];
        const int n = std::snprintf(number, sizeof number, "%s%llx", i + 1 == count ? "" : ",",
                                    static_cast<unsigned long long>(IdListNumber(list, i)));
        if (n > 0 && static_cast<size_t>(n) < sizeof number) Append(text, number, static_cast<size_t>(n));
    }
}

}  // namespace

bool FindVersionValue(const void* block, size_t blockSize, const char* subBlock, VersionValue* value) {
    if (!subBlock || !value) return false;
    VersionBlock versionBlock;
    VersionNode node;
    if (!OpenBlock(block, blockSize, &versionBlock, &node)) return false;
    const char* p = subBlock;
    for (;;) {
        while (*p == '\\') ++p;
        if (*p == '\0') break;
        const char* name = p;
        while (*p != '\0' && *p != '\\') ++p;
        if (!StepInto(versionBlock, &node, name, static_cast<size_t>(p - name))) return false;
    }
    *value = ValueOf(versionBlock, node);
    return true;
}

// ---- VersionInfo ---------------------------------------------------------------------

VersionInfo::VersionInfo(const FileInfoOps* fileOps)
    : ops(fileOps), block(nullptr), blockSize(0), translation(0) {}

VersionInfo::~VersionInfo() { Release(); }

void VersionInfo::Release() {
    delete[] block;
    block = nullptr;
    blockSize = 0;
    translation = 0;
}

bool VersionInfo::Load(const char* path) {
    Release();
    if (!ops || !ops->getVersionSize || !ops->readVersion || !path) return false;
    const uint32_t size = ops->getVersionSize(ops->context, path);
    if (size == 0) return false;
    uint8_t* loaded = new (std::nothrow) uint8_t[size];
    if (!loaded) return false;
    VersionValue value;
    if (ops->readVersion(ops->context, path, size, loaded) != 0 ||
        !FindVersionValue(loaded, size, "\\VarFileInfo\\Translation", &value) || value.size < 4) {
        delete[] loaded;
        return false;
    }
    // Stored as {u16 language, u16 code page}: language goes to the high half.
    translation = (static_cast<uint32_t>(ReadU16(value.data)) << 16) | ReadU16(value.data + 2);
    block = loaded;
    blockSize = size;
    return true;
}

size_t VersionInfo::QueryString(const char* name, uint32_t translationCode, char* out,
                                size_t outSize) const {
    if (!out) outSize = 0;
    Terminate(out, outSize, 0);
    if (!block || !name) return 0;
    char table[16];
    std::snprintf(table, sizeof table, "%08x", static_cast<unsigned>(translationCode != 0 ? translationCode : translation));
    VersionBlock versionBlock;
    VersionNode node;
    if (!OpenBlock(block, blockSize, &versionBlock, &node) ||
        !StepInto(versionBlock, &node, "StringFileInfo", 14) || !StepInto(versionBlock, &node, table, 8) ||
        !StepInto(versionBlock, &node, name, std::strlen(name))) {
        return 0;
    }
    return CopyTextValue(ops, ValueOf(versionBlock, node), out, outSize);
}

size_t VersionInfo::GetFileDescription(char* out, size_t outSize) const {
    return QueryString("FileDescription", 0, out, outSize);
}

size_t VersionInfo::GetFileVersion(char* out, size_t outSize) const {
    return QueryString("FileVersion", 0, out, outSize);
}

size_t VersionInfo::GetProductName(char* out, size_t outSize) const {
    return QueryString("ProductName", 0, out, outSize);
}

size_t VersionInfo::GetProductVersion(char* out, size_t outSize) const {
    return QueryString("ProductVersion", 0, out, outSize);
}

// ---- Details text ----------------------------------------------------------------------

char* GetFileDetails(const FileInfoOps* ops, char** detailsOut, const char* path, IdList* idList) {
    TextBuilder text = {nullptr, 0, 0, false};
    AppendInstances(text, idList);
    FreeIdList(idList);

    if (!path) path = "";
    Append(text, "|");
    Append(text, path);
    Append(text, "|");
    if (*path == '\0') {
        Append(text, "|||||");
    } else {
        VersionInfo info(ops);
        info.Load(path);
        AppendVersionString(text, info, "FileVersion");
        Append(text, "|");

        FileStatus status = {};
        char modified[64];
        if (ops && ops->readStatus && ops->readStatus(ops->context, path, &status) == 0 &&
            FormatModifiedTime(status.modified, modified, sizeof modified)) {
            char size[24];
            std::snprintf(size, sizeof size, "%llu", static_cast<unsigned long long>(status.size));
            Append(text, size);
            Append(text, "|");
            Append(text, modified);
            Append(text, "|");
        } else {
            Append(text, "||");
        }

        AppendVersionString(text, info, "FileDescription");
        Append(text, "|");
        AppendVersionString(text, info, "ProductName");
        Append(text, "|");
        AppendVersionString(text, info, "ProductVersion");
    }

    char* details = nullptr;
    if (!text.failed) {
        // Hand out a block exactly as long as the text.
        details = static_cast<char*>(std::realloc(text.data, text.length + 1));
        if (!details) details = text.data;
    } else {
        std::free(text.data);
    }
    if (detailsOut) *detailsOut = details;
    return details;
}

// ---- Instance lists ----------------------------------------------------------------------

IdList* NewIdList(uintptr_t number) {
    IdList* list = nullptr;
    AppendIdListNumber(&list, number);
    return list;
}

bool AppendIdListNumber(IdList** list, uintptr_t number) {
    if (!list) return false;
    IdList* target = *list;
    const bool created = target == nullptr;
    if (created) {
        target = static_cast<IdList*>(std::malloc(sizeof(IdList)));
        if (!target) return false;
        *target = {kRecordKindUnowned, 0, nullptr};
    }
    if (!target->items) target->count = 0;
    constexpr size_t kMaxItems = SIZE_MAX / sizeof(char*) < UINT32_MAX ? SIZE_MAX / sizeof(char*) : UINT32_MAX;
    if (size_t{target->count} + 1 > kMaxItems) {
        if (created) std::free(target);
        return false;
    }
    auto** items = static_cast<char**>(std::realloc(target->items, (target->count + size_t{1}) * sizeof(char*)));
    if (!items) {
        if (created) std::free(target);
        return false;
    }
    items[target->count] = reinterpret_cast<char*>(number);
    target->items = items;
    ++target->count;
    *list = target;
    return true;
}

uintptr_t IdListNumber(const IdList* list, uint32_t index) {
    if (!list || !list->items || index >= list->count) return 0;
    return reinterpret_cast<uintptr_t>(list->items[index]);
}

void FreeIdList(IdList* list) {
    if (!list) return;
    std::free(list->items);
    std::free(list);
}

bool FormatModifiedTime(const FileTimeParts& t, char* out, size_t outSize) {
    static const char* const kMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                                "July",    "August",   "September", "October", "November", "December"};
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
        t.second > 60) {
        return false;
    }
    const int n = std::snprintf(out, outSize, "%s %02u, %04u %02u:%02u:%02u", kMonthNames[t.month - 1],
                                unsigned{t.day}, unsigned{t.year}, unsigned{t.hour}, unsigned{t.minute},
                                unsigned{t.second});
    return n > 0 && static_cast<size_t>(n) < outSize;
}

IdList* FindProcessIdsByName(const HashTable* processTable, IdList** idListInOut, const char* name,
                             const LeadByteOps& leadBytes) {
    if (!processTable || !idListInOut) return nullptr;
    if (!name) return *idListInOut;
    for (const HashTableNode* node = FirstEntry(processTable); node; node = NextEntry(node)) {
        if (!node->key || node->keyLength < 4 || !node->value) continue;
        if (!EqualNamesNoCase(static_cast<const char*>(node->value), name, leadBytes)) continue;
        uint32_t processId;
        std::memcpy(&processId, node->key, sizeof processId);
        if (!AppendIdListNumber(idListInOut, processId)) break;
    }
    return *idListInOut;
}
