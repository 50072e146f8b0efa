// Child of the process and module tests: loads the DLL argv[1], signals the event argv[2],
// then waits until it is ended or its parent (process ID argv[3]) ends, five minutes at most.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 4 || !LoadLibraryA(argv[1])) return 2;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (!ready) return 3;
    SetEvent(ready);
    CloseHandle(ready);
    HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)));
    if (!parent) return Sleep(5 * 60 * 1000), 0;
    WaitForSingleObject(parent, 5 * 60 * 1000);
    CloseHandle(parent);
    return 0;
}
