// Snapshot paths split and reduced to process names, single- and double-byte, into
// buffers of every small size; names compared with their own tails.
#include "inspect/processes_names.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/support/lead_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t outSize = data[0] % 24;
    std::vector<char> path(data + 1, data + size), terminated(path);  // exact size: a read past the end is caught
    terminated.push_back('\0');
    const char* name = terminated.data();
    const char* tail = name + terminated.size() / 2;
    for (const LeadByteOps& ops : {kSingleByte, kGbk}) {
        const PathParts parts = SplitPathParts(path.data(), path.size(), ops);
        std::vector<char> out(outSize + 1, '\x7f');
        const size_t written = ProcessNameFromExeFile(path.data(), path.size(), ops, out.data(), outSize);
        HasExeExtension(name, ops);
        // The parts cover the text before any NUL; nothing is written past the buffer; a
        // name equals itself, and the comparison is symmetric.
        if (parts.driveLength + parts.directoryLength + parts.baseLength + parts.extensionLength != std::strlen(name) ||
            out[outSize] != '\x7f' || (outSize > 0 ? written >= outSize || std::strlen(out.data()) != written : written != 0) ||
            !EqualNamesNoCase(name, name, ops) || EqualNamesNoCase(name, tail, ops) != EqualNamesNoCase(tail, name, ops)) {
            std::abort();
        }
    }
    return 0;
}
