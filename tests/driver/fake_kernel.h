// An in-memory kernel for the driver's request core: file objects on transport
// devices, a handle snapshot built from them, address answers, and counts of what the
// core holds (pool blocks, object references, transport references), so a test or a
// fuzz target can check that everything taken is given back.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "driver/kernel/driver_core.h"

namespace fakekernel {

struct Device { uint32_t type = KV_NETWORK_DEVICE_TYPE; };

struct FileObject {
    Device* device = nullptr;
    bool isFile = true;         // false: another kind of object
    bool hasContext = true;     // first context value set
    uintptr_t endpointKind = KV_ENDPOINT_ADDRESS;
    std::vector<uint8_t> answer;  // what the address query answers
    int32_t queryStatus = KV_STATUS_SUCCESS;
    uint32_t claimedBytes = 0;    // bytes the query says it returned; 0: the answer's size
};

// A transport address answer: activity count, address count, one IP address.
inline std::vector<uint8_t> IpAnswer(uint16_t port, uint32_t address, uint16_t length = 14, uint16_t type = 2,
                                     int32_t count = 1) {
    std::vector<uint8_t> a(12 + length, 0);
    std::memcpy(&a[4], &count, 4);
    std::memcpy(&a[8], &length, 2);
    std::memcpy(&a[10], &type, 2);
    if (length >= 6) {
        std::memcpy(&a[12], &port, 2);
        std::memcpy(&a[14], &address, 4);
    }
    return a;
}

struct Kernel {
    Device tcp, udp, ip;
    std::vector<KvHandleEntry> entries;
    int32_t snapshotCountBias = 0;   // added to the count the snapshot reports
    bool transportsOpen[KV_TRANSPORT_COUNT] = {true, true, true};
    int failAllocationAt = -1;       // the n-th allocation (from 0) fails
    int allocations = 0;
    std::set<void*> blocks;          // pool blocks held by the core
    int objectReferences = 0;        // file objects referenced and not released
    int transportReferences = 0;
    std::vector<FileObject*> queried;  // file objects asked for their address, in order
    KvKernelOps ops{};

    static Kernel& K(void* c) { return *static_cast<Kernel*>(c); }

    Kernel() {
        ops.context = this;
        ops.allocate = [](void* c, size_t size) -> void* {
            if (K(c).allocations++ == K(c).failAllocationAt) return nullptr;
            return *K(c).blocks.insert(std::malloc(size)).first;
        };
        ops.release = [](void* c, void* block) {
            if (K(c).blocks.erase(block) != 1) std::abort();  // freed twice or never allocated
            std::free(block);
        };
        ops.queryHandles = [](void* c, void* buffer, uint32_t size, uint32_t* returned) -> int32_t {
            auto* k = static_cast<Kernel*>(c);
            if (!buffer) std::abort();
            const size_t needed = KV_SNAPSHOT_HEADER_SIZE + k->entries.size() * sizeof(KvHandleEntry);
            if (needed > size) return KV_STATUS_INFO_LENGTH_MISMATCH;
            const uint32_t count = static_cast<uint32_t>(k->entries.size()) + static_cast<uint32_t>(k->snapshotCountBias);
            std::memcpy(buffer, &count, 4);
            if (!k->entries.empty()) {
                std::memcpy(static_cast<uint8_t*>(buffer) + KV_SNAPSHOT_HEADER_SIZE, k->entries.data(),
                            needed - KV_SNAPSHOT_HEADER_SIZE);
            }
            *returned = static_cast<uint32_t>(needed);
            return KV_STATUS_SUCCESS;
        };
        ops.openTransport = [](void* c, int which, void** device, void** reference) -> int32_t {
            if (!K(c).transportsOpen[which]) return KV_STATUS_UNSUCCESSFUL;
            Device* devices[] = {&K(c).tcp, &K(c).udp, &K(c).ip};
            *device = *reference = devices[which];
            ++K(c).transportReferences;
            return KV_STATUS_SUCCESS;
        };
        ops.closeTransport = [](void* c, void*) { --K(c).transportReferences; };
        ops.referenceFileObject = [](void* c, void* object) -> int {
            if (!object) std::abort();  // the core must skip null objects
            if (!static_cast<FileObject*>(object)->isFile) return 0;
            ++K(c).objectReferences;
            return 1;
        };
        ops.dereferenceObject = [](void* c, void*) { --K(c).objectReferences; };
        ops.describeFileObject = [](void* c, void* object, KvFileObjectFacts* facts) {
            if (K(c).objectReferences <= 0) std::abort();  // described without a reference
            auto* file = static_cast<FileObject*>(object);
            facts->device = file->device;
            facts->deviceType = file->device ? file->device->type : 0;
            facts->fsContext = file->hasContext ? file : nullptr;
            facts->fsContext2 = file->endpointKind;
        };
        ops.queryAddress = [](void* c, void* device, void* object, void* buffer, uint32_t size,
                              uint32_t* returned) -> int32_t {
            auto* file = static_cast<FileObject*>(object);
            if (device != file->device || K(c).objectReferences <= 0) std::abort();
            K(c).queried.push_back(file);
            const size_t n = file->answer.size() < size ? file->answer.size() : size;
            if (n) std::memcpy(buffer, file->answer.data(), n);
            *returned = file->claimedBytes ? file->claimedBytes : static_cast<uint32_t>(n);
            return file->queryStatus;
        };
        ops.trace = [](void*, const char* text) { (void)std::strlen(text); };  // the text must be terminated
    }

    // A snapshot entry of process pid for object, with the file object type number 28.
    void AddHandle(uint32_t pid, void* object, uint8_t type = 28) {
        KvHandleEntry& e = entries.emplace_back();
        e.processId = pid;
        e.objectType = type;
        e.object = object;
    }

    bool Holds() const { return !blocks.empty() || objectReferences != 0 || transportReferences != 0; }
};

}  // namespace fakekernel
