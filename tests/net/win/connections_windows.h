// Shared pieces of the connection tests under Wine: sockets the test opens, and the
// texts of a list view read from this or another process.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <commctrl.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace conntest {

// A TCP listener and a UDP socket on 127.0.0.1, and a TCP listener on ::1 (where the
// machine has IPv6), with ports the system chose.
struct OpenSockets {
    SOCKET tcp = INVALID_SOCKET, udp = INVALID_SOCKET, tcp6 = INVALID_SOCKET;
    unsigned short tcpPort = 0, udpPort = 0, tcp6Port = 0;  // host byte order

    OpenSockets() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        tcp = Bound(AF_INET, SOCK_STREAM, &tcpPort);
        if (tcp != INVALID_SOCKET && listen(tcp, 1) != 0) tcpPort = 0;
        udp = Bound(AF_INET, SOCK_DGRAM, &udpPort);
        tcp6 = Bound(AF_INET6, SOCK_STREAM, &tcp6Port);
        if (tcp6 != INVALID_SOCKET && listen(tcp6, 1) != 0) tcp6Port = 0;
    }
    ~OpenSockets() {
        for (SOCKET s : {tcp, udp, tcp6}) if (s != INVALID_SOCKET) closesocket(s);
        WSACleanup();
    }
    bool Ok() const { return tcpPort && udpPort; }
    bool HasIpv6() const { return tcp6Port != 0; }  // false where ::1 cannot be bound

private:
    static SOCKET Bound(int family, int type, unsigned short* port) {
        SOCKET s = socket(family, type, 0);
        sockaddr_in6 a = {};  // room for either family
        a.sin6_family = static_cast<short>(family);
        if (family == AF_INET) reinterpret_cast<sockaddr_in*>(&a)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        else a.sin6_addr.s6_addr[15] = 1;
        int length = family == AF_INET ? sizeof(sockaddr_in) : sizeof a;
        if (s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr*>(&a), length) == 0 &&
            getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
            *port = ntohs(a.sin6_port);  // sin_port sits at the same place
        }
        return s;
    }
};

// The column headers and then each row's cells of a list view, read through memory of
// its process (this one or another).
inline std::vector<std::vector<std::wstring>> ListTexts(HANDLE process, HWND list, int columns) {
    std::vector<std::vector<std::wstring>> rows;
    constexpr int kChars = 512;
    auto* remote = static_cast<char*>(VirtualAllocEx(process, nullptr, 1024 + 2 * kChars, MEM_COMMIT, PAGE_READWRITE));
    auto* remoteText = reinterpret_cast<wchar_t*>(remote + 1024);
    for (int r = -1; remote && r < ListView_GetItemCount(list); ++r) {
        rows.emplace_back();
        for (int c = 0; c < columns; ++c) {
            LVCOLUMNW column = {};
            LVITEMW item = {};
            column.mask = LVCF_TEXT;
            item.iSubItem = c;
            column.pszText = item.pszText = remoteText;
            column.cchTextMax = item.cchTextMax = kChars;
            const LPARAM at = reinterpret_cast<LPARAM>(remote);
            const bool asked = r < 0 ? WriteProcessMemory(process, remote, &column, sizeof column, nullptr) &&
                                           SendMessageW(list, LVM_GETCOLUMNW, c, at)
                                     : WriteProcessMemory(process, remote, &item, sizeof item, nullptr) &&
                                           SendMessageW(list, LVM_GETITEMTEXTW, r, at) >= 0;
            wchar_t text[kChars] = {};
            if (asked) ReadProcessMemory(process, remoteText, text, sizeof text - sizeof(wchar_t), nullptr);
            rows.back().push_back(text);
        }
    }
    if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return rows;
}

// The first row whose columns 0 and 3 are type and the port's text (port number and
// possibly its service name); null when there is none.
inline const std::vector<std::wstring>* FindRow(const std::vector<std::vector<std::wstring>>& rows,
                                                const wchar_t* type, unsigned short port) {
    const std::wstring number = std::to_wstring(port);
    for (const auto& row : rows) {
        if (row.size() > 3 && row[0] == type && (row[3] == number || row[3].rfind(number + L" (", 0) == 0)) return &row;
    }
    return nullptr;
}

}  // namespace conntest
