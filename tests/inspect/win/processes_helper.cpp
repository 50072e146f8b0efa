// Child process of the process and module tests. Arguments: the DLL to load, the name
// of an event to signal once it is loaded, and the parent's process ID. It then waits
// until it is ended, or until its parent has ended (five minutes at most), so that a
// failed test leaves nothing running.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    if (!LoadLibraryA(argv[1])) return 3;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (!ready) return 4;
    SetEvent(ready);
    CloseHandle(ready);
    const DWORD parentId = static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10));
    HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, parentId);
    if (parent) {
        WaitForSingleObject(parent, 5 * 60 * 1000);
        CloseHandle(parent);
    } else {
        Sleep(5 * 60 * 1000);
    }
    return 0;
}
