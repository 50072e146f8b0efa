// Benchmarks of a connection listing's text work: 1,000 TCP rows with distinct remote
// addresses formatted with every name already known, and the same listing when the
// name service never answers (one lookup deadline for the whole table).
#include <benchmark/benchmark.h>

#include <vector>

#include "net/connection_rows.h"
#include "tests/net/connection_fakes.h"

namespace {

using namespace netfake;

TableBlock ThousandRows() {
    std::vector<TcpOwnerRow> rows;
    for (uint32_t i = 1; i <= 1000; ++i) rows.push_back({5, 0x0100007F, 0x1900, 0x0A000000u + (i << 8), 0xD204, 0});
    return TcpTable(rows);
}

void FormatAll(ConnectionNames& names, TableBlock& table) {
    ConnectionTexts texts;
    for (uint32_t i = 0; i < table.Tcp()->count; ++i) {
        FormatConnectionRow(names, ConnectionRowAt(table.block.data(), kConnectionTcp, i), &texts);
        benchmark::DoNotOptimize(texts.remoteHost[0]);
    }
}

void BM_FormatThousandRowsNamesKnown(benchmark::State& state) {
    NameService service;
    ConnectionNames names(service.ops, "myhost");
    TableBlock table = ThousandRows();
    std::vector<NetAddress> addresses;
    CollectHostAddresses(table.block.data(), kConnectionTcp, &addresses);
    names.Resolve(addresses.data(), addresses.size(), nullptr, nullptr);
    for (auto _ : state) FormatAll(names, table);
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_FormatThousandRowsNamesKnown)->Unit(benchmark::kMicrosecond);

// A new run each time, so every address is looked up; the deadline is 2 s.
void BM_ListThousandRowsSilentNameService(benchmark::State& state) {
    TableBlock table = ThousandRows();
    for (auto _ : state) {
        ConnectionNames names(SilentNameService().ops, "myhost");
        std::vector<NetAddress> addresses;
        CollectHostAddresses(table.block.data(), kConnectionTcp, &addresses);
        names.Resolve(addresses.data(), addresses.size(), nullptr, nullptr);
        FormatAll(names, table);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_ListThousandRowsSilentNameService)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace
