// Benchmarks of the portable core's hot paths: the record table with the program's
// 4-byte keys, and report line parsing.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "inspect/hash_table.h"
#include "report/report_line.h"

namespace {

// Process IDs are multiples of 4 on the NT family, so their low bytes (the only
// byte the hash reads) take 64 values: the table's worst realistic case.
void BM_InsertAndFindProcessIds(benchmark::State& state) {
    InstallApplicationTableHooks();
    const uint32_t n = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        HashTable* table = CreateTable(8, 1);
        for (uint32_t i = 1; i <= n; ++i) InsertEntry(table, NewUInt32Key(i * 4), 4, std::malloc(16));
        uint32_t found = 0;
        for (uint32_t i = 1; i <= n; ++i) {
            const uint32_t key = i * 4;
            found += FindEntry(table, &key, 4) != nullptr;
        }
        benchmark::DoNotOptimize(found);
        DestroyTable(table, 1);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_InsertAndFindProcessIds)->Arg(100)->Arg(1000)->Arg(5000);

void BM_ParseModuleLine(benchmark::State& state) {
    const std::string line =
        "04008012|MODULE|C:\\WINDOWS\\SYSTEM32\\KERNEL32.DLL|1a4,7c800000|C:\\WINDOWS\\system32\\kernel32.dll|"
        "5, 1, 2600, 2180|989696|April 14, 2008 00:00:00|Windows NT BASE API Client DLL|Microsoft Windows|5.1.2600";
    for (auto _ : state) {
        char *text = nullptr, *groupBText = nullptr;
        uint32_t level = 0, hasChildren = 0;
        ItemRecord *a = nullptr, *b = nullptr;
        benchmark::DoNotOptimize(ParseReportLine(line.c_str(), &text, &groupBText, &level, &hasChildren, &a, &b));
        std::free(text), std::free(groupBText), FreeItemRecord(a), FreeItemRecord(b);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
}
BENCHMARK(BM_ParseModuleLine);

// The parser alone on the same line with a Chinese description, without lead bytes (a
// single-byte code page) and with GBK's, where each byte above 0x7F is asked about.
void BM_SplitModuleLine(benchmark::State& state) {
    const std::string line =
        "04008012|MODULE|C:\\WINDOWS\\SYSTEM32\\KERNEL32.DLL|1a4,7c800000|C:\\WINDOWS\\system32\\kernel32.dll|"
        "5, 1, 2600, 2180|989696|April 14, 2008 00:00:00|Windows NT \xbb\xf9\xb4\xa1 API \xbf\xcd\xbb\xa7\xb6\xcb DLL|"
        "Microsoft Corporation|5.1.2600";
    const LeadByteOps gbk = {[](void*, unsigned char byte) { return byte >= 0x81 && byte <= 0xFE ? 1 : 0; }, nullptr};
    const LeadByteOps* leadBytes = state.range(0) ? &gbk : nullptr;
    for (auto _ : state) {
        ReportLineParts parts;
        benchmark::DoNotOptimize(SplitReportLine(line.data(), line.size(), &parts, leadBytes));
        FreeItemRecord(parts.groupA), FreeItemRecord(parts.groupB);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
}
BENCHMARK(BM_SplitModuleLine)->Arg(0)->Arg(1);

}  // namespace
