// The driver's request core on an in-memory kernel, and the program's side of the
// protocol (the collection loop and the version comparison).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/driver_requests.h"
#include "tests/driver/fake_kernel.h"

namespace {

using fakekernel::FileObject;
using fakekernel::IpAnswer;

struct Reply { int32_t status; uint32_t bytes; PortInfoRecord record; };

// A listening TCP socket of process 100, a UDP socket of 200 and a TCP connection of 300,
// among entries a read must pass over (no object, not a file, the control channel, no
// first context value, another device); and one client handle.
struct Machine {
    fakekernel::Kernel k;
    FileObject tcpListen, udp, tcpConnection, control, other, noContext, otherDevice;
    fakekernel::Device disk{7};
    KvClientState state;

    Machine() {
        tcpListen.device = tcpConnection.device = control.device = &k.tcp;
        udp.device = noContext.device = &k.udp;
        otherDevice.device = &disk;
        tcpListen.answer = IpAnswer(0x5000, 0x0100007F);
        udp.answer = IpAnswer(0x3500, 0);
        tcpConnection.answer = IpAnswer(0x1234, 0x0A00000A);
        tcpConnection.endpointKind = KV_ENDPOINT_CONNECTION;
        control.endpointKind = KV_ENDPOINT_CONTROL;
        other.isFile = false;
        noContext.hasContext = false;
        k.AddHandle(4, nullptr), k.AddHandle(100, &tcpListen), k.AddHandle(5, &other, 5), k.AddHandle(6, &control);
        k.AddHandle(7, &noContext), k.AddHandle(8, &otherDevice), k.AddHandle(200, &udp), k.AddHandle(300, &tcpConnection);
        KvInitClientState(&state);
    }
    // One request with a buffer of size bytes (at least a record's worth is allocated).
    Reply Send(uint32_t code, uint32_t size = 24) {
        std::vector<uint8_t> buffer(size > 64 ? size : 64, 0xAB);
        Reply r{};
        r.status = KvDispatchControl(&k.ops, &state, code, buffer.data(), size, size, &r.bytes);
        std::memcpy(&r.record, buffer.data(), sizeof r.record);
        return r;
    }
    uint32_t NextId() { return Send(KV_IOCTL_READ_PORT_INFO).record.processId; }
    // Cleans the handle up: true when the kernel then holds nothing.
    bool ReleasesAll() {
        KvReleaseClientState(&k.ops, &state);
        return !k.Holds();
    }
};

TEST(DriverCore, RequestsCheckTheirBufferLengths) {
    Machine m;
    ASSERT_EQ(m.Send(KV_IOCTL_INIT_PORT_INFO, 0).status, KV_STATUS_SUCCESS);
    const struct { uint32_t code, size; int32_t status; uint32_t bytes; } cases[] = {
        {KV_IOCTL_READ_VERSION, 4, KV_STATUS_BUFFER_TOO_SMALL, 0}, {KV_IOCTL_READ_VERSION, 5, KV_STATUS_SUCCESS, 5},
        {KV_IOCTL_READ_PORT_INFO, 23, KV_STATUS_INFO_LENGTH_MISMATCH, 0}, {KV_IOCTL_READ_PORT_INFO, 24, KV_STATUS_SUCCESS, 24},
        {KV_IOCTL_READ_OPEN_REQUEST, 0, KV_STATUS_SUCCESS, 0}, {0x226004, 24, KV_STATUS_INVALID_PARAMETER, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.code << " size " << std::dec << c.size);
        const Reply r = m.Send(c.code, c.size);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.bytes, c.bytes);
        EXPECT_TRUE(c.code != KV_IOCTL_READ_VERSION || !c.bytes || std::memcmp(&r.record, "1.00", 5) == 0);
    }
    EXPECT_TRUE(m.ReleasesAll());
}

TEST(DriverCore, ReadsOneRecordPerQualifyingHandleThenZero) {
    Machine m;
    ASSERT_EQ(m.Send(KV_IOCTL_INIT_PORT_INFO).status, KV_STATUS_SUCCESS);
    const PortInfoRecord expected[] = {
        {KV_PORT_RECORD_MARKER, 100, 0x5000, 0, 0x0100007F, KV_ENDPOINT_ADDRESS, KV_DEVICE_TCP},
        {KV_PORT_RECORD_MARKER, 200, 0x3500, 0, 0, KV_ENDPOINT_ADDRESS, KV_DEVICE_UDP},
        {KV_PORT_RECORD_MARKER, 300, 0x1234, 0, 0x0A00000A, KV_ENDPOINT_CONNECTION, KV_DEVICE_TCP},
        {}, {},
    };
    for (const PortInfoRecord& e : expected) {
        const Reply r = m.Send(KV_IOCTL_READ_PORT_INFO);
        EXPECT_EQ(r.status, KV_STATUS_SUCCESS);
        EXPECT_EQ(std::memcmp(&r.record, &e, sizeof e), 0) << "process " << r.record.processId;
        EXPECT_EQ(m.k.objectReferences, 0);
    }
    // The control channel and the non-network device are never asked.
    EXPECT_EQ(m.k.queried, (std::vector<FileObject*>{&m.tcpListen, &m.udp, &m.tcpConnection}));
    EXPECT_EQ(m.Send(KV_IOCTL_DEINIT_PORT_INFO).status, KV_STATUS_SUCCESS);
    EXPECT_FALSE(m.k.Holds());
}

// Every sequence of up to four init, read and de-init requests on one handle: a read
// answers from a snapshot exactly when the last init came after the last de-init, and
// nothing is held once the handle is cleaned up.
TEST(DriverCore, InitReadDeinitInEveryOrder) {
    const uint32_t codes[] = {KV_IOCTL_INIT_PORT_INFO, KV_IOCTL_READ_PORT_INFO, KV_IOCTL_DEINIT_PORT_INFO};
    for (int n = 1, total = 3; n <= 4; ++n, total *= 3) {
        for (int sequence = 0; sequence < total; ++sequence) {
            Machine m;
            bool held = false;
            std::string trace;
            for (int i = 0, s = sequence; i < n; ++i, s /= 3) {
                const uint32_t code = codes[s % 3];
                trace += "IRD"[s % 3];
                const int32_t status = m.Send(code).status;
                if (code == KV_IOCTL_READ_PORT_INFO) {
                    EXPECT_EQ(status, held ? KV_STATUS_SUCCESS : KV_STATUS_MEMORY_NOT_ALLOCATED) << trace;
                } else {
                    EXPECT_EQ(status, KV_STATUS_SUCCESS) << trace;
                    held = code == KV_IOCTL_INIT_PORT_INFO;
                }
                EXPECT_EQ(m.k.blocks.size(), held ? 1u : 0u) << trace;
            }
            EXPECT_TRUE(m.ReleasesAll()) << trace;
        }
    }
}

TEST(DriverCore, SnapshotsAreTakenWholeOrNotAtAll) {
    const struct { const char* name; void (*prepare)(Machine& m); } failures[] = {
        // As under Wine: every object pointer of the snapshot is null.
        {"null objects", [](Machine& m) { for (auto& e : m.k.entries) e.object = nullptr; }},
        {"no IP device", [](Machine& m) { m.k.transportsOpen[KV_TRANSPORT_IP] = false; }},
        {"no pool for the larger snapshot", [](Machine& m) {
             for (int i = 0; i < 100; ++i) m.k.AddHandle(9, nullptr);
             m.k.failAllocationAt = 1;
         }},
    };
    for (const auto& c : failures) {
        SCOPED_TRACE(c.name);
        Machine m;
        c.prepare(m);
        EXPECT_EQ(m.Send(KV_IOCTL_INIT_PORT_INFO).status, KV_STATUS_UNSUCCESSFUL);
        EXPECT_FALSE(m.k.Holds());
        EXPECT_EQ(m.Send(KV_IOCTL_READ_PORT_INFO).status, KV_STATUS_MEMORY_NOT_ALLOCATED);
    }
    // A snapshot beyond the first block is asked for again, larger; a count beyond the
    // block is cut to the entries the block holds.
    Machine m;
    for (int i = 0; i < 200; ++i) m.k.AddHandle(9, nullptr);
    FileObject late;
    late.device = &m.k.udp;
    late.answer = IpAnswer(0x0100, 0x01020304);
    m.k.AddHandle(400, &late);
    m.k.snapshotCountBias = 1000000;
    ASSERT_EQ(m.Send(KV_IOCTL_INIT_PORT_INFO).status, KV_STATUS_SUCCESS);
    uint32_t last = 0;
    for (uint32_t id; (id = m.NextId()) != 0;) last = id;
    EXPECT_EQ(last, 400u);
    EXPECT_TRUE(m.ReleasesAll());
}

TEST(DriverCore, AddressAnswersAreReadWithinTheirBounds) {
    const struct { const char* name; std::vector<uint8_t> answer; uint32_t size; bool ok; } cases[] = {
        // size 0: the answer's own size
        {"short IP address", IpAnswer(0x1500, 0x04030201, 6), 0, true},
        {"no address", IpAnswer(0x1500, 0x04030201, 14, 2, 0), 0, false},
        {"negative count", IpAnswer(0x1500, 0x04030201, 14, 2, -1), 0, false},
        {"not IP", IpAnswer(0x1500, 0x04030201, 14, 17), 0, false},
        {"length too small", IpAnswer(0x1500, 0x04030201, 5), 0, false},
        {"length one byte beyond the answer", IpAnswer(0x1500, 0x04030201, 14), 25, false},
        {"header only", IpAnswer(0x1500, 0x04030201, 14), 11, false},
    };
    for (const auto& c : cases) {
        uint16_t port = 0;
        uint32_t address = 0;
        const uint32_t size = c.size ? c.size : static_cast<uint32_t>(c.answer.size());
        EXPECT_EQ(KvParseAddressAnswer(c.answer.data(), size, &port, &address) != 0, c.ok) << c.name;
        EXPECT_TRUE(!c.ok || (port == 0x1500 && address == 0x04030201u)) << c.name;
    }
    // Through a read: an answer that claims more bytes than the buffer, and one whose
    // address length runs past what it returned, are both passed over.
    Machine m;
    m.tcpListen.answer = IpAnswer(0x5000, 0x0100007F, 300);
    m.udp.answer = IpAnswer(0x3500, 0, 200);
    m.udp.claimedBytes = 30;
    ASSERT_EQ(m.Send(KV_IOCTL_INIT_PORT_INFO).status, KV_STATUS_SUCCESS);
    EXPECT_EQ(m.NextId(), 300u);
    EXPECT_TRUE(m.ReleasesAll());
}

TEST(DriverCore, DeviceDescriptorAdmitsOnlySystemAndAdministrators) {
    uint8_t sd[KV_DEVICE_SECURITY_SIZE + 8];
    EXPECT_EQ(KvBuildDeviceSecurity(sd, KV_DEVICE_SECURITY_SIZE - 1), 0u);
    ASSERT_EQ(KvBuildDeviceSecurity(sd, sizeof sd), KV_DEVICE_SECURITY_SIZE);
    const std::vector<uint8_t> expected = {
        1, 0, 4, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0,          // self-relative, DACL only, at 20
        2, 0, 52, 0, 2, 0, 0, 0,                                                  // ACL: 52 bytes, two entries
        0, 0, 20, 0, 0xFF, 1, 0x1F, 0, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0,       // all file access: S-1-5-18
        0, 0, 24, 0, 0xFF, 1, 0x1F, 0, 1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 32, 2, 0, 0};  // S-1-5-32-544
    EXPECT_EQ(std::vector<uint8_t>(sd, sd + KV_DEVICE_SECURITY_SIZE), expected);
}

// The program's side, on a scripted device: read answers in order, past the end a read fails.
struct ScriptedDevice {
    std::vector<uint32_t> sent;
    bool beginFails = false;
    std::vector<PortInfoRecord> records;
    size_t next = 0;
    DriverRequestOps ops{this, [](void* c, uint32_t code, void* buffer, uint32_t size) {
                             auto* d = static_cast<ScriptedDevice*>(c);
                             d->sent.push_back(code);
                             if (size != sizeof(PortInfoRecord)) return false;
                             if (code == KV_IOCTL_INIT_PORT_INFO) return !d->beginFails;
                             if (code != KV_IOCTL_READ_PORT_INFO) return true;
                             if (d->next >= d->records.size()) return false;
                             std::memcpy(buffer, &d->records[d->next++], size);
                             return true;
                         }};
};

TEST(DriverRequests, CollectionReadsUntilTheMarkerEndsAndAlwaysEnds) {
    const PortInfoRecord a{KV_PORT_RECORD_MARKER, 1, 0, 0, 0, 1, 1}, b{KV_PORT_RECORD_MARKER, 2, 0, 0, 0, 1, 2};
    const PortInfoRecord zero{}, odd{260, 3, 0, 0, 0, 1, 1};
    const struct { const char* name; bool beginFails; std::vector<PortInfoRecord> records; int result;
                   std::vector<uint32_t> ids; } cases[] = {
        {"exhausted snapshot", false, {a, b, zero, a}, 2, {1, 2}}, {"other marker", false, {a, odd, b}, 1, {1}},
        {"failing read", false, {a}, 1, {1}}, {"begin fails", true, {a}, -1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDevice d;
        d.beginFails = c.beginFails;
        d.records = c.records;
        std::vector<uint32_t> ids;
        auto collect = [](void* ids, const PortInfoRecord& r) { static_cast<std::vector<uint32_t>*>(ids)->push_back(r.processId); };
        EXPECT_EQ(CollectPortRecords(d.ops, collect, &ids), c.result);
        EXPECT_EQ(ids, c.ids);
        ASSERT_FALSE(d.sent.empty());
        EXPECT_EQ(d.sent.front(), KV_IOCTL_INIT_PORT_INFO);
        EXPECT_EQ(d.sent.back() == KV_IOCTL_DEINIT_PORT_INFO, !c.beginFails);
    }
}

TEST(DriverRequests, OlderVersionsSortBeforeOurs) {
    const struct { const char* answer; size_t size; bool older; } cases[] = {
        {"1.00", 10, false}, {"1.01", 10, false}, {"0.90", 10, true},  {"1.0", 10, true},
        {"         ", 10, true}, {"1.00", 4, false}, {"1.00", 3, true}, {"\xff", 10, false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsOlderDriverVersion(c.answer, c.size), c.older) << '"' << c.answer << "\" in " << c.size;
}

}  // namespace
