#include "autorun/collectors.h"

#include <cstdlib>
#include <cstring>

#include "autorun/file_types.h"
#include "report/report_line.h"

namespace {

constexpr char kValueSeparator[] = " = ";

void WriteEndOfBlock(FILE* stream) { WriteSeparatorLine(stream, 0, ""); }

// Cache key: the path's CRC-32 (which spreads the keys over the table's buckets) followed
// by the path's bytes (which keep different paths apart).
void* NewPathKey(const char* path, size_t length, int32_t* keyLength) {
    if (length > 0x7FFFFFF0) return nullptr;
    auto* key = static_cast<char*>(std::malloc(sizeof(uint32_t) + length));
    if (!key) return nullptr;
    const uint32_t crc = Crc32(length, path, 0);
    std::memcpy(key, &crc, sizeof crc);
    std::memcpy(key + sizeof crc, path, length);
    *keyLength = static_cast<int32_t>(sizeof crc + length);
    return key;
}

// File-system redirection off for the life of the object, where the system has it.
class RedirectionOff {
public:
    explicit RedirectionOff(const AutorunSystem* system) : ops_(system->redirection) {
        active_ = ops_ && ops_->suspend && ops_->resume && ops_->suspend(ops_->context, &state_);
    }
    ~RedirectionOff() {
        if (active_) ops_->resume(ops_->context, state_);
    }
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;

private:
    const FileRedirectionOps* ops_;
    void* state_ = nullptr;
    bool active_;
};

// Each subkey of an open key as a heading with its values one level deeper.
uint32_t WalkSubkeyValues(const AutorunWriter* writer, uint32_t level, const ProgressOps* progress, RegistryKey key,
                          uint32_t subkeys) {
    const AutorunSystem* system = writer->system;
    uint32_t status = 0;
    for (uint32_t index = 0; status != kStoppedStatus && index < subkeys; ++index) {
        char name[kKeyNameSize];
        if (!EnumRegistrySubkey(system, key, index, name)) continue;
        WriteReportLine(writer->stream, kCodeSubkeyHeadingBase + level, name, nullptr, "");
        RegistryKey subkey = OpenRegistrySubkey(system, key, name);
        if (!subkey) continue;
        uint32_t ignored = 0;
        uint32_t subkeyValues = 0;
        if (QueryRegistryCounts(system, subkey, &ignored, &subkeyValues)) {
            WalkKeyValues(writer, level + 1, subkeyValues, subkey, nullptr);
            if (StepAndCheck(progress)) status = kStoppedStatus;
        }
        CloseRegistryKey(system, subkey);
    }
    return status;
}

}  // namespace

HashTable* CreateDetailsCache() { return CreateTable(8, 1); }

void DestroyDetailsCache(HashTable* cache) { DestroyTable(cache, 1); }

char* DescribeFile(const AutorunWriter* writer, const char* path) {
    int32_t keyLength = 0;
    void* key = writer->detailsCache ? NewPathKey(path, std::strlen(path), &keyLength) : nullptr;
    if (key) {
        const HashTableNode* cached = FindEntry(writer->detailsCache, key, keyLength);
        if (cached) {
            std::free(key);
            return NewText(static_cast<const char*>(cached->value));
        }
    }
    const RedirectionOff redirectionOff(writer->system);
    IdList* instances = nullptr;
    const CommandLineOps* commandLine = writer->system->commandLine;
    const LeadByteOps leadBytes = {commandLine ? commandLine->isLeadByte : nullptr,
                                   commandLine ? commandLine->context : nullptr};
    FindProcessIdsByName(writer->processTable, &instances, path, leadBytes);
    char* details = GetFileDetails(writer->system->fileInfo, nullptr, path, instances);
    char* kept = key && details ? NewText(details) : nullptr;
    if (!kept || !InsertEntry(writer->detailsCache, key, keyLength, kept)) {
        std::free(key);
        std::free(kept);
    }
    return details;
}

void MaskFieldBars(const CommandLineOps* characters, char* text) {
    for (char* c = text; *c; c += CharacterSize(characters, c)) {
        if (*c == '|') *c = '!';
    }
}

void WriteAutorunEntry(const AutorunWriter* writer, uint32_t level, const char* text, const char* command) {
    char* field = NewText(text);
    if (!field) return;
    MaskFieldBars(writer->system->commandLine, field);
    char* path = nullptr;
    char* details = nullptr;
    bool resolved = false;
    if (command) {
        const RedirectionOff redirectionOff(writer->system);
        resolved = ResolveCommandLine(writer->system->commandLine, command, &path);
    }
    if (resolved) details = DescribeFile(writer, path);
    if (details) {
        WriteReportLine(writer->stream, kCodeValueEntryDetailsBase + level, field, details, "");
    } else {
        WriteReportLine(writer->stream, kCodeValueEntryBase + level, field, nullptr, "");
    }
    std::free(details);
    std::free(path);
    std::free(field);
}

uint32_t CountKeyItems(const AutorunSystem* system, RegistryHive hive, const char* keyPath, bool withSubkeys) {
    RegistryKey key = OpenRegistryKey(system, hive, keyPath);
    if (!key) return 0;
    uint32_t subkeys = 0;
    uint32_t values = 0;
    const bool counted = QueryRegistryCounts(system, key, &subkeys, &values);
    CloseRegistryKey(system, key);
    if (!counted) return 0;
    return withSubkeys ? values + subkeys : values;
}

uint32_t WalkKeyValues(const AutorunWriter* writer, uint32_t level, uint32_t valueCount, RegistryKey key,
                       const ProgressOps* progress) {
    const RegistryOps* registry = writer->system->registry;
    uint32_t status = 0;
    for (uint32_t index = 0; index < valueCount; ++index) {
        char* name = nullptr;
        char* data = nullptr;
        uint32_t type = 0;
        if (registry && registry->enumValue && registry->enumValue(registry->context, key, index, &name, &data, &type)) {
            const bool expand = type == kRegistryExpandString && writer->listsExpandStrings;
            if (type == kRegistryString || expand) {
                // The line shows the value as stored; an expanded-string value runs expanded.
                char* command = writer->runOnceExValues ? RunOnceExCommand(writer->system->commandLine, data) : nullptr;
                const char* stored = command ? command : data;
                char* expanded = expand && registry->expandEnvironment
                                     ? registry->expandEnvironment(registry->context, stored)
                                     : nullptr;
                char* text = JoinTexts({name, kValueSeparator, data});
                if (text) WriteAutorunEntry(writer, level, text, expanded ? expanded : stored);
                std::free(text);
                std::free(expanded);
                std::free(command);
            }
            std::free(name);
            std::free(data);
        }
        if (StepAndCheck(progress)) {
            status = kStoppedStatus;
            break;
        }
    }
    WriteEndOfBlock(writer->stream);
    return status;
}

uint32_t WalkRegistryKey(const AutorunWriter* writer, uint32_t level, const ProgressOps* progress,
                         RegistryHive hive, const char* keyPath, bool withSubkeys) {
    const AutorunSystem* system = writer->system;
    RegistryKey key = OpenRegistryKey(system, hive, keyPath);
    uint32_t subkeys = 0;
    uint32_t values = 0;
    if (!key || !QueryRegistryCounts(system, key, &subkeys, &values)) {
        WriteEndOfBlock(writer->stream);
        CloseRegistryKey(system, key);
        return 0;
    }
    uint32_t status = WalkKeyValues(writer, level, values, key, progress);
    if (withSubkeys && status != kStoppedStatus) status = WalkSubkeyValues(writer, level, progress, key, subkeys);
    CloseRegistryKey(system, key);
    return status;
}

uint32_t WalkSubkeys(const AutorunWriter* writer, uint32_t level, const ProgressOps* progress, RegistryHive hive,
                     const char* keyPath) {
    const AutorunSystem* system = writer->system;
    RegistryKey key = OpenRegistryKey(system, hive, keyPath);
    uint32_t subkeys = 0;
    uint32_t values = 0;
    const bool counted = key && QueryRegistryCounts(system, key, &subkeys, &values);
    WriteEndOfBlock(writer->stream);
    const uint32_t status = counted ? WalkSubkeyValues(writer, level, progress, key, subkeys) : 0;
    CloseRegistryKey(system, key);
    return status;
}

char* RunOnceExCommand(const CommandLineOps* characters, const char* value) {
    if (value[0] == '|' && value[1] == '|') return NewText(value + 2);
    for (const char* c = value; *c; c += CharacterSize(characters, c)) {
        if (*c == '|') return NewTextCopy(value, static_cast<size_t>(c - value));
    }
    return NewText(value);
}

char* ReadRegistryText(const AutorunSystem* system, RegistryHive hive, const char* keyPath, const char* valueName) {
    const RegistryOps* registry = system->registry;
    char* text = registry && registry->readString ? registry->readString(registry->context, hive, keyPath, valueName)
                                                   : nullptr;
    return text ? text : NewText("");
}

void ReadIniSection(const AutorunWriter* writer, const char* section, const char* iniPath) {
    const IniOps* ini = writer->system->ini;
    char copy[kResolvedPathSize];
    const bool copied = ini && ini->copyToTemporary && ini->deleteFile &&
                        ini->copyToTemporary(ini->context, iniPath, copy, sizeof copy);
    if (copied) copy[sizeof copy - 1] = '\0';
    char* lines = ini && ini->readSection ? ini->readSection(ini->context, copied ? copy : iniPath, section) : nullptr;
    if (copied) ini->deleteFile(ini->context, copy);

    const CommandLineOps* characters = writer->system->commandLine;
    for (const char* line = lines; line && *line; line += std::strlen(line) + 1) {
        const char* command = nullptr;
        for (const char* c = line; *c; c += CharacterSize(characters, c)) {
            if (*c == '=') {
                command = c + 1;
                break;
            }
        }
        WriteAutorunEntry(writer, kSubEntryLevel, line, command);
    }
    std::free(lines);
    WriteEndOfBlock(writer->stream);
}

char* JoinTexts(std::initializer_list<const char*> parts) {
    size_t total = 0;
    for (const char* part : parts) total += part ? std::strlen(part) : 0;
    auto* text = static_cast<char*>(std::malloc(total + 1));
    if (!text) return nullptr;
    size_t at = 0;
    for (const char* part : parts) {
        const size_t length = part ? std::strlen(part) : 0;
        if (length) std::memcpy(text + at, part, length);
        at += length;
    }
    text[at] = '\0';
    return text;
}

char* JoinPath(const CommandLineOps* ops, const char* folder, const char* name) {
    const bool separator = folder[0] != '\0' && !EndsWithBackslash(ops, folder);
    return JoinTexts({folder, separator ? "\\" : "", name});
}

bool StepAndCheck(const ProgressOps* progress) {
    return progress && progress->step && progress->step(progress->context);
}
