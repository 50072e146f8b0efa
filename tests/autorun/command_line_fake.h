// In-memory system for command-line resolution: folders, environment, a file system
// with case-insensitive names, and a log of every path the directory search is asked
// about. Shared by the native tests and the fuzz target.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "autorun/command_line.h"

struct FakeSystem {
    // An empty string makes that query fail.
    std::string moduleFileName = "C:\\Korvane\\korvane.exe";
    std::string currentDirectory = "C:\\Work";
    std::string windowsDirectory = "C:\\WINNT";
    std::string systemDirectory = "C:\\WINNT\\system32";
    bool nt = true;
    bool dbcs = false;  // lead bytes 0x81..0xFE, as in the Chinese code page
    std::map<std::string, std::string> environment;  // folded name -> value
    std::map<std::string, int> entries;              // folded path -> kEntryFile / kEntryFolder
    // Every directory search in order, and "PATH:<name>" for each PATH search.
    std::vector<std::string> probes;

    bool IsLead(unsigned char c) const { return dbcs && c >= 0x81 && c <= 0xFE; }

    // ASCII letters folded to upper case; trail bytes of double-byte characters kept.
    std::string Fold(const std::string& text) const {
        std::string folded = text;
        for (size_t i = 0; i < folded.size(); ++i) {
            if (IsLead(static_cast<unsigned char>(folded[i])) && i + 1 < folded.size()) {
                ++i;
            } else if (folded[i] >= 'a' && folded[i] <= 'z') {
                folded[i] = static_cast<char>(folded[i] - 'a' + 'A');
            }
        }
        return folded;
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

    // Absolute form of name against the current directory, with "." and ".." resolved;
    // empty when there is no current directory to resolve against.
    std::string FullPath(const std::string& name) const {
        std::string absolute;
        if (name.size() >= 2 && name[0] == '\\' && name[1] == '\\') return name;  // UNC as it stands
        if (name.size() >= 2 && name[1] == ':') {
            if (name.size() >= 3 && name[2] == '\\') {
                absolute = name;
            } else if (!currentDirectory.empty() && Fold(currentDirectory.substr(0, 1)) == Fold(name.substr(0, 1))) {
                absolute = currentDirectory + "\\" + name.substr(2);
            } else {
                absolute = name.substr(0, 2) + "\\" + name.substr(2);
            }
        } else if (currentDirectory.size() < 2) {
            return std::string();
        } else if (!name.empty() && name[0] == '\\') {
            absolute = currentDirectory.substr(0, 2) + name;
        } else {
            absolute = currentDirectory + "\\" + name;
        }
        std::vector<std::string> parts;
        std::string part;
        for (size_t i = 3; i <= absolute.size(); ++i) {  // after "X:\"
            if (i == absolute.size() || absolute[i] == '\\') {
                if (part == "..") {
                    if (!parts.empty()) parts.pop_back();
                } else if (!part.empty() && part != ".") {
                    parts.push_back(part);
                }
                part.clear();
                continue;
            }
            part += absolute[i];
            if (IsLead(static_cast<unsigned char>(absolute[i])) && i + 1 < absolute.size()) part += absolute[++i];
        }
        std::string result = absolute.substr(0, 2) + "\\";
        for (size_t i = 0; i < parts.size(); ++i) result += (i == 0 ? "" : "\\") + parts[i];
        return result;
    }

    // As the runtime's search: the name against the current directory, then each PATH
    // directory; an existing entry of either kind is an answer.
    std::string SearchPath(const std::string& name) const {
        const std::string here = FullPath(name);
        if (!here.empty() && Kind(here) != kEntryMissing) return here;
        const std::string list = Variable("PATH");
        size_t start = 0;
        while (start < list.size()) {
            size_t end = list.find(';', start);
            if (end == std::string::npos) end = list.size();
            std::string folder = list.substr(start, end - start);
            if (!folder.empty()) {
                if (folder.back() != '\\') folder += '\\';
                if (Kind(folder + name) != kEntryMissing) return folder + name;
            }
            start = end + 1;
        }
        return std::string();
    }

    // Writes answer into the caller's buffer. The whole buffer is overwritten first, so
    // that a size larger than the real buffer shows up under AddressSanitizer.
    static int Answer(const std::string& answer, char* buffer, size_t size) {
        std::memset(buffer, 'Z', size);
        if (answer.empty() || answer.size() >= size) return 0;
        std::memcpy(buffer, answer.c_str(), answer.size() + 1);
        return 1;
    }

    static FakeSystem* Self(void* context) { return static_cast<FakeSystem*>(context); }

    CommandLineOps Ops() {
        CommandLineOps ops;
        ops.context = this;
        ops.getModuleFileName = [](void* c, char* b, size_t s) { return Answer(Self(c)->moduleFileName, b, s); };
        ops.getCurrentDirectory = [](void* c, char* b, size_t s) { return Answer(Self(c)->currentDirectory, b, s); };
        ops.getWindowsDirectory = [](void* c, char* b, size_t s) { return Answer(Self(c)->windowsDirectory, b, s); };
        ops.getSystemDirectory = [](void* c, char* b, size_t s) { return Answer(Self(c)->systemDirectory, b, s); };
        ops.isNtPlatform = [](void* c) { return Self(c)->nt ? 1 : 0; };
        ops.getEnvironmentVariable = [](void* c, const char* name, char* b, size_t s) -> size_t {
            const std::string value = Self(c)->Variable(name);
            std::memset(b, 'Z', s);
            if (value.size() < s) std::memcpy(b, value.c_str(), value.size() + 1);
            return value.size();
        };
        ops.getFullPath = [](void* c, const char* name, char* b, size_t s) {
            return Answer(Self(c)->FullPath(name), b, s);
        };
        ops.searchPath = [](void* c, const char* name, char* b, size_t s) {
            Self(c)->probes.push_back(std::string("PATH:") + name);
            return Answer(Self(c)->SearchPath(name), b, s);
        };
        ops.findEntry = [](void* c, const char* path) {
            Self(c)->probes.push_back(path);
            return Self(c)->Kind(path);
        };
        ops.isLeadByte = [](void* c, unsigned char byte) { return Self(c)->IsLead(byte) ? 1 : 0; };
        return ops;
    }
};
