// Version resource blocks come from arbitrary files: look strings up in fuzzed blocks
// and build the details text from them.
#include "inspect/file_info.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
};

uint32_t InputSize(void* ctx, const char*) { return static_cast<uint32_t>(static_cast<Input*>(ctx)->size); }

int InputRead(void* ctx, const char*, uint32_t size, void* block) {
    const Input* in = static_cast<Input*>(ctx);
    if (size != in->size) return 1;
    std::memcpy(block, in->data, size);
    return 0;
}

int InputStatus(void*, const char*, FileStatus* status) {
    *status = FileStatus{1234, {2001, 2, 3, 4, 5, 6}};
    return 0;
}

// A well-formed 32-bit block; inputs with an odd first byte are flips of it, which
// reaches the nested nodes far sooner than random bytes do.
void Put16(std::vector<uint8_t>& out, size_t at, size_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}

size_t Open(std::vector<uint8_t>& out, const char* key, size_t valueLength, int type) {
    while (out.size() % 4) out.push_back(0);
    const size_t start = out.size();
    out.resize(start + 6, 0);
    Put16(out, start + 2, valueLength);
    Put16(out, start + 4, static_cast<size_t>(type));
    for (const char* k = key;; ++k) {
        out.push_back(static_cast<uint8_t>(*k));
        out.push_back(0);
        if (!*k) break;
    }
    while (out.size() % 4) out.push_back(0);
    return start;
}

void Close(std::vector<uint8_t>& out, size_t start) { Put16(out, start, out.size() - start); }

void Text(std::vector<uint8_t>& out, const char* key, const char* value) {
    const size_t node = Open(out, key, std::strlen(value) + 1, 1);
    for (const char* v = value;; ++v) {
        out.push_back(static_cast<uint8_t>(*v));
        out.push_back(0);
        if (!*v) break;
    }
    Close(out, node);
}

const std::vector<uint8_t>& Template() {
    static const std::vector<uint8_t> block = [] {
        std::vector<uint8_t> out;
        const size_t root = Open(out, "VS_VERSION_INFO", 52, 0);
        out.resize(out.size() + 52, 0);
        const size_t strings = Open(out, "StringFileInfo", 0, 1);
        const size_t table = Open(out, "040904b0", 0, 1);
        Text(out, "FileVersion", "1.2.3.4");
        Text(out, "FileDescription", "Fuzz sample");
        Text(out, "ProductVersion", "1.2");
        Close(out, table);
        Close(out, strings);
        const size_t vars = Open(out, "VarFileInfo", 0, 1);
        const size_t translation = Open(out, "Translation", 4, 0);
        for (uint8_t b : {0x09, 0x04, 0xB0, 0x04}) out.push_back(b);
        Close(out, translation);
        Close(out, vars);
        Close(out, root);
        return out;
    }();
    return block;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 0x20000) return 0;
    std::vector<uint8_t> bytes(data, data + size);
    if (data[0] & 1) {
        // Flip the template with the rest of the input; a short input cuts the block.
        const std::vector<uint8_t>& sample = Template();
        bytes.assign(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(std::min(sample.size(), size * 4)));
        for (size_t i = 1; i < size && i - 1 < bytes.size(); ++i) bytes[i - 1] ^= data[i];
        if (bytes.empty()) return 0;
    }
    size = bytes.size();
    // An exactly sized copy, so that any read past the block is caught.
    auto* block = static_cast<uint8_t*>(std::malloc(size));
    if (!block) return 0;
    std::memcpy(block, bytes.data(), size);

    static const char* const kPaths[] = {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo",
                                         "\\StringFileInfo\\040904b0\\FileVersion", "\\A\\B\\C\\D\\E"};
    for (const char* path : kPaths) {
        VersionValue value;
        if (FindVersionValue(block, size, path, &value) &&
            (value.data < block || value.data + value.size > block + size)) {
            std::abort();
        }
    }

    Input in = {block, size};
    FileInfoOps ops = {&in, InputSize, InputRead, InputStatus, nullptr};
    VersionInfo info(&ops);
    if (info.Load("x")) {
        char small[5];
        const size_t length = info.GetFileDescription(small, sizeof small);
        if (std::strlen(small) >= sizeof small || (length < sizeof small && std::strlen(small) != length)) {
            std::abort();
        }
        info.GetProductVersion(nullptr, 0);
    }
    char* details = GetFileDetails(&ops, nullptr, "x", NewIdList(0x1a4));
    std::free(details);
    std::free(block);
    return 0;
}
