// Report file lines: writing record and separator lines, decoding record codes and
// parsing a record line into its item texts and records.
//
// A record line is eight hexadecimal digits (the record code), "|", then fields
// numbered from 1 and separated by "|". A separator line starts with "--------|" and
// carries no data. Lines end in CR LF on every build: callers open the stream in binary
// mode and the writers emit "\r\n" themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "inspect/hash_table.h"
#include "inspect/processes_names.h"

// One group of fields of a parsed line, kept per tree item in the record table:
// kind is the record type, items a heap array of count heap texts (null for an empty
// field). ReleaseTableEntry with ownerFlag 0 frees it.
using ItemRecord = TableRecord;

// Record types (ItemRecord::kind).
constexpr uint32_t kRecordTypeHeading = 0;
constexpr uint32_t kRecordTypeFile = 1;
constexpr uint32_t kRecordTypeEndedFile = 2;
constexpr uint32_t kRecordTypeConnection = 3;
constexpr uint32_t kRecordTypeList = 4;
constexpr uint32_t kRecordTypeShortcut = 6;
constexpr uint32_t kRecordTypeSystemInfo = 7;
// The index of system-information items under key 0; its items are 32-bit numbers.
constexpr uint32_t kRecordTypeSystemInfoIndex = kRecordKindUnowned;

// Record codes the program writes.
constexpr uint32_t kCodeSystemInfo = 0x1c004000;          // OS description, again, version text
constexpr uint32_t kCodeSectionHeading = 0x4008;          // "PROCESS", "TCP/IP PORTS", group labels
constexpr uint32_t kCodeLocationHeading = 0x4009;         // level 1 label
constexpr uint32_t kCodeIniFileHeading = 0x4004009;       // INI path, file details
constexpr uint32_t kCodeSubHeading = 0x400a;              // level 2 label
constexpr uint32_t kCodeFileTypeHeading = 0x1000400a;     // label, one extension per field
constexpr uint32_t kCodeValueEntryBase = 0x4000;          // + level: registry value text
constexpr uint32_t kCodeValueEntryDetailsBase = 0x4004000;  // + level: text, file details
constexpr uint32_t kCodeSubkeyHeadingBase = 0x4008;       // + level: subkey label
constexpr uint32_t kCodeAutorunEntry = 0x4002;
constexpr uint32_t kCodeAutorunEntryDetails = 0x4004002;
constexpr uint32_t kCodeAutorunSubEntry = 0x4003;
constexpr uint32_t kCodeAutorunSubEntryDetails = 0x4004003;
constexpr uint32_t kCodeShortcutEntry = 0xc4b04a02;       // target, its details, link details, target path
constexpr uint32_t kCodeRunningProcess = 0x4008019;       // "PROCESS", name, ID, six empty fields
constexpr uint32_t kCodeModule = 0x4008012;               // "MODULE", path, file details
constexpr uint32_t kCodeEndedProcess = 0x8008019;         // "KILLED PROCESS", item text, ID, six empty
constexpr uint32_t kCodeEndedModule = 0x8008012;          // "KILLED MODULE", item text, file details
constexpr uint32_t kCodeConnection = 0x2c910901;          // protocol, endpoints, state, owner, details

// Field-1 prefixes of process and module lines (each ends with the field separator).
constexpr const char kPrefixProcess[] = "PROCESS|";
constexpr const char kPrefixModule[] = "MODULE|";
constexpr const char kPrefixEndedProcess[] = "KILLED PROCESS|";
constexpr const char kPrefixEndedModule[] = "KILLED MODULE|";

// Section labels and the column headers written below them.
constexpr const char kProcessSectionLabel[] = "PROCESS";
constexpr const char kConnectionSectionLabel[] = "TCP/IP PORTS";
constexpr const char kProcessColumnHeader[] =
    "PROCESS/MODULE|ID|Name|File Version|File Size|File Modification|File Description|"
    "Prodact Name|Prodact Version";
constexpr const char kConnectionColumnHeader[] =
    "PORT Type|Local host|Local address|Local Port (Port name)|Remout host|Remout address|"
    "Remout Port (Port name)|State|Application|Application file information";

// Highest field number a code can name; a split field of 0 stands for it.
constexpr uint32_t kMaxCodeField = 63;

// Bit fields of a record code, from the least significant bit.
inline uint32_t RecordLevel(uint32_t code) { return code & 7; }
inline uint32_t RecordHasChildren(uint32_t code) { return code & 8; }
inline uint32_t RecordSkipA(uint32_t code) { return (code >> 4) & 3; }
inline uint32_t RecordSkipB(uint32_t code) { return (code >> 6) & 3; }
inline uint32_t RecordSplitField(uint32_t code) {
    const uint32_t split = (code >> 8) & 63;
    return split == 0 ? kMaxCodeField : split;
}
inline uint32_t RecordTextField(uint32_t code) { return (code >> 14) & 63; }
inline uint32_t RecordGroupBTextField(uint32_t code) { return (code >> 20) & 63; }
inline uint32_t RecordTypeA(uint32_t code) { return (code >> 26) & 7; }
inline uint32_t RecordTypeB(uint32_t code) { return code >> 29; }

struct RecordCodeFields {
    uint32_t level;
    uint32_t hasChildren;  // 0 or 1
    uint32_t skipA;
    uint32_t skipB;
    uint32_t splitField;   // 1-63 (a stored 0 reads as 63)
    uint32_t textField;
    uint32_t groupBTextField;
    uint32_t typeA;
    uint32_t typeB;
};

RecordCodeFields DecodeRecordCode(uint32_t code);
// Inverse of DecodeRecordCode; each field is masked to its width (split 63 is stored as 63).
uint32_t EncodeRecordCode(const RecordCodeFields& fields);

// Writes "cccccccc|" + prefix + text, then "|" + extra when extra is not null, then CR LF.
// A level-0 code is followed by an underline of as many dashes as text has bytes.
// Null text or prefix count as empty. Stream errors are ignored.
void WriteReportLine(FILE* stream, uint32_t code, const char* text, const char* extra,
                     const char* prefix);

// dashCount 0: "--------|" + text + CR LF (end-of-block line with an empty text, or a
// column header). Otherwise "--------|" + dashCount dashes + CR LF; text is ignored.
void WriteSeparatorLine(FILE* stream, size_t dashCount, const char* text);

// A section's opening: its heading line, an end-of-block line, the column header with
// its dash underline, and another end-of-block line.
void WriteSectionHeader(FILE* stream, const char* label, const char* columns);

// Parses one record line. Returns 1 and fills the outputs when the line is a record
// line, 0 otherwise (also when an argument is null or memory runs out); on 0 every
// non-null output is null or 0. The line ends at its NUL, at the first LF, or at a CR
// directly before either, so lines read in text or binary mode parse alike.
// On 1 the caller owns textOut, groupBTextOut (heap texts) and groupAOut, groupBOut
// (records, freed with FreeItemRecord or by the table); each may be null.
int ParseReportLine(const char* line, char** textOut, char** groupBTextOut, uint32_t* levelOut,
                    uint32_t* hasChildrenOut, ItemRecord** groupAOut, ItemRecord** groupBOut);

// As ParseReportLine for a line of at most length bytes that need not end with a NUL.
int ParseReportLineBytes(const char* line, size_t length, char** textOut, char** groupBTextOut,
                         uint32_t* levelOut, uint32_t* hasChildrenOut, ItemRecord** groupAOut,
                         ItemRecord** groupBOut);

// A record line split into its parts: the two texts as spans of the line (a null
// pointer when the line has no such field; an empty field is a non-null span of length
// 0), the groups as new records the caller owns.
struct ReportLineParts {
    const char* text;
    size_t textLength;
    const char* groupBText;
    size_t groupBTextLength;
    uint32_t level;
    uint32_t hasChildren;  // code & 8
    ItemRecord* groupA;
    ItemRecord* groupB;
};

// The parser without its text copies, for a line of at most length bytes ending as for
// ParseReportLineBytes: 1 with *parts filled, 0 when the line is not a record line, 2 when
// it is one but memory ran out. *parts is cleared on 0 and 2. leadBytes: those of the
// code page the line's texts are in, so that the trail byte of a double-byte character
// is never taken for a field bar; null (as for the other parsers) splits at every bar.
int SplitReportLine(const char* line, size_t length, ReportLineParts* parts, const LeadByteOps* leadBytes = nullptr);

// Frees a record returned by the parser (null is allowed).
void FreeItemRecord(ItemRecord* record);

// Field n (from 1) of a text record: the empty text when the record is null, n is out of
// range, or the field was empty. Not for the system-information index.
const char* ItemRecordField(const ItemRecord* record, uint32_t n);
