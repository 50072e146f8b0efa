// The connections list: its columns and cells, and the background operation that
// fills it (job kind ListConnections) with the rows of both connection tables.
#pragma once

#include <windows.h>

#include <cstdint>

#include "net/connection_format.h"
#include "net/connection_tables.h"

struct SystemProbe;
struct WorkerJob;

// Inserts a centred column at position, as wide as its header plus 20 pixels;
// subItem -1 means the position. Returns the column's index, -1 on failure.
int InsertListColumn(HWND list, const wchar_t* header, int position, int subItem);

// Column 0 inserts a new row at index row with text and returns its index; any other
// column sets that cell of row and returns row. With a device context the column is
// widened to the text's width where that is wider; columns never shrink. -1 on failure.
int SetListCellText(HWND list, int row, int column, const char* text, HDC dc);

// Looks the host names of a table's rows up at once (see ConnectionNames::Resolve);
// with a progress window a stop request ends the wait. 0, or 3 when stopped.
uint32_t ResolveTableHostNames(ConnectionNames& names, const void* table, ConnectionKind kind, HWND progressWindow);

// Empties list and fills it with a row per TCP connection and UDP endpoint (IPv4, then
// IPv6 where the system gives IPv6 tables), the host names from names; with a progress window it reports progress and stops on request.
// The rows reach the list in batches run on the interface thread. 0 or 3.
uint32_t FillConnectionList(HWND list, HWND progressWindow, SystemProbe* probe, ConnectionNames& names);

// Job kind ListConnections: FillConnectionList on the params' list with the run's
// names; frees the params block. JobSucceeded or JobCancelled.
uint32_t ListConnectionsOperation(WorkerJob* job);
