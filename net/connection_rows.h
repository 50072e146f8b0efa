// One connection row as texts: the cells of the connections list and the fields of
// the connection report line, built the same way for both.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "inspect/file_info.h"
#include "inspect/hash_table.h"
#include "net/connection_format.h"
#include "net/connection_tables.h"

// Columns 0 to 7 of a row; the application (column 8) is the owner's display path.
struct ConnectionTexts {
    char type[4];  // "TCP" or "UDP"
    char localHost[kHostTextSize];
    char localAddress[kAddressTextSize];
    char localPort[kPortTextSize];
    char remoteHost[kHostTextSize];
    char remoteAddress[kAddressTextSize];
    char remotePort[kPortTextSize];
    char state[kStateTextSize];
};

// The local side with the established state (always shown), the remote side and the
// state with the row's own state. A UDP row shows "*" for the remote side and state.
void FormatTcpRow(ConnectionNames& names, const TcpOwnerRow& row, ConnectionTexts* out);
void FormatUdpRow(ConnectionNames& names, const UdpOwnerRow& row, ConnectionTexts* out);

// Appends the addresses of a table whose host names its rows show (table: a
// TcpOwnerTable when isTcp, else a UdpOwnerTable; null adds nothing).
void CollectHostAddresses(const void* table, bool isTcp, std::vector<NetAddress>* addresses);

// The row at index of a table of either kind.
const void* ConnectionRowAt(const void* table, bool isTcp, uint32_t index);
uint32_t ConnectionRowCount(const void* table);
uint32_t ConnectionRowOwner(const void* row, bool isTcp);

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

// Writes the report line of one row: "TCP" or "UDP", the seven endpoint and state
// fields, the application ("???" without an owner) and its file details. Nothing is
// written when processFilter is not 0 and differs from the row's owner. False only
// when stream or row is null, or memory runs out.
bool WriteConnectionLine(ConnectionNames& names, const ConnectionOwnerOps& owners, const HashTable* processTable,
                         FILE* stream, const void* row, bool isTcp, uint32_t processFilter);

// The application text of a row without an owner.
constexpr char kNoOwnerText[] = "???";
