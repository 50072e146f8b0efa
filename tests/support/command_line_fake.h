// In-memory system for command-line resolution: folders, environment, a file system with
// case-insensitive names, and a log of every path asked about. Shared by tests and fuzz target.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "autorun/command_line.h"
#include "tests/support/lead_bytes.h"

struct FakeSystem {
    // An empty string makes that query fail.
    std::string moduleFileName = "C:\\Korvane\\korvane.exe", currentDirectory = "C:\\Work";
    std::string windowsDirectory = "C:\\WINNT", systemDirectory = "C:\\WINNT\\system32";
    bool nt = true, dbcs = false;                    // dbcs: GBK lead bytes
    std::map<std::string, std::string> environment;  // folded name -> value
    std::map<std::string, int> entries;              // folded path -> kEntryFile / kEntryFolder
    std::vector<std::string> probes;                 // every directory search, "PATH:<name>" per PATH search
    // File-system redirection: off while *redirectionOff is above 0; searches made while
    // it is on are counted (no counting while redirectionOff is null).
    const int* redirectionOff = nullptr;
    int redirectedSearches = 0;

    void Probe(const std::string& what) {
        probes.push_back(what);
        if (redirectionOff && *redirectionOff <= 0) ++redirectedSearches;
    }
    bool IsLead(char c) const { return dbcs && GbkLeadByte(nullptr, static_cast<unsigned char>(c)); }
    // ASCII letters folded to upper case; trail bytes kept.
    std::string Fold(std::string s) const {
        for (size_t i = 0; i < s.size(); ++i) {
            if (IsLead(s[i]) && i + 1 < s.size()) ++i;
            else if (s[i] >= 'a' && s[i] <= 'z') s[i] = static_cast<char>(s[i] - 'a' + 'A');
        }
        return s;
    }
    void AddFile(const std::string& path) { entries[Fold(path)] = kEntryFile; }
    void AddFolder(const std::string& path) { entries[Fold(path)] = kEntryFolder; }
    void SetVariable(const std::string& name, const std::string& value) { environment[Fold(name)] = value; }
    int Kind(const std::string& path) const {
        const auto it = entries.find(Fold(path));
        return it == entries.end() ? kEntryMissing : it->second;
    }
    std::string Variable(const std::string& name) const {
        const auto it = environment.find(Fold(name));
        return it == environment.end() ? std::string() : it->second;
    }

    // name made absolute against the current directory, "." and ".." resolved; UNC as it stands.
    std::string FullPath(const std::string& name) const {
        const std::string& here = currentDirectory;
        std::string path;
        if (name.compare(0, 2, "\\\\") == 0) return name;
        if (name.size() >= 3 && name[1] == ':' && name[2] == '\\') path = name;
        else if (name.size() >= 2 && name[1] == ':')
            path = (!here.empty() && Fold(here.substr(0, 1)) == Fold(name.substr(0, 1)) ? here : name.substr(0, 2)) +
                   "\\" + name.substr(2);
        else if (here.size() < 2) return std::string();
        else path = name[0] == '\\' ? here.substr(0, 2) + name : here + "\\" + name;
        std::vector<std::string> kept;
        std::string part;
        for (size_t i = 3; i <= path.size(); ++i) {  // after "X:\"
            if (i < path.size() && path[i] != '\\') {
                part += path[i];
                if (IsLead(path[i]) && i + 1 < path.size()) part += path[++i];
                continue;
            }
            if (part == ".." && !kept.empty()) kept.pop_back();
            if (!part.empty() && part != "." && part != "..") kept.push_back(part);
            part.clear();
        }
        std::string result = path.substr(0, 2);
        for (const std::string& k : kept) result += "\\" + k;
        return kept.empty() ? result + "\\" : result;
    }
    // name against the current directory, then in each PATH folder; an entry of either kind is an answer.
    std::string SearchPath(const std::string& name) const {
        const std::string here = FullPath(name), list = Variable("PATH");
        if (!here.empty() && Kind(here) != kEntryMissing) return here;
        for (size_t start = 0, end; start < list.size(); start = end + 1) {
            end = std::min(list.find(';', start), list.size());
            std::string folder = list.substr(start, end - start);
            if (!folder.empty() && folder.back() != '\\') folder += '\\';
            if (!folder.empty() && Kind(folder + name) != kEntryMissing) return folder + name;
        }
        return std::string();
    }

    // Fills the whole buffer first, so that a size larger than the real buffer shows under ASan.
    static int Answer(const std::string& answer, char* buffer, size_t size) {
        std::memset(buffer, 'Z', size);
        if (answer.empty() || answer.size() >= size) return 0;
        std::memcpy(buffer, answer.c_str(), answer.size() + 1);
        return 1;
    }
    static FakeSystem& S(void* context) { return *static_cast<FakeSystem*>(context); }
    CommandLineOps Ops() {
        return {this,
                [](void* c, char* b, size_t s) { return Answer(S(c).moduleFileName, b, s); },
                [](void* c, char* b, size_t s) { return Answer(S(c).currentDirectory, b, s); },
                [](void* c, char* b, size_t s) { return Answer(S(c).windowsDirectory, b, s); },
                [](void* c, char* b, size_t s) { return Answer(S(c).systemDirectory, b, s); },
                [](void* c) { return S(c).nt ? 1 : 0; },
                [](void* c, const char* name, char* b, size_t s) -> size_t {
                    const std::string value = S(c).Variable(name);
                    std::memset(b, 'Z', s);
                    if (value.size() < s) std::memcpy(b, value.c_str(), value.size() + 1);
                    return value.size();
                },
                [](void* c, const char* n, char* b, size_t s) { return Answer(S(c).FullPath(n), b, s); },
                [](void* c, const char* name, char* b, size_t s) {
                    S(c).Probe(std::string("PATH:") + name);
                    return Answer(S(c).SearchPath(name), b, s);
                },
                [](void* c, const char* path) { return S(c).Probe(path), S(c).Kind(path); },
                [](void* c, unsigned char byte) { return S(c).IsLead(static_cast<char>(byte)) ? 1 : 0; }};
    }
};
