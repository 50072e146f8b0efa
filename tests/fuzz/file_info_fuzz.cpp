// Version resource blocks come from arbitrary files: look values up in fuzzed blocks and
// build the details text from them.
#include "inspect/file_info.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/support/version_blocks.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A well-formed block; inputs with an odd first byte flip it, which reaches the nested
// nodes far sooner than random bytes do.
const Bytes kTemplate = VersionBlock(true, {ParentNode("040904b0", {TextNode("FileVersion", "1.2.3.4"),
                                                                    TextNode("FileDescription", "Fuzz sample")})});

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 0x20000) return 0;
    Bytes block(data, data + size);
    if (data[0] & 1) {  // the template cut to size * 4 bytes, xor the rest of the input
        block.assign(kTemplate.begin(), kTemplate.begin() + static_cast<long>(std::min(kTemplate.size(), size * 4)));
        for (size_t i = 1; i < size && i - 1 < block.size(); ++i) block[i - 1] ^= data[i];
    }
    block.shrink_to_fit();  // exactly sized: any overread is caught
    for (const char* path : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904b0\\FileVersion", "\\A\\B\\C\\D"}) {
        VersionValue value;
        if (FindVersionValue(block.data(), block.size(), path, &value) &&
            (value.data < block.data() || value.data + value.size > block.data() + block.size())) {
            std::abort();
        }
    }
    // The resource reads answer with the fuzzed block.
    FileInfoOps ops = {&block, [](void* c, const char*) { return static_cast<uint32_t>(static_cast<Bytes*>(c)->size()); },
                       [](void* c, const char*, uint32_t size, void* out) {
                           const Bytes& b = *static_cast<Bytes*>(c);
                           return size == b.size() ? (std::memcpy(out, b.data(), size), 0) : 1;
                       },
                       [](void*, const char*, FileStatus* status) { return *status = {1234, {2001, 2, 3, 4, 5, 6}}, 0; },
                       nullptr};
    VersionInfo info(&ops);
    char small[5];
    const size_t length = info.Load("x") ? info.GetFileDescription(small, sizeof small) : 0;
    if (length && (strnlen(small, sizeof small) >= sizeof small || (length < sizeof small && std::strlen(small) != length))) {
        std::abort();
    }
    std::free(GetFileDetails(&ops, nullptr, "x", NewIdList(0x1a4)));
    return 0;
}
