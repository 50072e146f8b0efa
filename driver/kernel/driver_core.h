/* The driver's request handling without any kernel header: dispatch by control code,
 * buffer length checks, the per-handle collection state (init, read, de-init), the
 * walk over the handle snapshot, the parser of the transport's address answer and the
 * device's security descriptor. Every kernel service it needs comes through
 * KvKernelOps; driver_nt.c passes the real ones, the native tests fakes. */
#ifndef KORVANE_DRIVER_CORE_H
#define KORVANE_DRIVER_CORE_H

#include <stddef.h>
#include <stdint.h>

#include "driver/driver_protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes the core answers (NTSTATUS values). */
#define KV_STATUS_SUCCESS 0x00000000
#define KV_STATUS_UNSUCCESSFUL ((int32_t)0xC0000001u)
#define KV_STATUS_INFO_LENGTH_MISMATCH ((int32_t)0xC0000004u)
#define KV_STATUS_INVALID_PARAMETER ((int32_t)0xC000000Du)
#define KV_STATUS_BUFFER_TOO_SMALL ((int32_t)0xC0000023u)
#define KV_STATUS_INSUFFICIENT_RESOURCES ((int32_t)0xC000009Au)
#define KV_STATUS_MEMORY_NOT_ALLOCATED ((int32_t)0xC00000A0u)
#define KV_STATUS_INVALID_NETWORK_RESPONSE ((int32_t)0xC00000C3u)

/* The system's handle snapshot (handle information class 16) in the layout of the
 * build's own width: a 32-bit count, padded to pointer alignment, then entries
 * whose object pointer is pointer-width (16 bytes each on x86, 24 on x64). */
typedef struct KvHandleEntry {
    uint32_t processId;
    uint8_t objectType;
    uint8_t flags;
    uint16_t handleValue;
    void* object;
    uint32_t grantedAccess;
} KvHandleEntry;

typedef struct KvHandleSnapshot {
    uint32_t count;
    KvHandleEntry entries[1];
} KvHandleSnapshot;

#define KV_SNAPSHOT_HEADER_SIZE offsetof(KvHandleSnapshot, entries)

/* Transport devices, by index. */
enum { KV_TRANSPORT_TCP = 0, KV_TRANSPORT_UDP = 1, KV_TRANSPORT_IP = 2, KV_TRANSPORT_COUNT = 3 };

/* What a referenced file object tells. */
typedef struct KvFileObjectFacts {
    void* device;        /* the device the file object was opened on; null when none */
    uint32_t deviceType; /* that device's type; 0x12 for network devices */
    void* fsContext;     /* first context value; the transport needs one */
    uintptr_t fsContext2; /* second context value: the endpoint kind */
} KvFileObjectFacts;

#define KV_NETWORK_DEVICE_TYPE 0x12u

/* Size of the buffer the transport answers the address query into. */
#define KV_ADDRESS_ANSWER_SIZE 256u
/* Snapshot sizes: the first query's, and the largest the init asks for. */
#define KV_SNAPSHOT_FIRST_SIZE 1024u
#define KV_SNAPSHOT_MAX_SIZE (64u * 1024u * 1024u)

typedef struct KvKernelOps {
    void* context;
    /* A non-paged pool block of size bytes; null when the pool has none. */
    void* (*allocate)(void* context, size_t size);
    void (*release)(void* context, void* block);
    /* Handle information class 16 into buffer: a status; INFO_LENGTH_MISMATCH when
     * the buffer is too small. *returned: bytes written (may stay 0). */
    int32_t (*queryHandles)(void* context, void* buffer, uint32_t size, uint32_t* returned);
    /* Opens transport device which (KV_TRANSPORT_...): *device the named device
     * object, the one its file objects carry (not a filter attached above it),
     * *reference what closeTransport releases. A status. */
    int32_t (*openTransport)(void* context, int which, void** device, void** reference);
    void (*closeTransport)(void* context, void* reference);
    /* References object as a file object: non-zero when it is one and is now held. */
    int (*referenceFileObject)(void* context, void* object);
    void (*dereferenceObject)(void* context, void* object);
    /* Facts of a file object held by referenceFileObject. */
    void (*describeFileObject)(void* context, void* fileObject, KvFileObjectFacts* facts);
    /* Asks device for the local address of fileObject into buffer (size bytes, from
     * allocate): a status, and in *returned the bytes the answer holds. */
    int32_t (*queryAddress)(void* context, void* device, void* fileObject, void* buffer, uint32_t size,
                            uint32_t* returned);
    /* Writes one line of text to the debug trace; may be null. */
    void (*trace)(void* context, const char* text);
} KvKernelOps;

/* The collection state of one open handle of the device. */
typedef struct KvClientState {
    uint8_t* snapshot;       /* pool block from queryHandles; null when none is held */
    uint32_t entryCount;     /* entries that lie inside the answer */
    uint32_t cursor;         /* next entry to examine */
    uint8_t fileObjectType;  /* object type number of file objects; 0 = not learnt */
    void* devices[KV_TRANSPORT_COUNT];    /* transport device objects */
    void* references[KV_TRANSPORT_COUNT]; /* what holds each device open */
} KvClientState;

/* A state with nothing held. */
void KvInitClientState(KvClientState* state);
/* Releases the snapshot and the transport references; the state is empty afterwards
 * and may be released again. Called by de-init and when the handle is cleaned up. */
void KvReleaseClientState(const KvKernelOps* ops, KvClientState* state);

/* Serves one device control request. buffer holds max(inputLength, outputLength)
 * bytes (the system buffer); state may be null for a handle without state, which
 * only the requests that keep no state accept. Returns the status; *information is
 * the number of bytes to return. */
int32_t KvDispatchControl(const KvKernelOps* ops, KvClientState* state, uint32_t code, void* buffer,
                          uint32_t inputLength, uint32_t outputLength, uint32_t* information);

/* The local address of a transport answer (TDI address information: activity count,
 * address count, then addresses of {length, type, bytes}). True when the answer holds,
 * within answerSize bytes, at least one address whose type is IP (2) and whose length
 * covers port and address; *port and *address are then in network byte order. */
int KvParseAddressAnswer(const uint8_t* answer, uint32_t answerSize, uint16_t* port, uint32_t* address);

/* The device's security descriptor in self-relative form: a DACL that grants all file
 * access to Local System (S-1-5-18) and to the Administrators group (S-1-5-32-544)
 * and to no one else. Returns its size; 0 when out (size bytes) is too small. */
#define KV_DEVICE_SECURITY_SIZE 72u
uint32_t KvBuildDeviceSecurity(uint8_t* out, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif
