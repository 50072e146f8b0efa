// Report loading: reads a report file line by line, places each record line's items in a
// tree and stores their records in the view's record table. The tree is reached only
// through ReportTreeSink and the file only through ReportReadOps, so the Windows load job
// passes the tree control and the open file, and the tests pass memory.
//
// Depth comes from the record codes alone. An item whose level is deeper than the current
// item's goes below it (one step, however many levels the code skips); otherwise it goes
// at its level, below the current item's ancestor one level above. A connection row goes below its owning
// application's item: the first child of the row's parent whose text equals the
// application text exactly (case-sensitive), made by the first such row.
#pragma once

#include <cstddef>
#include <cstdint>

#include "inspect/hash_table.h"
#include "inspect/processes_names.h"

// The longest line read, without its line end. Longer lines are skipped whole; the
// program's own lines stay far below it (a shortcut line holds two sets of file details
// and a path, a module line one process ID per process that uses the module).
constexpr size_t kMaxReportLineBytes = size_t{1} << 20;
// Bytes asked of ReportReadOps::read at a time.
constexpr size_t kReportReadChunk = size_t{64} << 10;

// Where placed items go. Keys are 1, 2, 3, ... in creation order; parentKey is 0 (top
// level) or an earlier key.
struct ReportTreeSink {
    void* context;
    // Creates item `key` last under parentKey. 0 to go on; non-zero stops the load.
    // text is valid only during the call. hasChildren is 0 or 1; stateImage is 0, or 4
    // for a process or module that had ended.
    int (*insertItem)(void* context, uint32_t parentKey, uint32_t key, const char* text,
                      int hasChildren, uint32_t stateImage);
};

struct ReportPlacer;
// records: the table that receives each item's ItemRecord under a 4-byte key block
// (NewUInt32Key), and the system-information index under key 0. Null when out of memory.
// records must be empty (null otherwise) with owner flag 0, and outlive the placer; it
// owns everything stored in it. The index is an IdList (inspect/file_info.h) of kind
// kRecordTypeSystemInfoIndex holding the keys of the type-7 items in ascending order.
// leadBytes: those of the code page the report's texts are in (see SplitReportLine);
// null for a single-byte one.
ReportPlacer* CreateReportPlacer(const ReportTreeSink* sink, HashTable* records,
                                 const LeadByteOps* leadBytes = nullptr);
// Parses one line (length bytes, no line end needed) and places its items. Lines that are
// not record lines are skipped. 0 placed or skipped; 1 out of memory or the sink stopped.
// After 1 the placer accepts no further line (each answers 1).
int PlaceReportLine(ReportPlacer* placer, const char* line, size_t length);
uint32_t ReportPlacerItemCount(const ReportPlacer* placer);  // the last key given
void DestroyReportPlacer(ReportPlacer* placer);

struct ReportReadOps {
    void* context;
    // Reads up to size bytes into buffer; the number read, 0 at the end of the file.
    // A value above size (such as SIZE_MAX) reports a read error.
    size_t (*read)(void* context, char* buffer, size_t size);
    // Told the file bytes consumed so far, after each chunk; non-zero stops the load.
    // Consumed bytes are those of the lines handled (a cut line counts once it ends).
    // May be null. The call after a final line without a line end comes when nothing
    // is left to read, so its answer changes nothing.
    int (*progress)(void* context, uint64_t bytesConsumed);
};
// Reads the whole file and places every line. 0 done, 1 failure (memory, the sink, a read
// error), 3 stopped by the progress callback (what was placed stays placed).
// Lines end at LF, a CR directly before it dropped; empty lines are skipped; a final line
// without a line end is placed too.
uint32_t LoadReportLines(const ReportReadOps* ops, ReportPlacer* placer);
