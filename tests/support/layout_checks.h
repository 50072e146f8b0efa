// A dialog's layout checked from outside (any process): every visible child inside the
// client area, and no two visible children other than group boxes overlapping.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/window_test_util.h"

namespace testutil {

inline RECT ClientRectOf(HWND dialog, HWND child) {
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// "" when the layout is sound; else one clause per fault, naming the control IDs.
inline std::string LayoutFaults(HWND dialog) {
    RECT client = {};
    GetClientRect(dialog, &client);
    std::string faults;
    std::vector<std::pair<int, RECT>> solid;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        const int id = GetDlgCtrlID(child);
        const RECT r = ClientRectOf(dialog, child);
        if (r.left < client.left || r.top < client.top || r.right > client.right || r.bottom > client.bottom) {
            faults += std::to_string(id) + " outside the client area; ";
        }
        const bool group = ClassName(child) == L"Button" &&
                           (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
        if (!group) solid.push_back({id, r});
    }
    for (size_t i = 0; i < solid.size(); ++i) {
        for (size_t j = i + 1; j < solid.size(); ++j) {
            RECT both;
            if (IntersectRect(&both, &solid[i].second, &solid[j].second)) {
                faults += std::to_string(solid[i].first) + " overlaps " + std::to_string(solid[j].first) + "; ";
            }
        }
    }
    return faults;
}

}  // namespace testutil
