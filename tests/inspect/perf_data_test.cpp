#include "inspect/perf_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/perf_data_blocks.h"

namespace {

using Strings = std::vector<std::string>;
using Ids = std::vector<uint32_t>;
using Bytes = std::vector<uint8_t>;

std::string CounterList(const Strings& strings) {
    std::string list;
    for (const std::string& s : strings) list += s + '\0';
    return list + '\0';
}

constexpr uint32_t kIdProcess = 784;
const uint32_t kCandidates[] = {kIdProcess};
const std::vector<PerfInstance> kTypical = {
    {u"Idle", 0}, {u"System", 4}, {u"smss", 388}, {u"explorer", 1720}, {u"_Total", 0}, {u"_total", 96}};

// In-memory registry answers and module counts; the longest name handed to the conversion.
struct FakeSystem {
    std::string counters = CounterList({"1", "1847", "230", "Process", "6", "% Processor Time", "784", "ID Process"});
    bool countersFail = false, alwaysMore = false;
    Bytes perf = PerfBlock(kTypical);
    int32_t perfError = 0;
    int64_t reported = -1;  // the size a "more data" answer asks for; -1: the real one
    Ids offered, modulesAsked;
    std::map<uint32_t, uint32_t> modules;
    size_t longestConversion = 0;
};
FakeSystem& Sys(void* context) { return *static_cast<FakeSystem*>(context); }

void ToAnsi(void* context, const uint16_t* text, size_t length, char* out, size_t outSize) {
    if (context && length > Sys(context).longestConversion) Sys(context).longestConversion = length;
    AsciiNameToAnsi(context, text, length, out, outSize);
}

PerfDataOps Ops(FakeSystem& sys) {
    return {[](void* c, const char* valueName, uint8_t* buffer, uint32_t* size) -> int32_t {
                FakeSystem& s = Sys(c);
                EXPECT_STREQ(valueName, "Counters");
                if (s.countersFail && buffer) return 5;
                const bool fits = buffer && *size >= s.counters.size();
                if (fits) std::memcpy(buffer, s.counters.data(), s.counters.size());
                *size = static_cast<uint32_t>(s.counters.size());
                return buffer && !fits ? kPerfQueryMoreData : kPerfQueryOk;
            },
            [](void* c, const char* valueName, uint8_t* buffer, uint32_t* size) -> int32_t {
                FakeSystem& s = Sys(c);
                EXPECT_STREQ(valueName, "230");
                s.offered.push_back(*size);
                if (s.perfError) return s.perfError;
                const bool fits = *size >= s.perf.size() && !s.alwaysMore;
                if (fits && !s.perf.empty()) std::memcpy(buffer, s.perf.data(), s.perf.size());
                *size = static_cast<uint32_t>(fits || s.reported < 0 ? s.perf.size() : s.reported);
                return fits ? kPerfQueryOk : kPerfQueryMoreData;
            },
            ToAnsi,
            [](void* c, uint32_t processId) { return Sys(c).modulesAsked.push_back(processId), Sys(c).modules[processId]; },
            &sys};
}

// The walk's answer and each visit as "name id P|-" (P: a real process).
using Walked = std::pair<int32_t, Strings>;

// Walks an exact-size heap copy, so a read past the end is caught by the sanitizers.
Walked Walk(Bytes block, const uint32_t* candidates = kCandidates, uint32_t count = 1, FakeSystem* text = nullptr) {
    block.shrink_to_fit();
    Walked out;
    out.first = WalkPerfProcesses(block.data(), block.size(), candidates, count, ToAnsi, text,
                                  [](void* c, const PerfProcessInstance* in) {
                                      static_cast<Strings*>(c)->push_back(std::string(in->name) + " " +
                                                                          std::to_string(in->processId) +
                                                                          (in->isProcess ? " P" : " -"));
                                      return int32_t{0};
                                  },
                                  &out.second);
    return out;
}

TEST(PerfData, CounterNamesGiveTheProcessObjectAndIdCandidates) {
    Strings many = {"230", "Process"};  // more ID candidates than the first allocation holds
    Ids manyIds;
    for (uint32_t i = 1000; i < 1020; ++i) many.insert(many.end(), {std::to_string(i), "ID Process"}), manyIds.push_back(i);
    const struct { std::string list; int32_t result; const char* index; Ids ids; } cases[] = {
        // any case, exact names only
        {CounterList({"230", "PROCESS", "784", "ID Process", "9", "x", "230", "processes", "786", "id PROCESS", "999",
                      "Id processor"}), 0, "230", {784, 786}},
        // later entry wins, bad indexes skipped, empty string ends
        {CounterList({"230", "Process", "1250", "process", "abc", "process", "12345678901234567890", "Process", "",
                      "740", "Process"}), 0, "1250", {}},
        {CounterList(many), 0, "230", manyIds},
        {CounterList({"2", "System", "784", "ID Process"}), 1, "", {784}},
        {std::string("230\0Process", 11), 1, "", {}},    // the last string cut by the value's end
        {std::string("230\0Process\0", 12), 0, "230", {}},  // no closing empty string
    };
    for (const auto& c : cases) {
        CounterNames names;
        EXPECT_EQ(ParseCounterNames(c.list.data(), c.list.size(), &names), c.result) << c.index;
        EXPECT_STREQ(names.processIndex, c.index);
        EXPECT_EQ(Ids(names.idCandidates, names.idCandidates + names.idCandidateCount), c.ids) << c.index;
        FreeCounterNames(&names);
    }
}

TEST(PerfData, WalkVisitsAtMost256InstancesMarkingTotalAndIdle) {
    EXPECT_EQ(Walk(PerfBlock(kTypical)),
              Walked(0, {"Idle 0 -", "System 4 P", "smss 388 P", "explorer 1720 P", "_Total 0 -", "_total 96 P"}));
    EXPECT_EQ(Walk(PerfBlock({{u"_Total", 77}, {u"", 78}})), Walked(0, {"_Total 77 -", " 78 P"}));
    // The ID counter: the first candidate whose first definition has a non-zero offset.
    const auto block = PerfBlock({{u"a", 11}}, 24, {{500, 0}, {600, 8}, {500, 16}, {kIdProcess, 24}});
    const uint32_t zeroFirst[] = {500, 999, kIdProcess, 600}, unknown[] = {4242};
    EXPECT_EQ(Walk(block, zeroFirst, 4), Walked(0, {"a 11 P"}));
    EXPECT_EQ(Walk(block, unknown, 1), Walked(1, {}));

    std::vector<PerfInstance> many;
    for (uint32_t i = 0; i < 300; ++i) many.push_back({u"p", 100 + i});
    const Walked all = Walk(PerfBlock(many));
    ASSERT_EQ(all.second.size(), 256u);
    EXPECT_EQ(all.second.back(), "p 355 P");
    many.resize(256);  // only the instances walked need to be present
    EXPECT_EQ(Walk(PerfBlock(many, 16, kPerfCounters, 300)).second.size(), 256u);
    EXPECT_EQ(Walk(PerfBlock(many, 16, kPerfCounters, -1)), Walked(0, {}));
    FakeSystem sys;  // names are cut to the name buffer, and never converted whole
    EXPECT_EQ(Walk(PerfBlock({{std::u16string(5000, u'n'), 8}, {u"\u4e2d\u6587.exe", 9}}), kCandidates, 1, &sys),
              Walked(0, {std::string(kProcessNameSize - 1, 'n') + " 8 P", "??.exe 9 P"}));
    EXPECT_LE(sys.longestConversion, 2 * kProcessNameSize);
}

TEST(PerfData, MalformedBlocksFailWithoutVisiting) {
    const auto good = PerfBlock(kTypical);
    for (size_t size = 0; size < good.size(); ++size) {
        EXPECT_EQ(Walk({good.begin(), good.begin() + static_cast<long>(size)}), Walked(1, {})) << size;
    }
    const size_t first = 32 + 64 + 40 * kPerfCounters.size();
    const uint32_t definition = 40;             // "Idle": 24 + 10 bytes of name, rounded up
    const size_t last = good.size() - 32 - 40;  // "_total": 24 + 14 bytes of name, rounded up
    const struct { const char* what; size_t at; uint32_t value; } patches[] = {
        {"bad signature", 6, 0x47},
        {"object header far away", 24, 0xFFFFFFF0u},
        {"counters outside", 32 + 32, 0x10000000u},
        {"counter definitions outside", 32 + 8, 0xFFFFFF00u},
        {"first instance outside", 32 + 4, 0xFFFFFF00u},
        {"instance length outside", first, 0xFFFFFFF0u},
        {"instance shorter than its header", first, 8},
        {"name outside its instance", first + 16, definition},
        {"counter block outside", first + definition, 0xFFFFFFFFu},
        {"id counter past its block", first + definition, 16},
        {"last counter block past the end", last + 40, 40},
        {"id offset outside every block", 96 + 40 + 36, 0xFFFFFFFDu},
    };
    for (const auto& p : patches) {
        auto bad = good;
        Put32(bad, p.at, p.value);
        EXPECT_EQ(Walk(bad), Walked(1, {})) << p.what;
    }
    auto unterminated = PerfBlock({{std::u16string(7, u'x'), 5}});  // the name fills its instance exactly
    EXPECT_EQ(Walk(unterminated).first, 0);
    unterminated[first + 24 + 14] = 'x';
    EXPECT_EQ(Walk(unterminated), Walked(1, {}));
}

TEST(PerfData, QueryGrowsUntilTheAnswerFitsAndFailsLeavingNothingToFree) {
    const struct { void (*setUp)(FakeSystem&); int32_t result; Ids offered; } cases[] = {
        {[](FakeSystem& s) { s.perf.resize(120000, 0xAB); }, 0, {51200, 145600}},  // the asked size plus a step
        {[](FakeSystem& s) { s.perf.resize(120000, 0xAB); s.reported = 0; }, 0, {51200, 76800, 102400, 128000}},
        {[](FakeSystem& s) { s.perfError = 2; }, 1, {51200}},
        {[](FakeSystem& s) { s.perf.clear(); }, 1, {51200}},
        {[](FakeSystem& s) { s.perf[0] = 'Q'; }, 1, {51200}},
        {[](FakeSystem& s) { s.alwaysMore = true; s.reported = kPerfMaxBlockSize - kPerfGrowStep; }, 1,
         {kPerfFirstBlockSize, kPerfMaxBlockSize}},  // stops at the ceiling
    };
    for (const auto& c : cases) {
        FakeSystem sys;
        c.setUp(sys);
        uint8_t* block = reinterpret_cast<uint8_t*>(1);
        uint32_t size = 7;
        ASSERT_EQ(QueryPerfData(Ops(sys), "230", &block, &size), c.result);
        EXPECT_EQ(Bytes(block, block + size), c.result ? Bytes() : sys.perf);
        EXPECT_EQ(sys.offered, c.offered);
        std::free(block);
    }
}

using Listed = std::pair<int32_t, std::vector<std::pair<uint32_t, std::string>>>;  // answer, table entries

Listed List(FakeSystem& sys, int* progress = nullptr) {
    InstallApplicationTableHooks();
    HashTable* table = CreateTable(8, 1);
    Listed out;
    const auto stopAtThird = [](void* c) { return ++*static_cast<int*>(c) == 3 ? int32_t{3} : int32_t{0}; };
    out.first = ListPerfProcesses(Ops(sys), table, progress ? +stopAtThird : nullptr, progress);
    for (HashTableNode* n = FirstEntry(table); n; n = NextEntry(n)) {
        EXPECT_EQ(n->keyLength, 4);
        out.second.emplace_back(*static_cast<const uint32_t*>(n->key), static_cast<const char*>(n->value));
    }
    DestroyTable(table, 1);
    return out;
}

TEST(PerfData, ListsAndCountsRealProcessesOrNothing) {
    FakeSystem sys, duplicates;
    int calls = 0;
    EXPECT_EQ(List(sys), Listed(0, {{4, "System"}, {388, "smss"}, {1720, "explorer"}, {96, "_total"}}));
    EXPECT_EQ(List(sys, &calls), Listed(3, {{4, "System"}, {388, "smss"}}));  // stopped: what was listed stays
    duplicates.perf = PerfBlock({{u"a", 7}, {u"b", 7}, {u"c", 8}});
    EXPECT_EQ(List(duplicates), Listed(0, {{7, "a"}, {8, "c"}}));
    // Every instance counts; only real processes are asked for their modules.
    sys.modules = {{0, 1000}, {4, 1}, {388, 3}, {1720, 40}, {96, 2}};
    EXPECT_EQ(CountPerfProcessItems(Ops(sys), 0), 6u);
    EXPECT_TRUE(sys.modulesAsked.empty());
    EXPECT_EQ(CountPerfProcessItems(Ops(sys), 1), 6u + 1 + 3 + 40 + 2);
    EXPECT_EQ(sys.modulesAsked, (Ids{4, 388, 1720, 96}));

    void (*const spoils[])(FakeSystem&) = {
        [](FakeSystem& s) { s.counters = CounterList({"784", "ID Process"}); },  // no process object
        [](FakeSystem& s) { s.countersFail = true; },
        [](FakeSystem& s) { s.counters = CounterList({"230", "Process"}); },  // no ID counter
    };
    for (size_t i = 0; i < std::size(spoils); ++i) {
        FakeSystem broken;
        spoils[i](broken);
        EXPECT_EQ(List(broken), Listed(1, {})) << i;
        EXPECT_EQ(CountPerfProcessItems(Ops(broken), 1), 0u) << i;
        EXPECT_TRUE(broken.modulesAsked.empty());
        EXPECT_EQ(broken.offered.empty(), i < 2) << "no counter names, no performance-data query";
    }
}

}  // namespace
