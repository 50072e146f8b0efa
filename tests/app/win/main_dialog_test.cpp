// The main window in this process under Wine, for what korvane.exe's end-to-end test
// cannot reach from outside: the title without administrator rights, a start-up build
// that fails or is stopped (stand-in operations), and with the real operations the
// window's state after opening, its menu marks, panel layouts and report options.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <vector>

#include "app/win/job_operations.h"
#include "app/win/main_dialog.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/worker_job.h"
#include "resources/resource.h"
#include "tests/support/window_test_util.h"

namespace {

using testutil::WindowText;

constexpr UINT kRunChecks = WM_APP + 50;

// A main window that runs a test's checks from inside its own modal loop.
class TestMainDialog : public MainDialog {
public:
    std::function<void(TestMainDialog&)> checks;
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
        if (message == WM_NCDESTROY) {
            destroyed = true;
            recordsAtDestroy = records;
        }
        return MainDialog::OnMessage(message, wParam, lParam, result);
    }
};

uint32_t FillTreeOperation(WorkerJob* job) {
    for (const wchar_t* text : {L"first.exe", L"second.exe"}) {
        TVINSERTSTRUCTW insert = {};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = const_cast<wchar_t*>(text);
        SendMessageW(static_cast<TreeJobParams*>(job->params)->tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert));
    }
    return JobSucceeded;
}

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (uint32_t k = 0; k < kJobKindCount; ++k) JobOperationTable()[k] = nullptr;
        JobOperationTable()[BuildProcessTree] = FillTreeOperation;
    }
    // Runs the dialog with checks; the code it ended with.
    INT_PTR Run(TestMainDialog& dialog, std::function<void(TestMainDialog&)> checks) {
        dialog.checks = std::move(checks);
        return dialog.DoModal();
    }
    testutil::Watchdog watchdog{60000};
};

// Wine always runs as an administrator: the other answer is put in.
TEST_F(MainDialogTest, TitleSaysWhenAdministratorRightsAreMissing) {
    TestMainDialog dialog;
    dialog.hasAdministratorRights = [] { return false; };
    std::wstring title;
    Run(dialog, [&title](TestMainDialog& d) {
        title = WindowText(d.GetSafeHwnd());
        d.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(title, L"Korvane Inspector (无管理员权限)");
}

DWORD WINAPI PressCancel(void*) {
    HWND progress = testutil::WaitForProcessWindow(GetCurrentProcessId(), L"搜索进度", 20000);
    Sleep(300);  // let the worker fill the tree first
    if (progress) PostMessageW(progress, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return 0;
}

// A failed start-up build says so, a stopped one does not; either leaves an empty tree.
TEST_F(MainDialogTest, FailedOrStoppedStartupBuildLeavesAnEmptyTree) {
    const struct { JobOperation operation; LPTHREAD_START_ROUTINE helper; const wchar_t* message; } cases[] = {
        {[](WorkerJob* job) { return FillTreeOperation(job), static_cast<uint32_t>(JobFailed); },
         testutil::AnswerMessageBox, L"严重错误:无法建立进程列表"},
        {[](WorkerJob* job) {
             uint32_t result = FillTreeOperation(job);
             for (int i = 0; i < 1000 && !IsStopRequested(&result); ++i) Sleep(10);
             return result;
         },
         PressCancel, L""},
    };
    for (const auto& c : cases) {
        JobOperationTable()[BuildProcessTree] = c.operation;
        std::wstring message;
        HANDLE helper = CreateThread(nullptr, 0, c.helper, &message, 0, nullptr);
        TestMainDialog dialog;
        UINT count = 99;
        HWND box = nullptr;
        Run(dialog, [&](TestMainDialog& d) {
            count = TreeView_GetCount(d.tree.hwnd);
            box = testutil::FindProcessWindow(GetCurrentProcessId(), L"Korvane Inspector");
            if (box == d.GetSafeHwnd()) box = nullptr;
            d.EndDialog(IDCANCEL);
        });
        WaitForSingleObject(helper, INFINITE);
        CloseHandle(helper);
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(box, nullptr) << "a message box is still open";
        EXPECT_EQ(dialog.viewMode, LiveProcessView);
    }
}

UINT MenuMarks(HWND hwnd, UINT command) {
    return GetMenuState(GetMenu(hwnd), command, MF_BYCOMMAND) & (MF_CHECKED | MF_GRAYED);
}

std::wstring Label(HWND hwnd, int id) {
    return IsWindowVisible(GetDlgItem(hwnd, id)) ? WindowText(GetDlgItem(hwnd, id)) : L"-";
}

// With the real operations: the system menu's About item, the eight state images; the
// view commands, each setting its row of menu marks and the view mode (choosing the
// shown view again does nothing); the panel's layouts; the option box and the module
// radios; the record table gone with the window.
TEST_F(MainDialogTest, ViewCommandsMenusPanelAndOptions) {
    InstallJobOperations();
    TestMainDialog dialog;
    Run(dialog, [](TestMainDialog& d) {
        HWND hwnd = d.GetSafeHwnd();
        HMENU system = GetSystemMenu(hwnd, FALSE);
        const int n = GetMenuItemCount(system);
        EXPECT_EQ(GetMenuItemID(system, n - 1), static_cast<UINT>(IDM_ABOUTBOX));
        EXPECT_EQ(GetMenuState(system, n - 2, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
        EXPECT_EQ(ImageList_GetImageCount(TreeView_GetImageList(d.tree.hwnd, TVSIL_STATE)), 8);
        EXPECT_NE(d.records, nullptr);
        const UINT on = MF_CHECKED, off = 0, grayed = MF_GRAYED;
        const UINT ids[5] = {ID_VIEW_PROCESS_TREE, ID_VIEW_AUTORUN, ID_VIEW_LOAD_REPORT, ID_EDIT_END_PROCESS,
                             ID_VIEW_RELOAD_REPORT};
        const struct { UINT command; uint8_t view; UINT marks[5]; } rows[] = {
            {ID_VIEW_AUTORUN, AutorunView, {off, on, off, grayed, grayed}},
            {ID_VIEW_AUTORUN, AutorunView, {off, on, off, grayed, grayed}},
            {ID_VIEW_PROCESS_TREE, LiveProcessView, {on, off, off, off, grayed}},
        };
        for (const auto& row : rows) {
            SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(row.command, 0), 0);
            EXPECT_EQ(d.viewMode, row.view) << row.command;
            for (int i = 0; i < 5; ++i) EXPECT_EQ(MenuMarks(hwnd, ids[i]), row.marks[i]) << row.command << " " << ids[i];
            EXPECT_GT(TreeView_GetCount(d.tree.hwnd), 1u);
        }

        // Labels 1049, 1042-1048, 1069 ("-": hidden) and the list of each layout.
        const struct { int layout; std::vector<std::wstring> labels; bool list; } layouts[] = {
            {ProcessPanel, {L"进程 ID", L"版本", L"名称", L"名称", L"版本", L"大小", L"修改日期", L"Description", L"-"}, false},
            {ConnectionPanel,
             {L"端口类型", L"本地主机", L"Local IP", L"连接状态", L"远程主机", L"Remout IP", L"Remout port", L"-", L"Local port"},
             false},
            {ListPanel, {L"-", L"-", L"-", L"-", L"-", L"-", L"-", L"-", L"-"}, true},
            {ShortcutPanel, {L"进程 ID", L"版本", L"名称", L"名称", L"版本", L"大小", L"修改日期", L"Link To", L"-"}, false},
            {SystemPanel, {L"OS version", L"Build,SP", L"-", L"-", L"-", L"-", L"-", L"-", L"-"}, false},
        };
        for (const auto& l : layouts) {
            d.ShowPanelLayout(l.layout);
            std::vector<std::wstring> labels;
            for (int id : {IDC_LABEL_1049, IDC_LABEL_1042, IDC_LABEL_1043, IDC_LABEL_1044, IDC_LABEL_1045,
                           IDC_LABEL_1046, IDC_LABEL_1047, IDC_LABEL_1048, IDC_LABEL_1069}) {
                labels.push_back(Label(hwnd, id));
            }
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
    });
    EXPECT_TRUE(dialog.destroyed);
    EXPECT_EQ(dialog.recordsAtDestroy, nullptr) << "the record table outlived the window";
}

}  // namespace
