// The driver channel: installing the kernel driver from the program's resource as a
// service, opening its device and checking its version when the probe starts,
// collecting port records, and removing the driver again at the end. The protocol
// logic without the system is driver/driver_requests.h.
#pragma once

#include <windows.h>

#include "driver/driver_requests.h"
#include "inspect/win/system_probe.h"

constexpr char kDriverDevicePath[] = "\\\\.\\KorvaneDriverNTDevice0";
constexpr char kDriverServiceName[] = "KorvaneDriverNT";
constexpr char kDriverFileName[] = "NtDriver.sys";

// Longest wait for the service to leave the start-pending or stop-pending state.
constexpr DWORD kDriverServiceWaitMs = 10000;

// Opens the device into probe.driverDevice, installing and starting the driver first
// when it does not open (driverPreinstalled is set when it opened at once), and
// replaces a running driver whose version is older than ours.
void OpenDriverChannel(SystemProbe& probe);

// Writes the driver file from resource IDR_DRIVER of the program, creates the service
// when it does not exist and starts it, then opens the device: its handle, or
// INVALID_HANDLE_VALUE. When the device does not open, the service this call created
// is deleted again (one it only started is stopped) and the file removed.
HANDLE InstallDriver();

// Closes *device when it is open (leaving INVALID_HANDLE_VALUE), stops and deletes the
// service, then deletes the driver file, which cannot be deleted while the driver
// runs. Failures are silent.
void RemoveDriver(HANDLE* device);

// The port-record collection of driver_requests.h on the device: -1 when there is no
// device or the begin request failed.
int CollectPortRecords(HANDLE device, PortRecordVisitor visit, void* context);

// The driver file's path: the system directory and kDriverFileName; false when it
// does not fit in size bytes.
bool DriverFilePath(char* path, size_t size);
