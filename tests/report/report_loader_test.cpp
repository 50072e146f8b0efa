#include "report/report_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "inspect/file_info.h"
#include "report/report_line.h"

namespace {

// Tree sink that writes every inserted item as "parent/key text", with "+" for the
// children flag and "!" for state image 4, and checks the key order on the way.
struct RecordingSink {
    std::string tree;
    uint32_t lastKey = 0;
    uint32_t stopAtKey = 0;  // non-zero: refuse this key

    static int Insert(void* context, uint32_t parentKey, uint32_t key, const char* text, int hasChildren,
                      uint32_t stateImage) {
        auto* self = static_cast<RecordingSink*>(context);
        if (key == self->stopAtKey) return 1;
        EXPECT_EQ(key, self->lastKey + 1);
        EXPECT_LT(parentKey, key);
        EXPECT_TRUE(stateImage == 0 || stateImage == 4);
        self->lastKey = key;
        if (!self->tree.empty()) self->tree += "; ";
        self->tree += std::to_string(parentKey) + "/" + std::to_string(key) + " " + text +
                      (hasChildren == 1 ? "+" : hasChildren ? "+?" : "") + (stateImage == 4 ? "!" : "");
        return 0;
    }
};

// A file in memory, read at most maxRead bytes at a time; progress calls are counted and
// the one numbered stopAtCall (from 1) asks to stop. failAtRead (from 1) answers an error.
struct MemoryFile {
    std::string bytes;
    size_t maxRead = kReportReadChunk;
    size_t offset = 0;
    int reads = 0, failAtRead = 0;
    int progressCalls = 0, stopAtCall = 0;
    uint64_t lastConsumed = 0;

    static size_t Read(void* context, char* buffer, size_t size) {
        auto* self = static_cast<MemoryFile*>(context);
        if (++self->reads == self->failAtRead) return SIZE_MAX;
        size_t n = std::min({size, self->maxRead, self->bytes.size() - self->offset});
        std::memcpy(buffer, self->bytes.data() + self->offset, n);
        self->offset += n;
        return n;
    }
    static int Progress(void* context, uint64_t consumed) {
        auto* self = static_cast<MemoryFile*>(context);
        EXPECT_GE(consumed, self->lastConsumed);
        EXPECT_LE(consumed, self->offset);
        self->lastConsumed = consumed;
        return ++self->progressCalls == self->stopAtCall;
    }
};

// The records table as "key:kind/count", the index under key 0 as "0:[keys]".
std::string ShowRecords(const HashTable* records) {
    std::string out;
    for (const HashTableNode* n = FirstEntry(records); n; n = NextEntry(n)) {
        uint32_t key = 0;
        std::memcpy(&key, n->key, sizeof key);
        const auto* record = static_cast<const ItemRecord*>(n->value);
        out += out.empty() ? "" : " ";
        if (record->kind == kRecordTypeSystemInfoIndex) {
            out += std::to_string(key) + ":[";
            for (uint32_t i = 0; i < record->count; ++i)
                out += (i ? "," : "") + std::to_string(IdListNumber(record, i));
            out += "]";
        } else {
            out += std::to_string(key) + ":" + std::to_string(record->kind) + "/" + std::to_string(record->count);
        }
    }
    return out;
}

struct LoadOutcome {
    uint32_t result;
    std::string tree, records;
    uint32_t count;
    uint64_t consumed;  // as the last progress call told it
};

LoadOutcome Load(MemoryFile& file, RecordingSink& sink) {
    InstallApplicationTableHooks();
    HashTable* records = CreateTable(8, 0);
    const ReportTreeSink treeSink = {&sink, RecordingSink::Insert};
    ReportPlacer* placer = CreateReportPlacer(&treeSink, records);
    const ReportReadOps ops = {&file, MemoryFile::Read, MemoryFile::Progress};
    const uint32_t result = LoadReportLines(&ops, placer);
    LoadOutcome out = {result, sink.tree, ShowRecords(records), ReportPlacerItemCount(placer), file.lastConsumed};
    DestroyReportPlacer(placer);
    DestroyTable(records, 1);
    return out;
}

LoadOutcome Load(const std::string& bytes, size_t maxRead = kReportReadChunk) {
    MemoryFile file;
    file.bytes = bytes;
    file.maxRead = maxRead;
    RecordingSink sink;
    return Load(file, sink);
}

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
    const struct {
        const char* name;
        std::string file, tree, records;
    } rows[] = {
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
        {"final line without a line end", Heading("RUN") + "00004002|last", "0/1 RUN+; 1/2 last", ""},
        {"empty lines between", "\n\n00004008|A\n\n\n00004009|B\n\n", "0/1 A+; 1/2 B+", ""},
        {"5,000-byte line", "04004000|" + std::string(5000, 'p') + "|1\n00004000|next\n",
         "0/1 " + std::string(5000, 'p') + "; 0/2 next", "1:1/1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // The same tree for LF and CR LF files, for any read size, and on every load; the
        // progress reaches the file's size.
        const LoadOutcome lf = Load(row.file);
        EXPECT_EQ(lf.result, 0u);
        EXPECT_EQ(lf.tree, row.tree);
        EXPECT_EQ(lf.records, row.records);
        for (const std::string& bytes : {row.file, WithCrLf(row.file)}) {
            for (size_t maxRead : {size_t{1}, size_t{7}, kReportReadChunk}) {
                SCOPED_TRACE(std::to_string(maxRead) + (bytes.size() > row.file.size() ? " CR LF" : " LF"));
                const LoadOutcome again = Load(bytes, maxRead);
                EXPECT_EQ(again.result, 0u);
                EXPECT_EQ(again.tree, lf.tree);
                EXPECT_EQ(again.records, lf.records);
                EXPECT_EQ(again.count, lf.count);
                EXPECT_EQ(again.consumed, bytes.size());
            }
        }
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
        MemoryFile file;
        file.bytes = report;
        file.maxRead = stop.maxRead;
        file.stopAtCall = stop.stopAtCall;
        file.failAtRead = stop.failAtRead;
        RecordingSink sink;
        sink.stopAtKey = stop.stopAtKey;
        const LoadOutcome out = Load(file, sink);
        EXPECT_EQ(out.result, stop.result);
        EXPECT_EQ(out.tree, stop.tree);
        EXPECT_LT(file.offset, file.bytes.size()) << "read on after the stop";
    }
}

}  // namespace
