#include "net/connection_rows.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "report/report_line.h"

uint32_t ConnectionRowCount(const void* table) {
    uint32_t count = 0;
    if (table) std::memcpy(&count, table, sizeof count);
    return count;
}

ConnectionRow ConnectionRowAt(const void* table, ConnectionKind kind, uint32_t index) {
    ConnectionRow row{};
    row.kind = kind;
    const uint8_t* at = static_cast<const uint8_t*>(table) + sizeof(uint32_t) + index * ConnectionRowSize(kind);
    switch (kind) {
        case kConnectionTcp: {
            TcpOwnerRow r;
            std::memcpy(&r, at, sizeof r);
            row = {kind, r.state, Ipv4Address(r.localAddress), r.localPort, Ipv4Address(r.remoteAddress), r.remotePort,
                   r.owner};
            break;
        }
        case kConnectionTcp6: {
            Tcp6OwnerRow r;
            std::memcpy(&r, at, sizeof r);
            row = {kind,         r.state, Ipv6Address(r.localAddress), r.localPort, Ipv6Address(r.remoteAddress),
                   r.remotePort, r.owner};
            break;
        }
        case kConnectionUdp: {
            UdpOwnerRow r;
            std::memcpy(&r, at, sizeof r);
            row = {kind, 0, Ipv4Address(r.localAddress), r.localPort, Ipv4Address(0), 0, r.owner};
            break;
        }
        case kConnectionUdp6: {
            Udp6OwnerRow r;
            std::memcpy(&r, at, sizeof r);
            row = {kind, 0, Ipv6Address(r.localAddress), r.localPort, {}, 0, r.owner};
            row.remoteAddress.family = kFamilyIpv6;
            break;
        }
    }
    return row;
}

const char* ConnectionTypeText(ConnectionKind kind) {
    switch (kind) {
        case kConnectionTcp: return "TCP";
        case kConnectionTcp6: return "TCP6";
        case kConnectionUdp: return "UDP";
        case kConnectionUdp6: return "UDP6";
    }
    return "";
}

void FormatConnectionRow(ConnectionNames& names, const ConnectionRow& row, ConnectionTexts* out) {
    CopyText(out->type, sizeof out->type, ConnectionTypeText(row.kind));
    names.FormatHostName(row.localAddress, kTcpStateEstablished, out->localHost, sizeof out->localHost);
    FormatAddress(row.localAddress, kTcpStateEstablished, out->localAddress, sizeof out->localAddress);
    names.FormatPort(row.localPort, kTcpStateEstablished, out->localPort, sizeof out->localPort);
    if (!IsTcpKind(row.kind)) {
        CopyText(out->remoteHost, sizeof out->remoteHost, kUnknownText);
        CopyText(out->remoteAddress, sizeof out->remoteAddress, kUnknownText);
        CopyText(out->remotePort, sizeof out->remotePort, kUnknownText);
        CopyText(out->state, sizeof out->state, kUnknownText);
        return;
    }
    names.FormatHostName(row.remoteAddress, row.state, out->remoteHost, sizeof out->remoteHost);
    FormatAddress(row.remoteAddress, row.state, out->remoteAddress, sizeof out->remoteAddress);
    names.FormatPort(row.remotePort, row.state, out->remotePort, sizeof out->remotePort);
    FormatTcpState(row.state, out->state, sizeof out->state);
}

void CollectHostAddresses(const void* table, ConnectionKind kind, std::vector<NetAddress>* addresses) {
    const uint32_t count = ConnectionRowCount(table);
    for (uint32_t i = 0; i < count; ++i) {
        const ConnectionRow row = ConnectionRowAt(table, kind, i);
        addresses->push_back(row.localAddress);
        if (IsTcpKind(kind) && row.state != kTcpStateListening) addresses->push_back(row.remoteAddress);
    }
}

bool WriteConnectionLine(ConnectionNames& names, const ConnectionOwnerOps& owners, const HashTable* processTable,
                         FILE* stream, const ConnectionRow& row, uint32_t processFilter) {
    if (!stream) return false;
    const uint32_t owner = row.owner;
    if (processFilter != 0 && processFilter != owner) return true;

    ConnectionTexts texts;
    FormatConnectionRow(names, row, &texts);
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
