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
    std::vector<char> path(data + 1, data + size);  // exact size: a read past the end is caught
    for (const LeadByteOps& ops : {kSingleByte, kGbk}) {
        const PathParts parts = SplitPathParts(path.data(), path.size(), ops);
        const size_t length = path.empty() ? 0 : strnlen(path.data(), path.size());
        if (parts.driveLength + parts.directoryLength + parts.baseLength + parts.extensionLength != length) {
            std::abort();
        }
        std::vector<char> out(outSize + 1, '\x7f');
        const size_t written = ProcessNameFromExeFile(path.data(), path.size(), ops, out.data(), outSize);
        if (out[outSize] != '\x7f') std::abort();  // wrote past the buffer
        if (outSize > 0 ? written >= outSize || std::strlen(out.data()) != written : written != 0) std::abort();
        std::vector<char> terminated(path.begin(), path.end());
        terminated.push_back('\0');
        HasExeExtension(terminated.data(), ops);
        // A name equals itself, and the comparison is symmetric.
        const char* name = terminated.data();
        const char* tail = name + terminated.size() / 2;
        if (!EqualNamesNoCase(name, name, ops) || EqualNamesNoCase(name, tail, ops) != EqualNamesNoCase(tail, name, ops)) {
            std::abort();
        }
    }
    return 0;
}
