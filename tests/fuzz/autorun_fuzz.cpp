// Registry, INI and task texts from the input, planted in an in-memory system and scanned
// by every family with a stop at a step the input chooses. Records are separated by
// "\n"; the first byte of a record says where its text goes, a "=" splits name from data.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "autorun/autorun_scan.h"
#include "autorun/startup_folder.h"
#include "tests/autorun/autorun_fake.h"

namespace {

void Plant(FakeAutorun& f, char kind, const std::string& name, const std::string& data, std::string& lastType) {
    const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    switch (kind) {
        case 'v': f.SetValue(kHiveLocalMachine, run, name, data); break;
        case 'y': f.SetValue(kHiveLocalMachine32, run, name, data); break;
        case 'x': f.SetValue(kHiveCurrentUser, run, name, data, kRegistryExpandString); break;
        case 'w': f.SetValue(kHiveLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\" + name, "v", data); break;
        case 'k': f.SetValue(kHiveClassesRoot, name, "", data), lastType = name; break;
        case 'c': f.SetValue(kHiveClassesRoot, lastType + "\\shell\\" + name + "\\command", "", data); break;
        case 'i': f.ini[f.Fold("C:\\WINNT\\system.ini")]["DRIVERS32"].push_back(name + "=" + data); break;
        case 'p':
            f.SetValue(kHiveLocalMachine, "software\\microsoft\\windows nt\\currentversion\\profilelist\\" + name,
                       "ProfileImagePath", data);
            break;
        case 'u':
            f.SetValue(kHiveCurrentUser, "software\\microsoft\\windows\\currentversion\\explorer\\user shell folders",
                       "startup", data);
            break;
        case 'l': f.AddLink("C:\\All\\" + name + ".lnk", {data, name}); break;
        case 'o':
            f.SetValue(kHiveLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx\\" + name, "1", data);
            break;
        case 't': f.taskRoot.subfolders.push_back({"\\" + name, {{name, {{data, name}}}}, {}, true}); break;
        default: f.AddEntry("C:\\All\\" + name, kind == 'd'); break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    FakeAutorun f;
    f.files.dbcs = (data[0] & 1) != 0;
    f.temporaryFolder = (data[0] & 2) != 0;
    f.files.SetVariable("SystemDrive", "C:");
    f.AddEntry("C:\\WINNT\\notepad.exe", false);
    f.SetValue(kHiveLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\explorer\\Shell Folders",
               "Common Startup", "C:\\All");
    const std::string input(reinterpret_cast<const char*>(data) + 2, size - 2);
    std::string lastType = ".x";
    for (size_t start = 0; start < input.size();) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        const std::string record = input.substr(start, end - start);
        start = end + 1;
        if (record.empty()) continue;
        const size_t split = record.find('=', 1);
        const std::string name = record.substr(1, split == std::string::npos ? std::string::npos : split - 1);
        Plant(f, record[0], name, split == std::string::npos ? "" : record.substr(split + 1), lastType);
        const AutorunSystem system = f.System();
        std::free(LongPathOf(&system, name.c_str()));
    }
    for (AutorunFamily family : {kAutorunNtFamily, kAutorun9xFamily, kAutorunNt6Family}) {
        const AutorunSystem system = f.System(family == kAutorunNt6Family);
        f.steps = 0;
        f.stopAtStep = data[1];
        uint32_t status = 0;
        CaptureLines(f, [&](FILE* stream) { status = ScanAutoruns(&system, &f.progress, stream, family); });
        const bool stopped = f.stopAtStep != 0 && f.steps >= f.stopAtStep;
        if (status != (stopped ? 3u : 0u) || f.openKeys || f.openSearches || f.openLinks || f.comDepth || f.liveCopies ||
            f.openTaskFolders || f.redirectionOff) {
            std::abort();
        }
    }
    return 0;
}
