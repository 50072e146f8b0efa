// Takes the screenshots of docs/ (scripts/screenshots.sh runs it on a private display):
// korvane.exe's main window at its start size and larger, its connections dialog after
// Check as it opens and maximised, a saved report loaded back with a connection row
// selected, and the autorun view, each written as a BMP into the folder given.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "resources/resource.h"
#include "tests/support/korvane_program.h"

namespace {

// The window's pixels as they are on the screen (a maximised window reaches past the
// screen by its frame: only what shows is taken), as a 24-bit BMP file.
bool Capture(HWND window, const std::string& path) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(500);
    RECT r = {}, shown = {};
    GetWindowRect(window, &r);
    const RECT screenRect = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (!IntersectRect(&shown, &r, &screenRect)) return false;
    const int width = shown.right - shown.left, height = shown.bottom - shown.top;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    BITMAPINFOHEADER info = {sizeof info, width, height, 1, 24, BI_RGB, stride * height, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = memory && bitmap ? SelectObject(memory, bitmap) : nullptr;
    bool ok = old && BitBlt(memory, 0, 0, width, height, screen, shown.left, shown.top, SRCCOPY);
    if (old) SelectObject(memory, old);
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof info;
    const BITMAPFILEHEADER header = {0x4D42, offset + info.biSizeImage, 0, 0, offset};
    FILE* file = ok ? std::fopen(path.c_str(), "wb") : nullptr;
    ok = file && std::fwrite(&header, sizeof header, 1, file) == 1 && std::fwrite(&info, sizeof info, 1, file) == 1 &&
         std::fwrite(bits, info.biSizeImage, 1, file) == 1;
    if (file) ok = std::fclose(file) == 0 && ok;
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", path.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshot_helper <folder>\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "\\";
    testutil::KorvaneProgram program;
    if (!program.Start()) return 1;
    HWND main = program.Main();
    SetWindowPos(main, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    bool ok = Capture(main, folder + "main-window.bmp");
    SetWindowPos(main, nullptr, 0, 0, 1000, 680, SWP_NOZORDER);
    ok = program.WaitIdle() && Capture(main, folder + "main-window-large.bmp") && ok;

    program.Post(ID_VIEW_CONNECTIONS);
    HWND dialog = testutil::WaitForProcessWindow(program.Id(), L"检查活动连接", 20000, 20);
    if (!dialog) return 1;
    SetWindowPos(dialog, nullptr, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CONNECTIONS_CHECK, BN_CLICKED), 0);
    HWND list = GetDlgItem(dialog, IDC_CONNECTIONS_LIST);
    for (DWORD start = GetTickCount(); ListView_GetItemCount(list) == 0 && GetTickCount() - start < 30000;) Sleep(50);
    for (DWORD start = GetTickCount(); !IsWindowEnabled(dialog) && GetTickCount() - start < 30000;) Sleep(50);
    ok = Capture(dialog, folder + "connections-dialog.bmp") && ok;
    SendMessageW(dialog, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    ok = Capture(dialog, folder + "connections-dialog-maximised.bmp") && ok;
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    ok = program.WaitIdle() && ok;

    // The report view: a saved report loaded back, a connection row selected.
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string report = std::string(temp) + "korvane_screenshot.log";
    DeleteFileA(report.c_str());
    const std::wstring reportPath(report.begin(), report.end());
    ok = program.SaveReport(reportPath) && program.LoadReport(reportPath) && ok;
    if (HTREEITEM ports = program.Find(nullptr, L"TCP/IP PORTS")) {
        const auto applications = program.Children(ports);
        if (!applications.empty()) {
            program.Expand(applications[0]);
            const auto rows = program.Children(applications[0]);
            if (!rows.empty()) program.Select(rows[0]);
        }
    }
    ok = Capture(main, folder + "report-view.bmp") && ok;
    DeleteFileA(report.c_str());

    // The autorun view with its first entry that names a file selected.
    program.Post(ID_VIEW_AUTORUN);
    ok = program.WaitIdle() && ok;
    for (HTREEITEM group : program.Children(nullptr)) {
        program.Expand(group);
        for (HTREEITEM place : program.Children(group)) {
            program.Expand(place);
            const auto entries = program.Children(place);
            if (!entries.empty() && !program.Read(entries[0]).hasChildren) {
                program.Select(entries[0]);
                break;
            }
        }
        if (program.Selected() != program.Root()) break;
    }
    ok = Capture(main, folder + "autorun-view.bmp") && ok;
    ok = program.Close() && ok;
    return ok ? 0 : 1;
}
