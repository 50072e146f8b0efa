// The connection lines of a report, for the report writer: the host names of a table
// are looked up once for the whole table, then each row is written as one line.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "inspect/hash_table.h"
#include "net/connection_rows.h"

struct SystemProbe;

// Looks up the host names that the rows of table (of kind, as QueryConnectionTable
// gives it) show, all at once under one deadline; with a progress window the wait ends
// on a stop request. 0, or 3 when stopped. Call it before writing the table's rows: a
// name not looked up shows "*".
uint32_t PrepareConnectionLines(const void* table, ConnectionKind kind, HWND progressWindow);

// Writes the report line of one row: nothing when processFilter is not 0 and differs
// from the row's owner. The application is probe's GetProcessImagePath of the owner
// ("???" without an owner), followed by its file details. False only when stream is
// null (or memory runs out).
bool WriteConnectionLine(SystemProbe* probe, HashTable* processTable, FILE* stream, const ConnectionRow& row,
                         uint32_t processFilter);
