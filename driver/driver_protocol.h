/* The request protocol between the program and its kernel driver: names, control
 * codes, the version string and the 24-byte port record. Plain C, no system header:
 * the driver (driver/kernel/) and the program (driver/win/, net/) both include it. */
#ifndef KORVANE_DRIVER_PROTOCOL_H
#define KORVANE_DRIVER_PROTOCOL_H

#include <stdint.h>

/* Device I/O control codes (buffered; input and output share one buffer). */
#define KV_IOCTL_READ_VERSION 0x226000u
#define KV_IOCTL_READ_PORT_INFO 0x22600Cu
#define KV_IOCTL_READ_OPEN_REQUEST 0x226018u
#define KV_IOCTL_INIT_PORT_INFO 0x22A004u
#define KV_IOCTL_DEINIT_PORT_INFO 0x22A008u
#define KV_IOCTL_INIT_FILES_SPY 0x22A014u

/* The version the driver answers and the program expects, and the size of the
 * program's version buffer (nine blanks and a zero). */
#define KV_DRIVER_VERSION "1.00"
#define KV_DRIVER_VERSION_BYTES 5u
#define KV_VERSION_BUFFER_SIZE 10u

/* Marker of a port record that describes an entry; 0 ends the snapshot. */
#define KV_PORT_RECORD_MARKER 261u

/* Endpoint kinds: the file object's second context value. */
#define KV_ENDPOINT_ADDRESS 1u    /* a bound transport address */
#define KV_ENDPOINT_CONNECTION 2u /* a connection */
#define KV_ENDPOINT_CONTROL 3u    /* a control channel, never reported */

/* Transport device of a record. */
#define KV_DEVICE_NONE 0u
#define KV_DEVICE_TCP 1u
#define KV_DEVICE_UDP 2u
#define KV_DEVICE_IP 3u

/* One port record, little-endian, 24 bytes. Port and address are in network byte
 * order, exactly as the transport reports them. */
typedef struct PortInfoRecord {
    uint32_t marker;
    uint32_t processId;
    uint16_t port;
    uint16_t reserved;
    uint32_t address;
    uint32_t endpointKind;
    uint32_t device;
} PortInfoRecord;

#define KV_PORT_RECORD_SIZE 24u

#ifdef __cplusplus
static_assert(sizeof(PortInfoRecord) == KV_PORT_RECORD_SIZE, "port record layout");
#else
_Static_assert(sizeof(PortInfoRecord) == KV_PORT_RECORD_SIZE, "port record layout");
#endif

#endif
