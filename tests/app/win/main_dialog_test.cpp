// Opens the real main window under Wine and reads its controls, menu and state back.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <vector>

#include "app/win/job_operations.h"
#include "app/win/main_dialog.h"
#include "inspect/win/process_state_win.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/worker_job.h"
#include "resources/resource.h"
#include "tests/support/layout_checks.h"
#include "tests/support/window_test_util.h"

namespace {

using testutil::ClassName;
using testutil::WindowText;

constexpr UINT kRunChecks = WM_APP + 50;

// A main window that runs a test's checks from inside its own modal loop and
// records the commands it receives.
class TestMainDialog : public MainDialog {
public:
    std::function<void(TestMainDialog&)> checks;
    std::vector<int> commands;
    bool destroyed = false;
    HashTable* recordsAtDestroy = nullptr;

protected:
    BOOL OnInitDialog() override {
        const BOOL r = MainDialog::OnInitDialog();
        PostMessageW(hwnd_, kRunChecks, 0, 0);
        return r;
    }
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
        if (message == kRunChecks) {
            if (checks) checks(*this);
            return true;
        }
        if (message == WM_COMMAND) commands.push_back(LOWORD(wParam));
        if (message == WM_NCDESTROY) {
            destroyed = true;
            recordsAtDestroy = records;
        }
        return MainDialog::OnMessage(message, wParam, lParam, result);
    }
};

uint32_t FillTreeOperation(WorkerJob* job) {
    auto* params = static_cast<TreeJobParams*>(job->params);
    for (const wchar_t* text : {L"first.exe", L"second.exe"}) {
        TVINSERTSTRUCTW insert = {};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = const_cast<wchar_t*>(text);
        SendMessageW(params->tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert));
    }
    return JobSucceeded;
}

uint32_t WaitForStopOperation(WorkerJob* job) {
    FillTreeOperation(job);
    uint32_t result = JobSucceeded;
    for (int i = 0; i < 1000 && !IsStopRequested(&result); ++i) Sleep(10);
    return result;
}

struct ControlSpec {
    int id;
    const wchar_t* className;
    const wchar_t* caption;
    bool visible;
    bool enabled;
};

const ControlSpec kControls[] = {
    {IDC_TREE, L"SysTreeView32", L"", true, true},
    {IDC_REFRESH, L"Button", L"刷新", true, true},
    {IDC_SAVE, L"Button", L"保存", true, true},
    {IDC_LOCKED_DLL, L"Button", L"锁定 DLL 文件", true, true},
    {IDCANCEL, L"Button", L"退出", true, true},
    {ID_HELP, L"Button", L"帮助(&H)", true, true},
    {IDC_GROUP_OPTIONS, L"Button", L"保存设置", true, true},
    {IDC_OPT_AUTORUN, L"Button", L"保存系统自启动信息", true, true},
    {IDC_OPT_PROCESSES, L"Button", L"保存当前进程信息", true, true},
    {IDC_OPT_CONNECTIONS, L"Button", L"保存活动连接信息", true, true},
    {IDC_MODULES_SELECTED, L"Button", L"保存单一进程模块", true, true},
    {IDC_MODULES_ALL, L"Button", L"保存所有进程模块", true, true},
    {IDC_GROUP_GENERAL, L"Button", L"常规属性", true, true},
    {IDC_GROUP_FILE, L"Button", L"文件属性", true, true},
    {IDC_LABEL_1049, L"Static", L"进程 ID", true, true},
    {IDC_LABEL_1042, L"Static", L"文件版本", true, true},
    {IDC_LABEL_1043, L"Static", L"名称", true, true},
    {IDC_LABEL_1069, L"Static", L"Port", false, true},
    {IDC_LABEL_1044, L"Static", L"位置", true, true},
    {IDC_LABEL_1045, L"Static", L"文件版本", true, true},
    {IDC_LABEL_1046, L"Static", L"大小(字节)", true, true},
    {IDC_LABEL_1047, L"Static", L"修改时间", true, true},
    {IDC_LABEL_1048, L"Static", L"描述", true, true},
    {IDC_FIELD_1031, L"Edit", L"", true, true},
    {IDC_FIELD_1032, L"Edit", L"", true, true},
    {IDC_FIELD_1037, L"Edit", L"", true, true},
    {IDC_FIELD_1070, L"Edit", L"", false, true},
    {IDC_FIELD_1071, L"Edit", L"", false, true},
    {IDC_FIELD_1038, L"Edit", L"", true, true},
    {IDC_FIELD_1033, L"Edit", L"", true, true},
    {IDC_FIELD_1034, L"Edit", L"", true, true},
    {IDC_FIELD_1035, L"Edit", L"", true, true},
    {IDC_FIELD_1036, L"Edit", L"", true, true},
    {IDC_LIST_CAPTION, L"Static", L"辅助扩充列表", false, true},
    {IDC_LIST, L"ListBox", L"", false, true},
};

std::wstring MenuText(HMENU menu, UINT position) {
    wchar_t buffer[128] = {};
    GetMenuStringW(menu, position, buffer, 128, MF_BYPOSITION);
    return buffer;
}

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (uint32_t k = 0; k < kJobKindCount; ++k) JobOperationTable()[k] = nullptr;
        JobOperationTable()[BuildProcessTree] = FillTreeOperation;
    }
    testutil::Watchdog watchdog{60000};
};

TEST_F(MainDialogTest, OpensWithControlsMenuAndStateOfTheTemplate) {
    TestMainDialog dialog;
    dialog.checks = [](TestMainDialog& d) {
        HWND hwnd = d.GetSafeHwnd();
        EXPECT_EQ(WindowText(hwnd), L"Korvane Inspector");
        const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
        EXPECT_TRUE(style & WS_THICKFRAME);
        EXPECT_TRUE(style & WS_MINIMIZEBOX);
        EXPECT_TRUE(style & WS_MAXIMIZEBOX);
        for (const ControlSpec& c : kControls) {
            SCOPED_TRACE(c.id);
            HWND control = GetDlgItem(hwnd, c.id);
            ASSERT_NE(control, nullptr);
            EXPECT_EQ(ClassName(control), c.className);
            // The value fields show the first item once the start-up build has selected it.
            if (std::wstring(c.className) != L"Edit") {
                EXPECT_EQ(WindowText(control), c.caption);
            }
            EXPECT_EQ(IsWindowVisible(control) != FALSE, c.visible);
        }
        EXPECT_TRUE(GetWindowLongW(GetDlgItem(hwnd, IDC_SAVE), GWL_STYLE) & BS_DEFPUSHBUTTON);
        const LONG treeStyle = GetWindowLongW(GetDlgItem(hwnd, IDC_TREE), GWL_STYLE);
        EXPECT_EQ(treeStyle & (TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS | TVS_DISABLEDRAGDROP),
                  TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS | TVS_DISABLEDRAGDROP);

        // Report options after initialisation.
        EXPECT_EQ(IsDlgButtonChecked(hwnd, IDC_OPT_AUTORUN), BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(hwnd, IDC_OPT_PROCESSES), BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(hwnd, IDC_OPT_CONNECTIONS), BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(hwnd, IDC_MODULES_SELECTED), BST_UNCHECKED);
        EXPECT_EQ(IsDlgButtonChecked(hwnd, IDC_MODULES_ALL), BST_CHECKED);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, IDC_MODULES_SELECTED)));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, IDC_MODULES_ALL)));

        // Menu bar.
        HMENU bar = GetMenu(hwnd);
        ASSERT_NE(bar, nullptr);
        ASSERT_EQ(GetMenuItemCount(bar), 4);
        EXPECT_EQ(MenuText(bar, 0), L"文件(&F)");
        EXPECT_EQ(MenuText(bar, 1), L"编辑(&E)");
        EXPECT_EQ(MenuText(bar, 2), L"查看(&V)");
        EXPECT_EQ(MenuText(bar, 3), L"帮助(&H)");
        HMENU view = GetSubMenu(bar, 2);
        ASSERT_EQ(GetMenuItemCount(view), 7);
        const UINT viewIds[] = {ID_VIEW_PROCESS_TREE, ID_VIEW_AUTORUN, 0, ID_VIEW_LOAD_REPORT, ID_VIEW_RELOAD_REPORT, 0,
                                ID_VIEW_CONNECTIONS};
        const wchar_t* viewTexts[] = {L"进程树", L"检查启动项", L"", L"加载日志信息", L"重新加载日志信息", L"", L"查看连接"};
        for (int i = 0; i < 7; ++i) {
            EXPECT_EQ(GetMenuItemID(view, i), viewIds[i] ? viewIds[i] : 0u);
            EXPECT_EQ(MenuText(view, i), viewTexts[i]);
        }
        EXPECT_TRUE(GetMenuState(bar, ID_VIEW_PROCESS_TREE, MF_BYCOMMAND) & MF_CHECKED);
        EXPECT_TRUE(GetMenuState(bar, ID_VIEW_RELOAD_REPORT, MF_BYCOMMAND) & MF_GRAYED);
        EXPECT_EQ(GetMenuItemID(GetSubMenu(bar, 0), 0), static_cast<UINT>(ID_FILE_EXIT));
        EXPECT_EQ(MenuText(GetSubMenu(bar, 0), 0), L"退出(&E)");
        EXPECT_EQ(MenuText(GetSubMenu(bar, 1), 0), L"结束进程(&K)");
        EXPECT_EQ(GetMenuItemID(GetSubMenu(bar, 3), 0), static_cast<UINT>(ID_HELP));
        EXPECT_EQ(GetMenuItemID(GetSubMenu(bar, 3), 1), static_cast<UINT>(ID_HELP_ABOUT));

        // System menu ends with a separator and the About item.
        HMENU system = GetSystemMenu(hwnd, FALSE);
        const int n = GetMenuItemCount(system);
        ASSERT_GE(n, 2);
        EXPECT_EQ(GetMenuItemID(system, n - 1), static_cast<UINT>(IDM_ABOUTBOX));
        EXPECT_EQ(MenuText(system, n - 1), L"关于Korvane Inspector(&A)...");
        EXPECT_EQ(GetMenuState(system, n - 2, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));

        // State images: eight, index 0 empty; the start-up tree with its first item selected.
        HIMAGELIST images = TreeView_GetImageList(GetDlgItem(hwnd, IDC_TREE), TVSIL_STATE);
        ASSERT_NE(images, nullptr);
        EXPECT_EQ(ImageList_GetImageCount(images), 8);
        EXPECT_EQ(TreeView_GetCount(d.tree.hwnd), 2u);
        EXPECT_EQ(TreeView_GetSelection(d.tree.hwnd), TreeView_GetRoot(d.tree.hwnd));
        EXPECT_NE(d.records, nullptr);
        ASSERT_NE(d.probe, nullptr);
        EXPECT_NE(d.probe->listProcesses, nullptr) << "the probe bound no process listing";
        EXPECT_EQ(d.viewMode, LiveProcessView);
        EXPECT_EQ(SendMessageW(hwnd, WM_QUERYDRAGICON, 0, 0), reinterpret_cast<LRESULT>(d.windowIcon));
        EXPECT_NE(d.windowIcon, nullptr);
        d.EndDialog(IDCANCEL);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(dialog.destroyed);
    EXPECT_EQ(dialog.recordsAtDestroy, nullptr) << "the record table outlived the window";
}

// Without administrator rights a current system cannot open every process, and the
// title says so. Wine always runs as an administrator: the other answer is put in.
TEST_F(MainDialogTest, TitleSaysWhenAdministratorRightsAreMissing) {
    EXPECT_TRUE(HasAdministratorRights());
    const struct {
        bool (*rights)();
        const wchar_t* title;
    } cases[] = {{[] { return false; }, kTitleWithoutAdministratorRights}, {HasAdministratorRights, L"Korvane Inspector"}};
    for (const auto& c : cases) {
        TestMainDialog dialog;
        dialog.hasAdministratorRights = c.rights;
        std::wstring title;
        dialog.checks = [&title](TestMainDialog& d) {
            title = WindowText(d.GetSafeHwnd());
            d.EndDialog(IDCANCEL);
        };
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        EXPECT_EQ(title, c.title);
    }
    EXPECT_STREQ(kTitleWithoutAdministratorRights, L"Korvane Inspector (无管理员权限)");
}

constexpr UINT kAfterEnter = WM_APP + 51;

class EnterDialog : public TestMainDialog {
protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
        if (message == kAfterEnter) {
            EXPECT_EQ(commands, std::vector<int>{IDC_SAVE});
            EXPECT_TRUE(IsWindow(hwnd_));
            EndDialog(IDCANCEL);
            return true;
        }
        return TestMainDialog::OnMessage(message, wParam, lParam, result);
    }
};

// The start size (with the menu bar) and every size the user can drag to are laid out
// whole; the help button narrows below 696 pixels of client width, and with it the rest
// of the buttons; the window never gets smaller than 640 x 400.
TEST_F(MainDialogTest, ResizedWindowKeepsEveryControlInPlace) {
    TestMainDialog dialog;
    dialog.checks = [](TestMainDialog& d) {
        HWND w = d.GetSafeHwnd();
        auto pixels = [w](int units) {
            RECT r = {units, 0, 0, 0};
            MapDialogRect(w, &r);
            return static_cast<int>(r.left);
        };
        auto width = [w](int id) {
            const RECT r = testutil::ClientRectOf(w, GetDlgItem(w, id));
            return static_cast<int>(r.right - r.left);
        };
        RECT outer, client;
        EXPECT_EQ(testutil::LayoutFaults(w), "") << "at the start size";
        GetWindowRect(w, &outer);
        GetClientRect(w, &client);
        const int frameX = (outer.right - outer.left) - client.right;
        const int frameY = (outer.bottom - outer.top) - client.bottom;
        const struct {
            int clientWidth, clientHeight, helpUnits;
        } sizes[] = {{1100, 760, 48}, {696, 480, 48}, {660, 420, 39}};
        for (const auto& s : sizes) {
            SCOPED_TRACE(s.clientWidth);
            SetWindowPos(w, nullptr, 0, 0, s.clientWidth + frameX, s.clientHeight + frameY, SWP_NOMOVE | SWP_NOZORDER);
            GetClientRect(w, &client);
            ASSERT_EQ(client.right, s.clientWidth);
            EXPECT_EQ(testutil::LayoutFaults(w), "");
            EXPECT_EQ(width(ID_HELP), pixels(s.helpUnits));
            for (int id : {IDCANCEL, IDC_SAVE, IDC_REFRESH}) EXPECT_EQ(width(id), width(ID_HELP)) << id;
        }
        SetWindowPos(w, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
        GetWindowRect(w, &outer);
        EXPECT_EQ(outer.right - outer.left, 640);
        EXPECT_EQ(outer.bottom - outer.top, 400);
        EXPECT_EQ(testutil::LayoutFaults(w), "") << "at the smallest size";

        // Minimised, nothing moves; restored, the same places again.
        RECT tree[3] = {testutil::ClientRectOf(w, d.tree.hwnd)};
        ShowWindow(w, SW_MINIMIZE);
        tree[1] = testutil::ClientRectOf(w, d.tree.hwnd);
        ShowWindow(w, SW_RESTORE);
        tree[2] = testutil::ClientRectOf(w, d.tree.hwnd);
        EXPECT_TRUE(EqualRect(&tree[0], &tree[1]) && EqualRect(&tree[0], &tree[2]));
        d.EndDialog(IDCANCEL);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

TEST_F(MainDialogTest, EnterStartsSaveAndDoesNotClose) {
    JobOperationTable()[WriteReport] = [](WorkerJob*) -> uint32_t { return JobCancelled; };
    EnterDialog dialog;
    dialog.checks = [](TestMainDialog& d) {
        HWND tree = d.tree.hwnd;
        SetFocus(tree);
        d.commands.clear();
        PostMessageW(tree, WM_KEYDOWN, VK_RETURN, 0x001C0001);
        PostMessageW(tree, WM_KEYUP, VK_RETURN, 0xC01C0001);
        PostMessageW(d.GetSafeHwnd(), kAfterEnter, 0, 0);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

// Exit button, menu command 32771 and the close box all end the dialog with Cancel.
TEST_F(MainDialogTest, ExitButtonMenuAndCloseBoxEndTheDialog) {
    const std::function<void(HWND)> closers[] = {
        [](HWND h) { SendMessageW(GetDlgItem(h, IDCANCEL), BM_CLICK, 0, 0); },
        [](HWND h) { PostMessageW(h, WM_COMMAND, MAKEWPARAM(ID_FILE_EXIT, 0), 0); },
        [](HWND h) { PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0); },
    };
    for (const auto& close : closers) {
        TestMainDialog dialog;
        dialog.checks = [&close](TestMainDialog& d) { close(d.GetSafeHwnd()); };
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        EXPECT_TRUE(dialog.destroyed);
    }
}

TEST_F(MainDialogTest, FailedStartupBuildShowsErrorAndEmptiesTree) {
    JobOperationTable()[BuildProcessTree] = [](WorkerJob* job) -> uint32_t {
        FillTreeOperation(job);
        return JobFailed;
    };
    std::wstring text;
    HANDLE answerer = CreateThread(nullptr, 0, testutil::AnswerMessageBox, &text, 0, nullptr);
    TestMainDialog dialog;
    UINT count = 99;
    dialog.checks = [&count](TestMainDialog& d) {
        count = TreeView_GetCount(d.tree.hwnd);
        d.EndDialog(IDCANCEL);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    WaitForSingleObject(answerer, INFINITE);
    CloseHandle(answerer);
    EXPECT_EQ(text, L"严重错误:无法建立进程列表");
    EXPECT_EQ(count, 0u);
}

DWORD WINAPI PressCancel(void*) {
    HWND progress = testutil::WaitForProcessWindow(GetCurrentProcessId(), L"搜索进度", 20000);
    if (!progress) return 1;
    Sleep(300);  // let the worker fill the tree first
    PostMessageW(progress, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return 0;
}

TEST_F(MainDialogTest, CancelledStartupBuildLeavesEmptyTreeWithoutMessage) {
    JobOperationTable()[BuildProcessTree] = WaitForStopOperation;
    HANDLE canceller = CreateThread(nullptr, 0, PressCancel, nullptr, 0, nullptr);
    TestMainDialog dialog;
    UINT count = 99;
    HWND stray = nullptr;
    dialog.checks = [&](TestMainDialog& d) {
        count = TreeView_GetCount(d.tree.hwnd);
        stray = testutil::FindProcessWindow(GetCurrentProcessId(), L"Korvane Inspector");
        if (stray == d.GetSafeHwnd()) stray = nullptr;
        d.EndDialog(IDCANCEL);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    WaitForSingleObject(canceller, INFINITE);
    CloseHandle(canceller);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(stray, nullptr) << "a message box was shown";
    EXPECT_EQ(dialog.viewMode, LiveProcessView);
}

}  // namespace

namespace {

UINT ViewMenuState(HWND hwnd, UINT command) {
    return GetMenuState(GetMenu(hwnd), command, MF_BYCOMMAND) & (MF_CHECKED | MF_GRAYED);
}

std::wstring Label(HWND hwnd, int id) { return IsWindowVisible(GetDlgItem(hwnd, id)) ? WindowText(GetDlgItem(hwnd, id)) : L"-"; }

// The switching commands with the real operations: each sets its row of menu marks and
// the view mode, and choosing the shown view again does nothing; the autorun view of a
// system without autorun places shows the system line; the option box drives the radios.
TEST_F(MainDialogTest, ViewCommandsMenusPanelAndOptions) {
    InstallJobOperations();
    TestMainDialog dialog;
    dialog.checks = [](TestMainDialog& d) {
        HWND hwnd = d.GetSafeHwnd();
        const UINT on = MF_CHECKED, off = 0, grayed = MF_GRAYED;
        struct Row {
            UINT command;
            uint8_t view;
            UINT marks[5];  // 32772, 32775, 32776, 32778, 32779
        } rows[] = {
            {ID_VIEW_AUTORUN, AutorunView, {off, on, off, grayed, grayed}},
            {ID_VIEW_AUTORUN, AutorunView, {off, on, off, grayed, grayed}},
            {ID_VIEW_PROCESS_TREE, LiveProcessView, {on, off, off, off, grayed}},
        };
        const UINT ids[5] = {ID_VIEW_PROCESS_TREE, ID_VIEW_AUTORUN, ID_VIEW_LOAD_REPORT, ID_EDIT_END_PROCESS,
                             ID_VIEW_RELOAD_REPORT};
        for (const Row& row : rows) {
            SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(row.command, 0), 0);
            EXPECT_EQ(d.viewMode, row.view) << row.command;
            for (int i = 0; i < 5; ++i) EXPECT_EQ(ViewMenuState(hwnd, ids[i]), row.marks[i]) << row.command << " " << ids[i];
            if (row.view == AutorunView) {
                // The system line first, selected: the system layout with this system.
                EXPECT_EQ(TreeView_GetSelection(d.tree.hwnd), TreeView_GetRoot(d.tree.hwnd));
                EXPECT_EQ(Label(hwnd, IDC_LABEL_1049), L"OS version");
                EXPECT_FALSE(WindowText(GetDlgItem(hwnd, IDC_FIELD_1031)).empty());
            } else {
                EXPECT_GT(TreeView_GetCount(d.tree.hwnd), 1u);
            }
        }

        // The five panel layouts: labels 1049, 1042-1048, 1069 ("-" hidden) and the list.
        const struct {
            int layout;
            std::vector<std::wstring> labels;
            bool list;
        } layouts[] = {
            {ProcessPanel, {L"进程 ID", L"版本", L"名称", L"名称", L"版本", L"大小", L"修改日期", L"Description", L"-"}, false},
            {ConnectionPanel,
             {L"端口类型", L"本地主机", L"Local IP", L"连接状态", L"远程主机", L"Remout IP", L"Remout port", L"-", L"Local port"},
             false},
            {ListPanel, {L"-", L"-", L"-", L"-", L"-", L"-", L"-", L"-", L"-"}, true},
            {ShortcutPanel, {L"进程 ID", L"版本", L"名称", L"名称", L"版本", L"大小", L"修改日期", L"Link To", L"-"}, false},
            {SystemPanel, {L"OS version", L"Build,SP", L"-", L"-", L"-", L"-", L"-", L"-", L"-"}, false},
        };
        const int labelIds[9] = {IDC_LABEL_1049, IDC_LABEL_1042, IDC_LABEL_1043, IDC_LABEL_1044, IDC_LABEL_1045,
                                 IDC_LABEL_1046, IDC_LABEL_1047, IDC_LABEL_1048, IDC_LABEL_1069};
        for (const auto& l : layouts) {
            d.ShowPanelLayout(l.layout);
            std::vector<std::wstring> labels;
            for (int id : labelIds) labels.push_back(Label(hwnd, id));
            EXPECT_EQ(labels, l.labels) << l.layout;
            EXPECT_EQ(IsWindowVisible(GetDlgItem(hwnd, IDC_LIST)) != FALSE, l.list) << l.layout;
        }

        // Unchecking the process section disables the module radios; checking it again
        // always returns to the modules of all processes.
        CheckRadioButton(hwnd, IDC_MODULES_SELECTED, IDC_MODULES_ALL, IDC_MODULES_SELECTED);
        SendMessageW(GetDlgItem(hwnd, IDC_OPT_PROCESSES), BM_CLICK, 0, 0);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, IDC_MODULES_ALL)));
        SendMessageW(GetDlgItem(hwnd, IDC_OPT_PROCESSES), BM_CLICK, 0, 0);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, IDC_MODULES_SELECTED)));
        EXPECT_EQ(IsDlgButtonChecked(hwnd, IDC_MODULES_ALL), BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(hwnd, IDC_MODULES_SELECTED), BST_UNCHECKED);
        d.EndDialog(IDCANCEL);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

}  // namespace
