#include "app/win/dialog_layout_win.h"

#include <cstdio>

namespace {

int IsMinimised(void* dialog) { return IsIconic(static_cast<HWND>(dialog)) ? 1 : 0; }

size_t ListControls(void* context, LayoutRect* client, LayoutControl* controls, size_t capacity) {
    HWND dialog = static_cast<HWND>(context);
    RECT area = {};
    GetClientRect(dialog, &area);
    *client = {area.left, area.top, area.right, area.bottom};
    size_t count = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT), ++count) {
        if (count >= capacity) continue;
        RECT r = {};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        controls[count] = {static_cast<uint32_t>(GetDlgCtrlID(child)), reinterpret_cast<uintptr_t>(child),
                           {r.left, r.top, r.right, r.bottom}};
    }
    return count;
}

int32_t ToPixels(void* dialog, int32_t units, int horizontal) {
    RECT r = {units, units, units, units};
    MapDialogRect(static_cast<HWND>(dialog), &r);
    return horizontal ? r.left : r.top;
}

void Place(HWND control, const LayoutRect& r) {
    SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void MoveControls(void*, const LayoutControl* controls, size_t count) {
    HDWP batch = BeginDeferWindowPos(static_cast<int>(count));
    for (size_t i = 0; i < count && batch; ++i) {
        const LayoutRect& r = controls[i].rect;
        batch = DeferWindowPos(batch, reinterpret_cast<HWND>(controls[i].window), nullptr, r.left, r.top,
                               r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // A batch the system could not build is dropped whole: the controls move one by one.
    if (!batch || !EndDeferWindowPos(batch)) {
        for (size_t i = 0; i < count; ++i) Place(reinterpret_cast<HWND>(controls[i].window), controls[i].rect);
    }
    for (size_t i = 0; i < count; ++i) InvalidateRect(reinterpret_cast<HWND>(controls[i].window), nullptr, TRUE);
}

void Report(void* dialog, const LayoutProblem* problem) {
    if (problem->kind == LayoutUndetermined) {
        char detail[64];
        std::snprintf(detail, sizeof detail, "%s of id=%d", LayoutMetricName(problem->metric),
                      static_cast<int>(problem->controlId));
        wchar_t text[96] = L"找不到规则 ";
        const size_t prefix = wcslen(text);
        MultiByteToWideChar(CP_ACP, 0, detail, -1, text + prefix, static_cast<int>(96 - prefix));
        text[95] = L'\0';
        wchar_t caption[129] = {};
        GetModuleFileNameW(nullptr, caption, 128);
        MessageBoxW(static_cast<HWND>(dialog), text, caption, MB_OK);
        return;
    }
    const wchar_t* text = L"无法应用规则";
    if (problem->kind == LayoutMissingControl) text = L"无法找到子列表";
    if (problem->kind == LayoutInvalidSide) text = L"Invalid side";
    if (problem->kind == LayoutInvalidMetric) text = L"Invalid metric";
    if (problem->kind == LayoutInvalidAction) text = L"Invalid action";
    MessageBoxW(static_cast<HWND>(dialog), text, L"Assertion Failed", MB_OK | MB_ICONSTOP);
}

}  // namespace

bool ApplyWindowLayout(HWND dialog, const LayoutRule* rules, size_t ruleCount) {
    const LayoutWindowOps ops = {dialog, IsMinimised, ListControls, ToPixels, MoveControls, Report};
    return ApplyLayout(ops, rules, ruleCount);
}
