// The driver's request core on an in-memory kernel shaped by the input: the first
// bytes build the file objects of the handle snapshot with their address answers (raw
// bytes, and a claimed length), the rest is a sequence of requests on two handles with
// buffer sizes. After the last request both handles are cleaned up and the fake kernel
// must hold nothing (it aborts on a double free, a null object or a missing reference).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "tests/driver/fake_kernel.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    uint8_t Byte() {
        if (!size) return 0;
        --size;
        return *data++;
    }
};

const uint32_t kCodes[] = {KV_IOCTL_INIT_PORT_INFO,  KV_IOCTL_READ_PORT_INFO,   KV_IOCTL_DEINIT_PORT_INFO,
                           KV_IOCTL_READ_VERSION,    KV_IOCTL_READ_OPEN_REQUEST, KV_IOCTL_INIT_FILES_SPY,
                           0x22A00C};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    fakekernel::Kernel k;
    fakekernel::Device other{static_cast<uint32_t>(in.Byte() & 0x13)};
    fakekernel::Device* devices[] = {&k.tcp, &k.udp, &k.ip, &other, nullptr};
    std::deque<fakekernel::FileObject> objects;
    const int count = in.Byte() % 12;
    for (int i = 0; i < count; ++i) {
        const uint8_t shape = in.Byte();
        objects.emplace_back();
        fakekernel::FileObject& f = objects.back();
        f.device = devices[shape % 5];
        f.isFile = (shape & 0x08) == 0;
        f.hasContext = (shape & 0x10) == 0;
        f.endpointKind = (shape >> 5) & 3;
        f.queryStatus = (shape & 0x80) ? KV_STATUS_UNSUCCESSFUL : KV_STATUS_SUCCESS;
        const size_t answer = in.Byte() % 40;
        for (size_t b = 0; b < answer; ++b) f.answer.push_back(in.Byte());
        f.claimedBytes = in.Byte() & 0x3F;
        k.AddHandle(in.Byte(), (shape & 0x40) ? nullptr : &f, static_cast<uint8_t>(in.Byte() & 3));
    }
    k.snapshotCountBias = static_cast<int8_t>(in.Byte());
    k.transportsOpen[KV_TRANSPORT_UDP] = (in.Byte() & 1) == 0;
    const uint8_t fail = in.Byte();
    k.failAllocationAt = fail < 16 ? fail : -1;

    KvClientState states[2];
    KvInitClientState(&states[0]);
    KvInitClientState(&states[1]);
    std::vector<uint8_t> buffer;
    while (in.size) {
        const uint8_t op = in.Byte();
        const uint32_t code = kCodes[op % (sizeof kCodes / sizeof kCodes[0])];
        const uint32_t length = in.Byte() % 40;
        KvClientState* state = (op & 0x80) ? nullptr : &states[(op >> 6) & 1];
        buffer.assign(length, 0xCD);
        uint32_t information = 0;
        KvDispatchControl(&k.ops, state, code, length ? buffer.data() : nullptr, length, length, &information);
        if (information > length) std::abort();
        if (k.objectReferences != 0) std::abort();
    }
    KvReleaseClientState(&k.ops, &states[0]);
    KvReleaseClientState(&k.ops, &states[1]);
    if (k.Holds()) std::abort();
    return 0;
}
