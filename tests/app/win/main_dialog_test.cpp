// The main window in this process under Wine, for what korvane.exe's end-to-end test
// cannot reach from outside: a start-up build that fails or is stopped (stand-in
// operations), and with the real operations the title without administrator rights, the
// menu marks, the list layout and the report options.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>

#include "app/win/job_operations.h"
#include "app/win/main_dialog.h"
#include "inspect/hash_table.h"
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

// A stand-in start-up build: two processes in the tree.
uint32_t FillTreeOperation(WorkerJob* job) {
    TVINSERTSTRUCTW insert = {};
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    for (const wchar_t* text : {L"first.exe", L"second.exe"}) {
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
    // Runs the dialog with checks.
    static void Run(TestMainDialog& dialog, std::function<void(TestMainDialog&)> checks) {
        dialog.checks = std::move(checks);
        dialog.DoModal();
    }
    testutil::Watchdog watchdog{60000};
};

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

// With the real operations: the title without administrator rights (Wine always runs as
// an administrator: the other answer is put in); the view commands, each setting its row
// of menu marks and the view mode (choosing the shown view again does nothing); the list
// layout of the panel; the option box and the module radios; the record table gone with
// the window.
TEST_F(MainDialogTest, TitleViewCommandsMenusPanelAndOptions) {
    InstallJobOperations();
    TestMainDialog dialog;
    dialog.hasAdministratorRights = [] { return false; };
    Run(dialog, [](TestMainDialog& d) {
        HWND hwnd = d.GetSafeHwnd();
        EXPECT_EQ(WindowText(hwnd), L"Korvane Inspector (无管理员权限)");
        EXPECT_NE(d.records, nullptr);
        const UINT on = MF_CHECKED, off = 0, grayed = MF_GRAYED;
        const UINT ids[5] = {ID_VIEW_PROCESS_TREE, ID_VIEW_AUTORUN, ID_VIEW_LOAD_REPORT, ID_EDIT_END_PROCESS,
                             ID_VIEW_RELOAD_REPORT};
        // The live view holds no records: a process ID must never find the autorun view's.
        const struct { UINT command; uint8_t view; UINT marks[5]; bool records; } rows[] = {
            {ID_VIEW_AUTORUN, AutorunView, {off, on, off, grayed, grayed}, true},
            {ID_VIEW_AUTORUN, AutorunView, {off, on, off, grayed, grayed}, true},
            {ID_VIEW_PROCESS_TREE, LiveProcessView, {on, off, off, off, grayed}, false},
        };
        for (const auto& row : rows) {
            SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(row.command, 0), 0);
            EXPECT_EQ(d.viewMode, row.view) << row.command;
            EXPECT_EQ(FirstEntry(d.records) != nullptr, row.records) << row.command;
            for (int i = 0; i < 5; ++i) EXPECT_EQ(MenuMarks(hwnd, ids[i]), row.marks[i]) << row.command << " " << ids[i];
            EXPECT_GT(TreeView_GetCount(d.tree.hwnd), 1u);
        }

        // The list layout shows the list instead of the labels; the others hide it again.
        for (int layout : {ListPanel, ProcessPanel}) {
            d.ShowPanelLayout(layout);
            EXPECT_EQ(IsWindowVisible(GetDlgItem(hwnd, IDC_LIST)) != FALSE, layout == ListPanel);
            EXPECT_EQ(IsWindowVisible(GetDlgItem(hwnd, IDC_LABEL_1042)) != FALSE, layout != ListPanel);
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
