// The text forms of a connection: host name, address, port with its service name and
// TCP state. Host and service names come from a name service through NameServiceOps
// (the system's in net/win/, an in-memory one in the tests); ConnectionNames looks the
// host names of a whole listing up at once, on a few threads under one deadline, and
// keeps every answer for the rest of the run.
//
// Addresses and ports are taken exactly as the connection tables deliver them:
// network byte order, the port in the low 16 bits. The state also chooses the form:
// a listening state (2) gives "*" for host, address and port; callers pass the
// established state (5) for a field that must always be shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// An address of either family: IPv4 uses the first 4 bytes, IPv6 all 16.
struct NetAddress {
    uint16_t family;
    uint8_t bytes[16];
};
constexpr uint16_t kFamilyIpv4 = 2;   // AF_INET
constexpr uint16_t kFamilyIpv6 = 23;  // AF_INET6 on Windows

// An IPv4 address from a table field (network byte order); an IPv6 address from its
// 16 bytes.
NetAddress Ipv4Address(uint32_t networkOrder);
NetAddress Ipv6Address(const uint8_t* bytes);
bool operator<(const NetAddress& a, const NetAddress& b);

// Buffer sizes that hold every text of their kind with its terminating zero.
constexpr size_t kHostTextSize = 256;    // a host name of up to 255 bytes
constexpr size_t kAddressTextSize = 46;  // the longest IPv6 form
constexpr size_t kServiceNameSize = 64;
constexpr size_t kPortTextSize = 5 + 2 + kServiceNameSize + 1;  // "65535 (" name ")"
constexpr size_t kStateTextSize = 12;

// The text of a failed lookup, an unknown state and every field of a listening end.
constexpr char kUnknownText[] = "*";

// Copies text into out (size bytes), cut to size - 1 bytes; nothing when size is 0.
void CopyText(char* out, size_t size, const char* text);

// "*" for the listening state, else the four octets in dotted decimal. Returns out.
char* FormatAddress(uint32_t address, uint32_t state, char* out, size_t size);
// The same for either family: an IPv6 address in its compressed form (lower-case
// groups without leading zeros, the first longest run of two or more zero groups as
// "::", the IPv4-mapped addresses as ::ffff: and dotted decimal). Returns out.
char* FormatAddress(const NetAddress& address, uint32_t state, char* out, size_t size);
// The TCP state's name ("ESTABLISHED", ...), "*" outside 1-12. Returns out.
char* FormatTcpState(uint32_t state, char* out, size_t size);

struct NameServiceOps {
    void* context;
    // The official host name of address, copied into out (size bytes, cut and zero-
    // terminated); true when the name service answered with a name. May block for long;
    // called on lookup threads, several at once.
    bool (*hostByAddress)(void* context, const NetAddress& address, char* out, size_t size);
    // The official name of the service on port (network byte order) for protocol
    // "tcp", copied as above; true when the services database knows it.
    bool (*serviceByPort)(void* context, uint16_t port, char* out, size_t size);
};

// How long one listing waits for its host names, and on how many threads at most.
constexpr uint32_t kLookupDeadlineMs = 2000;
constexpr unsigned kLookupThreads = 8;

class ConnectionNames {
public:
    // localHostName: the text of the any-address and the loopback address.
    ConnectionNames(const NameServiceOps& ops, const char* localHostName, uint32_t deadlineMs = kLookupDeadlineMs,
                    unsigned maxThreads = kLookupThreads);
    ~ConnectionNames();
    ConnectionNames(const ConnectionNames&) = delete;
    ConnectionNames& operator=(const ConnectionNames&) = delete;

    // Starts the lookup of every distinct address of the list that has no answer and
    // no lookup running yet, and waits until every address of the list has its answer,
    // the deadline has passed or stopRequested (may be null; asked every few ms while
    // waiting) returns true. Lookups that are still running go on, and their answers
    // serve later listings. 0, or 3 when stopped.
    uint32_t Resolve(const NetAddress* addresses, size_t count, bool (*stopRequested)(void*), void* stopContext);
    // Resolve in two halves, so a listing can show its rows while the names come: the
    // first starts the lookups and returns the listing's deadline (in steady-clock
    // milliseconds), the second waits for the answers until that deadline.
    uint64_t StartResolve(const NetAddress* addresses, size_t count);
    uint32_t WaitForAnswers(const NetAddress* addresses, size_t count, uint64_t deadline, bool (*stopRequested)(void*),
                            void* stopContext);

    // True when the address is shown without a lookup (the any and loopback addresses).
    static bool IsLocal(const NetAddress& address);

    // "*" for the listening state; the local host name for the any and the loopback
    // address; else the name Resolve found, and "*" when it found none (yet). Never
    // blocks: an address no Resolve asked for starts its lookup for later listings.
    char* FormatHostName(uint32_t address, uint32_t state, char* out, size_t size);
    char* FormatHostName(const NetAddress& address, uint32_t state, char* out, size_t size);
    // "*" for the listening state, else the port number in decimal followed by
    // " (name)" when the services database knows it; answers are kept for the run.
    char* FormatPort(uint32_t port, uint32_t state, char* out, size_t size);

private:
    struct Shared;
    void StartLookups(const NetAddress* addresses, size_t count);
    std::shared_ptr<Shared> shared_;
    std::string localHostName_;
    uint32_t deadlineMs_;
    unsigned maxThreads_;
};
