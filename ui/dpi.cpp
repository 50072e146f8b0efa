#include "ui/dpi.h"

#include <cstring>

GetDpiForWindowFn SystemGetDpiForWindow() {
    static const GetDpiForWindowFn entry = [] {
        GetDpiForWindowFn found = nullptr;
        const HMODULE user32 = GetModuleHandleA("user32.dll");
        const FARPROC address = user32 ? GetProcAddress(user32, "GetDpiForWindow") : nullptr;
        static_assert(sizeof found == sizeof address, "entry points are code pointers");
        std::memcpy(&found, &address, sizeof found);
        return found;
    }();
    return entry;
}

int WindowDpi(HWND window, GetDpiForWindowFn getDpiForWindow) {
    const UINT dpi = getDpiForWindow && window ? getDpiForWindow(window) : 0;
    if (dpi) return static_cast<int>(dpi);
    HDC dc = GetDC(window);
    const int pixelsPerInch = dc ? GetDeviceCaps(dc, LOGPIXELSX) : 0;
    if (dc) ReleaseDC(window, dc);
    return pixelsPerInch > 0 ? pixelsPerInch : kBaseDpi;
}
