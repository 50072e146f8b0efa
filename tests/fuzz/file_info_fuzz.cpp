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
                                                                    TextNode("FileDescription", "Fuzz sample"),
                                                                    TextNode("ProductVersion", "1.2")})});

// The resource reads answer with the fuzzed block.
uint32_t BlockSize(void* context, const char*) { return static_cast<uint32_t>(static_cast<Bytes*>(context)->size()); }

int ReadBlock(void* context, const char*, uint32_t size, void* out) {
    const Bytes& block = *static_cast<Bytes*>(context);
    if (size != block.size()) return 1;
    std::memcpy(out, block.data(), size);
    return 0;
}

int ReadStatus(void*, const char*, FileStatus* status) {
    *status = FileStatus{1234, {2001, 2, 3, 4, 5, 6}};
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 0x20000) return 0;
    Bytes block(data, data + size);
    if (data[0] & 1) {  // the template cut to size * 4 bytes, xor the rest of the input
        block.assign(kTemplate.begin(), kTemplate.begin() + static_cast<long>(std::min(kTemplate.size(), size * 4)));
        for (size_t i = 1; i < size && i - 1 < block.size(); ++i) block[i - 1] ^= data[i];
    }
    block.shrink_to_fit();  // exactly sized: any overread is caught
    const uint8_t* begin = block.data();
    for (const char* path : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo",
                             "\\StringFileInfo\\040904b0\\FileVersion", "\\A\\B\\C\\D\\E"}) {
        VersionValue value;
        if (FindVersionValue(begin, block.size(), path, &value) &&
            (value.data < begin || value.data + value.size > begin + block.size())) {
            std::abort();
        }
    }
    FileInfoOps ops = {&block, BlockSize, ReadBlock, ReadStatus, nullptr};
    VersionInfo info(&ops);
    if (info.Load("x")) {
        char small[5];
        const size_t length = info.GetFileDescription(small, sizeof small);
        if (strnlen(small, sizeof small) >= sizeof small || (length < sizeof small && std::strlen(small) != length)) {
            std::abort();
        }
        info.GetProductVersion(nullptr, 0);
    }
    std::free(GetFileDetails(&ops, nullptr, "x", NewIdList(0x1a4)));
    return 0;
}
