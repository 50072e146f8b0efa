// Fuzz target for report loading: the input is a whole file (after two bytes that choose
// the read size and where the load stops), in which a line starting with a byte from 1 to
// 20 starts with one of the record codes the program writes instead. The file is loaded in
// small reads and in whole chunks, which must give the same tree and records, and once
// more with the sink or the progress callback stopping part-way, which must give a prefix
// of that tree. Every load must keep the rules the fakes check (tests/report/report_load_fakes.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "tests/report/report_load_fakes.h"

namespace {

using namespace reportfake;

const uint32_t kCodes[] = {kCodeSystemInfo, kCodeSectionHeading, kCodeLocationHeading, kCodeIniFileHeading, kCodeSubHeading,
                           kCodeFileTypeHeading, kCodeValueEntryBase, kCodeValueEntryDetailsBase + 3,
                           kCodeSubkeyHeadingBase + 4, kCodeAutorunEntry, kCodeAutorunEntryDetails, kCodeAutorunSubEntry,
                           kCodeShortcutEntry, kCodeRunningProcess, kCodeModule, kCodeEndedProcess, kCodeEndedModule,
                           kCodeConnection, kCodeConnection, kCodeConnection};

std::string WithCodes(const uint8_t* data, size_t size) {
    std::string file;
    for (size_t i = 0; i < size; ++i) {
        char code[16];
        const bool coded = (i == 0 || data[i - 1] == '\n') && data[i] >= 1 && data[i] <= std::size(kCodes);
        if (coded) std::snprintf(code, sizeof code, "%.8x|", static_cast<unsigned>(kCodes[data[i] - 1]));
        file += coded ? std::string(code) : std::string(1, static_cast<char>(data[i]));
    }
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::string file = WithCodes(data + 2, size - 2);
    const size_t smallRead = 1 + data[0] % 61;
    const LoadOutcome whole = Load(file), small = Load(file, smallRead);
    if (whole.broken || small.broken || whole.result != 0 || small.result != 0 || small.tree != whole.tree ||
        small.records != whole.records || small.count != whole.count)
        std::abort();

    // Stopped by the sink (result 1) or the progress callback (result 3), or not at all.
    MemoryFile stopping{file, smallRead};
    stopping.stopAtCall = 1 + data[0] % 7;
    RecordingSink sink;
    sink.stopAtKey = data[1];
    const LoadOutcome part = Load(stopping, sink);
    const std::string head = part.count ? part.tree + "; " : "";
    if (part.broken || part.count > whole.count ||
        (part.count == whole.count ? part.tree != whole.tree : whole.tree.compare(0, head.size(), head) != 0))
        std::abort();
    if (part.result == 1 ? part.count + 1 != sink.stopAtKey
                         : part.result == 0 ? part.count != whole.count : part.result != 3)
        std::abort();
    return 0;
}
