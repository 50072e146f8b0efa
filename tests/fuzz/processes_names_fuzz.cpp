// Executable paths from a process snapshot, split and reduced to process names under
// both a single-byte and a double-byte code page, into buffers of every small size.
#include "inspect/processes_names.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int GbkLeadByte(void*, unsigned char byte) { return byte >= 0x81 && byte <= 0xFE ? 1 : 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t outSize = data[0] % 24;
    // An exact-size copy, so a read past the path's end is caught.
    std::vector<char> path(data + 1, data + size);
    const LeadByteOps modes[2] = {{nullptr, nullptr}, {GbkLeadByte, nullptr}};
    for (const LeadByteOps& ops : modes) {
        const PathParts parts = SplitPathParts(path.data(), path.size(), ops);
        const void* nul = path.empty() ? nullptr : std::memchr(path.data(), 0, path.size());
        const size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - path.data()) : path.size();
        if (parts.driveLength + parts.directoryLength + parts.baseLength + parts.extensionLength != length) std::abort();

        std::vector<char> out(outSize + 1, '\x7f');
        const size_t written = ProcessNameFromExeFile(path.data(), path.size(), ops, out.data(), outSize);
        if (out[outSize] != '\x7f') std::abort();  // wrote past the buffer
        if (outSize > 0 && (written >= outSize || std::strlen(out.data()) != written)) std::abort();
        if (outSize == 0 && written != 0) std::abort();

        std::vector<char> terminated(path.begin(), path.end());
        terminated.push_back('\0');
        HasExeExtension(terminated.data(), ops);
    }
    return 0;
}
