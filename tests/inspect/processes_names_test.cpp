#include "inspect/processes_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The GBK lead-byte range.
int GbkLeadByte(void*, unsigned char byte) { return byte >= 0x81 && byte <= 0xFE ? 1 : 0; }

const LeadByteOps kSingleByte = {nullptr, nullptr};
const LeadByteOps kGbk = {GbkLeadByte, nullptr};

std::string NameOf(const std::string& exeFile, const LeadByteOps& ops = kSingleByte, size_t outSize = 260) {
    char out[260];
    const size_t written = ProcessNameFromExeFile(exeFile.data(), exeFile.size(), ops, out, outSize);
    EXPECT_EQ(written, std::strlen(out));
    return out;
}

struct Split {
    std::string drive, directory, base, extension;
};

Split SplitOf(const std::string& path, const LeadByteOps& ops = kSingleByte) {
    const PathParts p = SplitPathParts(path.data(), path.size(), ops);
    EXPECT_EQ(p.driveLength + p.directoryLength + p.baseLength + p.extensionLength, std::strlen(path.c_str()));
    size_t at = 0;
    Split s;
    s.drive = path.substr(at, p.driveLength);
    at += p.driveLength;
    s.directory = path.substr(at, p.directoryLength);
    at += p.directoryLength;
    s.base = path.substr(at, p.baseLength);
    at += p.baseLength;
    s.extension = path.substr(at, p.extensionLength);
    return s;
}

TEST(ProcessNames, KeepOnlyExecutableAndLibraryExtensions) {
    EXPECT_EQ(NameOf("C:\\WINDOWS\\EXPLORER.EXE"), "EXPLORER.EXE");
    EXPECT_EQ(NameOf("C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL"), "KERNEL32.DLL");
    EXPECT_EQ(NameOf("C:\\WINDOWS\\SAVER.SCR"), "SAVER");
    EXPECT_EQ(NameOf("c:\\tools\\app.Exe"), "app.Exe");
    EXPECT_EQ(NameOf("c:\\tools\\lib.dLL"), "lib.dLL");
    EXPECT_EQ(NameOf("[System Process]"), "[System Process]");
    EXPECT_EQ(NameOf("C:\\a.b\\setup.tmp.exe"), "setup.tmp.exe");
    EXPECT_EQ(NameOf("C:\\a.b\\README"), "README");
    EXPECT_EQ(NameOf("C:\\dir\\"), "");
    EXPECT_EQ(NameOf("C:/unix/style.exe"), "style.exe");
    EXPECT_EQ(NameOf("D:run.EXE"), "run.EXE");
}

TEST(ProcessNames, SplitLikeThePathSplitter) {
    const Split s = SplitOf("C:\\Program Files\\App\\tool.v2.exe");
    EXPECT_EQ(s.drive, "C:");
    EXPECT_EQ(s.directory, "\\Program Files\\App\\");
    EXPECT_EQ(s.base, "tool.v2");
    EXPECT_EQ(s.extension, ".exe");

    const Split unc = SplitOf("\\\\server\\share\\x");
    EXPECT_EQ(unc.drive, "");
    EXPECT_EQ(unc.directory, "\\\\server\\share\\");
    EXPECT_EQ(unc.base, "x");
    EXPECT_EQ(unc.extension, "");

    // A dot in a directory is not an extension.
    const Split dotted = SplitOf("C:\\v1.0\\bin");
    EXPECT_EQ(dotted.base, "bin");
    EXPECT_EQ(dotted.extension, "");
}

TEST(ProcessNames, DoubleByteTrailBytesAreNeitherSeparatorsNorDots) {
    // 0x81 0x5C: a GBK character whose trail byte is the backslash.
    const std::string dir = std::string("C:\\") + "\x81\x5C" + "exe";
    EXPECT_EQ(NameOf(dir, kGbk), "\x81\x5C" "exe");
    EXPECT_EQ(NameOf(dir, kSingleByte), "exe");  // read byte by byte, it would split there

    const std::string named = std::string("C:\\tools\\") + "\xB2\x2E" + "scr";  // trail byte is "."
    EXPECT_EQ(NameOf(named, kGbk), "\xB2\x2E" "scr");
    EXPECT_EQ(NameOf(named, kSingleByte), "\xB2");

    const std::string program = std::string("C:\\") + "\xC4\xE3\xBA\xC3.EXE";
    EXPECT_EQ(NameOf(program, kGbk), "\xC4\xE3\xBA\xC3.EXE");
    EXPECT_TRUE(HasExeExtension(program.c_str(), kGbk));
    // A lead byte cut off by the end of the text stands alone.
    const Split cut = SplitOf(std::string("C:\\a\\b") + "\x81", kGbk);
    EXPECT_EQ(cut.base, "b\x81");
}

TEST(ProcessNames, CutToTheBufferOnAWholeCharacter) {
    EXPECT_EQ(NameOf("C:\\LONGNAME.EXE", kSingleByte, 5), "LONG");
    EXPECT_EQ(NameOf("C:\\\xC4\xE3\xBA\xC3.EXE", kGbk, 4), "\xC4\xE3");  // not half of the second character
    EXPECT_EQ(NameOf("C:\\x.exe", kSingleByte, 1), "");
    char untouched[2] = "z";
    EXPECT_EQ(ProcessNameFromExeFile("a.exe", 5, kSingleByte, untouched, 0), 0u);
    EXPECT_STREQ(untouched, "z");
    // The name ends at the snapshot field's end even without a terminator.
    const char field[6] = {'a', 'b', '.', 'e', 'x', 'e'};
    char out[16];
    ProcessNameFromExeFile(field, 4, kSingleByte, out, sizeof out);
    EXPECT_STREQ(out, "ab");
}

TEST(ProcessNames, ExeExtensionTest) {
    EXPECT_TRUE(HasExeExtension("C:\\WINDOWS\\EXPLORER.EXE", kSingleByte));
    EXPECT_TRUE(HasExeExtension("c:\\a\\b.exe", kSingleByte));
    EXPECT_FALSE(HasExeExtension("C:\\WINDOWS\\SYSTEM32\\KERNEL32.DLL", kSingleByte));
    EXPECT_FALSE(HasExeExtension("C:\\APP.EXE\\HELPER", kSingleByte));
    EXPECT_FALSE(HasExeExtension("C:\\APP.EXE2", kSingleByte));
    EXPECT_FALSE(HasExeExtension("", kSingleByte));
    EXPECT_FALSE(HasExeExtension(nullptr, kSingleByte));
}

}  // namespace
