#include "report/report_loader.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/report/report_load_fakes.h"
#include "tests/support/lead_bytes.h"

namespace {

using namespace reportfake;

std::string WithCrLf(const std::string& lfText) {
    std::string out;
    for (char c : lfText) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

// Report lines as the program writes them (details shortened to what placing reads).
const std::string kSys = "1c004000|Windows XP|Windows XP|5.1.2600\n--------|----------\n--------|\n";
std::string Heading(const std::string& label) { return "00004008|" + label + "\n--------|---\n"; }
std::string Process(const std::string& name) { return "04008019|PROCESS|" + name + "|1a4||||||\n"; }
std::string Module(const std::string& path) { return "04008012|MODULE|" + path + "|1a4|" + path + "|1.0|9|t|d|p|1.0\n"; }
std::string Connection(const std::string& port, const std::string& app) {
    return "2c910901|TCP|h|10.0.0.1|" + port + "|r|10.0.0.2|80|ESTABLISHED|" + app + "|1a4|C:\\" + app + "||||||\n";
}

TEST(LoadReportLines, PlacesItemsAsTheirCodesSay) {
    const struct { const char* name; std::string file, tree, records; } rows[] = {
        {"depth and children flags",
         kSys + Heading("PROCESS") + Process("a.exe") + Module("C:\\a.exe") + Module("C:\\k.dll") + "--------|\n" +
             Process("b.exe") + Module("C:\\b.exe") + Heading("RUN") + "00004009|HKLM\n00004002|x.exe\n"
             "04004003|y.exe|1|C:\\y.exe|1.0|9|t|d|p|1.0\n00004002|z.exe\n",
         "0/1 Windows XP; 0/2 PROCESS+; 2/3 a.exe+; 3/4 C:\\a.exe; 3/5 C:\\k.dll; 2/6 b.exe+; 6/7 C:\\b.exe; "
         "0/8 RUN+; 8/9 HKLM+; 9/10 x.exe; 10/11 y.exe; 9/12 z.exe",
         "1:7/2 0:[1] 3:1/7 4:1/8 5:1/8 6:1/7 7:1/8 11:1/8"},
        // Shortcut: the link item (group B, children flag always) holds the target below it.
        {"group-B items",
         Heading("STARTUP") + "00004009|Startup\nc4b04a02|C:\\t.exe|1|C:\\t.exe|1.0|9|t|d|p|1.0|"
             "2|C:\\l.lnk|1.0|9|t|d|p|1.0|C:\\t.exe\n00004002|after\n",
         "0/1 STARTUP+; 1/2 Startup+; 2/3 C:\\l.lnk+; 3/4 C:\\t.exe; 2/5 after", "3:6/9 4:1/8"},
        {"connection rows grouped by exact application text",
         Heading("TCP/IP PORTS") + Connection("1025", "a.exe") + Connection("1026", "b.exe") +
             Connection("1027", "a.exe") + Connection("1028", "A.exe"),
         "0/1 TCP/IP PORTS+; 1/2 a.exe+; 2/3 1025; 1/4 b.exe+; 4/5 1026; 2/6 1027; 1/7 A.exe+; 7/8 1028",
         "2:1/9 3:3/7 4:1/9 5:3/7 6:3/7 7:1/9 8:3/7"},
        // Only the heading's own children are searched: a second section starts new groups.
        {"two reports in one file",
         kSys + Heading("TCP/IP PORTS") + Connection("1", "a.exe") + kSys + Heading("TCP/IP PORTS") +
             Connection("2", "a.exe"),
         "0/1 Windows XP; 0/2 TCP/IP PORTS+; 2/3 a.exe+; 3/4 1; 0/5 Windows XP; 0/6 TCP/IP PORTS+; 6/7 a.exe+; 7/8 2",
         "1:7/2 0:[1,5] 3:1/9 4:3/7 5:7/2 7:1/9 8:3/7"},
        {"ended processes and modules",
         Heading("PROCESS") + "08008019|KILLED PROCESS|gone.exe|2c||||||\n"
             "08008012|KILLED MODULE|C:\\g.dll|1|C:\\g.dll|1.0|9|t|d|p|1.0\n",
         "0/1 PROCESS+; 1/2 gone.exe+!; 2/3 C:\\g.dll!", "2:2/7 3:2/8"},
        {"module right after a level-0 heading, and a jump from level 0 to 3",
         Heading("PROCESS") + Module("C:\\m.dll") + Heading("RUN") + "00004003|deep\n00004001|up\n",
         "0/1 PROCESS+; 1/2 C:\\m.dll; 0/3 RUN+; 3/4 deep; 3/5 up", "2:1/8"},
        {"not a report",
         std::string("MZ\x90") + '\0' + "\x03binary\n--------|\n4008|PROCESS\n0000400g|x\nno line end", "", ""},
        {"empty lines between, a final line without a line end", "\n\n00004008|A\n\n\n00004009|B\n\n00004002|last",
         "0/1 A+; 1/2 B+; 2/3 last", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // The same tree for LF and CR LF files, for any read size; the progress reaches
        // the file's size.
        for (const std::string& bytes : {row.file, WithCrLf(row.file)}) {
            for (size_t maxRead : {size_t{1}, size_t{7}, kReportReadChunk}) {
                SCOPED_TRACE(std::to_string(maxRead) + (bytes.size() > row.file.size() ? " CR LF" : " LF"));
                const LoadOutcome out = Load(bytes, maxRead);
                EXPECT_EQ(out.result, 0u);
                EXPECT_FALSE(out.broken);
                EXPECT_EQ(out.tree, row.tree);
                EXPECT_EQ(out.records, row.records);
                EXPECT_EQ(out.consumed, bytes.size());
            }
        }
    }
}

// Lines split by the report's lead bytes: a GBK character whose trail byte is "|" stays
// whole in the item's text and its record, where a single-byte code page splits it.
TEST(LoadReportLines, DoubleByteCharacterWhoseTrailByteIsABar) {
    const struct { const LeadByteOps* leadBytes; const char *tree, *records; } rows[] = {
        {&kGbk, "0/1 C:\\\x96|\\a.dll", "1:1/8"},
        {nullptr, "0/1 C:\\\x96", "1:1/10"},
    };
    for (const auto& row : rows) {
        const LoadOutcome out = Load(Module("C:\\\x96|\\a.dll"), kReportReadChunk, row.leadBytes);
        EXPECT_FALSE(out.broken);
        EXPECT_EQ(out.tree, row.tree);
        EXPECT_EQ(out.records, row.records);
    }
}

TEST(LoadReportLines, LongLinesStopsAndFailures) {
    // A line past the bound is skipped whole, whatever the reads' sizes; a CR LF just
    // after the longest accepted line still ends it.
    const std::string longest = "00004000|" + std::string(kMaxReportLineBytes - 9, 'x');
    const std::string tooLong = longest + "y";
    const std::string farTooLong = longest + std::string(kReportReadChunk, 'y');
    const std::string file = "00004000|a\n" + tooLong + "\n00004000|b\r\n" + longest + "\r\n" + farTooLong +
                             "\n00004000|c\n" + farTooLong;
    for (size_t maxRead : {size_t{4093}, kReportReadChunk}) {
        const LoadOutcome out = Load(file, maxRead);
        EXPECT_EQ(out.result, 0u);
        EXPECT_FALSE(out.broken);
        EXPECT_EQ(out.count, 4u);
        EXPECT_TRUE(out.tree == "0/1 a; 0/2 b; 0/3 " + longest.substr(9) + "; 0/4 c") << out.tree.substr(0, 30);
    }

    // Stopped by the progress callback (the lines read so far stay placed), by the sink,
    // or by a read error.
    const std::string report = Heading("RUN") + "00004001|one\n00004001|two\n00004001|three\n";
    const struct {
        const char* name;
        size_t maxRead;
        int stopAtCall, failAtRead;
        uint32_t stopAtKey, result;
        std::string tree;
    } stops[] = {
        {"progress", 30, 2, 0, 0, 3, "0/1 RUN+; 1/2 one; 1/3 two"},
        {"sink", 30, 0, 0, 3, 1, "0/1 RUN+; 1/2 one"},
        {"read error", 20, 0, 3, 0, 1, "0/1 RUN+; 1/2 one"},
    };
    for (const auto& stop : stops) {
        SCOPED_TRACE(stop.name);
        MemoryFile file{report, stop.maxRead};
        file.stopAtCall = stop.stopAtCall;
        file.failAtRead = stop.failAtRead;
        RecordingSink sink;
        sink.stopAtKey = stop.stopAtKey;
        const LoadOutcome out = Load(file, sink);
        EXPECT_FALSE(out.broken);
        EXPECT_EQ(out.result, stop.result);
        EXPECT_EQ(out.tree, stop.tree);
        EXPECT_LT(file.offset, report.size()) << "read on after the stop";
    }
}

}  // namespace
