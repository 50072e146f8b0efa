// The real korvane.exe in one run from start to exit, with three child processes that
// hold a DLL, sockets and a run-key entry that this test made: window sizes, the live
// tree and its panel, the locked-module search, ending two of the children, Refresh, the
// connections dialog, Save (twice into one file, the second time by Enter), loading the
// saved report, the autorun view and File > Exit.
#include <gtest/gtest.h>

#include "tests/net/win/connections_windows.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "inspect/win/processes_win.h"
#include "tests/support/autorun_plant.h"
#include "tests/support/korvane_program.h"
#include "tests/support/layout_checks.h"
#include "tests/support/probe_test_util.h"

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

// The file version of a file as the system reads it; "" when it has none.
std::wstring FileVersion(const std::string& path) {
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeW(Wide(path).c_str(), &ignored));
    struct { WORD language, codePage; }* translation = nullptr;
    wchar_t query[128], *value = nullptr;
    UINT length = 0;
    if (block.empty() || !GetFileVersionInfoW(Wide(path).c_str(), 0, static_cast<DWORD>(block.size()), block.data()) ||
        !VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length)) {
        return L"";
    }
    std::swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\FileVersion", translation->language, translation->codePage);
    return VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&value), &length) && value ? value : L"";
}

// The lines of a file without their CR LF; *crLf false when a line ends otherwise.
std::vector<std::string> ReadLines(const std::string& path, bool* crLf) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    std::istringstream text(bytes.str());
    std::vector<std::string> lines;
    *crLf = !bytes.str().empty() && bytes.str().back() == '\n';
    for (std::string line; std::getline(text, line); lines.push_back(line)) {
        if (line.empty() || line.back() != '\r') *crLf = false;
        else line.pop_back();
    }
    return lines;
}

size_t Count(const std::vector<std::string>& lines, const std::string& text) {
    size_t n = 0;
    for (const std::string& l : lines) n += l.find(text) != std::string::npos;
    return n;
}

HTREEITEM ItemOf(const KorvaneProgram& program, uint32_t processId) {
    for (HTREEITEM item : program.Children(nullptr)) {
        if (static_cast<uint32_t>(program.Read(item).data) == processId) return item;
    }
    return nullptr;
}

// Depth-first: the first item below parent (null: the whole tree) whose text starts with prefix.
HTREEITEM FindByPrefix(const KorvaneProgram& program, HTREEITEM parent, const std::wstring& prefix) {
    for (HTREEITEM item : program.Children(parent)) {
        if (program.Read(item).text.compare(0, prefix.size(), prefix) == 0) return item;
        if (HTREEITEM found = FindByPrefix(program, item, prefix)) return found;
    }
    return nullptr;
}

std::wstring Cell(const std::vector<std::string>* row, size_t column) {
    return row && column < row->size() ? Wide((*row)[column]) : L"(no row)";
}

TEST(ProgramEndToEnd, OneRunThroughEveryCommand) {
    testutil::Watchdog watchdog(280000);
    ChildProcess a, b, c;
    ASSERT_TRUE(a.Start() && b.Start() && c.Start());
    conntest::OpenSockets sockets;
    ASSERT_TRUE(sockets.Ok());
    ASSERT_NE(sockets.tcp6Port, 0) << "no IPv6 listener on ::1";
    const std::string dll = probetest::SystemFile(probetest::kChildDll), helper = ChildProcess::Path();
    const std::wstring upperDll = Wide(probetest::Upper(dll));
    const std::string runName = "KorvaneE2e" + planttest::UniqueSuffix();
    planttest::RegistryPlant plant;
    ASSERT_TRUE(plant.Value(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", runName,
                            "\"" + helper + "\" -x"));

    KorvaneProgram program;
    ASSERT_TRUE(program.Start()) << "exit code " << std::hex << program.exitCode;
    EXPECT_TRUE(program.sawProgress) << "the start-up build ran without its progress dialog";
    EXPECT_TRUE(program.startupMessages.empty());
    EXPECT_EQ(program.Selected(), program.Root());

    // Sizes: narrow, the controls stay whole and the buttons narrow together; the window
    // never gets smaller than 640 x 400; minimised and restored, the tree keeps its place.
    HWND main = program.Main(), tree = GetDlgItem(main, IDC_TREE);
    auto width = [main](int id) {
        const RECT r = testutil::ClientRectOf(main, GetDlgItem(main, id));
        return r.right - r.left;
    };
    RECT start, outer, client;
    GetWindowRect(main, &start);
    GetClientRect(main, &client);
    long helpWidth[2] = {};
    for (int i = 0; i < 2; ++i) {
        const int clientWidth = i ? 660 : 1100;
        SetWindowPos(main, nullptr, 0, 0, clientWidth + start.right - start.left - client.right,
                     600 + start.bottom - start.top - client.bottom, SWP_NOMOVE | SWP_NOZORDER);
        EXPECT_EQ(testutil::LayoutFaults(main), "") << clientWidth;
        helpWidth[i] = width(ID_HELP);
        for (int id : {IDCANCEL, IDC_SAVE, IDC_REFRESH}) EXPECT_EQ(width(id), helpWidth[i]) << id;
    }
    EXPECT_LT(helpWidth[1], helpWidth[0]);
    SetWindowPos(main, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
    GetWindowRect(main, &outer);
    EXPECT_EQ(outer.right - outer.left, 640);
    EXPECT_EQ(outer.bottom - outer.top, 400);
    EXPECT_EQ(testutil::LayoutFaults(main), "") << "at the smallest size";
    RECT treeAt[3] = {testutil::ClientRectOf(main, tree)};
    ShowWindow(main, SW_MINIMIZE);
    treeAt[1] = testutil::ClientRectOf(main, tree);
    ShowWindow(main, SW_RESTORE);
    treeAt[2] = testutil::ClientRectOf(main, tree);
    EXPECT_TRUE(EqualRect(&treeAt[0], &treeAt[1]) && EqualRect(&treeAt[0], &treeAt[2]));
    SetWindowPos(main, nullptr, 0, 0, start.right - start.left, start.bottom - start.top, SWP_NOMOVE | SWP_NOZORDER);

    // The live tree: korvane.exe with its own image among its modules, each child with the DLL.
    HTREEITEM self = ItemOf(program, program.Id()), itemA = ItemOf(program, a.Id()), itemB = ItemOf(program, b.Id());
    ASSERT_TRUE(self && itemA && itemB && ItemOf(program, c.Id()));
    EXPECT_EQ(program.Read(self).text, L"korvane.exe");
    EXPECT_EQ(program.Read(itemA).text, L"processes_helper.exe");
    EXPECT_TRUE(program.Read(itemA).hasChildren);
    bool ownImage = false;
    for (HTREEITEM m : program.Children(self)) ownImage |= Lower(program.Read(m).text).find(L"\\korvane.exe") != std::wstring::npos;
    EXPECT_TRUE(ownImage) << "korvane.exe's own image is not among its modules";

    // The panel: a child's ID and path, then its DLL's handle, path and version.
    program.Select(itemA);
    EXPECT_EQ(program.Field(IDC_FIELD_1031), Hex(a.Id()));
    EXPECT_EQ(program.Field(IDC_FIELD_1038), Lower(Wide(helper)));
    program.Expand(itemA);
    HTREEITEM dllA = program.Find(itemA, upperDll);
    ASSERT_NE(dllA, nullptr) << "the child's DLL is not among its modules";
    program.Select(dllA);
    EXPECT_EQ(program.Field(IDC_FIELD_1031), Hex(static_cast<uintptr_t>(program.Read(dllA).data)));
    EXPECT_EQ(program.Field(IDC_FIELD_1038), Lower(Wide(dll)));
    EXPECT_FALSE(FileVersion(dll).empty());
    EXPECT_EQ(program.Field(IDC_FIELD_1033), FileVersion(dll));
    EXPECT_NE(program.Field(IDC_FIELD_1034), L"?");

    // The locked-module search marks the holders (expanded 2, collapsed 1) and the DLL (3).
    program.Post(IDC_LOCKED_DLL);
    HWND search = program.WaitForDialog();
    ASSERT_NE(search, nullptr);
    SetDlgItemTextW(search, IDC_DLL_NAME, Wide(dll).c_str());
    PostMessageW(search, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(program.WaitIdle());
    EXPECT_EQ(program.StateImage(itemA), 2u);
    EXPECT_EQ(program.StateImage(itemB), 1u);
    for (HTREEITEM module : program.Children(itemA)) EXPECT_EQ(program.StateImage(module), module == dllA ? 3u : 0u);
    EXPECT_EQ(program.StateImage(self), 0u);

    // Ending: A by its DLL's item (expanded, 2 becomes 6), B by its own item (collapsed,
    // 1 becomes 5); the DLL becomes 7 and every other module 4.
    const struct {
        const ChildProcess* child;
        HTREEITEM item, selected;
        UINT gone;
    } ends[] = {{&a, itemA, dllA, 6}, {&b, itemB, itemB, 5}};
    for (const auto& end : ends) {
        program.Select(end.selected);
        program.Post(ID_EDIT_END_PROCESS);
        ASSERT_TRUE(program.WaitIdle());
        EXPECT_FALSE(CanOpenProcess(end.child->Id()));
        EXPECT_EQ(program.StateImage(end.item), end.gone);
        size_t modules = 0;
        for (HTREEITEM module : program.Children(end.item)) {
            EXPECT_EQ(program.StateImage(module), program.Read(module).text == upperDll ? 7u : 4u);
            ++modules;
        }
        EXPECT_GT(modules, 2u);
    }

    // Refresh with an ended process selected: it is gone and nothing is chosen for it
    // (the tree selects its first item itself when it gets the focus back).
    program.Post(IDC_REFRESH);
    ASSERT_TRUE(program.WaitIdle());
    EXPECT_TRUE(program.Selected() == nullptr || program.Selected() == program.Root());
    EXPECT_FALSE(ItemOf(program, a.Id()) || ItemOf(program, b.Id()));
    // Refresh with a module of a running process selected: the same module again.
    self = ItemOf(program, program.Id());
    ASSERT_NE(self, nullptr);
    program.Expand(self);
    const std::vector<HTREEITEM> ownModules = program.Children(self);
    ASSERT_GE(ownModules.size(), 2u);
    const KorvaneProgram::Item module = program.Read(ownModules[1]);
    program.Select(ownModules[1]);
    program.Post(IDC_REFRESH);
    ASSERT_TRUE(program.WaitIdle());
    ASSERT_NE(program.Selected(), nullptr);
    EXPECT_EQ(program.Read(program.Selected()).data, module.data);
    EXPECT_EQ(program.Read(program.Selected()).text, module.text);
    EXPECT_EQ(static_cast<DWORD>(program.Read(program.Parent(program.Selected())).data), program.Id());

    // The connections dialog lists the test's sockets; the loopback addresses show the
    // machine's name.
    program.Post(ID_VIEW_CONNECTIONS);
    HWND dialog = testutil::WaitForProcessWindow(program.Id(), L"检查活动连接", 20000, 20);
    ASSERT_NE(dialog, nullptr);
    HWND list = GetDlgItem(dialog, IDC_CONNECTIONS_LIST);
    EXPECT_EQ(ListView_GetItemCount(list), 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CONNECTIONS_CHECK, BN_CLICKED), 0);
    for (DWORD start = GetTickCount(); ListView_GetItemCount(list) == 0 && GetTickCount() - start < 30000;) Sleep(50);
    for (DWORD start = GetTickCount(); !IsWindowEnabled(dialog) && GetTickCount() - start < 30000;) Sleep(50);
    const auto rows = conntest::ListRows(program.Process(), list, 9);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    ASSERT_TRUE(program.WaitIdle());
    const auto* tcp = conntest::FindRow(rows, "TCP", sockets.tcpPort);
    const auto* udp = conntest::FindRow(rows, "UDP", sockets.udpPort);
    const auto* tcp6 = conntest::FindRow(rows, "TCP6", sockets.tcp6Port);
    ASSERT_TRUE(tcp && udp && tcp6) << rows.size() << " rows";
    char host[256] = {};
    gethostname(host, sizeof host);
    EXPECT_EQ(*tcp, (std::vector<std::string>{"TCP", host, "127.0.0.1", (*tcp)[3], "*", "*", "*", "LISTENING", "???"}));
    EXPECT_EQ(*udp, (std::vector<std::string>{"UDP", host, "127.0.0.1", (*udp)[3], "*", "*", "*", "*", "???"}));
    EXPECT_EQ(*tcp6, (std::vector<std::string>{"TCP6", host, "::1", (*tcp6)[3], "*", "*", "*", "LISTENING", "???"}));

    // Save twice into one file: two whole reports, CR LF lines, no temporary report left.
    const std::string temp = planttest::TempFolder(), reportPath = temp + "korvane_e2e.log";
    DeleteFileA(reportPath.c_str());
    ASSERT_TRUE(program.SaveReport(Wide(reportPath)));
    EXPECT_EQ(GetFileAttributesA((temp + "~korvane.tmp").c_str()), INVALID_FILE_ATTRIBUTES) << "temporary report left";
    // Enter starts Save (its default button) and does not close the window.
    PostMessageW(tree, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    HWND saveAs = program.WaitForDialog(60000);
    ASSERT_NE(saveAs, nullptr) << "Enter did not start Save";
    KorvaneProgram::AnswerFileDialog(saveAs, Wide(reportPath));
    HWND replace = nullptr;  // the dialog asks before it names an existing file
    for (DWORD t = GetTickCount(); !replace && GetTickCount() - t < 20000; Sleep(20)) {
        for (HWND w : program.Dialogs()) replace = GetDlgItem(w, IDYES) ? w : replace;
    }
    ASSERT_NE(replace, nullptr);
    PostMessageW(replace, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    ASSERT_TRUE(program.WaitIdle());
    bool crLf = false;
    const std::vector<std::string> lines = ReadLines(reportPath, &crLf);
    EXPECT_TRUE(crLf);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(Count(lines, "1c004000|"), 2u) << "the second report did not follow the first";
    EXPECT_EQ(Count(lines, runName + " = "), 2u) << "no autorun section";
    char processLine[64];
    std::snprintf(processLine, sizeof processLine, "04008019|PROCESS|processes_helper.exe|%lx||||||",
                  static_cast<unsigned long>(c.Id()));
    EXPECT_EQ(Count(lines, processLine), 2u);
    EXPECT_EQ(Count(lines, "00004008|PROCESS"), 2u);
    EXPECT_EQ(Count(lines, "2c910901|TCP|" + (*tcp)[1] + "|127.0.0.1|" + (*tcp)[3] + "|*|*|*|LISTENING|???|"), 2u);
    EXPECT_EQ(Count(lines, "2c910901|UDP|" + (*udp)[1] + "|127.0.0.1|" + (*udp)[3] + "|*|*|*|*|???|"), 2u);
    EXPECT_EQ(Count(lines, "2c910901|TCP6|" + (*tcp6)[1] + "|::1|" + (*tcp6)[3] + "|*|*|*|LISTENING|???|"), 2u);
    EXPECT_EQ(lines.back(), "--------|");

    // The saved report loaded: each record in the panel.
    ASSERT_TRUE(program.LoadReport(Wide(reportPath)));
    const std::wstring os = Wide(lines[0].substr(9, lines[0].find('|', 9) - 9));
    EXPECT_EQ(program.Read(program.Root()).text, os);
    EXPECT_EQ(program.Field(IDC_FIELD_1031), os);  // the first item is selected
    HTREEITEM processes = program.Find(nullptr, L"PROCESS");
    ASSERT_NE(processes, nullptr);
    program.Select(processes);  // a heading shows its report's system
    EXPECT_EQ(program.Field(IDC_FIELD_1031), os);
    EXPECT_FALSE(program.Field(IDC_FIELD_1032).empty());
    HTREEITEM loadedC = program.Find(processes, L"processes_helper.exe");  // A and B have ended
    ASSERT_NE(loadedC, nullptr);
    program.Select(loadedC);
    EXPECT_EQ(program.Field(IDC_FIELD_1031), Hex(c.Id()));
    program.Expand(loadedC);
    HTREEITEM loadedDll = nullptr;  // module lines carry the path as the system gives it
    for (HTREEITEM item : program.Children(loadedC)) {
        if (Lower(program.Read(item).text) == Lower(Wide(dll))) loadedDll = item;
    }
    ASSERT_NE(loadedDll, nullptr);
    program.Select(loadedDll);
    EXPECT_EQ(program.Field(IDC_FIELD_1038), Lower(Wide(dll)));
    EXPECT_EQ(program.Field(IDC_FIELD_1033), FileVersion(dll));
    // Connection rows: under the one "???" application (Wine knows no owners).
    HTREEITEM ports = program.Find(nullptr, L"TCP/IP PORTS");
    ASSERT_NE(ports, nullptr);
    const std::vector<HTREEITEM> applications = program.Children(ports);
    ASSERT_EQ(applications.size(), 1u);
    EXPECT_EQ(program.Read(applications[0]).text, L"???");
    HTREEITEM tcpItem = program.Find(applications[0], Cell(tcp, 3));
    HTREEITEM tcp6Item = program.Find(applications[0], Cell(tcp6, 3));
    ASSERT_TRUE(tcpItem && tcp6Item && program.Find(applications[0], Cell(udp, 3)));
    program.Select(tcp6Item);
    EXPECT_EQ(program.Field(IDC_FIELD_1031), L"TCP6");
    EXPECT_EQ(program.Field(IDC_FIELD_1070), L"::1");
    program.Select(tcpItem);
    EXPECT_EQ(program.Field(IDC_FIELD_1031), L"TCP");
    EXPECT_EQ(program.Field(IDC_FIELD_1032), Cell(tcp, 1));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(program.Main(), IDC_FIELD_1032)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(program.Main(), IDC_FIELD_1037)));
    EXPECT_EQ(program.Field(IDC_FIELD_1070), L"127.0.0.1");
    EXPECT_EQ(program.Field(IDC_FIELD_1071), Cell(tcp, 3));
    EXPECT_EQ(program.Field(IDC_FIELD_1038), L"listening");  // the field shows lower case
    DeleteFileA(reportPath.c_str());

    // The autorun view shows the planted run entry, its file in the panel.
    program.Post(ID_VIEW_AUTORUN);
    ASSERT_TRUE(program.WaitIdle());
    HTREEITEM entry = FindByPrefix(program, nullptr, Wide(runName + " = "));
    ASSERT_NE(entry, nullptr) << "the planted run value is not in the autorun view";
    EXPECT_EQ(program.Read(entry).text, Wide(runName + " = \"" + helper + "\" -x"));
    program.Select(entry);
    EXPECT_EQ(program.Field(IDC_LABEL_1049), L"进程 ID");
    EXPECT_EQ(program.Field(IDC_FIELD_1038), Lower(Wide(helper)));
    EXPECT_EQ(program.Field(IDC_FIELD_1031), Hex(c.Id()));  // the running instance of its file
    EXPECT_NE(program.Field(IDC_FIELD_1034), L"");

    program.Post(ID_FILE_EXIT);
    EXPECT_EQ(WaitForSingleObject(program.Process(), 30000), WAIT_OBJECT_0) << "File > Exit did not end the program";
    EXPECT_TRUE(program.Close()) << "exit code " << std::hex << program.exitCode;
}

}  // namespace
