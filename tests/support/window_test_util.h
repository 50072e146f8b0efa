// Helpers for Windows tests that drive real windows under Wine.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace testutil {

inline std::wstring WindowText(HWND hwnd) {
    wchar_t buffer[512] = {};
    GetWindowTextW(hwnd, buffer, 512);
    return buffer;
}

inline std::wstring ClassName(HWND hwnd) {
    wchar_t buffer[128] = {};
    GetClassNameW(hwnd, buffer, 128);
    return buffer;
}

struct FindContext {
    DWORD processId;
    const wchar_t* title;
    bool dialogOnly;
    HWND found;
};

inline BOOL CALLBACK FindWindowProc(HWND hwnd, LPARAM lParam) {
    auto* ctx = reinterpret_cast<FindContext*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != ctx->processId || !IsWindowVisible(hwnd) || (ctx->dialogOnly && ClassName(hwnd) != L"#32770") ||
        (ctx->title && WindowText(hwnd) != ctx->title)) {
        return TRUE;
    }
    ctx->found = hwnd;
    return FALSE;
}

// A visible top-level window of the process with exactly this title (null: any title), or null.
inline HWND FindProcessWindow(DWORD processId, const wchar_t* title, bool dialogOnly = true) {
    FindContext ctx = {processId, title, dialogOnly, nullptr};
    EnumWindows(FindWindowProc, reinterpret_cast<LPARAM>(&ctx));
    return ctx.found;
}

// Polls for such a window for up to timeoutMs; null when it did not appear.
inline HWND WaitForProcessWindow(DWORD processId, const wchar_t* title, DWORD timeoutMs, DWORD pollMs = 2) {
    for (const DWORD start = GetTickCount();; Sleep(pollMs)) {
        if (HWND h = FindProcessWindow(processId, title)) return h;
        if (GetTickCount() - start > timeoutMs) return nullptr;
    }
}

// The text of a message box's message (its static control 0xFFFF).
inline std::wstring MessageBoxText(HWND box) { return WindowText(GetDlgItem(box, 0xFFFF)); }

// Thread routine: waits for a message box of this process titled with the product
// name, stores its text in the std::wstring given, and answers it with OK.
inline DWORD WINAPI AnswerMessageBox(void* textOut) {
    HWND box = WaitForProcessWindow(GetCurrentProcessId(), L"Korvane Inspector", 20000);
    if (!box) return 1;
    *static_cast<std::wstring*>(textOut) = MessageBoxText(box);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return 0;
}

// Ends the test program if a test hangs, so a deadlock fails fast instead of at ctest's limit.
class Watchdog {
public:
    explicit Watchdog(DWORD ms) : ms_(ms) { thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr); }
    ~Watchdog() {
        SetEvent(event_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(event_);
    }

private:
    static DWORD WINAPI Run(void* self) {
        auto* w = static_cast<Watchdog*>(self);
        if (WaitForSingleObject(w->event_, w->ms_) != WAIT_TIMEOUT) return 0;
        std::fprintf(stderr, "watchdog: test hung for %lu ms\n", static_cast<unsigned long>(w->ms_));
        std::fflush(stderr);
        ExitProcess(99);
    }
    DWORD ms_;
    HANDLE event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr), thread_ = nullptr;
};

}  // namespace testutil
