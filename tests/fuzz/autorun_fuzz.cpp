// Registry, INI and task texts from the input, planted in an in-memory system and scanned
// by every family with a stop at a step the input chooses. Records are separated by
// "\n"; the first byte of a record says where its text goes, a "=" splits name from data.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "autorun/autorun_scan.h"
#include "autorun/startup_folder.h"
#include "tests/autorun/autorun_fake.h"

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
    const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run", nt = "software\\microsoft\\windows nt\\";
    std::string lastType = ".x";
    for (size_t start = 0, end; start < input.size(); start = end + 1) {
        end = std::min(input.find('\n', start), input.size());
        const std::string record = input.substr(start, end - start);
        if (record.empty()) continue;
        const size_t split = record.find('=', 1);
        const std::string name = record.substr(1, split == std::string::npos ? std::string::npos : split - 1);
        const std::string text = split == std::string::npos ? "" : record.substr(split + 1);
        switch (record[0]) {
            case 'v': f.SetValue(kHiveLocalMachine, run, name, text); break;
            case 'y': f.SetValue(kHiveLocalMachine32, run, name, text); break;
            case 'x': f.SetValue(kHiveCurrentUser, run, name, text, kRegistryExpandString); break;
            case 'w': f.SetValue(kHiveLocalMachine, nt + "CurrentVersion\\Windows\\" + name, "v", text); break;
            case 'k': f.SetValue(kHiveClassesRoot, name, "", text), lastType = name; break;
            case 'c': f.SetValue(kHiveClassesRoot, lastType + "\\shell\\" + name + "\\command", "", text); break;
            case 'i': f.ini[f.Fold("C:\\WINNT\\system.ini")]["DRIVERS32"].push_back(name + "=" + text); break;
            case 'p': f.SetValue(kHiveLocalMachine, nt + "currentversion\\profilelist\\" + name, "ProfileImagePath", text); break;
            case 'u': f.SetValue(kHiveCurrentUser, run.substr(0, run.size() - 3) + "Explorer\\User Shell Folders", "startup", text); break;
            case 'l': f.AddLink("C:\\All\\" + name + ".lnk", {text, name}); break;
            case 'o': f.SetValue(kHiveLocalMachine, run + "OnceEx\\" + name, "1", text); break;
            case 't': f.taskRoot.subfolders.push_back({"\\" + name, {{name, {{text, name}}}}, {}, true}); break;
            default: f.AddEntry("C:\\All\\" + name, record[0] == 'd'); break;
        }
        const AutorunSystem system = f.System();
        std::free(LongPathOf(&system, name.c_str()));
    }
    // Every family ends (3 when stopped) and releases all it opened.
    for (AutorunFamily family : {kAutorunNtFamily, kAutorun9xFamily, kAutorunNt6Family}) {
        const AutorunSystem system = f.System(family == kAutorunNt6Family);
        f.steps = 0;
        f.stopAtStep = data[1];
        uint32_t status = 0;
        CaptureLines(f, [&](FILE* stream) { status = ScanAutoruns(&system, &f.progress, stream, family); });
        if (status != (f.stopAtStep != 0 && f.steps >= f.stopAtStep ? 3u : 0u) || !f.AllReleased()) std::abort();
    }
    return 0;
}
