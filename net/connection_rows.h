// One connection row as texts: the cells of the connections list and the fields of
// the connection report line, built the same way for both and for every table kind.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "inspect/file_info.h"
#include "inspect/hash_table.h"
#include "net/connection_format.h"
#include "net/connection_tables.h"

// A row of any table kind, its addresses with their family.
struct ConnectionRow {
    ConnectionKind kind;
    uint32_t state;  // the row's TCP state; 0 for UDP
    NetAddress localAddress;
    uint32_t localPort;
    NetAddress remoteAddress;  // zeros for UDP
    uint32_t remotePort;
    uint32_t owner;
};

// Row index of a table of kind (index below ConnectionRowCount(table)).
ConnectionRow ConnectionRowAt(const void* table, ConnectionKind kind, uint32_t index);
// The table's row count; 0 for null.
uint32_t ConnectionRowCount(const void* table);

// Columns 0 to 7 of a row; the application (column 8) is the owner's display path.
struct ConnectionTexts {
    char type[5];  // "TCP", "UDP", "TCP6" or "UDP6"
    char localHost[kHostTextSize];
    char localAddress[kAddressTextSize];
    char localPort[kPortTextSize];
    char remoteHost[kHostTextSize];
    char remoteAddress[kAddressTextSize];
    char remotePort[kPortTextSize];
    char state[kStateTextSize];
};

// The type text of a table kind.
const char* ConnectionTypeText(ConnectionKind kind);

// The local side with the established state (always shown), the remote side and the
// state with the row's own state. A UDP row shows "*" for the remote side and state.
void FormatConnectionRow(ConnectionNames& names, const ConnectionRow& row, ConnectionTexts* out);

// Appends the addresses of a table whose host names its rows show (null adds nothing).
void CollectHostAddresses(const void* table, ConnectionKind kind, std::vector<NetAddress>* addresses);

// What a report line needs to know of the row's owner.
struct ConnectionOwnerOps {
    void* context;
    // The display path of process processId (a malloc text the caller frees; null
    // when memory runs out).
    char* (*imagePath)(void* context, const HashTable* processTable, uint32_t processId);
    // The file details text of path with its running instances, consuming ids (a
    // malloc text the caller frees; null when memory runs out).
    char* (*fileDetails)(void* context, const char* path, IdList* ids);
};

// Writes the report line of one row: its type text, the seven endpoint and state
// fields, the application ("???" without an owner) and its file details. Nothing is
// written when processFilter is not 0 and differs from the row's owner. False only
// when stream is null or memory runs out.
bool WriteConnectionLine(ConnectionNames& names, const ConnectionOwnerOps& owners, const HashTable* processTable,
                         FILE* stream, const ConnectionRow& row, uint32_t processFilter);

// The application text of a row without an owner.
constexpr char kNoOwnerText[] = "???";
