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
#include "net/win/connection_routes.h"
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

// A device context of the list with the list's font, for measuring cell texts; dc is
// null when there is none.
struct ListTextDc {
    explicit ListTextDc(HWND list) : list(list), dc(GetDC(list)) {
        HFONT font = dc ? reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)) : nullptr;
        if (font) oldFont = SelectObject(dc, font);
    }
    ~ListTextDc() {
        if (!dc) return;
        if (oldFont) SelectObject(dc, oldFont);
        ReleaseDC(list, dc);
    }
    ListTextDc(const ListTextDc&) = delete;
    ListTextDc& operator=(const ListTextDc&) = delete;

    HWND list;
    HDC dc;
    HGDIOBJ oldFont = nullptr;
};

void AddRows(void* argument) {
    auto* batch = static_cast<RowBatch*>(argument);
    const ListViewRef list = ListOf(batch->list);
    const ListTextDc measure(batch->list);
    HDC dc = measure.dc;
    TEXTMETRICA metrics = {};
    if (dc) GetTextMetricsA(dc, &metrics);
    // A cell is measured only when it could be wider than its column: a text of n bytes
    // is at most n widest characters wide.
    int widths[9];
    for (int column = 0; column < 9; ++column) widths[column] = list.GetColumnWidth(column);
    // The list is drawn once per batch, not once per cell.
    SendMessageW(batch->list, WM_SETREDRAW, FALSE, 0);
    const int first = list.GetItemCount();
    for (size_t i = 0; i < batch->texts.size(); ++i) {
        const ConnectionTexts& t = batch->texts[i];
        const char* cells[9] = {t.type,          t.localHost,  t.localAddress, t.localPort,
                                t.remoteHost,    t.remoteAddress, t.remotePort, t.state,
                                batch->applications[i].c_str()};
        int row = list.GetItemCount();
        for (int column = 0; column < 9 && row >= 0; ++column) {
            const bool mayWiden = dc && lstrlenA(cells[column]) * metrics.tmMaxCharWidth > widths[column];
            row = SetListCellText(batch->list, row, column, cells[column], mayWiden ? dc : nullptr);
            if (mayWiden) widths[column] = list.GetColumnWidth(column);
        }
    }
    SendMessageW(batch->list, WM_SETREDRAW, TRUE, 0);
    list.RedrawItems(first, list.GetItemCount() - 1);
}

void DeleteRows(void* list) { ListOf(static_cast<HWND>(list)).DeleteAllItems(); }

bool StopRequested(void* progressWindow) {
    uint32_t result = 0;
    return progressWindow && IsStopRequested(&result);
}

// The host texts a row was added with, to be shown anew when a name arrives later.
struct ShownHosts {
    const void* table;
    ConnectionKind kind;
    uint32_t index;
    std::string localHost;
    std::string remoteHost;
};

// Host cells whose names arrived after their rows were added: {row, column, text}.
struct HostUpdates {
    HWND list;
    std::vector<int> rows;
    std::vector<int> columns;
    std::vector<std::string> texts;
};

void UpdateHostCells(void* argument) {
    auto* updates = static_cast<HostUpdates*>(argument);
    const ListViewRef list = ListOf(updates->list);
    // A name wider than its column widens it, as when the row was added.
    const ListTextDc measure(updates->list);
    for (size_t i = 0; i < updates->rows.size(); ++i) {
        SetListCellText(updates->list, updates->rows[i], updates->columns[i], updates->texts[i].c_str(), measure.dc);
    }
    if (!updates->rows.empty()) list.RedrawItems(0, list.GetItemCount() - 1);
}

// Fills the list with one table's rows, their host names as far as they are known now.
// 0, or 3 when stopped.
uint32_t AddTableRows(HWND list, HWND progressWindow, SystemProbe* probe, ConnectionNames& names,
                      HashTable* processes, const void* table, ConnectionKind kind, std::vector<ShownHosts>* shown) {
    const uint32_t count = ConnectionRowCount(table);
    uint32_t result = 0;
    std::map<uint32_t, std::string> applications;  // display path by owner, for this listing
    RowBatch batch{list, {}, {}};
    DWORD batchStart = GetTickCount();
    for (uint32_t i = 0; i < count; ++i) {
        const ConnectionRow row = ConnectionRowAt(table, kind, i);
        batch.texts.emplace_back();
        FormatConnectionRow(names, row, &batch.texts.back());
        const uint32_t owner = row.owner;
        auto found = applications.find(owner);
        if (found == applications.end()) {
            char* path = owner ? probe->GetProcessImagePath(processes, owner) : nullptr;
            found = applications.emplace(owner, path ? path : kNoOwnerText).first;
            std::free(path);
        }
        batch.applications.push_back(found->second);
        shown->push_back({table, kind, i, batch.texts.back().localHost, batch.texts.back().remoteHost});
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

uint32_t ResolveTableHostNames(ConnectionNames& names, const void* table, ConnectionKind kind, HWND progressWindow) {
    std::vector<NetAddress> addresses;
    CollectHostAddresses(table, kind, &addresses);
    return names.Resolve(addresses.data(), addresses.size(), StopRequested, progressWindow);
}

uint32_t FillConnectionList(HWND list, HWND progressWindow, SystemProbe* probe, ConnectionNames& names) {
    HashTable* processes = CreateTable(8, 1);
    if (processes) probe->ListProcesses(processes, nullptr);
    RunOnInterfaceThread(progressWindow, DeleteRows, list);
    constexpr size_t kKinds = sizeof kConnectionKinds / sizeof kConnectionKinds[0];
    void* tables[kKinds] = {};
    for (size_t t = 0; t < kKinds; ++t) QueryConnectionTable(probe, kConnectionKinds[t], &tables[t], processes);

    // The host names of every table are looked up together, under one deadline, while
    // the rows already show; names that arrive later replace their cells' "*".
    std::vector<NetAddress> addresses;
    for (size_t t = 0; t < kKinds; ++t) CollectHostAddresses(tables[t], kConnectionKinds[t], &addresses);
    const uint64_t deadline = names.StartResolve(addresses.data(), addresses.size());
    BeginProgressTask(progressWindow, L"正在搜索活动的TCP连接信息……", ConnectionRowCount(tables[0]));
    uint32_t result = StopRequested(progressWindow) ? kStoppedResult : 0;
    std::vector<ShownHosts> shown;
    for (size_t t = 0; t < kKinds && result == 0; ++t) {
        if (!tables[t]) continue;
        if (t > 0) {
            const wchar_t* task = IsTcpKind(kConnectionKinds[t]) ? L"正在搜索活动的TCP连接信息……"
                                                                  : L"正在搜索活动的UDP连接信息…… ";
            BeginProgressTask(progressWindow, task, ConnectionRowCount(tables[t]));
        }
        result = AddTableRows(list, progressWindow, probe, names, processes, tables[t], kConnectionKinds[t], &shown);
    }
    if (result == 0) {
        result = names.WaitForAnswers(addresses.data(), addresses.size(), deadline, StopRequested, progressWindow);
    }
    if (result == 0) {
        HostUpdates updates{list, {}, {}, {}};
        for (size_t row = 0; row < shown.size(); ++row) {
            ConnectionTexts now;
            FormatConnectionRow(names, ConnectionRowAt(shown[row].table, shown[row].kind, shown[row].index), &now);
            const struct {
                int column;
                const std::string& before;
                const char* after;
            } hosts[2] = {{1, shown[row].localHost, now.localHost}, {4, shown[row].remoteHost, now.remoteHost}};
            for (const auto& host : hosts) {
                if (host.before == host.after) continue;
                updates.rows.push_back(static_cast<int>(row));
                updates.columns.push_back(host.column);
                updates.texts.push_back(host.after);
            }
        }
        if (!updates.rows.empty()) RunOnInterfaceThread(progressWindow, UpdateHostCells, &updates);
    }
    for (void* table : tables) {
        if (table) HeapFree(GetProcessHeap(), 0, table);
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
