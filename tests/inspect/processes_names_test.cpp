#include "inspect/processes_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

int GbkLeadByte(void*, unsigned char byte) { return byte >= 0x81 && byte <= 0xFE ? 1 : 0; }

const LeadByteOps kSingleByte = {nullptr, nullptr};
const LeadByteOps kGbk = {GbkLeadByte, nullptr};

TEST(ProcessNames, KeepOnlyExeAndDllExtensionsCutOnWholeCharacters) {
    const struct {
        const char* path;
        const LeadByteOps& ops;
        size_t outSize;
        const char* name;
        bool exe;  // HasExeExtension
    } cases[] = {
        {"C:\\WINDOWS\\EXPLORER.EXE", kSingleByte, 260, "EXPLORER.EXE", true},
        {"c:\\tools\\lib.dLL", kSingleByte, 260, "lib.dLL", false},
        {"C:\\WINDOWS\\SAVER.SCR", kSingleByte, 260, "SAVER", false},
        {"C:\\a.b\\README", kSingleByte, 260, "README", false},
        {"C:\\a.b\\setup.tmp.exe", kSingleByte, 260, "setup.tmp.exe", true},
        {"C:\\APP.EXE\\HELPER", kSingleByte, 260, "HELPER", false},
        {"C:\\APP.EXE2", kSingleByte, 260, "APP", false},
        {"[System Process]", kSingleByte, 260, "[System Process]", false},
        {"C:\\dir\\", kSingleByte, 260, "", false},
        {"", kSingleByte, 260, "", false},
        {"C:/unix/style.exe", kSingleByte, 260, "style.exe", true},
        {"D:run.EXE", kSingleByte, 260, "run.EXE", true},
        // Trail bytes "\" and "." of a double-byte character split nothing.
        {"C:\\\x81\x5C" "exe", kGbk, 260, "\x81\x5C" "exe", false},
        {"C:\\\x81\x5C" "exe", kSingleByte, 260, "exe", false},
        {"C:\\tools\\\xB2\x2E" "scr", kGbk, 260, "\xB2\x2E" "scr", false},
        {"C:\\tools\\\xB2\x2E" "scr", kSingleByte, 260, "\xB2", false},
        {"C:\\\xC4\xE3\xBA\xC3.EXE", kGbk, 260, "\xC4\xE3\xBA\xC3.EXE", true},
        {"C:\\LONGNAME.EXE", kSingleByte, 5, "LONG", true},
        {"C:\\\xC4\xE3\xBA\xC3.EXE", kGbk, 4, "\xC4\xE3", true},
        {"C:\\x.exe", kSingleByte, 1, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string out(c.outSize + 1, '#');
        const size_t written = ProcessNameFromExeFile(c.path, std::strlen(c.path), c.ops, &out[0], c.outSize);
        EXPECT_EQ(out.c_str(), std::string(c.name));
        EXPECT_EQ(written, std::strlen(c.name));
        EXPECT_EQ(out.back(), '#');
        EXPECT_EQ(HasExeExtension(c.path, c.ops), c.exe);
    }
    EXPECT_FALSE(HasExeExtension(nullptr, kSingleByte));
    char untouched[2] = "z";
    EXPECT_EQ(ProcessNameFromExeFile("a.exe", 5, kSingleByte, untouched, 0), 0u);
    EXPECT_STREQ(untouched, "z");
    // A snapshot field ends at its length even without a terminator.
    char out[16];
    EXPECT_EQ(ProcessNameFromExeFile("ab.exe", 4, kSingleByte, out, sizeof out), 2u);
    EXPECT_STREQ(out, "ab");
}

TEST(ProcessNames, SplitIntoDriveDirectoryBaseAndExtension) {
    const struct {
        std::string path;
        const LeadByteOps& ops;
        const char* parts[4];
    } cases[] = {
        {"C:\\Program Files\\App\\tool.v2.exe", kSingleByte, {"C:", "\\Program Files\\App\\", "tool.v2", ".exe"}},
        {"\\\\server\\share\\x", kSingleByte, {"", "\\\\server\\share\\", "x", ""}},
        {"C:\\v1.0\\bin", kSingleByte, {"C:", "\\v1.0\\", "bin", ""}},
        {std::string("C:\\a\\b\x81\0.exe", 12), kGbk, {"C:", "\\a\\", "b\x81", ""}},  // a cut-off lead byte
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const PathParts p = SplitPathParts(c.path.data(), c.path.size(), c.ops);
        const size_t lengths[4] = {p.driveLength, p.directoryLength, p.baseLength, p.extensionLength};
        for (size_t i = 0, at = 0; i < 4; at += lengths[i++]) EXPECT_EQ(c.path.substr(at, lengths[i]), c.parts[i]);
    }
}

}  // namespace
