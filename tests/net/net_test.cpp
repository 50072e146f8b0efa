// Connections without the system: owner matching of driver records, the text forms,
// host-name lookups under one deadline with their cache, and the report line.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "net/connection_rows.h"
#include "tests/net/connection_fakes.h"

namespace {

using namespace netfake;

PortInfoRecord Record(uint32_t pid, uint16_t port, uint32_t address, uint32_t kind = KV_ENDPOINT_ADDRESS,
                      uint32_t device = KV_DEVICE_TCP) {
    return PortInfoRecord{KV_PORT_RECORD_MARKER, pid, port, 0, address, kind, device};
}

TEST(OwnerMatching, RecordsFindTheirRows) {
    constexpr uint32_t kSystem = 8;
    constexpr uint32_t A = 0x0100007F, B = 0x0200000A;
    constexpr uint16_t P = 0x5000, Q = 0x1500;
    const struct {
        const char* name;
        std::vector<TcpOwnerRow> rows;       // state, address, port, remote, remote port, owner
        std::vector<PortInfoRecord> records;
        std::vector<uint32_t> owners;
    } cases[] = {
        {"listening and established on one endpoint", {{5, A, P, B, Q, 0}, {2, A, P, 0, 0, 0}},
         {Record(10, P, A), Record(11, P, A, KV_ENDPOINT_CONNECTION)}, {11, 10}},
        {"time-wait takes any kind", {{11, A, P, B, Q, 0}}, {Record(12, P, A)}, {12}},
        {"only one row per record", {{11, A, P, B, Q, 0}, {11, A, P, B, Q, 0}}, {Record(12, P, A, KV_ENDPOINT_CONNECTION)}, {12, 0}},
        {"system owner taken over, another owner kept", {{2, A, P, 0, 0, kSystem}, {2, B, P, 0, 0, 30}},
         {Record(13, P, A), Record(14, P, B)}, {13, 30}},
        {"UDP record gives unowned TCP rows to the system", {{2, A, P, 0, 0, 0}, {5, A, P, B, Q, 0}, {5, A, P, B, Q, 40}},
         {Record(15, P, A, KV_ENDPOINT_ADDRESS, KV_DEVICE_UDP)}, {kSystem, kSystem, 40}},
        {"other address, port, kind or device: no match", {{2, A, P, 0, 0, 0}},
         {Record(16, P, B), Record(17, Q, A), Record(18, P, A, KV_ENDPOINT_CONNECTION),
          Record(19, P, A, KV_ENDPOINT_ADDRESS, KV_DEVICE_IP)}, {0}},
        {"port bits above 16 are not compared", {{2, A, 0xABCD0000u | P, 0, 0, 0}}, {Record(20, P, A)}, {20}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TableBlock table = TcpTable(c.rows);
        for (const PortInfoRecord& r : c.records) GiveTcpOwner(table.Tcp(), r, kSystem);
        for (size_t i = 0; i < c.owners.size(); ++i) EXPECT_EQ(table.Tcp()->rows[i].owner, c.owners[i]) << "row " << i;
    }

    TableBlock udp = UdpTable({{A, P, 0}, {A, P, 0}, {B, 0xFFFF0000u | P, kSystem}, {A, Q, 50}});
    const uint32_t kUdp = KV_DEVICE_UDP;
    for (const PortInfoRecord& r : {Record(21, P, A, KV_ENDPOINT_ADDRESS, kUdp), Record(22, P, B, KV_ENDPOINT_ADDRESS, kUdp),
                                    Record(23, Q, A, KV_ENDPOINT_ADDRESS, kUdp), Record(24, P, A)}) {
        GiveUdpOwner(udp.Udp(), r, kSystem);
    }
    const uint32_t udpOwners[] = {21, 0, 22, 50};
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(udp.Udp()->rows[i].owner, udpOwners[i]) << "UDP row " << i;

    // The system's process ID: the process named "System" in any case, else 2.
    ProcessTable none({{4, "Idle"}}), processes({{0, "Idle"}, {8, "system"}, {12, "System"}});
    EXPECT_EQ(SystemProcessId(none.table), 2u);
    EXPECT_EQ(SystemProcessId(processes.table), 8u);
    EXPECT_EQ(OwnerTableBytes(0xFFFFFFFFu, SIZE_MAX / 2), 0u);
}

TEST(ConnectionFormat, TextsOfAddressesPortsAndStates) {
    NameService service;
    ConnectionNames names(service.ops, "myhost");
    char text[kHostTextSize];
    const std::string kPort80 = "80 (" + LongServiceName().substr(0, kServiceNameSize - 1) + ")";
    const auto v6 = [&text](Ipv6Bytes address, uint32_t state) {
        return FormatAddress(Ipv6Address(address.bytes), state, text, sizeof text);
    };
    // IPv4 addresses, the listening rows' "*" and the loopback's host name are checked
    // in korvane.exe's end-to-end run. Braced initialisers run in order, so each text is
    // copied before the next call.
    const struct { std::string got; const char* want; } cases[] = {
        // IPv6: the first longest run of two or more zero groups as "::", dotted only
        // when IPv4-mapped.
        {v6({0, 0, 0, 0, 0, 0, 0, 0}, 5), "::"},
        {v6({0, 0, 0, 0, 0, 0, 0, 1}, 5), "::1"},
        {v6({0x2001, 0xDB8, 0, 0, 1, 0, 0, 1}, 11), "2001:db8::1:0:0:1"},
        {v6({0x2001, 0, 0, 1, 0, 0, 0, 1}, 5), "2001:0:0:1::1"},
        {v6({0x2001, 0xDB8, 0, 1, 1, 1, 1, 0}, 5), "2001:db8:0:1:1:1:1:0"},
        {v6({0, 0, 0, 0, 0, 0xFFFF, 0xC000, 0x0201}, 5), "::ffff:192.0.2.1"},
        {v6({0, 0, 0, 0, 0, 0, 0xC000, 0x0201}, 5), "::c000:201"},
        {v6({0x2001, 0xDB8, 0, 0, 0, 0, 0, 1}, 2), "*"},
        {FormatTcpState(12, text, sizeof text), "DELETE_TCB"},
        {FormatTcpState(0, text, sizeof text), "*"},
        {FormatTcpState(13, text, sizeof text), "*"},
        {names.FormatPort(0xFFFF1900u, 5, text, sizeof text), "25 (smtp)"},
        {names.FormatPort(0xD204, 1, text, sizeof text), "1234"},
        {names.FormatPort(0x5000, 5, text, sizeof text), kPort80.c_str()},
        {names.FormatPort(0x1900, 5, text, sizeof text), "25 (smtp)"},
        {names.FormatHostName(0, 5, text, sizeof text), "myhost"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
    // Service names are asked once per port; cut texts stay terminated.
    EXPECT_EQ(service.serviceCalls, 3);
    EXPECT_STREQ(FormatTcpState(5, text, 4), "EST");
    EXPECT_STREQ(names.FormatPort(0x1900, 5, text, 5), "25 (");
    EXPECT_STREQ(FormatAddress(0x0101A8C0, 5, text, 6), "192.1");
    EXPECT_STREQ(FormatAddress(Ipv6Address(Ipv6Bytes{0x2001, 0xDB8, 0, 0, 0, 0, 0, 1}.bytes), 5, text, 8), "2001:db");
}

TEST(ConnectionNames, LooksEachDistinctAddressUpOnceAndKeepsTheAnswers) {
    NameService service;
    service.hosts = {{0x0A00000A, "ten.example"}, {0x0B00000B, std::string(300, 'h')}};
    ConnectionNames names(service.ops, "myhost", 5000, 3);
    const NetAddress list[] = {Ipv4Address(0x0A00000A), Ipv4Address(0x0B00000B), Ipv4Address(0x0A00000A),
                               Ipv4Address(0x0C00000C), Ipv4Address(0), Ipv4Address(0x0100007F)};
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(names.Resolve(list, 6, nullptr, nullptr), 0u);
        EXPECT_EQ(service.hostCalls.load(), 3);
    }
    char text[kHostTextSize];
    EXPECT_STREQ(names.FormatHostName(0x0A00000A, 5, text, sizeof text), "ten.example");
    EXPECT_EQ(std::string(names.FormatHostName(0x0B00000B, 5, text, sizeof text)), std::string(255, 'h'));
    EXPECT_STREQ(names.FormatHostName(0x0C00000C, 5, text, sizeof text), "*");
    NetAddress v6{};
    v6.family = kFamilyIpv6;
    v6.bytes[15] = 1;
    EXPECT_STREQ(names.FormatHostName(v6, 5, text, sizeof text), "myhost");
    v6.bytes[0] = 0x20;
    EXPECT_EQ(names.Resolve(&v6, 1, nullptr, nullptr), 0u);
    EXPECT_EQ(service.lastFamily.load(), kFamilyIpv6);
}

TEST(ConnectionNames, ThousandSilentAddressesTakeOneDeadline) {
    NameService& silent = SilentNameService();
    constexpr uint32_t kDeadlineMs = 300;
    ConnectionNames names(silent.ops, "myhost", kDeadlineMs, kLookupThreads);
    std::vector<NetAddress> list;
    for (uint32_t i = 1; i <= 1000; ++i) list.push_back(Ipv4Address(0x0A000000u + i));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(names.Resolve(list.data(), list.size(), nullptr, nullptr), 0u);
    const auto waited = std::chrono::steady_clock::now() - start;
    // One deadline for the whole list, not one per address (which would be minutes).
    EXPECT_GE(waited, std::chrono::milliseconds(kDeadlineMs - 1));  // the deadline counts whole milliseconds
    EXPECT_LT(waited, std::chrono::milliseconds(kDeadlineMs * 5));
    EXPECT_LE(silent.hostCalls.load(), static_cast<int>(kLookupThreads));
    char text[kHostTextSize];
    EXPECT_STREQ(names.FormatHostName(list[999], 5, text, sizeof text), "*");

    // A stop request ends the wait at once; the lookups under way are not asked again.
    int asked = 0;
    const auto stopAt = std::chrono::steady_clock::now();
    EXPECT_EQ(names.Resolve(list.data(), list.size(), [](void* n) { return ++*static_cast<int*>(n) > 2; }, &asked), 3u);
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::milliseconds(kDeadlineMs));
    EXPECT_LE(silent.hostCalls.load(), static_cast<int>(kLookupThreads));
}

// Rows of the owner tables to report lines: the owner's application and details, and no
// line for another process. Rows without an owner ("???") and the listening and UDP rows
// are checked in korvane.exe's end-to-end run.
TEST(ConnectionLine, OwnerTableRowsOfEveryKindToLines) {
    NameService service;
    service.hosts = {{0x0B00000B, "remote.example"}};
    ConnectionNames names(service.ops, "myhost");
    Owners owners;
    const Ipv6Bytes loopback{0, 0, 0, 0, 0, 0, 0, 1}, doc{0x2001, 0xDB8, 0, 0, 0, 0, 0, 7};
    Tcp6OwnerRow tcp6 = {{}, 0, 0x1900, {}, 0, 0xD204, 5, 46};
    std::memcpy(tcp6.localAddress, loopback.bytes, 16);
    std::memcpy(tcp6.remoteAddress, doc.bytes, 16);
    Udp6OwnerRow udp6 = {{}, 0, 0x3500, 47};
    std::memcpy(udp6.localAddress, doc.bytes, 16);
    TableBlock tcp = TcpTable({{5, 0x0100007F, 0x1900, 0x0B00000B, 0xD204, 44}, {2, 0, 0x5000, 0, 0, 0}});
    TableBlock tcp6Table = MakeTable(std::vector<Tcp6OwnerRow>{tcp6}), udp6Table = MakeTable(std::vector<Udp6OwnerRow>{udp6});

    // The addresses whose names the rows show (not the remote side of a listening row),
    // looked up before the lines are written, as a report does: a name not looked up
    // yet would start a lookup that outlives this test's name service.
    std::vector<NetAddress> addresses;
    CollectHostAddresses(tcp.block.data(), kConnectionTcp, &addresses);
    CollectHostAddresses(tcp6Table.block.data(), kConnectionTcp6, &addresses);
    CollectHostAddresses(udp6Table.block.data(), kConnectionUdp6, &addresses);
    CollectHostAddresses(nullptr, kConnectionUdp, &addresses);
    ASSERT_EQ(addresses.size(), 6u);
    EXPECT_EQ(names.Resolve(addresses.data(), addresses.size(), nullptr, nullptr), 0u);

    const struct {
        const TableBlock& table;
        ConnectionKind kind;
        uint32_t filter;
        std::string line;  // "": nothing written
    } cases[] = {
        {tcp, kConnectionTcp, 0,
         "2c910901|TCP|myhost|127.0.0.1|25 (smtp)|remote.example|11.0.0.11|1234|ESTABLISHED|C:\\APP44.EXE|"
         "details of C:\\APP44.EXE for 44\r\n"},
        {tcp6Table, kConnectionTcp6, 0,
         "2c910901|TCP6|myhost|::1|25 (smtp)|*|2001:db8::7|1234|ESTABLISHED|C:\\APP46.EXE|details of C:\\APP46.EXE for 46\r\n"},
        {udp6Table, kConnectionUdp6, 47,
         "2c910901|UDP6|*|2001:db8::7|53|*|*|*|*|C:\\APP47.EXE|details of C:\\APP47.EXE for 47\r\n"},
        {tcp, kConnectionTcp, 45, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        MemoryStream out;
        EXPECT_TRUE(WriteConnectionLine(names, owners.ops, nullptr, out.stream, ConnectionRowAt(c.table.block.data(), c.kind, 0), c.filter));
        EXPECT_EQ(out.Text(), c.line);
    }
    EXPECT_FALSE(WriteConnectionLine(names, owners.ops, nullptr, nullptr, ConnectionRowAt(tcp.block.data(), kConnectionTcp, 0), 0));
}

}  // namespace
