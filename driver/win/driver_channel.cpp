#include "driver/win/driver_channel.h"

#include <cstring>

#include "resources/resource.h"

namespace {

constexpr DWORD kServiceFullAccess = 0xF01FF;
constexpr DWORD kManagerFullAccess = 0xF003F;
constexpr DWORD kDriverFileAccess = 0x40010000;  // write and delete
constexpr DWORD kPollMs = 100;

HANDLE OpenDevice() {
    return CreateFileA(kDriverDevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

bool SendRequest(void* device, uint32_t code, void* buffer, uint32_t size) {
    DWORD returned = 0;
    return DeviceIoControl(static_cast<HANDLE>(device), code, buffer, size, buffer, size, &returned, nullptr) !=
           FALSE;
}

// Waits, within kDriverServiceWaitMs, while the service is in the pending state given.
void WaitWhilePending(SC_HANDLE service, DWORD pendingState) {
    SERVICE_STATUS status;
    for (DWORD waited = 0; waited < kDriverServiceWaitMs; waited += kPollMs) {
        if (!QueryServiceStatus(service, &status) || status.dwCurrentState != pendingState) return;
        Sleep(kPollMs);
    }
}

// Stops the service and waits until it has stopped; deletes it too when asked.
void StopService(SC_HANDLE service, bool remove) {
    SERVICE_STATUS status;
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) WaitWhilePending(service, SERVICE_STOP_PENDING);
    if (remove) DeleteService(service);
}

// The driver file, deleted once the driver no longer holds it (briefly after a stop).
void DeleteDriverFile(const char* path) {
    for (DWORD waited = 0; !DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND; waited += kPollMs) {
        if (waited >= kDriverServiceWaitMs) return;
        Sleep(kPollMs);
    }
}

// Writes the driver resource into path; false (and no file) unless every byte was written.
bool WriteDriverFile(const char* path) {
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(IDR_DRIVER), MAKEINTRESOURCEA(10));
    const DWORD size = found ? SizeofResource(self, found) : 0;
    HGLOBAL loaded = size ? LoadResource(self, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return false;
    HANDLE file = CreateFileA(path, kDriverFileAccess, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool whole = WriteFile(file, bytes, size, &written, nullptr) && written == size;
    CloseHandle(file);
    if (!whole) DeleteFileA(path);
    return whole;
}

// The parameter the driver reads at start: Parameters\BreakOnEntry = 0.
void WriteDriverParameters() {
    HKEY serviceKey, parameters;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\KorvaneDriverNT", 0, 0x20006,
                      &serviceKey) != ERROR_SUCCESS) {
        return;
    }
    if (RegCreateKeyExA(serviceKey, "Parameters", 0, nullptr, 0, KEY_WRITE, nullptr, &parameters, nullptr) ==
        ERROR_SUCCESS) {
        const DWORD zero = 0;
        RegSetValueExA(parameters, "BreakOnEntry", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
        RegCloseKey(parameters);
    }
    RegCloseKey(serviceKey);
}

}  // namespace

bool DriverFilePath(char* path, size_t size) {
    char folder[MAX_PATH];
    const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    const char* separator = folder[n - 1] == '\\' ? "" : "\\";
    const size_t needed = n + std::strlen(separator) + sizeof kDriverFileName;
    if (needed > size) return false;
    std::memcpy(path, folder, n);
    std::memcpy(path + n, separator, std::strlen(separator));
    std::memcpy(path + n + std::strlen(separator), kDriverFileName, sizeof kDriverFileName);
    return true;
}

HANDLE InstallDriver() {
    char path[MAX_PATH];
    if (!DriverFilePath(path, sizeof path) || !WriteDriverFile(path)) return INVALID_HANDLE_VALUE;

    bool created = false, started = false;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, kManagerFullAccess);
    SC_HANDLE service = manager ? OpenServiceA(manager, kDriverServiceName, kServiceFullAccess) : nullptr;
    if (manager && !service) {
        SC_HANDLE made = CreateServiceA(manager, kDriverServiceName, kDriverServiceName, 0, SERVICE_KERNEL_DRIVER,
                                        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path, nullptr, nullptr, nullptr,
                                        nullptr, nullptr);
        if (made) {
            created = true;
            WriteDriverParameters();
            CloseServiceHandle(made);
            service = OpenServiceA(manager, kDriverServiceName, kServiceFullAccess);
        }
    }
    if (service) {
        started = StartServiceA(service, 0, nullptr) != FALSE;
        WaitWhilePending(service, SERVICE_START_PENDING);
    }
    // A started driver no longer needs its file; where the system keeps it while the
    // driver runs, removal deletes it after the stop.
    DeleteFileA(path);

    HANDLE device = OpenDevice();
    if (device == INVALID_HANDLE_VALUE && service && (created || started)) {
        StopService(service, created);
        DeleteDriverFile(path);
    }
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return device;
}

void RemoveDriver(HANDLE* device) {
    if (*device != INVALID_HANDLE_VALUE) CloseHandle(*device);
    *device = INVALID_HANDLE_VALUE;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, kDriverServiceName, kServiceFullAccess) : nullptr;
    if (service) {
        StopService(service, true);
        CloseServiceHandle(service);
    }
    if (manager) CloseServiceHandle(manager);
    char path[MAX_PATH];
    if (service && DriverFilePath(path, sizeof path)) DeleteDriverFile(path);
}

void OpenDriverChannel(SystemProbe& probe) {
    probe.driverPreinstalled = 0;
    probe.driverDevice = OpenDevice();
    if (probe.driverDevice == INVALID_HANDLE_VALUE) {
        probe.driverDevice = InstallDriver();
    } else {
        probe.driverPreinstalled = 1;
    }
    if (probe.driverDevice == INVALID_HANDLE_VALUE) return;

    char version[KV_VERSION_BUFFER_SIZE];
    std::memset(version, ' ', sizeof version - 1);
    version[sizeof version - 1] = '\0';
    if (!SendRequest(probe.driverDevice, KV_IOCTL_READ_VERSION, version, sizeof version)) return;
    if (IsOlderDriverVersion(version, sizeof version)) {
        probe.driverPreinstalled = 0;
        RemoveDriver(&probe.driverDevice);
        probe.driverDevice = InstallDriver();
    }
}

int CollectPortRecords(HANDLE device, PortRecordVisitor visit, void* context) {
    if (device == INVALID_HANDLE_VALUE || !device) return -1;
    const DriverRequestOps ops = {device, SendRequest};
    return CollectPortRecords(ops, visit, context);
}
