// The real driver under Wine, installed by the probe's own channel code in a second run
// of this program while Wine reports Windows 5.2: its answers, its removal at teardown,
// and a running driver left alone by a probe that found it.
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
    DWORD state = 0;
    if (service) {
        state = QueryServiceStatus(service, &status) ? status.dwCurrentState : ~DWORD{0};
        CloseServiceHandle(service);
    }
    if (manager) CloseServiceHandle(manager);
    return state;
}

HANDLE OpenDevice() {
    return CreateFileA(kDriverDevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

bool DeviceOpens() {
    HANDLE device = OpenDevice();
    if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
    return device != INVALID_HANDLE_VALUE;
}

bool DriverFileExists() {
    char path[MAX_PATH];
    return DriverFilePath(path, sizeof path) && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// One request: its result, the bytes returned and the error.
struct Answer {
    bool ok;
    DWORD bytes, error;
};
Answer Send(HANDLE device, DWORD code, void* buffer, DWORD size) {
    DWORD bytes = 0;
    SetLastError(0);
    const bool ok = DeviceIoControl(device, code, buffer, size, buffer, size, &bytes, nullptr) != FALSE;
    return {ok, bytes, ok ? 0 : GetLastError()};
}

TEST(DriverChannel, InstalledDriverAnswersAndIsRemovedAtTeardown) {
    if (ExpectedFamily() != kOsWindowsDotNet) GTEST_SKIP() << "the driver is used on the NT family only";
    ASSERT_FALSE(ServiceState() || DeviceOpens() || DriverFileExists()) << "a driver is left from an earlier run";
    {
        SystemProbe probe;
        ASSERT_NE(probe.driverDevice, INVALID_HANDLE_VALUE) << "the probe did not install and open the driver";
        EXPECT_EQ(probe.driverPreinstalled, 0);
        EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));

        char version[KV_VERSION_BUFFER_SIZE] = "         ";
        const Answer v = Send(probe.driverDevice, KV_IOCTL_READ_VERSION, version, sizeof version);
        EXPECT_TRUE(v.ok);
        EXPECT_EQ(v.bytes, KV_DRIVER_VERSION_BYTES);
        EXPECT_STREQ(version, "1.00");

        // Each request's status as Windows maps it to an error code.
        PortInfoRecord record = {};
        const struct {
            DWORD code, size, error;
        } failures[] = {
            {KV_IOCTL_READ_PORT_INFO, sizeof record, ERROR_INVALID_ADDRESS},  // no snapshot is held
            {KV_IOCTL_INIT_PORT_INFO, sizeof record, ERROR_GEN_FAILURE},      // no transport handle: unsuccessful
            {KV_IOCTL_READ_PORT_INFO, sizeof record - 1, ERROR_BAD_LENGTH},   // short read
            {0x226FFC, sizeof record, ERROR_INVALID_PARAMETER},               // unknown code
            {KV_IOCTL_READ_VERSION, 4, ERROR_INSUFFICIENT_BUFFER},            // no room for the version
        };
        for (const auto& f : failures) {
            SCOPED_TRACE(f.code);
            const Answer a = Send(probe.driverDevice, f.code, &record, f.size);
            EXPECT_TRUE(!a.ok && a.error == f.error && a.bytes == 0u) << a.error;
        }
        EXPECT_TRUE(Send(probe.driverDevice, KV_IOCTL_DEINIT_PORT_INFO, &record, sizeof record).ok);
        EXPECT_TRUE(Send(probe.driverDevice, KV_IOCTL_DEINIT_PORT_INFO, &record, sizeof record).ok);
        int records = 0;
        EXPECT_EQ(CollectPortRecords(probe.driverDevice, [](void* n, const PortInfoRecord&) { ++*static_cast<int*>(n); },
                                     &records), -1);
        EXPECT_EQ(records, 0);

        // The driver refuses to load when it cannot give its device the descriptor that
        // admits only Local System and the administrators, so its loading shows that the
        // security calls ran; Wine shows no DACL through a device handle, and the
        // descriptor's content is tested natively.
        // Each handle keeps its own state: a de-init on one leaves the other usable.
        HANDLE second = OpenDevice();
        ASSERT_NE(second, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(Send(second, KV_IOCTL_DEINIT_PORT_INFO, &record, sizeof record).ok);
        CloseHandle(second);
        EXPECT_TRUE(Send(probe.driverDevice, KV_IOCTL_READ_VERSION, version, sizeof version).ok);

        // A second probe finds the driver running and leaves it running.
        {
            SystemProbe again;
            EXPECT_NE(again.driverDevice, INVALID_HANDLE_VALUE);
            EXPECT_EQ(again.driverPreinstalled, 1);
        }
        EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_TRUE(DeviceOpens());
    }
    EXPECT_FALSE(ServiceState() || DeviceOpens() || DriverFileExists());
}

TEST(DriverChannel, InstallsUnderWindowsDotNetServer) {
    EXPECT_EQ(RunUnderWineVersion("winxp64", "DriverChannel.InstalledDriverAnswersAndIsRemovedAtTeardown"), 1);
    // Whatever the run left behind goes.
    HANDLE none = INVALID_HANDLE_VALUE;
    RemoveDriver(&none);
    EXPECT_EQ(ServiceState(), 0u);
}

}  // namespace
