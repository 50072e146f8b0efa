// The screen density a window is drawn at, and pixel sizes given at 96 DPI scaled to it,
// for a program that declares per-monitor DPI awareness and so scales itself.
#pragma once

#include <windows.h>

constexpr int kBaseDpi = 96;

// WM_DPICHANGED: the window moved to a screen of another density; lParam is the
// rectangle the system suggests for it there.
constexpr UINT kDpiChangedMessage = 0x02E0;

using GetDpiForWindowFn = UINT(WINAPI*)(HWND window);

// The system's GetDpiForWindow (Windows 10 1607 and later), looked up by name; null
// where the system lacks it.
GetDpiForWindowFn SystemGetDpiForWindow();

// The window's DPI: getDpiForWindow's answer when given and not 0, else the horizontal
// pixels per inch of the window's device context (the screen's for a null window);
// kBaseDpi when neither answers.
int WindowDpi(HWND window, GetDpiForWindowFn getDpiForWindow);
inline int WindowDpi(HWND window) { return WindowDpi(window, SystemGetDpiForWindow()); }

// pixels at 96 DPI as many pixels at dpi, rounded to the nearest (MulDiv).
inline int ScaleToDpi(int pixels, int dpi) { return MulDiv(pixels, dpi, kBaseDpi); }

// pixels at 96 DPI as many pixels at the window's DPI.
inline int ScaleForWindow(HWND window, int pixels) { return ScaleToDpi(pixels, WindowDpi(window)); }
