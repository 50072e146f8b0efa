// Version resource blocks laid out the way resource compilers write them, built for the
// tests and the fuzz target.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct VersionNode {
    std::string key;
    std::vector<uint8_t> value;  // for a text node the text without its NUL
    bool text;
    std::vector<VersionNode> children;
};

inline VersionNode TextNode(const std::string& key, const std::string& value) {
    return {key, {value.begin(), value.end()}, true, {}};
}
inline VersionNode ParentNode(const std::string& key, std::vector<VersionNode> children) {
    return {key, {}, false, std::move(children)};
}

// Appends node at a 4-byte aligned offset; wide: the 32-bit form with UTF-16 texts.
inline void AppendVersionNode(const VersionNode& node, bool wide, std::vector<uint8_t>& out) {
    const auto put16 = [&](size_t at, size_t v) { out[at] = static_cast<uint8_t>(v), out[at + 1] = static_cast<uint8_t>(v >> 8); };
    const auto pad4 = [&] { out.resize((out.size() + 3) / 4 * 4, 0); };
    const auto putText = [&](const auto& chars) {
        for (auto c : chars) {
            out.push_back(static_cast<uint8_t>(c));
            if (wide) out.push_back(0);
        }
        out.insert(out.end(), wide ? 2 : 1, 0);
    };
    const size_t start = out.size();
    out.resize(start + (wide ? 6 : 4), 0);
    putText(node.key);
    pad4();
    if (node.text) putText(node.value);
    else out.insert(out.end(), node.value.begin(), node.value.end());
    for (const VersionNode& child : node.children) {
        pad4();
        AppendVersionNode(child, wide, out);
    }
    put16(start, out.size() - start);
    put16(start + 2, node.value.size() + node.text);  // text: with its NUL, in units when wide
    if (wide) put16(start + 4, node.text);
}

// Language 0x0409, code page 0x04b0, as stored.
inline const std::vector<uint8_t> kUsTranslation = {0x09, 0x04, 0xB0, 0x04};

// The root with its fixed part, the string tables and (when not empty) the translation.
inline std::vector<uint8_t> VersionBlock(bool wide, std::vector<VersionNode> tables,
                                         const std::vector<uint8_t>& translation = kUsTranslation) {
    VersionNode root = ParentNode("VS_VERSION_INFO", {ParentNode("StringFileInfo", std::move(tables))});
    root.value = {0xBD, 0x04, 0xEF, 0xFE};  // the fixed part's signature, then zeros
    root.value.resize(52, 0);
    if (!translation.empty()) root.children.push_back(ParentNode("VarFileInfo", {{"Translation", translation, false, {}}}));
    std::vector<uint8_t> out;
    AppendVersionNode(root, wide, out);
    return out;
}
