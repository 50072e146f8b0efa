#include "driver/kernel/driver_core.h"

#include <string.h>

static void Trace(const KvKernelOps* ops, const char* text) {
    if (ops->trace) ops->trace(ops->context, text);
}

/* "text" followed by the status in hexadecimal, bounded. */
static void TraceStatus(const KvKernelOps* ops, const char* text, int32_t status) {
    char line[96];
    size_t n = 0;
    uint32_t value = (uint32_t)status;
    int shift;
    while (text[n] && n < sizeof line - 12) {
        line[n] = text[n];
        ++n;
    }
    line[n++] = '0';
    line[n++] = 'x';
    for (shift = 28; shift >= 0; shift -= 4) line[n++] = "0123456789abcdef"[(value >> shift) & 15u];
    line[n] = '\0';
    Trace(ops, line);
}

void KvInitClientState(KvClientState* state) { memset(state, 0, sizeof *state); }

void KvReleaseClientState(const KvKernelOps* ops, KvClientState* state) {
    int i;
    if (!state) return;
    if (state->snapshot) ops->release(ops->context, state->snapshot);
    for (i = 0; i < KV_TRANSPORT_COUNT; ++i) {
        if (state->references[i]) ops->closeTransport(ops->context, state->references[i]);
    }
    KvInitClientState(state);
}

/* Entry i of the held snapshot (i < entryCount). */
static const KvHandleEntry* SnapshotEntry(const KvClientState* state, uint32_t i) {
    return &((const KvHandleSnapshot*)(const void*)state->snapshot)->entries[i];
}

/* Takes the handle snapshot into the state: doubles the block while the system asks
 * for more. A status; on failure nothing is held. */
static int32_t TakeSnapshot(const KvKernelOps* ops, KvClientState* state) {
    uint32_t size = KV_SNAPSHOT_FIRST_SIZE;
    for (;;) {
        uint32_t returned = 0;
        int32_t status;
        uint8_t* block = (uint8_t*)ops->allocate(ops->context, size);
        if (!block) return KV_STATUS_INSUFFICIENT_RESOURCES;
        memset(block, 0, size);
        status = ops->queryHandles(ops->context, block, size, &returned);
        if (status == KV_STATUS_SUCCESS) {
            /* Only entries that lie inside the block count, whatever the count says. */
            uint32_t count = ((const KvHandleSnapshot*)(const void*)block)->count;
            const uint32_t room = (uint32_t)((size - KV_SNAPSHOT_HEADER_SIZE) / sizeof(KvHandleEntry));
            state->snapshot = block;
            state->entryCount = count < room ? count : room;
            state->cursor = 0;
            return KV_STATUS_SUCCESS;
        }
        ops->release(ops->context, block);
        if (status != KV_STATUS_INFO_LENGTH_MISMATCH) return status;
        if (size >= KV_SNAPSHOT_MAX_SIZE) return KV_STATUS_INSUFFICIENT_RESOURCES;
        size *= 2;
    }
}

/* The file object's facts when object is a file object; the object is then held
 * and the caller releases it. */
static int HoldFileObject(const KvKernelOps* ops, void* object, KvFileObjectFacts* facts) {
    if (!object || !ops->referenceFileObject(ops->context, object)) return 0;
    memset(facts, 0, sizeof *facts);
    ops->describeFileObject(ops->context, object, facts);
    return 1;
}

static const char* const kTransportErrors[KV_TRANSPORT_COUNT] = {
    "Error IoGetDeviceObjectPointer for TCP DEVICE",
    "Error IoGetDeviceObjectPointer for UDP DEVICE",
    "Error IoGetDeviceObjectPointer for IP DEVICE",
};

static int32_t InitPortInfo(const KvKernelOps* ops, KvClientState* state) {
    int i;
    Trace(ops, "Entering KorvaneDriverNTDevice::hInitPortInfoIOCTL, ");
    /* A second init starts over: what the first one held is released first. */
    KvReleaseClientState(ops, state);

    if (TakeSnapshot(ops, state) == KV_STATUS_SUCCESS) {
        Trace(ops, "Running first NtQuerySystemInformation OK");
        for (i = 0; i < KV_TRANSPORT_COUNT; ++i) {
            void* device = NULL;
            void* reference = NULL;
            if (ops->openTransport(ops->context, i, &device, &reference) != KV_STATUS_SUCCESS || !device) {
                if (reference) ops->closeTransport(ops->context, reference);
                Trace(ops, kTransportErrors[i]);
                break;
            }
            state->devices[i] = device;
            state->references[i] = reference;
        }
        if (i == KV_TRANSPORT_COUNT) {
            uint32_t e;
            Trace(ops, "IoGetDeviceObjectPointer for TCP, UDP and IP device OK {new version}");
            for (e = 0; e < state->entryCount; ++e) {
                const KvHandleEntry* entry = SnapshotEntry(state, e);
                KvFileObjectFacts facts;
                if (!HoldFileObject(ops, entry->object, &facts)) continue;
                if (facts.device == state->devices[KV_TRANSPORT_TCP]) state->fileObjectType = entry->objectType;
                ops->dereferenceObject(ops->context, entry->object);
            }
        }
    }
    if (state->fileObjectType == 0) {
        Trace(ops, "FileObjectType does not specifyed");
        KvReleaseClientState(ops, state);
        return KV_STATUS_UNSUCCESSFUL;
    }
    return KV_STATUS_SUCCESS;
}

static uint32_t ReadLe32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
static uint16_t ReadLe16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }

int KvParseAddressAnswer(const uint8_t* answer, uint32_t answerSize, uint16_t* port, uint32_t* address) {
    /* Activity count (4), address count (4), then the first address: length (2),
     * type (2) and length bytes, of which an IP address uses port (2) and address (4). */
    const uint32_t first = 8;
    uint32_t length;
    if (!answer || answerSize < first + 4) return 0;
    if ((int32_t)ReadLe32(answer + 4) < 1) return 0;
    length = ReadLe16(answer + first);
    if (ReadLe16(answer + first + 2) != 2 || length < 6) return 0;
    if (length > answerSize - first - 4) return 0;
    /* Both are copied byte for byte: they stay in network byte order. */
    memcpy(port, answer + first + 4, 2);
    memcpy(address, answer + first + 6, 4);
    return 1;
}

/* The device number of a record: which transport the file object was opened on. */
static uint32_t DeviceNumber(const KvClientState* state, const void* device) {
    if (device == state->devices[KV_TRANSPORT_TCP]) return KV_DEVICE_TCP;
    if (device == state->devices[KV_TRANSPORT_UDP]) return KV_DEVICE_UDP;
    if (device == state->devices[KV_TRANSPORT_IP]) return KV_DEVICE_IP;
    return KV_DEVICE_NONE;
}

/* Asks the transport for the local address of one file object. */
static int32_t QueryLocalAddress(const KvKernelOps* ops, void* fileObject, const KvFileObjectFacts* facts,
                                 uint16_t* port, uint32_t* address) {
    uint8_t* answer;
    uint32_t returned = 0;
    int32_t status;
    if (!facts->fsContext) {
        Trace(ops, "FsContext == NULL while querring FileObject ");
        return KV_STATUS_UNSUCCESSFUL;
    }
    answer = (uint8_t*)ops->allocate(ops->context, KV_ADDRESS_ANSWER_SIZE);
    if (!answer) return KV_STATUS_INSUFFICIENT_RESOURCES;
    memset(answer, 0, KV_ADDRESS_ANSWER_SIZE);
    status = ops->queryAddress(ops->context, facts->device, fileObject, answer, KV_ADDRESS_ANSWER_SIZE, &returned);
    if (status == KV_STATUS_SUCCESS &&
        !KvParseAddressAnswer(answer, returned < KV_ADDRESS_ANSWER_SIZE ? returned : KV_ADDRESS_ANSWER_SIZE, port,
                              address)) {
        status = KV_STATUS_INVALID_NETWORK_RESPONSE;
    }
    ops->release(ops->context, answer);
    return status;
}

static int32_t ReadPortInfo(const KvKernelOps* ops, KvClientState* state, void* buffer, uint32_t outputLength,
                            uint32_t* information) {
    PortInfoRecord record;
    Trace(ops, "Entering KorvaneDriverNTDevice::hReadPortInfoNTIOCTL, ");
    if (outputLength < sizeof record) {
        Trace(ops, "ReadSize < sizeof(PortInfo_RetStruct)");
        return KV_STATUS_INFO_LENGTH_MISMATCH;
    }
    memset(&record, 0, sizeof record);
    if (!state->snapshot) return KV_STATUS_MEMORY_NOT_ALLOCATED;
    while (state->cursor < state->entryCount) {
        const KvHandleEntry* entry = SnapshotEntry(state, state->cursor++);
        KvFileObjectFacts facts;
        int32_t status;
        if (entry->objectType != state->fileObjectType) continue;
        if (!HoldFileObject(ops, entry->object, &facts)) continue;
        if (!facts.device || facts.deviceType != KV_NETWORK_DEVICE_TYPE || facts.fsContext2 == KV_ENDPOINT_CONTROL) {
            ops->dereferenceObject(ops->context, entry->object);
            continue;
        }
        status = QueryLocalAddress(ops, entry->object, &facts, &record.port, &record.address);
        if (status == KV_STATUS_SUCCESS) {
            record.marker = KV_PORT_RECORD_MARKER;
            record.processId = entry->processId;
            record.endpointKind = (uint32_t)facts.fsContext2;
            record.device = DeviceNumber(state, facts.device);
        }
        ops->dereferenceObject(ops->context, entry->object);
        if (status == KV_STATUS_SUCCESS) break;
        TraceStatus(ops, "Error GetAddrFromFileObj NTSTATUS = ", status);
    }
    memcpy(buffer, &record, sizeof record);
    *information = sizeof record;
    return KV_STATUS_SUCCESS;
}

int32_t KvDispatchControl(const KvKernelOps* ops, KvClientState* state, uint32_t code, void* buffer,
                          uint32_t inputLength, uint32_t outputLength, uint32_t* information) {
    (void)inputLength;
    *information = 0;
    switch (code) {
    case KV_IOCTL_READ_VERSION:
        Trace(ops, "Entering KorvaneDriverNTDevice::hReadVersionIOCTL, ");
        if (!buffer || outputLength < KV_DRIVER_VERSION_BYTES) return KV_STATUS_BUFFER_TOO_SMALL;
        memcpy(buffer, KV_DRIVER_VERSION, KV_DRIVER_VERSION_BYTES);
        *information = KV_DRIVER_VERSION_BYTES;
        return KV_STATUS_SUCCESS;
    case KV_IOCTL_READ_PORT_INFO:
        if (!state) return KV_STATUS_MEMORY_NOT_ALLOCATED;
        if (!buffer && outputLength) return KV_STATUS_INVALID_PARAMETER;
        return ReadPortInfo(ops, state, buffer, outputLength, information);
    case KV_IOCTL_READ_OPEN_REQUEST:
        Trace(ops, "Entering KorvaneDriverNTDevice::hReadOpenRequestIOCTL, ");
        return KV_STATUS_SUCCESS;
    case KV_IOCTL_INIT_PORT_INFO:
        if (!state) return KV_STATUS_INSUFFICIENT_RESOURCES;
        return InitPortInfo(ops, state);
    case KV_IOCTL_DEINIT_PORT_INFO:
        Trace(ops, "Entering KorvaneDriverNTDevice::hDeInitPortInfoIOCTL, ");
        KvReleaseClientState(ops, state);
        return KV_STATUS_SUCCESS;
    case KV_IOCTL_INIT_FILES_SPY:
        Trace(ops, "Entering KorvaneDriverNTDevice::hInitFilesSpyIOCTL, ");
        return KV_STATUS_SUCCESS;
    default:
        return KV_STATUS_INVALID_PARAMETER;
    }
}

/* Appends a SID S-1-5-sub[0]-...: revision 1, count, authority 5 (big-endian 48 bits). */
static uint32_t PutSid(uint8_t* p, const uint32_t* sub, uint8_t count) {
    uint8_t i;
    p[0] = 1;
    p[1] = count;
    memset(p + 2, 0, 5);
    p[7] = 5;
    for (i = 0; i < count; ++i) {
        p[8 + 4 * i] = (uint8_t)sub[i];
        p[9 + 4 * i] = (uint8_t)(sub[i] >> 8);
        p[10 + 4 * i] = (uint8_t)(sub[i] >> 16);
        p[11 + 4 * i] = (uint8_t)(sub[i] >> 24);
    }
    return 8u + 4u * count;
}

static void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}
static void PutLe32(uint8_t* p, uint32_t v) {
    PutLe16(p, v);
    PutLe16(p + 2, v >> 16);
}

uint32_t KvBuildDeviceSecurity(uint8_t* out, uint32_t size) {
    static const uint32_t kSystem[1] = {18};
    static const uint32_t kAdministrators[2] = {32, 544};
    const uint32_t kAllFileAccess = 0x001F01FFu;
    const uint32_t dacl = 20;  /* the descriptor's header */
    uint32_t at = dacl + 8;    /* the ACL's header */
    uint32_t ace;
    if (!out || size < KV_DEVICE_SECURITY_SIZE) return 0;
    memset(out, 0, KV_DEVICE_SECURITY_SIZE);
    out[0] = 1;                  /* revision */
    PutLe16(out + 2, 0x8004u);   /* self-relative, DACL present */
    PutLe32(out + 16, dacl);     /* no owner, group or SACL */
    out[dacl] = 2;               /* ACL revision */
    PutLe16(out + dacl + 4, 2);  /* two entries */
    for (ace = 0; ace < 2; ++ace) {
        const uint32_t sidSize = ace == 0 ? PutSid(out + at + 8, kSystem, 1) : PutSid(out + at + 8, kAdministrators, 2);
        out[at] = 0;  /* access allowed, no flags */
        PutLe16(out + at + 2, 8 + sidSize);
        PutLe32(out + at + 4, kAllFileAccess);
        at += 8 + sidSize;
    }
    PutLe16(out + dacl + 2, at - dacl);
    return at;
}
