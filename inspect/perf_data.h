// The process list from the system's performance data, over byte buffers.
//
// Two answers are read: the "Counters" value of the English perflib key (pairs of
// zero-terminated strings: a decimal index, then its counter or object name) and
// the performance-data block of the process object. Every offset and length taken
// from either buffer is checked against its size; an answer that does not fit is
// a failure. The registry reads and the text conversion come in through
// PerfDataOps, so the whole walk runs on in-memory answers too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "inspect/hash_table.h"

constexpr uint32_t kPerfFirstBlockSize = 51200;
constexpr uint32_t kPerfGrowStep = 25600;
// Ceiling for the growing query: an answer that keeps asking for more fails here.
constexpr uint32_t kPerfMaxBlockSize = 64u * 1024 * 1024;
constexpr uint32_t kPerfMaxInstances = 256;
// A process name in the system code page, terminating zero included.
constexpr size_t kProcessNameSize = 260;
// Longest decimal index text kept for the process object.
constexpr size_t kPerfIndexTextSize = 16;

// Registry answer codes the query operations return.
constexpr int32_t kPerfQueryOk = 0;
constexpr int32_t kPerfQueryMoreData = 234;  // ERROR_MORE_DATA

// Where the counter-name walk found the process object and its ID counter.
struct CounterNames {
    char processIndex[kPerfIndexTextSize];  // decimal text; "" when no "process" entry
    uint32_t* idCandidates;                  // "id process" indexes in list order (malloc)
    uint32_t idCandidateCount;
    uint32_t idCandidateCapacity;
};

// Walks the "Counters" list of size bytes up to its first empty string or its end
// (a string cut off by the end is not used). A string equal to "process"
// (case-insensitive) takes the digits that end the string before it as the object
// index, a later one replacing an earlier one; each "id process" appends the number
// those digits give to the candidates. An index string without digits, or longer
// than an index can be, is passed over. 0 when the process object was found, 1 when
// not or when memory ran out; release with FreeCounterNames in every case.
int32_t ParseCounterNames(const char* list, size_t size, CounterNames* names);
void FreeCounterNames(CounterNames* names);

// Converts a UTF-16 name of length units (terminator not included) into a
// zero-terminated string in the system code page within outSize bytes, cutting it
// short when it does not fit.
using PerfToAnsi = void (*)(void* context, const uint16_t* text, size_t length, char* out,
                            size_t outSize);

struct PerfProcessInstance {
    uint32_t processId;
    bool isProcess;  // false for the "_Total" instance and the idle process (ID 0)
    char name[kProcessNameSize];
};

// Called once per instance in order; a non-zero answer stops the walk with it.
using PerfInstanceVisitor = int32_t (*)(void* context, const PerfProcessInstance* instance);

// Offset of the process-ID counter inside each instance's counter block: for each
// candidate in order, the first counter definition with that name index; the first
// non-zero offset wins. 0 when no candidate names a counter with a non-zero offset,
// or when the block is not a well-formed process object.
uint32_t FindProcessIdCounter(const uint8_t* data, size_t size, const uint32_t* candidates,
                              uint32_t candidateCount);

// Walks the first object of a performance-data block: at most 256 instances, each
// with its name converted and its process ID read. The whole walk is checked
// before the first visit, so a malformed block visits nothing. 0 on success, 1 on
// a malformed block or a missing process-ID counter, else the visitor's answer.
int32_t WalkPerfProcesses(const uint8_t* data, size_t size, const uint32_t* candidates,
                          uint32_t candidateCount, PerfToAnsi toAnsi, void* textContext,
                          PerfInstanceVisitor visit, void* visitContext);

// What CountProcessItems needs from one block: the number of instances walked
// ("_Total" and idle included) and the IDs of the real processes among them.
struct PerfProcessIds {
    uint32_t instanceCount;
    uint32_t idCount;
    uint32_t ids[kPerfMaxInstances];
};

int32_t CollectPerfProcessIds(const uint8_t* data, size_t size, const uint32_t* candidates,
                              uint32_t candidateCount, PerfToAnsi toAnsi, void* textContext,
                              PerfProcessIds* out);

// Reads one registry value in the manner of RegQueryValueEx: capacity *size bytes
// at buffer (null: size only); answers kPerfQueryOk with *size = bytes written,
// kPerfQueryMoreData with *size = the size the system asked for, or another error.
using PerfQueryValue = int32_t (*)(void* context, const char* valueName, uint8_t* buffer,
                                   uint32_t* size);

// The system services the process list needs. The caller closes the registry keys
// behind the queries after the call.
struct PerfDataOps {
    PerfQueryValue queryCounterNames;     // the perflib language key; asked for "Counters"
    PerfQueryValue queryPerformanceData;  // the performance-data key; asked for an object index
    PerfToAnsi toAnsi;
    // Modules loaded by a process, 0 when it cannot be opened; may be null.
    uint32_t (*countModules)(void* context, uint32_t processId);
    void* context;
};

// Size query, then the value into a zeroed block of that size, then the walk.
int32_t LoadCounterNames(const PerfDataOps& ops, CounterNames* names);

// The growing query: 51200 bytes first; while the answer is "more data", a zeroed
// block of the larger of the asked size and the current size, plus 25600 bytes.
// On success *blockOut (malloc) holds *sizeOut bytes, non-empty, starting with the
// UTF-16 signature "PERF". 0 success, 1 failure (nothing to free).
int32_t QueryPerfData(const PerfDataOps& ops, const char* valueName, uint8_t** blockOut,
                      uint32_t* sizeOut);

// Called after every instance; a non-zero answer (3 when a stop was requested)
// ends the listing with it.
using PerfAfterInstance = int32_t (*)(void* context);

// Fills a process table (4-byte ProcessIdKey, malloc copy of the name) with the
// processes of the performance data; "_Total" and the idle process are left out.
// 0 success, 1 failure (table unchanged), or afterInstance's answer (entries made
// so far stay). afterInstance may be null.
int32_t ListPerfProcesses(const PerfDataOps& ops, HashTable* table, PerfAfterInstance afterInstance,
                          void* progressContext);

// Number of instances, plus with includeModules the modules of every real process.
// 0 on any failure.
uint32_t CountPerfProcessItems(const PerfDataOps& ops, int includeModules);
