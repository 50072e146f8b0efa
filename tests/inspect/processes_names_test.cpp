#include "inspect/processes_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/lead_bytes.h"

namespace {

TEST(ProcessNames, KeepOnlyExeAndDllExtensionsCutOnWholeCharacters) {
    const struct { const char* path; const LeadByteOps& ops; size_t outSize; const char* name; bool exe; } cases[] = {
        {"C:\\WINDOWS\\EXPLORER.EXE", kSingleByte, 260, "EXPLORER.EXE", true},
        {"c:\\tools\\lib.dLL", kSingleByte, 260, "lib.dLL", false},
        {"C:\\a.b\\SAVER.tmp.SCR", kSingleByte, 260, "SAVER.tmp", false},
        {"C:\\APP.EXE\\HELPER", kSingleByte, 260, "HELPER", false},
        {"C:\\dir\\", kSingleByte, 260, "", false},
        {"C:/unix/style.exe", kSingleByte, 260, "style.exe", true},
        {"D:run.EXE", kSingleByte, 260, "run.EXE", true},
        // trail bytes "\" and "." of a double-byte character split nothing
        {"C:\\\x81\x5C" "exe", kGbk, 260, "\x81\x5C" "exe", false},
        {"C:\\\x81\x5C" "exe", kSingleByte, 260, "exe", false},
        {"C:\\tools\\\xB2\x2E" "scr", kGbk, 260, "\xB2\x2E" "scr", false},
        {"C:\\LONGNAME.EXE", kSingleByte, 5, "LONG", true},
        {"C:\\\xC4\xE3\xBA\xC3.EXE", kGbk, 4, "\xC4\xE3", true},
        {"C:\\x.exe", kSingleByte, 1, "", true},
    };
    for (const auto& c : cases) {
        std::string out(c.outSize + 1, '#');
        EXPECT_EQ(ProcessNameFromExeFile(c.path, std::strlen(c.path), c.ops, &out[0], c.outSize), std::strlen(c.name));
        EXPECT_EQ(out.c_str(), std::string(c.name)) << c.path;
        EXPECT_EQ(out.back(), '#') << c.path;
        EXPECT_EQ(HasExeExtension(c.path, c.ops), c.exe) << c.path;
    }
    char out[16];  // a snapshot field ends at its length even without a terminator
    EXPECT_EQ(ProcessNameFromExeFile("ab.exe", 4, kSingleByte, out, sizeof out), 2u);
    EXPECT_STREQ(out, "ab");
    // A lead byte cut off by the terminator stands alone: nothing after the NUL is read.
    const PathParts p = SplitPathParts("C:\\a\\b\x81\0.exe", 12, kGbk);
    EXPECT_EQ(p.driveLength + p.directoryLength + p.baseLength, 7u);
    EXPECT_EQ(p.extensionLength, 0u);
}

// Double-byte characters whose trail bytes differ only in letter case are different
// characters (GBK 0x81 0x41 and 0x81 0x61); single-byte letters fold.
TEST(ProcessNames, EqualNamesFoldOnlySingleByteCharacters) {
    const struct { const char* a; const char* b; const LeadByteOps& ops; bool equal; } cases[] = {
        {"C:\\WIN\\EXPLORER.EXE", "c:\\win\\explorer.exe", kGbk, true},
        {"C:\\WIN\\EXPLORER", "C:\\WIN\\EXPLORER.EXE", kGbk, false},
        {"C:\\\x81\x41.exe", "c:\\\x81\x61.EXE", kGbk, false},
        {"C:\\\x81\x41.exe", "c:\\\x81\x41.EXE", kGbk, true},
        {"\x81\x5A", "\x81\x7A", kSingleByte, true},
        {"x\x81", "X\x81", kGbk, true},  // a lead byte at the end stands alone
        {"x\x81", "x\x81\x41", kGbk, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EqualNamesNoCase(c.a, c.b, c.ops), c.equal) << c.a << " / " << c.b;
        EXPECT_EQ(EqualNamesNoCase(c.b, c.a, c.ops), c.equal) << c.b << " / " << c.a;
    }
}

}  // namespace
