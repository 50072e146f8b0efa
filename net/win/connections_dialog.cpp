#include "net/win/connections_dialog.h"

#include <cstdlib>

#include "app/dialog_layout.h"
#include "app/win/dialog_layout_win.h"
#include "jobs/win/worker_job.h"
#include "net/win/connection_list.h"
#include "resources/resource.h"

const wchar_t* const kConnectionColumnHeaders[9] = {
    L"类型",     L"本地主机", L"本机IP地址",          L"本地端口 (Port name)", L"远程主机",
    L"远程IP地址", L"远程端口 (端口名称)", L"描述", L"文件路径",
};

ConnectionsDialog::ConnectionsDialog(HWND parent) : Dialog(IDD_CONNECTIONS, parent) {}

void ConnectionsDialog::DoDataExchange() { list.Attach(hwnd_, IDC_CONNECTIONS_LIST); }

BOOL ConnectionsDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    list.DeleteAllItems();
    // Each column goes in at the front with its own number, so they end in order 0-8.
    for (int column = 8; column >= 0; --column) {
        InsertListColumn(list.hwnd, kConnectionColumnHeaders[column], 0, column);
    }
    ApplyWindowLayout(hwnd_, kConnectionsLayout, kConnectionsLayoutRuleCount);
    return TRUE;
}

void ConnectionsDialog::OnCheck() {
    auto* job = static_cast<WorkerJob*>(std::calloc(1, sizeof(WorkerJob)));
    auto* params = static_cast<ConnectionsJobParams*>(std::calloc(1, sizeof(ConnectionsJobParams)));
    uint32_t result = JobFailed;
    if (job && params) {
        params->list = list.hwnd;
        job->kind = ListConnections;
        job->viewMode = &viewMode_;
        job->probe = probe;
        job->params = params;
        params = nullptr;
        result = RunJobWithProgress(job);
    }
    std::free(params);
    if (result == JobCancelled) {
        list.DeleteAllItems();
    } else if (result != JobSucceeded) {
        ShowMessageBox(L"严重错误:无法建立端口列表", MB_OK | MB_ICONSTOP, hwnd_);
    }
    FreeWorkerJob(job);
}

bool ConnectionsDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_CONNECTIONS_CHECK && HIWORD(wParam) == BN_CLICKED) {
        OnCheck();
        return true;
    }
    if (message == WM_SIZE) ApplyWindowLayout(hwnd_, kConnectionsLayout, kConnectionsLayoutRuleCount);
    return Dialog::OnMessage(message, wParam, lParam, result);
}

void RunConnectionsDialog(HWND owner, SystemProbe* probe) {
    ConnectionsDialog dialog(owner);
    dialog.probe = probe;
    dialog.DoModal();
}
