// A Win32 service of its own process for the tests of ending processes: it runs until
// the service manager sends it the stop, then reports itself stopped and exits.
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE g_handle = nullptr;
SERVICE_STATUS g_status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, NO_ERROR, 0, 0, 0};
HANDLE g_stop = nullptr;

void Report(DWORD state) {
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(g_handle, &g_status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP) Report(SERVICE_STOP_PENDING), SetEvent(g_stop);
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, char** arguments) {
    g_handle = RegisterServiceCtrlHandlerExA(arguments && arguments[0] ? arguments[0] : "", Handler, nullptr);
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!g_handle || !g_stop) return;
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stop, INFINITE);
    CloseHandle(g_stop);
    Report(SERVICE_STOPPED);
}

}  // namespace

int main() {
    char name[] = "KorvaneTestService";
    SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
