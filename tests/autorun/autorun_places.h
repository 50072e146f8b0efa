// The headings an autorun report shows, in order, for the native and the Wine tests.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace autoruntest {

// Headings of report lines (levels 0 and 1, and INI sections), in order.
inline std::vector<std::string> Headings(const std::vector<std::string>& lines) {
    std::vector<std::string> headings;
    for (const std::string& line : lines) {
        if (line.size() < 10 || line[0] == '-') continue;
        const unsigned long code = std::strtoul(line.substr(0, 8).c_str(), nullptr, 16);
        if ((code & 7) <= 1 || line[9] == '[') headings.push_back(line.substr(9, line.find('|', 9) - 9));
    }
    return headings;
}

// The headings of a scan up to "All users", for a Windows folder without a trailing
// backslash; view32: HKEY_LOCAL_MACHINE's places again in its 32-bit view (current NT).
inline std::vector<std::string> ExpectedHeadings(bool nt, const std::string& windows, bool view32 = false) {
    const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    std::vector<std::string> headings = {"Ini"};
    if (!nt) headings.insert(headings.end(), {windows + "\\win.ini", "[Windows]"});
    headings.push_back(windows + "\\system.ini");
    if (!nt) headings.push_back("[boot]");
    headings.insert(headings.end(), {"[386Enh]", "[drivers]", "[drivesr32]", "[drivers32]", "HKEY_LOCAL_MACHINE"});
    for (const char* key : {"Windows", "WOW\\Boot", "Drivers", "Drivers32", "WOW\\NonWindowsApp", "WOW\\Standard",
                            "WinLogon"}) {
        if (nt) headings.push_back(std::string("Software\\Microsoft\\Windows NT\\CurrentVersion\\") + key);
    }
    headings.insert(headings.end(), {run, run + "Once", run + "OnceEx"});
    if (!nt) headings.insert(headings.end(), {run + "Services", run + "ServicesOnce"});
    if (view32) {
        const size_t machine = 1 + std::find(headings.begin(), headings.end(), "HKEY_LOCAL_MACHINE") - headings.begin();
        std::vector<std::string> again(headings.begin() + machine, headings.end());
        headings.push_back("HKEY_LOCAL_MACHINE (32-bit)");
        headings.insert(headings.end(), again.begin(), again.end());
    }
    headings.insert(headings.end(), {"HKEY_CURRENT_USER", run, run + "Once", "Software\\Mirabilis\\ICQ\\Agent\\Apps",
                                     "HKEY_USERS\\.DEFAULT", run, run + "Once", "HKEY_CLASSES_ROOT",
                                     "Associated extension", "COM and DCOM Interfaces", "StartUp", "All users"});
    return headings;
}

// The headings of a current NT system after its startup folders, up to the scheduled
// tasks' folders.
inline std::vector<std::string> CurrentPlaceHeadings(bool view32) {
    const std::string policy = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run";
    const std::string runOnceEx = "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx";
    std::vector<std::string> headings = {"Explorer Run policies", "HKEY_LOCAL_MACHINE" + policy};
    if (view32) headings.push_back("HKEY_LOCAL_MACHINE (32-bit)" + policy);
    headings.insert(headings.end(), {"HKEY_CURRENT_USER" + policy, "RunOnceEx", "HKEY_LOCAL_MACHINE" + runOnceEx});
    if (view32) headings.push_back("HKEY_LOCAL_MACHINE (32-bit)" + runOnceEx);
    headings.push_back("Scheduled tasks");
    return headings;
}

// The group (level-0 heading) that the line at index belongs to; "" before the first.
inline std::string GroupOf(const std::vector<std::string>& lines, size_t index) {
    for (size_t i = index + 1; i-- > 0;) {
        if (lines[i].compare(0, 9, "00004008|") == 0) return lines[i].substr(9, lines[i].find('|', 9) - 9);
    }
    return "";
}

}  // namespace autoruntest
