// The real korvane.exe in one run from start to exit, with three child processes that
// hold a DLL, sockets and a run-key entry that this test made: window sizes, the live
// tree and its panel, the locked-module search, ending two of the children, Refresh, the
// connections dialog, Save (twice into one file, the second time by Enter), loading the
// saved report, the autorun view and File > Exit.
#include <gtest/gtest.h>

#include "tests/net/win/connections_windows.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "inspect/win/processes_win.h"
#include "net/win/connections_dialog.h"
#include "tests/support/autorun_plant.h"
#include "tests/support/korvane_program.h"
#include "tests/support/probe_test_util.h"

namespace {

using probetest::ChildProcess;
using testutil::KorvaneProgram;

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() * 2 + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size())) - 1);
    return wide;
}
std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring Lower(std::wstring text) {
    CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::wstring Hex(uint64_t number) {
    wchar_t text[24];
    std::swprintf(text, 24, L"%llx", static_cast<unsigned long long>(number));
    return text;
}

// How often text occurs in a file's bytes.
size_t Count(const std::string& bytes, const std::string& text) {
    size_t n = 0;
    for (size_t at = bytes.find(text); at != std::string::npos; at = bytes.find(text, at + 1)) ++n;
    return n;
}

// A child's rectangle in its dialog's client coordinates.
RECT ClientRectOf(HWND dialog, HWND child) {
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A dialog's layout checked from outside: "" when every visible child lies inside the
// client area and no two visible children other than group boxes overlap; else one
// clause per fault, naming the control IDs.
std::string LayoutFaults(HWND dialog) {
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
        const bool group = testutil::ClassName(child) == L"Button" && (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
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

TEST(ProgramEndToEnd, OneRunThroughEveryCommand) {
    testutil::Watchdog watchdog(280000);
    ChildProcess a, b, c;
    ASSERT_TRUE(a.Start() && b.Start() && c.Start());
    conntest::OpenSockets sockets;
    ASSERT_TRUE(sockets.Ok());
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
    // never gets smaller than 640 x 400; minimised, nothing moves.
    HWND main = program.Main(), tree = GetDlgItem(main, IDC_TREE);
    auto width = [main](int id) {
        const RECT r = ClientRectOf(main, GetDlgItem(main, id));
        return r.right - r.left;
    };
    RECT start, client, treeAt[2];
    GetWindowRect(main, &start);
    GetClientRect(main, &client);
    long helpWidth[2] = {};
    for (int i = 0; i < 2; ++i) {
        SetWindowPos(main, nullptr, 0, 0, (i ? 660 : 1100) + start.right - start.left - client.right,
                     600 + start.bottom - start.top - client.bottom, SWP_NOMOVE | SWP_NOZORDER);
        EXPECT_EQ(LayoutFaults(main), "") << i;
        helpWidth[i] = width(ID_HELP);
        for (int id : {IDCANCEL, IDC_SAVE, IDC_REFRESH}) EXPECT_EQ(width(id), helpWidth[i]) << id;
    }
    EXPECT_LT(helpWidth[1], helpWidth[0]);
    SetWindowPos(main, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
    RECT smallest;
    GetWindowRect(main, &smallest);
    EXPECT_EQ(smallest.right - smallest.left, 640);
    EXPECT_EQ(smallest.bottom - smallest.top, 400);
    treeAt[0] = ClientRectOf(main, tree);
    ShowWindow(main, SW_MINIMIZE);
    treeAt[1] = ClientRectOf(main, tree);
    ShowWindow(main, SW_RESTORE);
    EXPECT_TRUE(EqualRect(&treeAt[0], &treeAt[1]));
    SetWindowPos(main, nullptr, 0, 0, start.right - start.left, start.bottom - start.top, SWP_NOMOVE | SWP_NOZORDER);

    // The live tree: korvane.exe with its own image among its modules, each child with the DLL.
    HTREEITEM self = ItemOf(program, program.Id()), itemA = ItemOf(program, a.Id()), itemB = ItemOf(program, b.Id());
    ASSERT_TRUE(self && itemA && itemB && ItemOf(program, c.Id()));
    EXPECT_EQ(program.Read(self).text, L"korvane.exe");
    EXPECT_EQ(program.Read(itemA).text, L"processes_helper.exe");
    bool ownImage = false;
    for (HTREEITEM m : program.Children(self)) ownImage |= Lower(program.Read(m).text).find(L"\\korvane.exe") != std::wstring::npos;
    EXPECT_TRUE(ownImage) << "korvane.exe's own image is not among its modules";

    // The panel: a child's ID and path, then its DLL's handle, path, version and size.
    program.Select(itemA);
    EXPECT_EQ(program.Field(IDC_FIELD_1031), Hex(a.Id()));
    EXPECT_EQ(program.Field(IDC_FIELD_1038), Lower(Wide(helper)));
    program.Expand(itemA);
    HTREEITEM dllA = program.Find(itemA, upperDll);
    ASSERT_NE(dllA, nullptr) << "the child's DLL is not among its modules";
    program.Select(dllA);
    EXPECT_EQ(program.Field(IDC_FIELD_1031), Hex(static_cast<uintptr_t>(program.Read(dllA).data)));
    EXPECT_EQ(program.Field(IDC_FIELD_1038), Lower(Wide(dll)));
    const std::wstring version = program.Field(IDC_FIELD_1033);  // the loaded report must show it too
    EXPECT_FALSE(version.empty());
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
    EXPECT_EQ(program.StateImage(self), 0u);
    for (HTREEITEM module : program.Children(itemA)) EXPECT_EQ(program.StateImage(module), module == dllA ? 3u : 0u);

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
        for (HTREEITEM module : program.Children(end.item)) {
            EXPECT_EQ(program.StateImage(module), program.Read(module).text == upperDll ? 7u : 4u);
        }
    }

    // Refresh with an ended process selected: it is gone and nothing is chosen for it
    // (the tree selects its first item itself when it gets the focus back); with a module
    // of a running process selected: the same module again.
    program.Post(IDC_REFRESH);
    ASSERT_TRUE(program.WaitIdle());
    EXPECT_TRUE(program.Selected() == nullptr || program.Selected() == program.Root());
    EXPECT_FALSE(ItemOf(program, a.Id()) || ItemOf(program, b.Id()));
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

    // The connections dialog: its columns in order, Save greyed; Check lists the test's
    // sockets (loopback addresses show the machine's name) and widens columns but never
    // narrows one; a second Check replaces the rows, a stopped one leaves none; the list
    // follows the dialog maximised and restored.
    program.Post(ID_VIEW_CONNECTIONS);
    HWND dialog = testutil::WaitForProcessWindow(program.Id(), L"检查活动连接", 20000, 20);
    ASSERT_NE(dialog, nullptr);
    HWND list = GetDlgItem(dialog, IDC_CONNECTIONS_LIST);
    auto check = [&] {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CONNECTIONS_CHECK, BN_CLICKED), 0);
        for (DWORD t = GetTickCount(); IsWindowEnabled(dialog) && GetTickCount() - t < 10000;) Sleep(10);
        for (DWORD t = GetTickCount(); !IsWindowEnabled(dialog) && GetTickCount() - t < 30000;) Sleep(20);
        return conntest::ListTexts(program.Process(), list, 9);
    };
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_CONNECTIONS_SAVE)));
    int widths[9];
    for (int i = 0; i < 9; ++i) widths[i] = ListView_GetColumnWidth(list, i);
    const auto rows = check();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], std::vector<std::wstring>(kConnectionColumnHeaders, kConnectionColumnHeaders + 9));
    for (int i = 0; i < 9; ++i) EXPECT_GE(ListView_GetColumnWidth(list, i), widths[i]) << "column " << i;
    EXPECT_EQ(check().size(), rows.size());
    {
        probetest::StopRequest stop;
        EXPECT_EQ(check().size(), 1u);
    }
    RECT dialogClient[2], listAt[3];
    const WPARAM sizes[3] = {0, SC_MAXIMIZE, SC_RESTORE};
    for (int i = 0; i < 3; ++i) {
        if (sizes[i]) SendMessageW(dialog, WM_SYSCOMMAND, sizes[i], 0);
        EXPECT_EQ(LayoutFaults(dialog), "") << i;
        listAt[i] = ClientRectOf(dialog, list);
        if (i == 2) break;
        GetClientRect(dialog, &dialogClient[i]);
        EXPECT_EQ(listAt[i].right, dialogClient[i].right);
    }
    EXPECT_GT(dialogClient[1].right, dialogClient[0].right);
    EXPECT_TRUE(EqualRect(&listAt[0], &listAt[2]));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    ASSERT_TRUE(program.WaitIdle());
    // Each socket's row: the machine's name for a loopback address, no owner (Wine knows none).
    char hostName[256] = {};
    gethostname(hostName, sizeof hostName);
    const std::wstring host = Wide(hostName);
    struct Listed { const wchar_t* type; unsigned short port; const wchar_t* address; const wchar_t* state; std::wstring portText; };
    std::vector<Listed> listed = {{L"TCP", sockets.tcpPort, L"127.0.0.1", L"LISTENING", L""},
                                  {L"UDP", sockets.udpPort, L"127.0.0.1", L"*", L""}};
    if (sockets.HasIpv6()) listed.push_back({L"TCP6", sockets.tcp6Port, L"::1", L"LISTENING", L""});
    for (Listed& s : listed) {
        const auto* row = conntest::FindRow(rows, s.type, s.port);
        ASSERT_NE(row, nullptr) << Ascii(s.type) << " not among " << rows.size() << " rows";
        s.portText = (*row)[3];
        EXPECT_EQ(*row, (std::vector<std::wstring>{s.type, host, s.address, s.portText, L"*", L"*", L"*", s.state, L"???"}));
    }

    // Save twice into one file, the second time by Enter (Save is the default button),
    // which confirms naming the existing file: two whole reports, CR LF lines, and no
    // temporary report left behind.
    const std::string temp = planttest::TempFolder(), reportPath = temp + "korvane_e2e.log";
    DeleteFileA(reportPath.c_str());
    ASSERT_TRUE(program.SaveReport(Wide(reportPath)));
    EXPECT_EQ(GetFileAttributesA((temp + "~korvane.tmp").c_str()), INVALID_FILE_ATTRIBUTES) << "temporary report left";
    PostMessageW(tree, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    HWND saveAs = program.WaitForDialog(60000);
    ASSERT_NE(saveAs, nullptr) << "Enter did not start Save";
    KorvaneProgram::AnswerFileDialog(saveAs, Wide(reportPath));
    HWND replace = nullptr;
    for (DWORD t = GetTickCount(); !replace && GetTickCount() - t < 20000; Sleep(20)) {
        for (HWND w : program.Dialogs()) replace = GetDlgItem(w, IDYES) ? w : replace;
    }
    ASSERT_NE(replace, nullptr);
    PostMessageW(replace, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    ASSERT_TRUE(program.WaitIdle());
    std::ostringstream saved;
    saved << std::ifstream(reportPath, std::ios::binary).rdbuf();
    const std::string report = saved.str();
    EXPECT_EQ(Count(report, "\n"), Count(report, "\r\n")) << "a line does not end in CR LF";
    EXPECT_EQ(report.substr(report.size() - 11), "--------|\r\n");
    EXPECT_EQ(report.find("1c004000|"), 0u);
    EXPECT_EQ(Count(report, "\n1c004000|"), 1u) << "the second report did not follow the first";
    EXPECT_EQ(Count(report, runName + " = "), 2u) << "no autorun section";
    EXPECT_EQ(Count(report, "\n04008019|PROCESS|processes_helper.exe|" + Ascii(Hex(c.Id())) + "||||||\r\n"), 2u);
    for (const Listed& l : listed) {
        const std::string line = "\n2c910901|" + Ascii(l.type) + "|" + hostName + "|" + Ascii(l.address) + "|" +
                                 Ascii(l.portText) + "|*|*|*|" + Ascii(l.state) + "|???|";
        EXPECT_EQ(Count(report, line), 2u) << line;
    }

    // The saved report loaded: each record in the panel.
    ASSERT_TRUE(program.LoadReport(Wide(reportPath)));
    DeleteFileA(reportPath.c_str());
    const std::wstring os = Wide(report.substr(9, report.find('|', 9) - 9));
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
    EXPECT_EQ(program.Field(IDC_FIELD_1033), version);
    // Connection rows: under the one "???" application (Wine knows no owners).
    HTREEITEM ports = program.Find(nullptr, L"TCP/IP PORTS");
    ASSERT_NE(ports, nullptr);
    const std::vector<HTREEITEM> applications = program.Children(ports);
    ASSERT_EQ(applications.size(), 1u);
    EXPECT_EQ(program.Read(applications[0]).text, L"???");
    for (const Listed& l : listed) EXPECT_NE(program.Find(applications[0], l.portText), nullptr) << Ascii(l.type);
    HTREEITEM tcpItem = program.Find(applications[0], listed[0].portText);
    ASSERT_NE(tcpItem, nullptr);
    program.Select(tcpItem);
    EXPECT_EQ(program.Field(IDC_FIELD_1031), L"TCP");
    EXPECT_EQ(program.Field(IDC_FIELD_1032), host);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(main, IDC_FIELD_1032)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(main, IDC_FIELD_1037)));
    EXPECT_EQ(program.Field(IDC_FIELD_1070), L"127.0.0.1");
    EXPECT_EQ(program.Field(IDC_FIELD_1071), listed[0].portText);
    EXPECT_EQ(program.Field(IDC_FIELD_1038), L"listening");  // the field shows lower case

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
