// The real driver under Wine, installed by the probe's own channel code in a second run
// of this program while Wine reports Windows 5.2: its answers through the system's
// request path, a state per handle, a running driver left alone by a probe that found
// it, and its removal at teardown.
#include <gtest/gtest.h>

#include <windows.h>

#include "driver/win/driver_channel.h"
#include "inspect/os_family.h"
#include "tests/support/probe_test_util.h"

namespace {

using namespace probetest;

// The driver service's state; 0 when there is no such service.
DWORD ServiceState() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, kDriverServiceName, SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status = {};
    const DWORD state = service ? (QueryServiceStatus(service, &status) ? status.dwCurrentState : ~DWORD{0}) : 0;
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return state;
}

HANDLE OpenDevice() {
    return CreateFileA(kDriverDevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Whether anything of the driver is left: its service, its device or its file.
bool DriverLeft() {
    HANDLE device = OpenDevice();
    if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
    char path[MAX_PATH];
    return ServiceState() || device != INVALID_HANDLE_VALUE ||
           (DriverFilePath(path, sizeof path) && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES);
}

// One request: its result and the error.
DWORD Send(HANDLE device, DWORD code, void* buffer, DWORD size) {
    DWORD bytes = 0;
    return DeviceIoControl(device, code, buffer, size, buffer, size, &bytes, nullptr) ? 0 : GetLastError();
}

TEST(DriverChannel, InstalledDriverAnswersAndIsRemovedAtTeardown) {
    if (ExpectedFamily() != kOsWindowsDotNet) GTEST_SKIP() << "the driver is used on the NT family only";
    ASSERT_FALSE(DriverLeft()) << "a driver is left from an earlier run";
    {
        SystemProbe probe;
        ASSERT_NE(probe.driverDevice, INVALID_HANDLE_VALUE) << "the probe did not install and open the driver";
        EXPECT_EQ(probe.driverPreinstalled, 0);
        char version[KV_VERSION_BUFFER_SIZE] = "         ";
        EXPECT_EQ(Send(probe.driverDevice, KV_IOCTL_READ_VERSION, version, sizeof version), 0u);
        EXPECT_STREQ(version, "1.00");
        // The output length reaches the core, and its statuses come back as errors: a
        // short read, a read without a snapshot, an init that finds no transport handle.
        PortInfoRecord record = {};
        EXPECT_EQ(Send(probe.driverDevice, KV_IOCTL_READ_PORT_INFO, &record, sizeof record - 1),
                  static_cast<DWORD>(ERROR_BAD_LENGTH));
        EXPECT_EQ(Send(probe.driverDevice, KV_IOCTL_READ_PORT_INFO, &record, sizeof record),
                  static_cast<DWORD>(ERROR_INVALID_ADDRESS));
        int records = 0;
        EXPECT_EQ(CollectPortRecords(probe.driverDevice, [](void* n, const PortInfoRecord&) { ++*static_cast<int*>(n); }, &records),
                  -1);
        // Each handle keeps its own state: a de-init on another leaves this one usable.
        HANDLE second = OpenDevice();
        ASSERT_NE(second, INVALID_HANDLE_VALUE);
        EXPECT_EQ(Send(second, KV_IOCTL_DEINIT_PORT_INFO, &record, sizeof record), 0u);
        CloseHandle(second);
        EXPECT_EQ(Send(probe.driverDevice, KV_IOCTL_READ_VERSION, version, sizeof version), 0u);
        {
            SystemProbe again;  // finds the driver running and leaves it so
            EXPECT_NE(again.driverDevice, INVALID_HANDLE_VALUE);
            EXPECT_EQ(again.driverPreinstalled, 1);
        }
        EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    }
    EXPECT_FALSE(DriverLeft());
}

TEST(DriverChannel, InstallsUnderWindowsDotNetServer) {
    EXPECT_EQ(RunUnderWineVersion("winxp64", "DriverChannel.InstalledDriverAnswersAndIsRemovedAtTeardown"), 1);
    HANDLE none = INVALID_HANDLE_VALUE;  // whatever the run left behind goes
    RemoveDriver(&none);
    EXPECT_EQ(ServiceState(), 0u);
}

}  // namespace
