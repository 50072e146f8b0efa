// In-memory system for the autorun collectors and scans: a registry tree with a 32-bit
// view, INI files, folders with long and 8.3 names, shortcuts, scheduled tasks,
// file-system redirection, processes and a progress window that can stop at a chosen
// step. It counts what is left open (keys, searches, links, temporary copies, task
// folders, COM, redirection). Shared by the native tests and the fuzz target.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "autorun/autorun_system.h"
#include "tests/autorun/autorun_places.h"
#include "tests/support/command_line_fake.h"

struct FakeValue { std::string name, data; uint32_t type; };
struct FakeKey {
    std::string name;
    std::list<FakeKey> subkeys;  // stable addresses: open keys point into the tree
    std::vector<FakeValue> values;
    bool locked = false;  // cannot be opened
};
struct FakeTask { std::string name; std::vector<std::pair<std::string, std::string>> programs; };  // path, arguments
struct FakeTaskFolder { std::string path; std::vector<FakeTask> tasks; std::list<FakeTaskFolder> subfolders; bool opens = true; };
struct FakeLink { std::string target, arguments; bool loads = true, hasTarget = true; };

struct FakeAutorun {
    FakeSystem files;  // folders, environment and files for command-line resolution
    FakeKey hives[5];  // by RegistryHive, the 32-bit view last
    std::map<std::string, std::map<std::string, std::vector<std::string>>> ini;  // folded path, section
    std::map<std::string, std::vector<DirectoryEntry>> folders;                  // folded folder path
    std::map<std::string, FakeLink> links;                                       // folded shortcut path
    std::map<uint32_t, std::string> processes;                                   // ID -> image path
    FakeTaskFolder taskRoot{"\\", {}, {}, true};
    bool temporaryFolder = true;
    int copiesMade = 0, openKeys = 0, openSearches = 0, openLinks = 0, comDepth = 0, liveCopies = 0;
    int openTaskFolders = 0, redirectionOff = 0, suspensions = 0;
    // Progress: the range asked for, the steps counted, the step that sees a stop (0: never),
    // and the stream's size when it did.
    uint32_t range = 0, steps = 0, stopAtStep = 0;
    long stoppedAt = -1;
    FILE* stream = nullptr;

    // The tables System() hands out, all filled by the constructor.
    CommandLineOps commandLine; RegistryOps registry; IniOps iniOps; DirectoryOps directory; ShellLinkOps shellLink;
    ProcessOps processOps; ProgressOps progress; TaskSchedulerOps taskOps; FileRedirectionOps redirection;

    static FakeAutorun& F(void* c) { return *static_cast<FakeAutorun*>(c); }
    static FakeKey& K(RegistryKey k) { return *static_cast<FakeKey*>(k); }
    static FakeTaskFolder& Folder(TaskFolder f) { return *static_cast<FakeTaskFolder*>(f); }
    std::string Fold(const std::string& s) const { return files.Fold(s); }
    // Position of the last backslash that is not the trail byte of a double-byte character.
    size_t LastBackslash(const std::string& path) const {
        size_t last = std::string::npos;
        for (size_t i = 0; i < path.size(); i += files.IsLead(path[i]) && i + 1 < path.size() ? 2 : 1) {
            if (path[i] == '\\') last = i;
        }
        return last;
    }
    std::string Parent(const std::string& path) const { return path.substr(0, LastBackslash(path)); }
    std::string Leaf(const std::string& path) const { return path.substr(LastBackslash(path) + 1); }

    // The key at path below from, created when create is set; null when absent.
    FakeKey* Walk(FakeKey* from, const std::string& path, bool create) {
        for (size_t start = 0; from && start < path.size();) {
            const size_t end = std::min(path.find('\\', start), path.size());
            const std::string part = path.substr(start, end - start);
            FakeKey* next = nullptr;
            for (FakeKey& k : from->subkeys) next = Fold(k.name) == Fold(part) ? &k : next;
            if (!next && create) next = &(from->subkeys.emplace_back(), from->subkeys.back());
            if (next && next->name.empty()) next->name = part;
            from = next;
            start = end + 1;
        }
        return from;
    }
    FakeKey& Key(RegistryHive hive, const std::string& path) { return *Walk(&hives[hive], path, true); }
    void SetValue(RegistryHive hive, const std::string& path, const std::string& name, const std::string& data,
                  uint32_t type = kRegistryString) {
        Key(hive, path).values.push_back({name, data, type});
    }
    RegistryKey Open(FakeKey* from, const char* path) {
        FakeKey* key = Walk(from, path, false);
        return key && !key->locked ? (++openKeys, key) : nullptr;
    }

    void Listing(const std::string& folder, DirectoryEntry entry) { folders[Fold(folder)].push_back(entry); }
    // A file or folder with an optional 8.3 name; "." and ".." come after the first entry.
    void AddEntry(const std::string& path, bool folder, const std::string& alternate = "") {
        if (folder) files.AddFolder(path); else files.AddFile(path);
        DirectoryEntry entry = {};
        std::snprintf(entry.name, sizeof entry.name, "%s", Leaf(path).c_str());
        std::snprintf(entry.alternateName, sizeof entry.alternateName, "%s", alternate.c_str());
        entry.folder = folder;
        Listing(Parent(path), entry);
        if (folders[Fold(Parent(path))].size() > 1) return;
        Listing(Parent(path), DirectoryEntry{".", "", true});
        Listing(Parent(path), DirectoryEntry{"..", "", true});
    }
    void AddLink(const std::string& path, const FakeLink& link) { AddEntry(path, false), links[Fold(path)] = link; }

    struct Search { std::vector<DirectoryEntry> entries; size_t next; };

    FakeAutorun() {
        commandLine = files.Ops();
        files.redirectionOff = &redirectionOff;
        registry = {this,
                    [](void* c, RegistryHive h, const char* p) { return F(c).Open(&F(c).hives[h], p ? p : ""); },
                    [](void* c, RegistryKey k, const char* p) { return F(c).Open(&K(k), p); },
                    [](void* c, RegistryKey) { --F(c).openKeys; },
                    [](void*, RegistryKey k, uint32_t* s, uint32_t* v) {
                        return *s = static_cast<uint32_t>(K(k).subkeys.size()), *v = static_cast<uint32_t>(K(k).values.size()), true;
                    },
                    [](void*, RegistryKey k, uint32_t i, char* name, size_t size) {
                        if (i >= K(k).subkeys.size()) return false;
                        const std::string& found = std::next(K(k).subkeys.begin(), i)->name;
                        return found.size() < size && std::memcpy(name, found.c_str(), found.size() + 1);
                    },
                    [](void*, RegistryKey k, uint32_t i, char** name, char** data, uint32_t* type) {
                        if (i >= K(k).values.size()) return false;
                        const FakeValue& v = K(k).values[i];
                        return *name = Copy(v.name), *data = Copy(v.data), *type = v.type, true;
                    },
                    [](void* c, RegistryKey k, const char* name, uint32_t* type) -> char* {
                        for (const FakeValue& v : K(k).values) {
                            if (F(c).Fold(v.name) == F(c).Fold(name)) return *type = v.type, Copy(v.data);
                        }
                        return nullptr;
                    },
                    [](void* c, RegistryHive h, const char* path, const char* name) -> char* {
                        FakeKey* key = F(c).Walk(&F(c).hives[h], path, false);
                        uint32_t type = 0;
                        return key && !key->locked ? F(c).registry.readValue(c, key, name, &type) : nullptr;
                    },
                    [](void* c, const char* text) { return Copy(F(c).Expand(text)); }};
        iniOps = {this,
                  [](void* c, const char* path, char* copy, size_t size) {
                      FakeAutorun& f = F(c);
                      if (!f.temporaryFolder) return false;
                      const std::string name = "C:\\TEMP\\kvi" + std::to_string(++f.copiesMade) + ".tmp";
                      f.ini[f.Fold(name)] = f.ini[f.Fold(path)];
                      ++f.liveCopies;
                      return std::snprintf(copy, size, "%s", name.c_str()) > 0;
                  },
                  [](void* c, const char* path) { F(c).liveCopies -= static_cast<int>(F(c).ini.erase(F(c).Fold(path))); },
                  [](void* c, const char* path, const char* section) {
                      std::string block;
                      for (const std::string& line : F(c).ini[F(c).Fold(path)][F(c).Fold(section)]) block += line + '\0';
                      return Copy(block + '\0');
                  }};
        directory = {this,
                     [](void* c, const char* pattern, DirectoryEntry* entry) -> void* {
                         FakeAutorun& f = F(c);
                         std::vector<DirectoryEntry> found;
                         const std::string leaf = f.Fold(f.Leaf(pattern));
                         for (const DirectoryEntry& e : f.folders[f.Fold(f.Parent(pattern))]) {
                             if (leaf == "*.*" || leaf == f.Fold(e.name) || leaf == f.Fold(e.alternateName)) found.push_back(e);
                         }
                         if (found.empty()) return nullptr;
                         *entry = found[0];
                         return ++f.openSearches, new Search{found, 1};
                     },
                     [](void*, void* s, DirectoryEntry* entry) {
                         auto* search = static_cast<Search*>(s);
                         return search->next < search->entries.size() && (*entry = search->entries[search->next++], true);
                     },
                     [](void* c, void* s) { --F(c).openSearches, delete static_cast<Search*>(s); }};
        shellLink = {this,
                     [](void* c) { return ++F(c).comDepth, true; },
                     [](void* c) { --F(c).comDepth; },
                     [](void* c, const char* path) -> void* {
                         auto it = F(c).links.find(F(c).Fold(path));
                         if (it == F(c).links.end() || !it->second.loads) return nullptr;
                         return ++F(c).openLinks, &it->second;
                     },
                     [](void*, void* link, char* buffer, size_t size) {
                         const FakeLink& l = *static_cast<FakeLink*>(link);
                         return l.hasTarget && std::snprintf(buffer, size, "%s", l.target.c_str()) < static_cast<int>(size);
                     },
                     [](void*, void* link) { return Copy(static_cast<FakeLink*>(link)->arguments); },
                     [](void* c, void*) { --F(c).openLinks; }};
        processOps = {this,
                      [](void* c) { return static_cast<uint32_t>(F(c).processes.size()); },
                      [](void* c, HashTable* table, bool withProgress) -> uint32_t {
                          for (const auto& p : F(c).processes) {
                              InsertEntry(table, NewUInt32Key(p.first), sizeof(uint32_t), Copy("name"));
                              if (withProgress && F(c).progress.step(c)) return 3;
                          }
                          return 0;
                      },
                      [](void* c, HashTable* table) {
                          for (HashTableNode* n = FirstEntry(table); n; n = NextEntry(n)) {
                              std::free(n->value);
                              n->value = Copy(F(c).processes[*static_cast<uint32_t*>(n->key)]);
                          }
                      }};
        progress = {this,
                    [](void* c, uint32_t steps) { F(c).range = steps; },
                    [](void* c) {
                        FakeAutorun& f = F(c);
                        if (++f.steps != f.stopAtStep) return false;
                        std::fflush(f.stream);
                        f.stoppedAt = std::ftell(f.stream);
                        return true;
                    },
                    [](void* c) { return F(c).stopAtStep != 0 && F(c).steps >= F(c).stopAtStep; }};
        taskOps = {this,
                   [](void* c) { return ++F(c).comDepth, true; },
                   [](void* c) { --F(c).comDepth; },
                   [](void* c) -> TaskFolder { return ++F(c).openTaskFolders, &F(c).taskRoot; },
                   [](void*, TaskFolder f) { return static_cast<uint32_t>(Folder(f).subfolders.size()); },
                   [](void* c, TaskFolder f, uint32_t i) -> TaskFolder {
                       FakeTaskFolder& sub = *std::next(Folder(f).subfolders.begin(), i);
                       return sub.opens ? (++F(c).openTaskFolders, &sub) : nullptr;
                   },
                   [](void* c, TaskFolder) { --F(c).openTaskFolders; },
                   [](void*, TaskFolder f) { return Copy(Folder(f).path); },
                   [](void*, TaskFolder f) { return static_cast<uint32_t>(Folder(f).tasks.size()); },
                   [](void*, TaskFolder f, uint32_t i) { return Copy(Folder(f).tasks[i].name); },
                   [](void*, TaskFolder f, uint32_t i, uint32_t action, char** path, char** arguments) {
                       const auto& programs = Folder(f).tasks[i].programs;
                       if (action >= programs.size()) return false;
                       return *path = Copy(programs[action].first), *arguments = Copy(programs[action].second), true;
                   }};
        redirection = {this, [](void* c, void**) { return ++F(c).suspensions, ++F(c).redirectionOff, true; },
                       [](void* c, void*) { --F(c).redirectionOff; }};
        InstallApplicationTableHooks();
    }
    FakeAutorun(const FakeAutorun&) = delete;

    // current: a current system on 64-bit Windows, with its task scheduler, registry
    // views and file-system redirection.
    AutorunSystem System(bool current = false) {
        return {&commandLine, nullptr,         &registry, &iniOps, &directory, &shellLink, &processOps,
                current ? &taskOps : nullptr, current ? &redirection : nullptr, current};
    }
    bool AllReleased() const {
        return !openKeys && !openSearches && !openLinks && !comDepth && !liveCopies && !openTaskFolders && !redirectionOff;
    }
    // The first %NAME% reference of each kind replaced by its value; unknown ones kept.
    std::string Expand(std::string text) const {
        for (size_t open = text.find('%'), close; open != std::string::npos; open = text.find('%', open + 1)) {
            if ((close = text.find('%', open + 1)) == std::string::npos) break;
            const std::string value = files.Variable(text.substr(open + 1, close - open - 1));
            if (!value.empty()) text.replace(open, close - open + 1, value);
        }
        return text;
    }
    // A malloc copy of s (zero bytes inside included) with a terminator after it.
    static char* Copy(const std::string& s) {
        auto* block = static_cast<char*>(std::malloc(s.size() + 1));
        std::memcpy(block, s.data(), s.size());
        block[s.size()] = '\0';
        return block;
    }
};

// Runs write with a temporary stream and returns what it wrote, one string per line
// without its CR LF; stoppedAt becomes the number of lines written before the stop.
template <typename Write>
std::vector<std::string> CaptureLines(FakeAutorun& fake, Write write) {
    char* data = nullptr;
    size_t size = 0;
    write(fake.stream = open_memstream(&data, &size));
    std::fclose(fake.stream);
    const std::string bytes(data, size);
    std::free(data);
    fake.stream = nullptr;
    if (fake.stoppedAt >= 0) fake.stoppedAt = static_cast<long>(std::count(bytes.begin(), bytes.begin() + fake.stoppedAt, '\n'));
    return autoruntest::SplitLines(bytes);
}
