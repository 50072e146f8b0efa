// Arbitrary command-line bytes against a small in-memory system. The first byte picks the
// platform, the code page, the module path and the call form; the rest is the line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "autorun/command_line.h"
#include "tests/support/command_line_fake.h"

namespace {

FakeSystem MakeSystem() {
    FakeSystem fs;
    const std::pair<const char*, std::string> variables[] = {
        {"SystemRoot", "C:\\WINNT"}, {"windir", "C:\\WINNT\\"}, {"PATH", "C:\\Tools;;C:\\Bin\\;C:\\\x95\\"},
        {"P", "C:\\Program Files"}, {"B", " x.exe "}, {"L", std::string(300, 'L')}};
    for (const auto& [name, value] : variables) fs.SetVariable(name, value);
    for (const char* file : {"C:\\WINNT\\system32\\rundll32.exe", "C:\\WINNT\\System32\\drivers\\beep.sys",
                             "C:\\WINNT\\SYSTEM\\sound.drv", "C:\\Program Files\\App\\app.exe", "C:\\Program",
                             "C:\\Korvane\\x.exe", "C:\\x.exe", "C:\\Tools\\tool.exe", "C:\\\x95\\\\a.exe",
                             "C:\\\x95\\a.exe", "\\\\srv\\share\\s.exe"})
        fs.AddFile(file);
    fs.AddFile("C:\\" + std::string(256, 'e') + ".exe");  // 263 characters: never an answer
    for (const char* folder : {"C:\\Work\\x.exe", "C:\\Bin\\d.exe", "C:\\WINNT"}) fs.AddFolder(folder);
    return fs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static FakeSystem fs = MakeSystem();
    fs.nt = (data[0] & 1) != 0;
    fs.dbcs = (data[0] & 2) != 0;
    fs.moduleFileName = (data[0] & 8) != 0 ? "korvane.exe" : "C:\\Korvane\\korvane.exe";
    fs.probes.clear();
    const CommandLineOps ops = fs.Ops();
    // The line in a block of exactly its own size, so that any read past it is caught; it
    // is left as it was. A found path is an existing file no longer than a candidate may
    // be; a path already set is kept; no candidate is longer than that.
    const std::string before(reinterpret_cast<const char*>(data) + 1, size - 1);
    char* line = static_cast<char*>(std::malloc(size));
    std::memcpy(line, before.c_str(), size);
    char kept[] = "kept";
    char* path = (data[0] & 4) != 0 ? kept : nullptr;
    const bool resolved = ResolveCommandLine(&ops, line, &path);
    const auto bad = [&](bool found, char* p) {
        const size_t length = p ? std::strlen(p) : 0;
        return found != (p != nullptr) || (p && (length == 0 || length > kMaxCandidateLength || fs.Kind(p) != kEntryFile));
    };
    if ((data[0] & 4) ? path != kept || std::strcmp(kept, "kept") != 0 : bad(resolved, path)) std::abort();
    if (path != kept) std::free(path);
    path = nullptr;
    if (bad(LocateFile(&ops, line, &path) != 0, path) || std::memcmp(line, before.data(), size - 1) != 0) std::abort();
    std::free(path);
    std::free(line);
    for (const std::string& probe : fs.probes) {
        if (probe.compare(0, 5, "PATH:") != 0 && probe.size() > kMaxCandidateLength) std::abort();
    }
    return 0;
}
