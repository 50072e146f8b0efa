// The real korvane.exe from start to exit: the live tree with a child process the test
// started, the panel, the locked-module search, Save, loading the saved report, and
// Refresh after the child has ended.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/probe_test_util.h"
#include "tests/support/korvane_program.h"

namespace {

using probetest::ChildProcess;
using testutil::KorvaneProgram;

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() * 2 + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size())) - 1);
    return wide;
}

std::wstring Lower(std::wstring text) {
    CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::wstring Hex(uint64_t number) {
    wchar_t text[24];
    std::swprintf(text, 24, L"%llx", static_cast<unsigned long long>(number));
    return text;
}

// A version string of a file as the system reads it; "" when it has none.
std::wstring VersionString(const std::string& path, const wchar_t* name) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(Wide(path).c_str(), &ignored);
    std::vector<char> block(size);
    if (!size || !GetFileVersionInfoW(Wide(path).c_str(), 0, size, block.data())) return L"";
    struct { WORD language, codePage; }* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
        length < 4) {
        return L"";
    }
    wchar_t query[128];
    std::swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language, translation->codePage, name);
    wchar_t* value = nullptr;
    return VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&value), &length) && value ? value : L"";
}

std::vector<std::string> ReadLines(const std::string& path, bool* allCrLf) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    const std::string text = bytes.str();
    std::vector<std::string> lines;
    *allCrLf = !text.empty();
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos || end == start || text[end - 1] != '\r') *allCrLf = false;
        if (end == std::string::npos) break;
        lines.push_back(text.substr(start, end - start - (end > start && text[end - 1] == '\r' ? 1 : 0)));
        start = end + 1;
    }
    return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines) {
        if (l == line) return true;
    }
    return false;
}

// Every item of the tree with its state image, as text, for failure messages.
std::wstring MarkedItems(const KorvaneProgram& program) {
    std::wstring marked;
    for (HTREEITEM process : program.Children(nullptr)) {
        if (program.StateImage(process)) marked += program.Read(process).text + L" ";
        for (HTREEITEM module : program.Children(process)) {
            if (program.StateImage(module)) marked += program.Read(module).text + L" ";
        }
    }
    return marked;
}

TEST(ProgramEndToEnd, LiveTreePanelSearchSaveLoadAndRefresh) {
    testutil::Watchdog watchdog(240000);
    ChildProcess child;
    ASSERT_TRUE(child.Start());
    const std::wstring dllPath = Wide(probetest::SystemFile(probetest::kChildDll));
    const std::wstring upperDll = Wide(probetest::Upper(probetest::SystemFile(probetest::kChildDll)));

    KorvaneProgram program;
    ASSERT_TRUE(program.Start());
    EXPECT_TRUE(program.sawProgress) << "the start-up build ran without its progress dialog";
    EXPECT_TRUE(program.startupMessages.empty()) << "start-up said: " << std::string(program.startupMessages[0].begin(), program.startupMessages[0].end());

    // The live tree: this program with its image among its modules, and the child with its DLL.
    HTREEITEM self = nullptr, childItem = nullptr;
    for (HTREEITEM item : program.Children(nullptr)) {
        const KorvaneProgram::Item read = program.Read(item);
        EXPECT_TRUE(read.hasChildren);
        if (static_cast<DWORD>(read.data) == program.Id()) self = item;
        if (static_cast<DWORD>(read.data) == child.Id()) childItem = item;
    }
    ASSERT_NE(self, nullptr) << "korvane.exe is not in its own tree";
    ASSERT_NE(childItem, nullptr) << "the child process is not in the tree";
    EXPECT_EQ(program.Read(self).text, L"korvane.exe");
    EXPECT_EQ(program.Read(childItem).text, L"processes_helper.exe");
    HTREEITEM selfImage = nullptr;
    for (HTREEITEM module : program.Children(self)) {
        if (Lower(program.Read(module).text).find(L"\\korvane.exe") != std::wstring::npos) selfImage = module;
    }
    EXPECT_NE(selfImage, nullptr) << "korvane.exe's own image is not among its modules";
    HTREEITEM dllItem = program.Find(childItem, upperDll);
    ASSERT_NE(dllItem, nullptr) << "the child's DLL is not among its modules";

    // The panel: the child's ID and path, then the DLL's handle, path and version texts.
    program.Select(childItem);
    EXPECT_EQ(program.Field(IDC_FIELD_1031), Hex(child.Id()));
    EXPECT_EQ(program.Field(IDC_FIELD_1038), Lower(Wide(child.Path())));
    program.Expand(childItem);
    dllItem = program.Find(childItem, upperDll);
    ASSERT_NE(dllItem, nullptr);
    program.Select(dllItem);
    EXPECT_EQ(program.Field(IDC_FIELD_1031), Hex(static_cast<uintptr_t>(program.Read(dllItem).data)));
    EXPECT_EQ(program.Field(IDC_FIELD_1038), Lower(dllPath));
    const std::wstring fileVersion = VersionString(probetest::SystemFile(probetest::kChildDll), L"FileVersion");
    EXPECT_FALSE(fileVersion.empty());
    EXPECT_EQ(program.Field(IDC_FIELD_1033), fileVersion);
    EXPECT_EQ(program.Field(IDC_FIELD_1032), VersionString(probetest::SystemFile(probetest::kChildDll), L"ProductVersion"));
    EXPECT_NE(program.Field(IDC_FIELD_1034), L"?");

    // The locked-module search marks exactly the child (expanded: 2) and its DLL (3).
    program.Post(IDC_LOCKED_DLL);
    HWND search = program.WaitForDialog();
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(testutil::WindowText(search), L"搜索被锁定的进程模块");
    SetDlgItemTextW(search, IDC_DLL_NAME, dllPath.c_str());
    PostMessageW(search, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(program.WaitIdle());
    EXPECT_EQ(program.StateImage(childItem), 2u);
    EXPECT_EQ(program.StateImage(dllItem), 3u);
    EXPECT_EQ(MarkedItems(program), L"processes_helper.exe " + upperDll + L" ");

    // Save: the report holds the system line, the process section with the child, CR LF lines.
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string reportPath = std::string(folder) + "korvane_e2e.log";
    DeleteFileA(reportPath.c_str());
    ASSERT_TRUE(program.SaveReport(Wide(reportPath)));
    bool crLf = false;
    const std::vector<std::string> lines = ReadLines(reportPath, &crLf);
    EXPECT_TRUE(crLf) << "a line does not end in CR LF";
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].compare(0, 9, "1c004000|"), 0) << lines[0];
    char processLine[128];
    std::snprintf(processLine, sizeof processLine, "04008019|PROCESS|processes_helper.exe|%lx||||||",
                  static_cast<unsigned long>(child.Id()));
    EXPECT_TRUE(Contains(lines, "00004008|PROCESS"));
    EXPECT_TRUE(Contains(lines, processLine)) << processLine;
    EXPECT_TRUE(Contains(lines, "00004008|TCP/IP PORTS"));
    EXPECT_EQ(lines.back(), "--------|");

    // Load report: the same report in the tree, each record in the panel.
    ASSERT_TRUE(program.LoadReport(Wide(reportPath)));
    const std::vector<HTREEITEM> top = program.Children(nullptr);
    ASSERT_GE(top.size(), 3u);
    program.Select(top[0]);
    const std::wstring os = program.Field(IDC_FIELD_1031);
    EXPECT_EQ(Wide(lines[0].substr(9, lines[0].find('|', 9) - 9)), program.Read(top[0]).text);
    EXPECT_EQ(os, program.Read(top[0]).text);
    EXPECT_FALSE(program.Field(IDC_FIELD_1032).empty());
    HTREEITEM processes = program.Find(nullptr, L"PROCESS");
    ASSERT_NE(processes, nullptr);
    HTREEITEM loadedChild = program.Find(processes, L"processes_helper.exe");
    ASSERT_NE(loadedChild, nullptr);
    program.Select(loadedChild);
    EXPECT_EQ(program.Field(IDC_FIELD_1031), Hex(child.Id()));
    program.Expand(loadedChild);
    // Module lines carry the path as the system reports it, not upper-cased.
    HTREEITEM loadedDll = nullptr;
    for (HTREEITEM item : program.Children(loadedChild)) {
        if (Lower(program.Read(item).text) == Lower(dllPath)) loadedDll = item;
    }
    ASSERT_NE(loadedDll, nullptr);
    program.Select(loadedDll);
    EXPECT_EQ(program.Field(IDC_FIELD_1038), Lower(dllPath));
    EXPECT_EQ(program.Field(IDC_FIELD_1033), fileVersion);
    program.Select(processes);  // a heading shows the report's system
    EXPECT_EQ(program.Field(IDC_FIELD_1031), os);

    // Back to the live tree; Refresh after the child ended: its selection is gone with it,
    // while a module of a running process stays selected.
    program.Post(ID_VIEW_PROCESS_TREE);
    ASSERT_TRUE(program.WaitIdle());
    HTREEITEM liveChild = nullptr;
    for (HTREEITEM item : program.Children(nullptr)) {
        if (static_cast<DWORD>(program.Read(item).data) == child.Id()) liveChild = item;
    }
    ASSERT_NE(liveChild, nullptr);
    program.Select(liveChild);
    child.End();
    program.Post(IDC_REFRESH);
    ASSERT_TRUE(program.WaitIdle());
    // The job names no item; the tree control itself selects its first item when it
    // gets the focus back without a selection.
    const HTREEITEM afterEnd = program.Selected();
    EXPECT_TRUE(afterEnd == nullptr || afterEnd == program.Root()) << "an item was chosen for a process that has ended";
    for (HTREEITEM item : program.Children(nullptr)) EXPECT_NE(static_cast<DWORD>(program.Read(item).data), child.Id());

    HTREEITEM ownProcess = nullptr;
    for (HTREEITEM item : program.Children(nullptr)) {
        if (static_cast<DWORD>(program.Read(item).data) == program.Id()) ownProcess = item;
    }
    ASSERT_NE(ownProcess, nullptr);
    program.Expand(ownProcess);
    const std::vector<HTREEITEM> ownModules = program.Children(ownProcess);
    ASSERT_GE(ownModules.size(), 2u);
    const KorvaneProgram::Item module = program.Read(ownModules[1]);
    program.Select(ownModules[1]);
    program.Post(IDC_REFRESH);
    ASSERT_TRUE(program.WaitIdle());
    HTREEITEM reselected = program.Selected();
    ASSERT_NE(reselected, nullptr);
    EXPECT_EQ(program.Read(reselected).data, module.data);
    EXPECT_EQ(program.Read(reselected).text, module.text);
    EXPECT_EQ(static_cast<DWORD>(program.Read(program.Parent(reselected)).data), program.Id());

    EXPECT_TRUE(program.Close()) << "korvane.exe did not exit cleanly";
    DeleteFileA(reportPath.c_str());
}

}  // namespace

#include "tests/support/autorun_plant.h"

namespace {

// Depth-first: the first item below parent (null: the whole tree) whose text starts with prefix.
HTREEITEM FindByPrefix(const KorvaneProgram& program, HTREEITEM parent, const std::wstring& prefix) {
    for (HTREEITEM item : program.Children(parent)) {
        if (program.Read(item).text.compare(0, prefix.size(), prefix) == 0) return item;
        if (HTREEITEM found = FindByPrefix(program, item, prefix)) return found;
    }
    return nullptr;
}

// "检查启动项" shows a run-key entry planted for the test, with its file's details in the panel.
TEST(ProgramEndToEnd, AutorunViewShowsAPlantedRunEntry) {
    testutil::Watchdog watchdog(180000);
    const std::string helper = probetest::OwnPath().substr(0, probetest::OwnPath().find_last_of('\\') + 1) +
                               "processes_helper.exe";
    const std::string name = "KorvaneE2e" + planttest::UniqueSuffix();
    planttest::RegistryPlant plant;
    ASSERT_TRUE(plant.Value(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", name,
                            "\"" + helper + "\" -x"));
    KorvaneProgram program;
    ASSERT_TRUE(program.Start());
    program.Post(ID_VIEW_AUTORUN);
    ASSERT_TRUE(program.WaitIdle());
    HTREEITEM entry = FindByPrefix(program, nullptr, Wide(name + " = "));
    ASSERT_NE(entry, nullptr) << "the planted run value is not in the autorun view";
    EXPECT_EQ(program.Read(entry).text, Wide(name + " = \"" + helper + "\" -x"));
    program.Select(entry);
    EXPECT_EQ(program.Field(IDC_LABEL_1049), L"进程 ID");  // the file-entry layout
    EXPECT_EQ(program.Field(IDC_FIELD_1038), Lower(Wide(helper)));
    EXPECT_EQ(program.Field(IDC_FIELD_1031), L"application does not loaded");
    EXPECT_NE(program.Field(IDC_FIELD_1034), L"");
    EXPECT_TRUE(program.Close());
}

}  // namespace
