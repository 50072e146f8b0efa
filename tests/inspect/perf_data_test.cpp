#include "inspect/perf_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// ---- Builders for the two registry answers -------------------------------------

std::string CounterList(const std::vector<std::string>& strings) {
    std::string list;
    for (const std::string& s : strings) {
        list += s;
        list += '\0';
    }
    list += '\0';
    return list;
}

struct Instance {
    std::u16string name;
    uint32_t processId;
};

struct Counter {
    uint32_t nameIndex;
    uint32_t offset;
};

constexpr uint32_t kIdProcess = 784;
const std::vector<Counter> kCounters = {{6, 8}, {kIdProcess, 16}, {1410, 24}};

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, &b[at], 4);
    return v;
}

// A performance-data block with one object: 32-byte block header, 64-byte object
// header, the counter definitions, then each instance with its counter block.
// declaredInstances < 0 declares as many as are built.
std::vector<uint8_t> PerfBlock(const std::vector<Instance>& instances, uint32_t idOffset = 16,
                               const std::vector<Counter>& counters = kCounters, int32_t declared = -2) {
    std::vector<uint8_t> b(32 + 64 + 40 * counters.size(), 0);
    const char16_t sig[] = u"PERF";
    std::memcpy(&b[0], sig, 8);
    Put32(b, 24, 32);
    Put32(b, 32 + 4, static_cast<uint32_t>(64 + 40 * counters.size()));
    Put32(b, 32 + 8, 64);
    Put32(b, 32 + 32, static_cast<uint32_t>(counters.size()));
    Put32(b, 32 + 40, static_cast<uint32_t>(declared == -2 ? static_cast<int32_t>(instances.size()) : declared));
    for (size_t i = 0; i < counters.size(); ++i) {
        Put32(b, 96 + 40 * i, 40);
        Put32(b, 96 + 40 * i + 4, counters[i].nameIndex);
        Put32(b, 96 + 40 * i + 36, counters[i].offset);
    }
    const uint32_t blockLength = 32;
    for (const Instance& inst : instances) {
        const size_t at = b.size();
        const size_t nameBytes = (inst.name.size() + 1) * 2;
        const size_t definition = (24 + nameBytes + 7) / 8 * 8;
        b.resize(at + definition + blockLength, 0);
        Put32(b, at, static_cast<uint32_t>(definition));
        Put32(b, at + 16, 24);
        Put32(b, at + 20, static_cast<uint32_t>(nameBytes));
        std::memcpy(&b[at + 24], inst.name.data(), inst.name.size() * 2);
        Put32(b, at + definition, blockLength);
        Put32(b, at + definition + idOffset, inst.processId);
    }
    Put32(b, 32, static_cast<uint32_t>(b.size() - 32));
    return b;
}

const std::vector<Instance> kTypical = {
    {u"Idle", 0}, {u"System", 4}, {u"smss", 388}, {u"explorer", 1720}, {u"_Total", 0}, {u"_total", 96},
};

// ---- In-memory system: registry answers, text conversion, module counts ---------

struct FakeSystem {
    std::string counters;
    bool countersFail = false;
    std::vector<uint8_t> perf;
    int32_t perfError = 0;
    // Size reported with "more data": the real size, or a fixed value when set.
    bool reportFixedSize = false;
    uint32_t fixedSize = 0;
    bool alwaysMore = false;
    std::vector<uint32_t> offered;
    std::vector<std::string> valueNames;
    std::map<uint32_t, uint32_t> modules;
    std::vector<uint32_t> modulesAsked;
    size_t longestConversion = 0;
};

int32_t QueryCounters(void* context, const char* valueName, uint8_t* buffer, uint32_t* size) {
    auto* sys = static_cast<FakeSystem*>(context);
    EXPECT_STREQ(valueName, "Counters");
    if (sys->countersFail && buffer) return 5;
    const uint32_t needed = static_cast<uint32_t>(sys->counters.size());
    if (!buffer || *size < needed) {
        *size = needed;
        return buffer ? kPerfQueryMoreData : kPerfQueryOk;
    }
    std::memcpy(buffer, sys->counters.data(), needed);
    *size = needed;
    return kPerfQueryOk;
}

int32_t QueryPerf(void* context, const char* valueName, uint8_t* buffer, uint32_t* size) {
    auto* sys = static_cast<FakeSystem*>(context);
    sys->offered.push_back(*size);
    sys->valueNames.push_back(valueName);
    if (sys->perfError) return sys->perfError;
    const uint32_t needed = static_cast<uint32_t>(sys->perf.size());
    if (*size < needed || sys->alwaysMore) {
        *size = sys->reportFixedSize ? sys->fixedSize : needed;
        return kPerfQueryMoreData;
    }
    if (needed) std::memcpy(buffer, sys->perf.data(), needed);
    *size = needed;
    return kPerfQueryOk;
}

// ASCII stays, everything else becomes '?'; cut short at outSize.
void ToAnsi(void* context, const uint16_t* text, size_t length, char* out, size_t outSize) {
    auto* sys = static_cast<FakeSystem*>(context);
    if (sys && length > sys->longestConversion) sys->longestConversion = length;
    size_t n = 0;
    for (; n < length && n + 1 < outSize; ++n) out[n] = text[n] < 0x80 ? static_cast<char>(text[n]) : '?';
    out[n] = '\0';
}

uint32_t CountModules(void* context, uint32_t processId) {
    auto* sys = static_cast<FakeSystem*>(context);
    sys->modulesAsked.push_back(processId);
    auto it = sys->modules.find(processId);
    return it == sys->modules.end() ? 0 : it->second;
}

PerfDataOps Ops(FakeSystem& sys) { return {QueryCounters, QueryPerf, ToAnsi, CountModules, &sys}; }

const std::string kCounterNames =
    CounterList({"1", "1847", "2", "System", "230", "Process", "6", "% Processor Time", "784", "ID Process"});

struct Visit {
    uint32_t processId;
    bool isProcess;
    std::string name;
};

struct Visits {
    std::vector<Visit> seen;
    size_t stopAt = SIZE_MAX;
};

int32_t Record(void* context, const PerfProcessInstance* instance) {
    auto* v = static_cast<Visits*>(context);
    v->seen.push_back({instance->processId, instance->isProcess, instance->name});
    return v->seen.size() == v->stopAt ? 3 : 0;
}

const uint32_t kCandidates[] = {kIdProcess};

int32_t Walk(const std::vector<uint8_t>& block, Visits* visits, const uint32_t* candidates = kCandidates,
             uint32_t count = 1) {
    // An exact-size heap copy, so a read past the end is caught by the sanitizers.
    std::vector<uint8_t> exact(block);
    exact.shrink_to_fit();
    return WalkPerfProcesses(exact.data(), exact.size(), candidates, count, ToAnsi, nullptr, Record, visits);
}

// ---- Counter-name list ----------------------------------------------------------

TEST(CounterNames, FindsTheProcessObjectAndIdCandidates) {
    CounterNames names;
    const std::string list = CounterList({"1", "1847", "230", "PROCESS", "784", "ID Process", "9", "x", "230",
                                          "processes", "786", "id PROCESS", "999", "Id processor"});
    ASSERT_EQ(ParseCounterNames(list.data(), list.size(), &names), 0);
    EXPECT_STREQ(names.processIndex, "230");
    ASSERT_EQ(names.idCandidateCount, 2u);
    EXPECT_EQ(names.idCandidates[0], 784u);
    EXPECT_EQ(names.idCandidates[1], 786u);
    FreeCounterNames(&names);
}

TEST(CounterNames, LaterProcessEntryWinsAndBadIndexesAreIgnored) {
    CounterNames names;
    const std::string list = CounterList({"230", "Process", "1250", "process", "abc", "process",
                                          "12345678901234567890", "Process", "", "740", "Process"});
    ASSERT_EQ(ParseCounterNames(list.data(), list.size(), &names), 0);
    // The empty string ends the list before "740".
    EXPECT_STREQ(names.processIndex, "1250");
    EXPECT_EQ(names.idCandidateCount, 0u);
    FreeCounterNames(&names);
}

TEST(CounterNames, ManyCandidatesKeepTheirOrder) {
    std::vector<std::string> strings = {"230", "Process"};
    for (int i = 0; i < 100; ++i) {
        strings.push_back(std::to_string(1000 + i));
        strings.push_back("ID Process");
    }
    const std::string list = CounterList(strings);
    CounterNames names;
    ASSERT_EQ(ParseCounterNames(list.data(), list.size(), &names), 0);
    ASSERT_EQ(names.idCandidateCount, 100u);
    for (uint32_t i = 0; i < 100; ++i) EXPECT_EQ(names.idCandidates[i], 1000 + i);
    FreeCounterNames(&names);
}

TEST(CounterNames, ListWithoutProcessObjectOrCutShortFails) {
    CounterNames names;
    const std::string none = CounterList({"2", "System", "784", "ID Process"});
    EXPECT_EQ(ParseCounterNames(none.data(), none.size(), &names), 1);
    EXPECT_EQ(names.idCandidateCount, 1u);
    FreeCounterNames(&names);
    // "Process" first, with no index before it.
    const std::string first = CounterList({"Process", "230"});
    EXPECT_EQ(ParseCounterNames(first.data(), first.size(), &names), 1);
    FreeCounterNames(&names);
    // The last string runs into the end of the value: not used.
    const std::string cut("230\0Process", 11);
    EXPECT_EQ(ParseCounterNames(cut.data(), cut.size(), &names), 1);
    FreeCounterNames(&names);
    // Without the closing empty string the walk ends at the value's end.
    const std::string open("230\0Process\0", 12);
    EXPECT_EQ(ParseCounterNames(open.data(), open.size(), &names), 0);
    EXPECT_STREQ(names.processIndex, "230");
    FreeCounterNames(&names);
}

TEST(CounterNames, LoadedFromTheRegistryValue) {
    FakeSystem sys;
    sys.counters = kCounterNames;
    CounterNames names;
    ASSERT_EQ(LoadCounterNames(Ops(sys), &names), 0);
    EXPECT_STREQ(names.processIndex, "230");
    FreeCounterNames(&names);
    sys.countersFail = true;
    EXPECT_EQ(LoadCounterNames(Ops(sys), &names), 1);
    FreeCounterNames(&names);
    sys.countersFail = false;
    sys.counters.clear();
    EXPECT_EQ(LoadCounterNames(Ops(sys), &names), 1);
    FreeCounterNames(&names);
}

// ---- Walk of the performance-data block -------------------------------------------

TEST(PerfWalk, VisitsEveryInstanceAndMarksTotalAndIdle) {
    Visits v;
    ASSERT_EQ(Walk(PerfBlock(kTypical), &v), 0);
    ASSERT_EQ(v.seen.size(), 6u);
    const bool isProcess[] = {false, true, true, true, false, true};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(v.seen[i].processId, kTypical[i].processId);
        EXPECT_EQ(v.seen[i].isProcess, isProcess[i]) << v.seen[i].name;
    }
    EXPECT_EQ(v.seen[3].name, "explorer");
    EXPECT_EQ(v.seen[4].name, "_Total");
    // Either mark alone leaves an instance out.
    Visits odd;
    ASSERT_EQ(Walk(PerfBlock({{u"_Total", 77}, {u"", 0}, {u"", 78}}), &odd), 0);
    ASSERT_EQ(odd.seen.size(), 3u);
    EXPECT_FALSE(odd.seen[0].isProcess);
    EXPECT_FALSE(odd.seen[1].isProcess);
    EXPECT_TRUE(odd.seen[2].isProcess);
}

TEST(PerfWalk, IdCounterComesFromTheFirstCandidateWithANonZeroOffset) {
    const std::vector<Counter> counters = {{500, 0}, {600, 8}, {500, 16}, {kIdProcess, 24}};
    const auto block = PerfBlock({{u"a", 11}}, 24, counters);
    // 500: only its first definition counts, and that one has offset 0.
    const uint32_t zeroFirst[] = {500, 999, kIdProcess, 600};
    EXPECT_EQ(FindProcessIdCounter(block.data(), block.size(), zeroFirst, 4), 24u);
    Visits v;
    ASSERT_EQ(Walk(block, &v, zeroFirst, 4), 0);
    ASSERT_EQ(v.seen.size(), 1u);
    EXPECT_EQ(v.seen[0].processId, 11u);
    const uint32_t other[] = {600, kIdProcess};
    EXPECT_EQ(FindProcessIdCounter(block.data(), block.size(), other, 2), 8u);
}

TEST(PerfWalk, FailsWithoutAnIdProcessCounter) {
    const auto block = PerfBlock(kTypical);
    const uint32_t unknown[] = {4242};
    Visits v;
    EXPECT_EQ(Walk(block, &v, unknown, 1), 1);
    EXPECT_EQ(Walk(block, &v, nullptr, 0), 1);
    EXPECT_TRUE(v.seen.empty());
}

TEST(PerfWalk, AtMost256Instances) {
    std::vector<Instance> many;
    for (uint32_t i = 0; i < 300; ++i) many.push_back({u"p" + std::u16string(1, char16_t('a' + i % 26)), 100 + i});
    Visits v;
    ASSERT_EQ(Walk(PerfBlock(many), &v), 0);
    ASSERT_EQ(v.seen.size(), 256u);
    EXPECT_EQ(v.seen.back().processId, 355u);
    // Only the instances walked need to be present.
    many.resize(256);
    Visits fewer;
    ASSERT_EQ(Walk(PerfBlock(many, 16, kCounters, 300), &fewer), 0);
    EXPECT_EQ(fewer.seen.size(), 256u);
    // A negative count (an object without instances) walks none.
    Visits none;
    EXPECT_EQ(Walk(PerfBlock(many, 16, kCounters, -1), &none), 0);
    EXPECT_TRUE(none.seen.empty());
}

TEST(PerfWalk, LongNamesAreCutToTheNameSize) {
    const std::u16string longName(5000, u'n');
    FakeSystem sys;
    Visits v;
    const auto block = PerfBlock({{longName, 8}, {u"\u4e2d\u6587.exe", 9}});
    ASSERT_EQ(WalkPerfProcesses(block.data(), block.size(), kCandidates, 1, ToAnsi, &sys, Record, &v), 0);
    ASSERT_EQ(v.seen.size(), 2u);
    EXPECT_EQ(v.seen[0].name, std::string(kProcessNameSize - 1, 'n'));
    EXPECT_LE(sys.longestConversion, 2 * kProcessNameSize);
    EXPECT_EQ(v.seen[1].name, "??.exe");
}

TEST(PerfWalk, VisitorAnswerStopsTheWalk) {
    Visits v;
    v.stopAt = 2;
    EXPECT_EQ(Walk(PerfBlock(kTypical), &v), 3);
    EXPECT_EQ(v.seen.size(), 2u);
}

TEST(PerfWalk, EveryTruncationFailsWithoutVisiting) {
    const auto block = PerfBlock(kTypical);
    for (size_t size = 0; size < block.size(); ++size) {
        Visits v;
        std::vector<uint8_t> cut(block.begin(), block.begin() + static_cast<long>(size));
        EXPECT_EQ(Walk(cut, &v), 1) << size;
        EXPECT_TRUE(v.seen.empty()) << size;
    }
}

TEST(PerfWalk, OffsetsPointingOutsideTheBlockFail) {
    const auto good = PerfBlock(kTypical);
    const size_t firstInstance = 32 + 64 + 40 * kCounters.size();
    const uint32_t definition = Get32(good, firstInstance);
    const size_t lastInstance = good.size() - 32 - 40;  // "_total": 24 + 14 bytes of name, 40 in all
    ASSERT_EQ(Get32(good, lastInstance), 40u);
    struct Patch {
        const char* what;
        size_t at;
        uint32_t value;
    } const patches[] = {
        {"bad signature", 6, 0x00000047},
        {"object outside", 24, static_cast<uint32_t>(good.size())},
        {"object header far away", 24, 0xFFFFFFF0u},
        {"counters outside", 32 + 32, 0x10000000u},
        {"counter definitions outside", 32 + 8, 0xFFFFFF00u},
        {"first instance outside", 32 + 4, 0xFFFFFF00u},
        {"instance length outside", firstInstance, 0xFFFFFFF0u},
        {"instance shorter than its header", firstInstance, 8},
        {"name outside", firstInstance + 16, 0x7FFFFFFFu},
        {"name outside its instance", firstInstance + 16, definition},
        {"counter block outside", firstInstance + definition, 0xFFFFFFFFu},
        {"id counter past its block", firstInstance + definition, 16},
        {"last counter block past the end", lastInstance + 40, 40},
        {"id offset outside every block", 96 + 40 + 36, 0xFFFFFFFDu},
    };
    for (const Patch& p : patches) {
        auto bad = good;
        Put32(bad, p.at, p.value);
        Visits v;
        EXPECT_EQ(Walk(bad, &v), 1) << p.what;
        EXPECT_TRUE(v.seen.empty()) << p.what;
    }
    // A name that fills its instance without a terminator.
    auto unterminated = PerfBlock({{std::u16string(7, u'x'), 5}});
    ASSERT_EQ(Get32(unterminated, firstInstance), 24u + 16);
    Visits v;
    ASSERT_EQ(Walk(unterminated, &v), 0);
    unterminated[firstInstance + 24 + 14] = 'x';
    v.seen.clear();
    EXPECT_EQ(Walk(unterminated, &v), 1);
}

TEST(PerfWalk, CollectsInstanceCountAndRealProcessIds) {
    PerfProcessIds ids;
    const auto block = PerfBlock(kTypical);
    ASSERT_EQ(CollectPerfProcessIds(block.data(), block.size(), kCandidates, 1, ToAnsi, nullptr, &ids), 0);
    EXPECT_EQ(ids.instanceCount, 6u);
    ASSERT_EQ(ids.idCount, 4u);
    EXPECT_EQ(std::vector<uint32_t>(ids.ids, ids.ids + 4), (std::vector<uint32_t>{4, 388, 1720, 96}));
    EXPECT_EQ(CollectPerfProcessIds(block.data(), block.size() - 1, kCandidates, 1, ToAnsi, nullptr, &ids), 1);
    EXPECT_EQ(ids.instanceCount, 0u);
}

// ---- The growing query ------------------------------------------------------------

std::vector<uint8_t> BigBlock(size_t size) {
    auto block = PerfBlock(kTypical);
    block.resize(size, 0xAB);
    return block;
}

TEST(PerfQuery, FirstAnswerThatFitsTakesOneCall) {
    FakeSystem sys;
    sys.perf = PerfBlock(kTypical);
    uint8_t* block = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(QueryPerfData(Ops(sys), "230", &block, &size), 0);
    EXPECT_EQ(std::vector<uint8_t>(block, block + size), sys.perf);
    EXPECT_EQ(sys.offered, (std::vector<uint32_t>{51200}));
    EXPECT_EQ(sys.valueNames, (std::vector<std::string>{"230"}));
    std::free(block);
}

TEST(PerfQuery, GrowsToTheReportedSizePlusAStep) {
    FakeSystem sys;
    sys.perf = BigBlock(120000);
    uint8_t* block = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(QueryPerfData(Ops(sys), "230", &block, &size), 0);
    EXPECT_EQ(size, 120000u);
    EXPECT_EQ(sys.offered, (std::vector<uint32_t>{51200, 145600}));
    std::free(block);
}

TEST(PerfQuery, GrowsInStepsWhenTheReportedSizeIsNoHelp) {
    for (uint32_t reported : {0u, 51200u, 1000u}) {
        FakeSystem sys;
        sys.perf = BigBlock(120000);
        sys.reportFixedSize = true;
        sys.fixedSize = reported;
        uint8_t* block = nullptr;
        uint32_t size = 0;
        ASSERT_EQ(QueryPerfData(Ops(sys), "230", &block, &size), 0) << reported;
        EXPECT_EQ(sys.offered, (std::vector<uint32_t>{51200, 76800, 102400, 128000})) << reported;
        std::free(block);
    }
}

TEST(PerfQuery, FailuresLeaveNothingToFree) {
    uint8_t* block = reinterpret_cast<uint8_t*>(1);
    uint32_t size = 7;
    FakeSystem error;
    error.perfError = 2;
    EXPECT_EQ(QueryPerfData(Ops(error), "230", &block, &size), 1);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(size, 0u);

    FakeSystem empty;
    EXPECT_EQ(QueryPerfData(Ops(empty), "230", &block, &size), 1);

    FakeSystem unsigned_;
    unsigned_.perf = PerfBlock(kTypical);
    unsigned_.perf[0] = 'Q';
    EXPECT_EQ(QueryPerfData(Ops(unsigned_), "230", &block, &size), 1);

    // An answer that always wants more stops at the ceiling.
    FakeSystem endless;
    endless.perf = PerfBlock(kTypical);
    endless.alwaysMore = true;
    endless.reportFixedSize = true;
    endless.fixedSize = kPerfMaxBlockSize - kPerfGrowStep;
    EXPECT_EQ(QueryPerfData(Ops(endless), "230", &block, &size), 1);
    EXPECT_EQ(endless.offered, (std::vector<uint32_t>{kPerfFirstBlockSize, kPerfMaxBlockSize}));
    EXPECT_EQ(block, nullptr);
}

// ---- Process listing and counting ----------------------------------------------------

struct TableTest : ::testing::Test {
    void SetUp() override {
        InstallApplicationTableHooks();
        table = CreateTable(8, 1);
        ASSERT_NE(table, nullptr);
        sys.counters = kCounterNames;
        sys.perf = PerfBlock(kTypical);
    }
    void TearDown() override { DestroyTable(table, 1); }
    std::vector<std::pair<uint32_t, std::string>> Entries() const {
        std::vector<std::pair<uint32_t, std::string>> out;
        for (HashTableNode* n = FirstEntry(table); n; n = NextEntry(n)) {
            EXPECT_EQ(n->keyLength, 4);
            uint32_t id;
            std::memcpy(&id, n->key, 4);
            out.emplace_back(id, static_cast<const char*>(n->value));
        }
        return out;
    }
    HashTable* table = nullptr;
    FakeSystem sys;
};

struct Progress {
    int calls = 0;
    int stopAt = -1;
};

int32_t AfterInstance(void* context) {
    auto* p = static_cast<Progress*>(context);
    return ++p->calls == p->stopAt ? 3 : 0;
}

using ProcessList = std::vector<std::pair<uint32_t, std::string>>;

TEST_F(TableTest, ListsRealProcessesWithProgressAfterEveryInstance) {
    Progress progress;
    ASSERT_EQ(ListPerfProcesses(Ops(sys), table, AfterInstance, &progress), 0);
    EXPECT_EQ(Entries(), (ProcessList{{4, "System"}, {388, "smss"}, {1720, "explorer"}, {96, "_total"}}));
    EXPECT_EQ(progress.calls, 6);
    EXPECT_EQ(sys.valueNames, (std::vector<std::string>{"230"}));
    // Without a progress window too.
    HashTable* second = CreateTable(8, 1);
    EXPECT_EQ(ListPerfProcesses(Ops(sys), second, nullptr, nullptr), 0);
    DestroyTable(second, 1);
}

TEST_F(TableTest, StopRequestKeepsWhatWasListed) {
    Progress progress;
    progress.stopAt = 3;
    EXPECT_EQ(ListPerfProcesses(Ops(sys), table, AfterInstance, &progress), 3);
    EXPECT_EQ(Entries(), (ProcessList{{4, "System"}, {388, "smss"}}));
}

TEST_F(TableTest, DuplicateIdsAreRefusedWithoutLeaking) {
    sys.perf = PerfBlock({{u"a", 7}, {u"b", 7}, {u"c", 8}});
    ASSERT_EQ(ListPerfProcesses(Ops(sys), table, nullptr, nullptr), 0);
    EXPECT_EQ(Entries(), (ProcessList{{7, "a"}, {8, "c"}}));
}

TEST_F(TableTest, FailuresLeaveTheTableUnchanged) {
    FakeSystem noProcess = sys;
    noProcess.counters = CounterList({"784", "ID Process"});
    EXPECT_EQ(ListPerfProcesses(Ops(noProcess), table, nullptr, nullptr), 1);
    EXPECT_TRUE(noProcess.offered.empty()) << "no process object, no performance-data query";

    FakeSystem noIdCounter = sys;
    noIdCounter.counters = CounterList({"230", "Process"});
    EXPECT_EQ(ListPerfProcesses(Ops(noIdCounter), table, nullptr, nullptr), 1);

    FakeSystem truncated = sys;
    truncated.perf.resize(truncated.perf.size() - 4);
    EXPECT_EQ(ListPerfProcesses(Ops(truncated), table, nullptr, nullptr), 1);

    FakeSystem queryError = sys;
    queryError.perfError = 5;
    EXPECT_EQ(ListPerfProcesses(Ops(queryError), table, nullptr, nullptr), 1);
    EXPECT_TRUE(Entries().empty());
}

TEST_F(TableTest, CountsEveryInstanceAndTheModulesOfRealProcesses) {
    sys.modules = {{0, 1000}, {4, 1}, {388, 3}, {1720, 40}, {96, 2}};
    EXPECT_EQ(CountPerfProcessItems(Ops(sys), 0), 6u);
    EXPECT_TRUE(sys.modulesAsked.empty());
    EXPECT_EQ(CountPerfProcessItems(Ops(sys), 1), 6u + 1 + 3 + 40 + 2);
    EXPECT_EQ(sys.modulesAsked, (std::vector<uint32_t>{4, 388, 1720, 96}));

    std::vector<Instance> many;
    for (uint32_t i = 0; i < 300; ++i) many.push_back({u"p", i + 1});
    sys.perf = PerfBlock(many);
    EXPECT_EQ(CountPerfProcessItems(Ops(sys), 0), 256u);

    sys.perf[0] = 'X';
    EXPECT_EQ(CountPerfProcessItems(Ops(sys), 1), 0u);
    sys.perf = PerfBlock(kTypical);
    sys.counters = CounterList({"230", "Process"});
    EXPECT_EQ(CountPerfProcessItems(Ops(sys), 1), 0u);
}

}  // namespace
