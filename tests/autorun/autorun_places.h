// The headings an autorun report shows, in order, and the report's lines, for the native
// and the Wine tests.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace autoruntest {

using Lines = std::vector<std::string>;

// The lines of report bytes, each without its CR LF.
inline Lines SplitLines(const std::string& bytes) {
    Lines lines;
    for (size_t start = 0, end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(bytes.substr(start, end - start));
    }
    return lines;
}

// Headings of report lines (levels 0 and 1, and INI sections), in order.
inline Lines Headings(const Lines& lines) {
    Lines headings;
    for (const std::string& line : lines) {
        if (line.size() < 10 || line[0] == '-') continue;
        const unsigned long code = std::strtoul(line.substr(0, 8).c_str(), nullptr, 16);
        if ((code & 7) <= 1 || line[9] == '[') headings.push_back(line.substr(9, line.find('|', 9) - 9));
    }
    return headings;
}

// The headings of a scan up to "All users", for a Windows folder without a trailing
// backslash; current: HKEY_LOCAL_MACHINE's places again in its 32-bit view (NT 6).
inline Lines ExpectedHeadings(bool nt, const std::string& windows, bool current = false) {
    const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    Lines headings = {"Ini"}, machine;
    if (!nt) headings.insert(headings.end(), {windows + "\\win.ini", "[Windows]"});
    headings.push_back(windows + "\\system.ini");
    if (!nt) headings.push_back("[boot]");
    headings.insert(headings.end(), {"[386Enh]", "[drivers]", "[drivesr32]", "[drivers32]"});
    for (const char* key : {"Windows", "WOW\\Boot", "Drivers", "Drivers32", "WOW\\NonWindowsApp", "WOW\\Standard", "WinLogon"}) {
        if (nt) machine.push_back(std::string("Software\\Microsoft\\Windows NT\\CurrentVersion\\") + key);
    }
    machine.insert(machine.end(), {run, run + "Once", run + "OnceEx"});
    if (!nt) machine.insert(machine.end(), {run + "Services", run + "ServicesOnce"});
    for (const char* view : {"HKEY_LOCAL_MACHINE", current ? "HKEY_LOCAL_MACHINE (32-bit)" : nullptr}) {
        if (view) headings.push_back(view), headings.insert(headings.end(), machine.begin(), machine.end());
    }
    headings.insert(headings.end(), {"HKEY_CURRENT_USER", run, run + "Once", "Software\\Mirabilis\\ICQ\\Agent\\Apps",
                                     "HKEY_USERS\\.DEFAULT", run, run + "Once", "HKEY_CLASSES_ROOT",
                                     "Associated extension", "COM and DCOM Interfaces", "StartUp", "All users"});
    return headings;
}

// The headings of a current NT system after its startup folders, up to the scheduled
// tasks' folders.
inline Lines CurrentPlaceHeadings() {
    const std::string policy = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run";
    const std::string runOnceEx = "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx";
    return {"Explorer Run policies", "HKEY_LOCAL_MACHINE" + policy, "HKEY_LOCAL_MACHINE (32-bit)" + policy,
            "HKEY_CURRENT_USER" + policy, "RunOnceEx", "HKEY_LOCAL_MACHINE" + runOnceEx,
            "HKEY_LOCAL_MACHINE (32-bit)" + runOnceEx, "Scheduled tasks"};
}

// The group (level-0 heading) that the line at index belongs to; "" before the first.
inline std::string GroupOf(const Lines& lines, size_t index) {
    for (size_t i = index + 1; i-- > 0;) {
        if (lines[i].compare(0, 9, "00004008|") == 0) return lines[i].substr(9, lines[i].find('|', 9) - 9);
    }
    return "";
}

}  // namespace autoruntest
