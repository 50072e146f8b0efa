// Builders and fakes for the connection tests and benchmarks: owner tables in memory,
// a process table, a name service that answers from maps (or never), the owner
// operations of a report line and a stream read back as text.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "inspect/file_info.h"
#include "inspect/hash_table.h"
#include "net/connection_format.h"
#include "net/connection_tables.h"

namespace netfake {

// An owner table in a block of its own.
struct TableBlock {
    std::vector<uint8_t> block;
    TcpOwnerTable* Tcp() { return reinterpret_cast<TcpOwnerTable*>(block.data()); }
    UdpOwnerTable* Udp() { return reinterpret_cast<UdpOwnerTable*>(block.data()); }
};

template <typename Row>
TableBlock MakeTable(const std::vector<Row>& rows) {
    const uint32_t count = static_cast<uint32_t>(rows.size());
    TableBlock t;
    t.block.assign(OwnerTableBytes(count, sizeof(Row)), 0);
    std::memcpy(t.block.data(), &count, 4);
    if (!rows.empty()) std::memcpy(t.block.data() + 4, rows.data(), rows.size() * sizeof(Row));
    return t;
}
inline TableBlock TcpTable(const std::vector<TcpOwnerRow>& rows) { return MakeTable(rows); }
inline TableBlock UdpTable(const std::vector<UdpOwnerRow>& rows) { return MakeTable(rows); }

// An IPv6 address from its eight groups, as the tables store it (network byte order).
struct Ipv6Bytes {
    uint8_t bytes[16];
    Ipv6Bytes(std::initializer_list<uint16_t> groups) : bytes{} {
        uint8_t* at = bytes;
        for (uint16_t g : groups) {
            *at++ = static_cast<uint8_t>(g >> 8);
            *at++ = static_cast<uint8_t>(g);
        }
    }
};

// A process table: 4-byte process ID keys, name values, released at the end.
struct ProcessTable {
    HashTable* table;
    explicit ProcessTable(const std::vector<std::pair<uint32_t, const char*>>& processes) {
        InstallApplicationTableHooks();
        table = CreateTable(8, 1);
        for (const auto& p : processes) InsertEntry(table, NewUInt32Key(p.first), 4, NewText(p.second));
    }
    ~ProcessTable() { DestroyTable(table, 1); }
};

// A service name longer than the port text holds.
inline const std::string& LongServiceName() {
    static const std::string name(100, 's');
    return name;
}

// Answers host names from a map (by IPv4 address in table order) and services for
// ports 25 ("smtp") and 80 (LongServiceName()); counts the questions.
struct NameService {
    std::map<uint32_t, std::string> hosts;
    std::atomic<int> hostCalls{0};
    std::atomic<uint16_t> lastFamily{0};
    int serviceCalls = 0;
    bool silent = false;  // never answers a host lookup
    std::mutex mutex;
    std::condition_variable never;
    NameServiceOps ops{this, Host, Service};

    static bool Host(void* c, const NetAddress& a, char* out, size_t size) {
        auto* s = static_cast<NameService*>(c);
        ++s->hostCalls;
        s->lastFamily = a.family;
        if (s->silent) {
            std::unique_lock<std::mutex> lock(s->mutex);
            s->never.wait(lock, [] { return false; });
        }
        uint32_t key = 0;
        std::memcpy(&key, a.bytes, 4);
        const auto found = s->hosts.find(key);
        if (a.family != kFamilyIpv4 || found == s->hosts.end()) return false;
        CopyText(out, size, found->second.c_str());
        return true;
    }
    static bool Service(void* c, uint16_t port, char* out, size_t size) {
        auto* s = static_cast<NameService*>(c);
        ++s->serviceCalls;
        if (port == 0x1900) CopyText(out, size, "smtp");
        if (port == 0x5000) CopyText(out, size, LongServiceName().c_str());
        return port == 0x1900 || port == 0x5000;
    }
};

// A name service whose host lookups never answer. It lives for the whole program, as
// the lookup threads that wait in it do.
inline NameService& SilentNameService() {
    static NameService* service = [] {
        auto* s = new NameService;
        s->silent = true;
        return s;
    }();
    return *service;
}

// Report-line owner operations: "C:\APP<id>.EXE" and "details of <path> for <id>".
struct Owners {
    static char* ImagePath(void*, const HashTable*, uint32_t id) {
        const std::string path = "C:\\APP" + std::to_string(id) + ".EXE";
        return NewText(path.c_str());
    }
    static char* Details(void*, const char* path, IdList* ids) {
        const std::string text = std::string("details of ") + path + " for " + std::to_string(IdListNumber(ids, 0));
        FreeIdList(ids);
        return NewText(text.c_str());
    }
    ConnectionOwnerOps ops{nullptr, ImagePath, Details};
};

// A stream in memory whose bytes can be read back.
struct MemoryStream {
    char* data = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&data, &size);
    ~MemoryStream() {
        if (stream) std::fclose(stream);
        std::free(data);
    }
    std::string Text() const { return stream && std::fflush(stream) == 0 ? std::string(data, size) : ""; }
};

}  // namespace netfake
