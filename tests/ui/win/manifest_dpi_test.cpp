// The manifest the program carries (the test programs carry it too): common controls 6
// and DPI awareness take effect. And a window's DPI, from GetDpiForWindow where the
// system has it and from the window's device context where it has not.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "ui/dpi.h"

namespace {

TEST(Manifest, CommonControlsSixAndDpiAwareness) {
    wchar_t module[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(GetModuleHandleW(L"comctl32.dll"), module, MAX_PATH), 0u);
    EXPECT_NE(std::wstring(module).find(L"common-controls_6595b64144ccf1df_6."), std::wstring::npos);
    EXPECT_TRUE(IsProcessDPIAware());
}

UINT WINAPI HighDpi(HWND) { return 144; }
UINT WINAPI NoAnswer(HWND) { return 0; }

TEST(Dpi, WindowDpiFromEitherSource) {
    HWND window = CreateWindowW(L"STATIC", L"dpi", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr,
                                nullptr);
    ASSERT_NE(window, nullptr);
    HDC dc = GetDC(window);
    const int deviceDpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(window, dc);
    EXPECT_EQ(WindowDpi(window), deviceDpi);  // Wine has GetDpiForWindow, as Windows 10 does
    EXPECT_EQ(WindowDpi(window, HighDpi), 144);
    EXPECT_EQ(WindowDpi(window, NoAnswer), deviceDpi);  // a system without the call
    EXPECT_EQ(WindowDpi(nullptr, HighDpi), deviceDpi);  // the screen's
    DestroyWindow(window);
}

}  // namespace
