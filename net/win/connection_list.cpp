#include "net/win/connection_list.h"

#include <commctrl.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "inspect/hash_table.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/progress.h"
#include "jobs/win/worker_job.h"
#include "net/connection_rows.h"
#include "net/win/connection_names_win.h"
#include "ui/controls.h"

namespace {

constexpr int kColumnPadding = 20;
// Rows the worker formats before the interface thread adds them, and the longest it
// keeps them back, so the list fills visibly without a message per cell.
constexpr size_t kBatchRows = 64;
constexpr DWORD kBatchMs = 100;

ListViewRef ListOf(HWND list) {
    ListViewRef ref;
    ref.hwnd = list;
    return ref;
}

// Rows formatted on the worker, added to the list on the interface thread.
struct RowBatch {
    HWND list;
    std::vector<ConnectionTexts> texts;
    std::vector<std::string> applications;
};

void AddRows(void* argument) {
    auto* batch = static_cast<RowBatch*>(argument);
    const ListViewRef list = ListOf(batch->list);
    HDC dc = GetDC(batch->list);
    HGDIOBJ oldFont = nullptr;
    if (dc) {
        HFONT font = reinterpret_cast<HFONT>(SendMessageW(batch->list, WM_GETFONT, 0, 0));
        if (font) oldFont = SelectObject(dc, font);
    }
    const int first = list.GetItemCount();
    for (size_t i = 0; i < batch->texts.size(); ++i) {
        const ConnectionTexts& t = batch->texts[i];
        const int row = SetListCellText(batch->list, list.GetItemCount(), 0, t.type, dc);
        if (row < 0) continue;
        const char* cells[] = {t.localHost,  t.localAddress, t.localPort, t.remoteHost,
                               t.remoteAddress, t.remotePort, t.state, batch->applications[i].c_str()};
        for (int column = 1; column <= 8; ++column) SetListCellText(batch->list, row, column, cells[column - 1], dc);
    }
    list.RedrawItems(first, list.GetItemCount() - 1);
    if (dc) {
        if (oldFont) SelectObject(dc, oldFont);
        ReleaseDC(batch->list, dc);
    }
}

void DeleteRows(void* list) { ListOf(static_cast<HWND>(list)).DeleteAllItems(); }

bool StopRequested(void* progressWindow) {
    uint32_t result = 0;
    return progressWindow && IsStopRequested(&result);
}

// Fills the list with one table's rows. 0, or 3 when stopped.
uint32_t AddTableRows(HWND list, HWND progressWindow, SystemProbe* probe, ConnectionNames& names,
                      HashTable* processes, const void* table, bool isTcp) {
    const uint32_t count = ConnectionRowCount(table);
    BeginProgressTask(progressWindow, isTcp ? L"正在搜索活动的TCP连接信息……" : L"正在搜索活动的UDP连接信息…… ", count);
    uint32_t result = 0;
    if (StopRequested(progressWindow)) return kStoppedResult;
    if (ResolveTableHostNames(names, table, isTcp, progressWindow) != 0) return kStoppedResult;

    std::map<uint32_t, std::string> applications;  // display path by owner, for this listing
    RowBatch batch{list, {}, {}};
    DWORD batchStart = GetTickCount();
    for (uint32_t i = 0; i < count; ++i) {
        const void* row = ConnectionRowAt(table, isTcp, i);
        batch.texts.emplace_back();
        if (isTcp) {
            FormatTcpRow(names, *static_cast<const TcpOwnerRow*>(row), &batch.texts.back());
        } else {
            FormatUdpRow(names, *static_cast<const UdpOwnerRow*>(row), &batch.texts.back());
        }
        const uint32_t owner = ConnectionRowOwner(row, isTcp);
        auto found = applications.find(owner);
        if (found == applications.end()) {
            char* path = owner ? probe->GetProcessImagePath(processes, owner) : nullptr;
            found = applications.emplace(owner, path ? path : kNoOwnerText).first;
            std::free(path);
        }
        batch.applications.push_back(found->second);
        if (batch.texts.size() >= kBatchRows || GetTickCount() - batchStart >= kBatchMs || i + 1 == count) {
            RunOnInterfaceThread(progressWindow, AddRows, &batch);
            batch.texts.clear();
            batch.applications.clear();
            batchStart = GetTickCount();
        }
        if (StepProgress(progressWindow, &result)) return kStoppedResult;
    }
    FlushProgress(progressWindow);
    return 0;
}

}  // namespace

int InsertListColumn(HWND list, const wchar_t* header, int position, int subItem) {
    const ListViewRef ref = ListOf(list);
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_CENTER;
    column.cx = ref.GetStringWidth(header) + kColumnPadding;
    column.pszText = const_cast<wchar_t*>(header);
    column.iSubItem = subItem == -1 ? position : subItem;
    return ref.InsertColumn(position, column);
}

int SetListCellText(HWND list, int row, int column, const char* text, HDC dc) {
    const ListViewRef ref = ListOf(list);
    if (column == 0) {
        row = ref.InsertItemText(row, text);
    } else if (!ref.SetItemText(row, column, text)) {
        return -1;
    }
    SIZE extent;
    if (row >= 0 && dc && GetTextExtentPoint32A(dc, text, lstrlenA(text), &extent) &&
        extent.cx > ref.GetColumnWidth(column)) {
        ref.SetColumnWidth(column, extent.cx);
    }
    return row;
}

uint32_t ResolveTableHostNames(ConnectionNames& names, const void* table, bool isTcp, HWND progressWindow) {
    std::vector<NetAddress> addresses;
    CollectHostAddresses(table, isTcp, &addresses);
    return names.Resolve(addresses.data(), addresses.size(), StopRequested, progressWindow);
}

uint32_t FillConnectionList(HWND list, HWND progressWindow, SystemProbe* probe, ConnectionNames& names) {
    HashTable* processes = CreateTable(8, 1);
    if (processes) probe->ListProcesses(processes, nullptr);
    RunOnInterfaceThread(progressWindow, DeleteRows, list);
    uint32_t result = 0;
    for (const bool isTcp : {true, false}) {
        void* table = nullptr;
        const bool got = isTcp ? probe->QueryTcpTable(&table, processes) : probe->QueryUdpTable(&table, processes);
        if (!got) continue;
        result = AddTableRows(list, progressWindow, probe, names, processes, table, isTcp);
        HeapFree(GetProcessHeap(), 0, table);
        if (result != 0) break;
    }
    DestroyTable(processes, 1);
    return result;
}

uint32_t ListConnectionsOperation(WorkerJob* job) {
    auto* params = static_cast<ConnectionsJobParams*>(job->params);
    const HWND list = params ? params->list : nullptr;
    std::free(job->params);
    job->params = nullptr;
    if (!list || !job->probe) return JobSucceeded;
    return FillConnectionList(list, job->progressWindow, job->probe, SystemConnectionNames()) == 0 ? JobSucceeded
                                                                                                   : JobCancelled;
}
