// Arbitrary command-line bytes against a small in-memory system. The first byte picks
// the platform, the code page and the call form; the rest is the line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "autorun/command_line.h"
#include "tests/autorun/command_line_fake.h"

namespace {

FakeSystem MakeSystem() {
    FakeSystem fs;
    fs.SetVariable("SystemRoot", "C:\\WINNT");
    fs.SetVariable("windir", "C:\\WINNT\\");
    fs.SetVariable("PATH", "C:\\Tools;;C:\\Bin\\;C:\\\x95\\");
    fs.SetVariable("P", "C:\\Program Files");
    fs.SetVariable("B", " x.exe ");
    fs.SetVariable("L", std::string(300, 'L'));
    fs.AddFile("C:\\WINNT\\system32\\rundll32.exe");
    fs.AddFile("C:\\WINNT\\System32\\drivers\\beep.sys");
    fs.AddFile("C:\\WINNT\\SYSTEM\\sound.drv");
    fs.AddFile("C:\\Program Files\\App\\app.exe");
    fs.AddFile("C:\\Program");
    fs.AddFile("C:\\Korvane\\x.exe");
    fs.AddFile("C:\\x.exe");
    fs.AddFile("C:\\Tools\\tool.exe");
    fs.AddFile("C:\\\x95\\\\a.exe");
    fs.AddFile("C:\\\x95\\a.exe");
    fs.AddFile("\\\\srv\\share\\s.exe");
    fs.AddFile("C:\\" + std::string(256, 'e') + ".exe");  // 263 characters: never an answer
    fs.AddFolder("C:\\Work\\x.exe");
    fs.AddFolder("C:\\Bin\\d.exe");
    fs.AddFolder("C:\\WINNT");
    return fs;
}

void Check(const FakeSystem& fs, const char* path) {
    const size_t length = std::strlen(path);
    if (length == 0 || length > kMaxCandidateLength || fs.Kind(path) != kEntryFile) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static FakeSystem fs = MakeSystem();
    const uint8_t flags = data[0];
    fs.nt = (flags & 1) != 0;
    fs.dbcs = (flags & 2) != 0;
    fs.moduleFileName = (flags & 8) != 0 ? "korvane.exe" : "C:\\Korvane\\korvane.exe";
    fs.probes.clear();
    const CommandLineOps ops = fs.Ops();

    // The line in a block of exactly its own size, so that any read past it is caught.
    const size_t length = size - 1;
    char* line = static_cast<char*>(std::malloc(length + 1));
    if (line == nullptr) return 0;
    std::memcpy(line, data + 1, length);
    line[length] = '\0';
    const std::string before(line, length);

    if ((flags & 4) != 0) {
        char kept[] = "kept";
        char* path = kept;
        ResolveCommandLine(&ops, line, &path);
        if (path != kept || std::strcmp(kept, "kept") != 0) std::abort();
    } else {
        char* path = nullptr;
        if (ResolveCommandLine(&ops, line, &path) != (path != nullptr)) std::abort();
        if (path != nullptr) Check(fs, path);
        std::free(path);
    }
    if (std::memcmp(line, before.data(), length) != 0) std::abort();

    char* located = nullptr;
    if (LocateFile(&ops, line, &located) != (located != nullptr ? 1 : 0)) std::abort();
    if (located != nullptr) Check(fs, located);
    std::free(located);

    for (const std::string& probe : fs.probes) {
        if (probe.compare(0, 5, "PATH:") != 0 && probe.size() > kMaxCandidateLength) std::abort();
    }
    std::free(line);
    return 0;
}
