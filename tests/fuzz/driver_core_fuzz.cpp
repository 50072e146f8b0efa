// The driver's request core on an in-memory kernel shaped by the input: the first
// bytes build the file objects of the handle snapshot with their address answers (raw
// bytes, and a claimed length), the rest is a sequence of requests on two handles with
// buffer sizes, in any order. After the last request both handles are cleaned up and the
// fake kernel must hold nothing (it aborts on a double free, a null object or a missing
// reference).
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <vector>

#include "tests/driver/fake_kernel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* const end = data + size;
    auto next = [&]() -> uint8_t { return data < end ? *data++ : 0; };
    fakekernel::Kernel k;
    fakekernel::Device other{static_cast<uint32_t>(next() & 0x13)};
    fakekernel::Device* devices[] = {&k.tcp, &k.udp, &k.ip, &other, nullptr};
    std::deque<fakekernel::FileObject> objects;
    for (int i = 0, count = next() % 12; i < count; ++i) {
        const uint8_t shape = next();
        fakekernel::FileObject& f = objects.emplace_back();
        f.device = devices[shape % 5];
        f.isFile = (shape & 0x08) == 0;
        f.hasContext = (shape & 0x10) == 0;
        f.endpointKind = (shape >> 5) & 3;
        f.queryStatus = (shape & 0x80) ? KV_STATUS_UNSUCCESSFUL : KV_STATUS_SUCCESS;
        for (size_t b = 0, n = next() % 40; b < n; ++b) f.answer.push_back(next());
        f.claimedBytes = next() & 0x3F;
        const uint8_t pid = next();
        k.AddHandle(pid, (shape & 0x40) ? nullptr : &f, static_cast<uint8_t>(next() & 3));
    }
    k.snapshotCountBias = static_cast<int8_t>(next());
    k.transportsOpen[KV_TRANSPORT_UDP] = (next() & 1) == 0;
    const uint8_t fail = next();
    k.failAllocationAt = fail < 16 ? fail : -1;

    const uint32_t codes[] = {KV_IOCTL_INIT_PORT_INFO, KV_IOCTL_READ_PORT_INFO, KV_IOCTL_DEINIT_PORT_INFO,
                              KV_IOCTL_READ_VERSION, KV_IOCTL_READ_OPEN_REQUEST, KV_IOCTL_INIT_FILES_SPY, 0x22A00C};
    KvClientState states[2];
    KvInitClientState(&states[0]);
    KvInitClientState(&states[1]);
    while (data < end) {
        const uint8_t op = next();
        const uint32_t length = next() % 40;
        std::vector<uint8_t> buffer(length, 0xCD);  // exactly sized: a write past it is caught
        uint32_t information = 0;
        KvDispatchControl(&k.ops, (op & 0x80) ? nullptr : &states[(op >> 6) & 1], codes[op % 7],
                          length ? buffer.data() : nullptr, length, length, &information);
        // Nothing written past the buffer, no reference kept, at most one snapshot per handle.
        if (information > length || k.objectReferences != 0 || k.blocks.size() > 2) std::abort();
    }
    KvReleaseClientState(&k.ops, &states[0]);
    KvReleaseClientState(&k.ops, &states[1]);
    if (k.Holds()) std::abort();
    return 0;
}
