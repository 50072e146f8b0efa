#include "net/win/connection_names_win.h"

#include <winsock2.h>

namespace {

bool HostByAddress(void*, const NetAddress& address, char* out, size_t size) {
    const bool v6 = address.family == kFamilyIpv6;
    const hostent* host = gethostbyaddr(reinterpret_cast<const char*>(address.bytes), v6 ? 16 : 4, v6 ? AF_INET6 : AF_INET);
    if (!host || !host->h_name) return false;
    CopyText(out, size, host->h_name);
    return true;
}

bool ServiceByPort(void*, uint16_t port, char* out, size_t size) {
    const servent* service = getservbyport(port, "tcp");
    if (!service || !service->s_name) return false;
    CopyText(out, size, service->s_name);
    return true;
}

// Windows Sockets for the lookups; the program starts it too, which only counts up.
bool StartSockets() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

}  // namespace

const NameServiceOps& SystemNameServiceOps() {
    static const bool started = StartSockets();
    (void)started;
    static const NameServiceOps ops = {nullptr, HostByAddress, ServiceByPort};
    return ops;
}

ConnectionNames& SystemConnectionNames() {
    static ConnectionNames* names = [] {
        const NameServiceOps& ops = SystemNameServiceOps();
        char host[kHostTextSize] = "";
        if (gethostname(host, sizeof host) != 0) host[0] = '\0';
        host[sizeof host - 1] = '\0';
        // Never destroyed: lookup threads may still wait for an answer at exit.
        return new ConnectionNames(ops, host);
    }();
    return *names;
}
