// Whole-listing timing under Wine, run by hand (see docs/PERFORMANCE.md): 1,000 TCP
// rows with distinct remote addresses from a stand-in table call, listed into a real
// list view from a worker thread as the connections dialog does, once with a name
// service that answers at once and once with one that never answers. Prints the
// table query plus formatting alone, and both listings, in milliseconds.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "inspect/hash_table.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/progress.h"
#include "net/connection_rows.h"
#include "net/win/connection_list.h"
#include "net/win/connection_routes.h"

namespace {

constexpr uint32_t kRows = 1000;

DWORD WINAPI ThousandRowTable(void** table, BOOL, HANDLE heap, DWORD) {
    auto* block = static_cast<uint32_t*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 4 + kRows * 20));
    if (!block) return ERROR_NOT_ENOUGH_MEMORY;
    block[0] = kRows;
    for (uint32_t i = 0; i < kRows; ++i) {
        uint32_t* row = block + 1 + i * 5;
        row[0] = 5;
        row[1] = 0x0100007F;
        row[2] = 0x1900;
        row[3] = 0x0A000000u + (i << 8) + 1;
        row[4] = 0xD204;
    }
    *table = block;
    return 0;
}

bool NoName(void*, const NetAddress&, char*, size_t) { return false; }
bool NeverAnswers(void*, const NetAddress&, char*, size_t) { Sleep(INFINITE); return false; }
bool NoService(void*, uint16_t, char*, size_t) { return false; }

// The progress window's part: runs the batches on this thread, answers the rest.
LRESULT CALLBACK ProgressProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == ProgressRunOnInterfaceThread) {
        reinterpret_cast<InterfaceWork>(wParam)(reinterpret_cast<void*>(lParam));
        return 1;
    }
    if (message >= WM_USER && message <= WM_USER + 6) return 1;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

struct Listing { HWND list, progress; SystemProbe* probe; ConnectionNames* names; };

DWORD WINAPI Fill(void* argument) {
    auto* l = static_cast<Listing*>(argument);
    return FillConnectionList(l->list, l->progress, l->probe, *l->names);
}

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// One listing into an empty list, with the interface thread pumping messages.
double TimeListing(Listing listing) {
    const double start = Now();
    HANDLE worker = CreateThread(nullptr, 0, Fill, &listing, 0, nullptr);
    while (worker && MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    if (worker) CloseHandle(worker);
    return Now() - start;
}

}  // namespace

int main() {
    InstallApplicationTableHooks();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    SystemProbe probe;
    probe.Teardown();
    probe.allocateAndGetTcpTableFromStack = ThousandRowTable;
    probe.getTcpConnectionTable = GetTcpTablePlain;

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ProgressProcedure;
    windowClass.lpszClassName = L"KorvaneBenchProgress";
    RegisterClassW(&windowClass);
    HWND progress = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    HWND frame = CreateWindowW(L"STATIC", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 900, 500, nullptr, nullptr,
                               nullptr, nullptr);
    HWND list = CreateWindowW(WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 880, 480, frame, nullptr,
                              nullptr, nullptr);
    for (int c = 8; c >= 0; --c) InsertListColumn(list, L"column", 0, c);

    // The table query and the formatting alone, names known to be absent.
    const NameServiceOps quick = {nullptr, NoName, NoService};
    const NameServiceOps silent = {nullptr, NeverAnswers, NoService};
    ConnectionNames quickNames(quick, "host");
    const double start = Now();
    void* table = nullptr;
    probe.QueryTcpTable(&table, nullptr);
    ResolveTableHostNames(quickNames, table, kConnectionTcp, nullptr);
    ConnectionTexts texts;
    for (uint32_t i = 0; i < kRows; ++i) FormatConnectionRow(quickNames, ConnectionRowAt(table, kConnectionTcp, i), &texts);
    const double queryAndFormat = Now() - start;
    HeapFree(GetProcessHeap(), 0, table);

    const double quickFill = TimeListing({list, progress, &probe, &quickNames});
    ConnectionNames silentNames(silent, "host");
    const double silentFill = TimeListing({list, progress, &probe, &silentNames});
    const int rows = ListView_GetItemCount(list);

    std::printf("rows listed: %d\n", rows);
    std::printf("query + format, no lookups: %.1f ms\n", queryAndFormat);
    std::printf("listing, names answered at once: %.1f ms\n", quickFill);
    std::printf("listing, name service never answers: %.1f ms (deadline %u ms)\n", silentFill, kLookupDeadlineMs);
    std::printf("bound 2 x (query + format) + deadline: %.1f ms\n", 2 * queryAndFormat + kLookupDeadlineMs);
    DestroyWindow(frame);
    DestroyWindow(progress);
    // The silent lookups never return: end without waiting for them.
    std::fflush(stdout);
    ExitProcess(rows == static_cast<int>(kRows) ? 0 : 1);
}
