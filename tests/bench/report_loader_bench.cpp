// Loading a large report held in memory: reading, parsing and placing every line with a
// tree sink that does nothing, against plain splitting of the same bytes into lines and
// "|" fields through the same read operation in the same chunks.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/report/report_load_fakes.h"

namespace {

using reportfake::MemoryFile;

constexpr size_t kReportLines = 1000000;

// File details as the writer gives them: instances, path, version, size, time, texts.
std::string Details(unsigned instances, const std::string& path, unsigned n) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "%x|%s|5.1.2600.%u|%u|April %02u, 2008 13:%02u:%02u|Component %u of the system|"
                  "Operating System|5.1.2600.%u",
                  instances, path.c_str(), n % 6000, 20000 + n * 37 % 900000, 1 + n % 28, n % 60, n * 7 % 60, n,
                  n % 6000);
    return text;
}

// One report as this program writes it: system information, six autorun groups of 12
// entries and a shortcut, 40 processes of 25 modules each, 30 connections of 8 programs.
void WriteOneReport(FILE* f, unsigned report) {
    const std::string system = "Windows XP Professional Service Pack 3";
    WriteReportLine(f, kCodeSystemInfo, system.c_str(), (system + "|5.1.2600").c_str(), "");
    WriteSeparatorLine(f, 0, "");
    for (unsigned group = 0; group < 6; ++group) {
        const std::string label = "Autorun group " + std::to_string(group), n = std::to_string(group);
        WriteReportLine(f, kCodeSectionHeading, label.c_str(), nullptr, "");
        WriteReportLine(f, kCodeLocationHeading,
                        ("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run" + label).c_str(),
                        nullptr, "");
        for (unsigned entry = 0; entry < 12; ++entry) {
            const std::string path = "C:\\Program Files\\Vendor " + std::to_string(entry) + "\\agent" + n + ".exe";
            WriteReportLine(f, kCodeAutorunEntryDetails, ("\"" + path + "\" /background").c_str(),
                            Details(0x1a4 + entry * 4, path, entry).c_str(), "");
        }
        const std::string target = "C:\\Program Files\\Tools\\tool" + n + ".exe";
        const std::string link = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\Startup\\tool" + n + ".lnk";
        WriteReportLine(f, kCodeShortcutEntry, target.c_str(),
                        (Details(0x2c0, target, group) + "|" + Details(0, link, group) + "|" + target).c_str(), "");
        WriteSeparatorLine(f, 0, "");
    }
    WriteSectionHeader(f, kProcessSectionLabel, kProcessColumnHeader);
    for (unsigned process = 0; process < 40; ++process) {
        const unsigned id = 0x100 + process * 4 + report;
        char extra[32];
        std::snprintf(extra, sizeof extra, "%x||||||", id);
        WriteReportLine(f, kCodeRunningProcess, ("process" + std::to_string(process) + ".exe").c_str(), extra,
                        kPrefixProcess);
        for (unsigned module = 0; module < 25; ++module) {
            const std::string path = module == 0 ? "C:\\WINDOWS\\process" + std::to_string(process) + ".exe"
                                                 : "C:\\WINDOWS\\system32\\library" + std::to_string(module) + ".dll";
            WriteReportLine(f, kCodeModule, path.c_str(), Details(id, path, module).c_str(), kPrefixModule);
        }
        WriteSeparatorLine(f, 0, "");
    }
    WriteSeparatorLine(f, 0, "");
    WriteSectionHeader(f, kConnectionSectionLabel, kConnectionColumnHeader);
    for (unsigned row = 0; row < 30; ++row) {
        const std::string app = "C:\\WINDOWS\\system32\\service" + std::to_string(row % 8) + ".exe";
        char port[32], extra[128];
        std::snprintf(port, sizeof port, "%u (port%u)", 1025 + row, row);
        std::snprintf(extra, sizeof extra, "peer%u|10.0.%u.%u|%u (http)|ESTABLISHED|", row, row % 4, row, 80 + row % 3);
        WriteReportLine(f, kCodeConnection, port, (extra + app + "|" + Details(0x300 + row % 8 * 4, app, row)).c_str(),
                        ("TCP|host|192.168.1." + std::to_string(10 + row) + "|").c_str());
    }
    WriteSeparatorLine(f, 0, "");
}

// Reports appended one after another (as saving to an existing file does) up to
// kReportLines lines, and their line count.
struct GeneratedReport {
    std::string bytes;
    size_t lines = 0;

    GeneratedReport() {
        char* data = nullptr;
        size_t size = 0, counted = 0;
        FILE* f = open_memstream(&data, &size);
        if (!f) std::abort();
        for (unsigned report = 0; lines < kReportLines; ++report) {
            WriteOneReport(f, report);
            std::fflush(f);
            for (; counted < size; ++counted) lines += data[counted] == '\n';
        }
        std::fclose(f);
        bytes.assign(data, size);
        std::free(data);
    }
};

const GeneratedReport& Report() {
    static const GeneratedReport report;
    return report;
}

int InsertNothing(void*, uint32_t, uint32_t, const char*, int, uint32_t) { return 0; }

void BM_LoadReportLines(benchmark::State& state) {
    InstallApplicationTableHooks();
    const std::string& report = Report().bytes;  // generated before the timing
    const ReportTreeSink sink = {nullptr, InsertNothing};
    uint32_t items = 0;
    for (auto _ : state) {
        HashTable* records = CreateTable(8, 0);
        ReportPlacer* placer = CreateReportPlacer(&sink, records);
        MemoryFile file{report};
        const ReportReadOps ops = {&file, MemoryFile::Read, nullptr};
        if (LoadReportLines(&ops, placer) != 0) state.SkipWithError("load failed");
        items = ReportPlacerItemCount(placer);
        state.PauseTiming();
        DestroyReportPlacer(placer);
        DestroyTable(records, 1);
        malloc_trim(0);  // the allocator's deferred work for the blocks just freed, untimed
        state.ResumeTiming();
    }
    state.counters["items"] = items;
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(report.size()));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(Report().lines));
}
BENCHMARK(BM_LoadReportLines)->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline: the same chunks, split into lines at LF (CR dropped) and each line into
// its "|" fields, touching every field without copying it.
void BM_SplitLinesAndFields(benchmark::State& state) {
    const std::string& report = Report().bytes;
    std::string buffer(2 * kReportReadChunk, '\0');
    for (auto _ : state) {
        MemoryFile file{report};
        size_t pending = 0, fields = 0, fieldBytes = 0;
        for (;;) {
            if (buffer.size() < pending + kReportReadChunk) buffer.resize(2 * (pending + kReportReadChunk));
            char* data = &buffer[0];
            const size_t got = MemoryFile::Read(&file, data + pending, kReportReadChunk);
            if (got == 0) break;
            const size_t end = pending + got;
            size_t start = 0;
            for (const char* lf; (lf = static_cast<const char*>(std::memchr(data + pending, '\n', end - pending)));) {
                size_t stop = static_cast<size_t>(lf - data);
                pending = stop + 1;
                if (stop > start && data[stop - 1] == '\r') --stop;
                for (size_t field = start; field <= stop;) {
                    const auto* bar = static_cast<const char*>(std::memchr(data + field, '|', stop - field));
                    const size_t fieldEnd = bar ? static_cast<size_t>(bar - data) : stop;
                    ++fields;
                    fieldBytes += fieldEnd - field;
                    field = fieldEnd + 1;
                }
                start = pending;
            }
            pending = end - start;
            std::memmove(data, data + start, pending);
        }
        benchmark::DoNotOptimize(fields);
        benchmark::DoNotOptimize(fieldBytes);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(report.size()));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(Report().lines));
}
BENCHMARK(BM_SplitLinesAndFields)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
