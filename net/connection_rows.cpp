#include "net/connection_rows.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "report/report_line.h"

void FormatTcpRow(ConnectionNames& names, const TcpOwnerRow& row, ConnectionTexts* out) {
    CopyText(out->type, sizeof out->type, "TCP");
    names.FormatHostName(row.localAddress, kTcpStateEstablished, out->localHost, sizeof out->localHost);
    FormatAddress(row.localAddress, kTcpStateEstablished, out->localAddress, sizeof out->localAddress);
    names.FormatPort(row.localPort, kTcpStateEstablished, out->localPort, sizeof out->localPort);
    names.FormatHostName(row.remoteAddress, row.state, out->remoteHost, sizeof out->remoteHost);
    FormatAddress(row.remoteAddress, row.state, out->remoteAddress, sizeof out->remoteAddress);
    names.FormatPort(row.remotePort, row.state, out->remotePort, sizeof out->remotePort);
    FormatTcpState(row.state, out->state, sizeof out->state);
}

void FormatUdpRow(ConnectionNames& names, const UdpOwnerRow& row, ConnectionTexts* out) {
    CopyText(out->type, sizeof out->type, "UDP");
    names.FormatHostName(row.localAddress, kTcpStateEstablished, out->localHost, sizeof out->localHost);
    FormatAddress(row.localAddress, kTcpStateEstablished, out->localAddress, sizeof out->localAddress);
    names.FormatPort(row.localPort, kTcpStateEstablished, out->localPort, sizeof out->localPort);
    CopyText(out->remoteHost, sizeof out->remoteHost, kUnknownText);
    CopyText(out->remoteAddress, sizeof out->remoteAddress, kUnknownText);
    CopyText(out->remotePort, sizeof out->remotePort, kUnknownText);
    CopyText(out->state, sizeof out->state, kUnknownText);
}

uint32_t ConnectionRowCount(const void* table) {
    uint32_t count = 0;
    if (table) std::memcpy(&count, table, sizeof count);
    return count;
}

const void* ConnectionRowAt(const void* table, bool isTcp, uint32_t index) {
    if (isTcp) return &static_cast<const TcpOwnerTable*>(table)->rows[index];
    return &static_cast<const UdpOwnerTable*>(table)->rows[index];
}

uint32_t ConnectionRowOwner(const void* row, bool isTcp) {
    return isTcp ? static_cast<const TcpOwnerRow*>(row)->owner : static_cast<const UdpOwnerRow*>(row)->owner;
}

void CollectHostAddresses(const void* table, bool isTcp, std::vector<NetAddress>* addresses) {
    const uint32_t count = ConnectionRowCount(table);
    for (uint32_t i = 0; i < count; ++i) {
        if (isTcp) {
            const TcpOwnerRow& row = static_cast<const TcpOwnerTable*>(table)->rows[i];
            addresses->push_back(Ipv4Address(row.localAddress));
            if (row.state != kTcpStateListening) addresses->push_back(Ipv4Address(row.remoteAddress));
        } else {
            addresses->push_back(Ipv4Address(static_cast<const UdpOwnerTable*>(table)->rows[i].localAddress));
        }
    }
}

bool WriteConnectionLine(ConnectionNames& names, const ConnectionOwnerOps& owners, const HashTable* processTable,
                         FILE* stream, const void* row, bool isTcp, uint32_t processFilter) {
    if (!stream || !row) return false;
    const uint32_t owner = ConnectionRowOwner(row, isTcp);
    if (processFilter != 0 && processFilter != owner) return true;

    ConnectionTexts texts;
    if (isTcp) {
        FormatTcpRow(names, *static_cast<const TcpOwnerRow*>(row), &texts);
    } else {
        FormatUdpRow(names, *static_cast<const UdpOwnerRow*>(row), &texts);
    }
    char* application = owner ? owners.imagePath(owners.context, processTable, owner) : nullptr;
    if (owner && !application) return false;
    IdList* ids = NewIdList(owner);
    char* details = ids ? owners.fileDetails(owners.context, owner ? application : "", ids) : nullptr;
    bool written = false;
    if (details) {
        std::string extra;
        for (const char* field : {texts.localHost, texts.localAddress, texts.localPort, texts.remoteHost,
                                  texts.remoteAddress, texts.remotePort, texts.state}) {
            extra.append(field).append("|");
        }
        extra.append(owner ? application : kNoOwnerText).append("|").append(details);
        WriteReportLine(stream, kCodeConnection, texts.type, extra.c_str(), "");
        written = true;
    }
    std::free(details);
    std::free(application);
    return written;
}
