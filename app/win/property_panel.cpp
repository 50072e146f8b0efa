// The property panel beside the tree: what the selected item is, read from the running
// system in the live view and from the item's record in the autorun and report views;
// and the expanding of live process items, which re-reads their modules.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/record_sections.h"
#include "app/win/main_dialog.h"
#include "autorun/win/command_line_win.h"
#include "control/state_images.h"
#include "control/win/end_process.h"
#include "control/win/locked_module.h"
#include "inspect/file_info.h"
#include "inspect/hash_table.h"
#include "inspect/processes_names.h"
#include "inspect/win/file_info_win.h"
#include "inspect/win/os_description_win.h"
#include "inspect/win/process_state_win.h"
#include "inspect/win/processes_win.h"
#include "inspect/win/snapshots_win.h"
#include "inspect/win/system_probe.h"
#include "report/report_line.h"
#include "resources/resource.h"

namespace {

constexpr size_t kTextSize = 1024;

// Which of the ten value fields (in kFieldEditIds order) show, the texts of the nine
// labels 1049, 1042-1048, 1069 and the two groups 1050, 1051 (null: hidden), and
// whether the list shows instead.
struct PanelLook {
    uint16_t shownFields;
    const wchar_t* labels[9];
    const wchar_t* groups[2];
    bool list;
};

const int kLabelIds[9] = {IDC_LABEL_1049, IDC_LABEL_1042, IDC_LABEL_1043, IDC_LABEL_1044, IDC_LABEL_1045,
                          IDC_LABEL_1046, IDC_LABEL_1047, IDC_LABEL_1048, IDC_LABEL_1069};
const int kGroupIds[2] = {IDC_GROUP_GENERAL, IDC_GROUP_FILE};

const PanelLook kPanels[5] = {
    {0x0FF,
     {L"进程 ID", L"版本", L"名称", L"名称", L"版本", L"大小", L"修改日期", L"Description", nullptr},
     {L"新产品属性", L"文件属性"},
     false},
    // The local host shows in 1032 beside its label 本地主机; 1037 would lie under the
    // local address and port fields, which share its place.
    {0x37B,
     {L"端口类型", L"本地主机", L"Local IP", L"连接状态", L"远程主机", L"Remout IP", L"Remout port", nullptr,
      L"Local port"},
     {L"Local side", L"Remout side"},
     false},
    {0x000, {}, {}, true},
    {0x0FF,
     {L"进程 ID", L"版本", L"名称", L"名称", L"版本", L"大小", L"修改日期", L"Link To", nullptr},
     {L"新产品属性", L"文件属性"},
     false},
    {0x003, {L"OS version", L"Build,SP"}, {}, false},
};

// Fields of a record shown in the value fields: {field control, field number}.
struct FieldMap {
    int id;
    uint32_t field;
};
const FieldMap kFileFields[8] = {{IDC_FIELD_1031, 1}, {IDC_FIELD_1038, 2}, {IDC_FIELD_1033, 3},
                                 {IDC_FIELD_1034, 4}, {IDC_FIELD_1035, 5}, {IDC_FIELD_1036, 6},
                                 {IDC_FIELD_1037, 7}, {IDC_FIELD_1032, 8}};
const FieldMap kConnectionFields[7] = {{IDC_FIELD_1031, 1}, {IDC_FIELD_1032, 2}, {IDC_FIELD_1070, 3},
                                       {IDC_FIELD_1033, 4}, {IDC_FIELD_1034, 5}, {IDC_FIELD_1035, 6},
                                       {IDC_FIELD_1038, 7}};
const FieldMap kShortcutFields[8] = {{IDC_FIELD_1031, 1}, {IDC_FIELD_1038, 2}, {IDC_FIELD_1033, 3},
                                     {IDC_FIELD_1034, 4}, {IDC_FIELD_1035, 5}, {IDC_FIELD_1036, 9},
                                     {IDC_FIELD_1037, 7}, {IDC_FIELD_1032, 8}};

const ItemRecord* FindRecord(const HashTable* records, uint32_t key) {
    const HashTableNode* node = records ? FindEntry(records, &key, sizeof key) : nullptr;
    return node ? static_cast<const ItemRecord*>(node->value) : nullptr;
}

// True when the path's extension is exactly ".EXE": module texts are upper case, so a
// lower-case path written by hand does not count.
bool HasExactExeExtension(const char* path) {
    const size_t length = std::strlen(path);
    const PathParts parts = SplitPathParts(path, length, SystemLeadByteOps());
    return parts.extensionLength == 4 && std::memcmp(path + length - 4, ".EXE", 4) == 0;
}

}  // namespace

void MainDialog::SetField(int id, const char* text) { SetDlgItemTextA(hwnd_, id, text ? text : ""); }

void MainDialog::ShowPanelLayout(int layout) {
    if (layout < 0 || layout > SystemPanel) layout = SystemPanel;
    const PanelLook& look = kPanels[layout];
    if (look.list && recordList.IsVisible()) return;
    for (int i = 0; i < 10; ++i) fieldEdits[i].Show((look.shownFields >> i) & 1);
    for (int i = 0; i < 9; ++i) {
        HWND label = GetItem(kLabelIds[i]);
        if (look.labels[i]) SetWindowTextW(label, look.labels[i]);
        ShowWindow(label, look.labels[i] ? SW_SHOW : SW_HIDE);
    }
    for (int i = 0; i < 2; ++i) {
        HWND group = GetItem(kGroupIds[i]);
        if (look.groups[i]) SetWindowTextW(group, look.groups[i]);
        ShowWindow(group, look.groups[i] ? SW_SHOW : SW_HIDE);
    }
    recordList.Show(look.list);
    ShowWindow(GetItem(IDC_LIST_CAPTION), look.list ? SW_SHOW : SW_HIDE);
    recordList.ResetContent();
}

void MainDialog::OnSelectionChanged(HTREEITEM item, LPARAM data) {
    if (!item) return;  // the tree has just been emptied
    switch (viewMode) {
    case LiveProcessView:
        if (tree.ItemHasChildren(item)) ShowLiveProcess(item, data);
        else ShowLiveModule(item, data);
        break;
    case AutorunView:
    case ReportView: {
        char text[kTextSize];
        tree.GetItemTextAnsi(item, text, sizeof text);
        ShowRecordDetails(static_cast<uint32_t>(data), text);
        break;
    }
    default:
        break;
    }
}

void MainDialog::ShowLiveProcess(HTREEITEM item, LPARAM data) {
    const auto processId = static_cast<uint32_t>(data);
    char* path = nullptr;
    if (CanOpenProcess(processId)) {
        path = probe->GetProcessImagePath(nullptr, processId);
    } else {
        // Not to be opened: the path is the last ".EXE" module the tree remembers, and
        // the items are struck through once the process has ended.
        char text[kTextSize];
        for (HTREEITEM child = tree.GetChildItem(item); child; child = tree.GetNextSiblingItem(child)) {
            tree.GetItemTextAnsi(child, text, sizeof text);
            if (!HasExactExeExtension(text)) continue;
            std::free(path);
            path = NewText(text);
        }
        if (HasProcessEnded(probe, processId)) MarkProcessGone(tree.hwnd, item);
    }
    char id[16];
    std::snprintf(id, sizeof id, "%x", static_cast<unsigned>(processId));
    SetField(IDC_FIELD_1031, id);
    ShowFileDetails(path ? path : "", true);
    std::free(path);
}

void MainDialog::ShowLiveModule(HTREEITEM item, LPARAM data) {
    char id[2 * sizeof(uintptr_t) + 1];
    std::snprintf(id, sizeof id, "%llx", static_cast<unsigned long long>(static_cast<uintptr_t>(data)));
    SetField(IDC_FIELD_1031, id);
    HTREEITEM parent = tree.GetParentItem(item);
    const auto processId = static_cast<uint32_t>(parent ? tree.GetItemData(parent) : 0);
    char path[kTextSize];
    if (parent && CanOpenProcess(processId)) {
        const ModulePathResult found =
            probe->FindModulePath(processId, reinterpret_cast<HMODULE>(static_cast<uintptr_t>(data)));
        std::memcpy(path, found.path, sizeof found.path);
        path[sizeof found.path - 1] = '\0';
    } else {
        tree.GetItemTextAnsi(item, path, sizeof path);
        if (parent && HasProcessEnded(probe, processId)) MarkProcessGone(tree.hwnd, parent);
    }
    ShowFileDetails(path, false);
}

void MainDialog::ShowFileDetails(const char* path, bool isProcess) {
    static const int kFileFieldIds[7] = {IDC_FIELD_1038, IDC_FIELD_1033, IDC_FIELD_1034, IDC_FIELD_1035,
                                         IDC_FIELD_1036, IDC_FIELD_1037, IDC_FIELD_1032};
    if (isProcess && !path[0]) {
        for (int id : kFileFieldIds) SetField(id, "");
        return;
    }
    char* resolved = nullptr;
    if (!ResolveCommandLine(path, &resolved)) resolved = nullptr;
    const char* file = resolved ? resolved : path;
    SetField(IDC_FIELD_1038, file);

    const FileInfoOps* ops = SystemFileInfoOps();
    VersionInfo version(ops);
    char text[kTextSize];
    const bool hasVersion = version.Load(file);
    const struct {
        int id;
        size_t (VersionInfo::*get)(char*, size_t) const;
    } versionFields[4] = {{IDC_FIELD_1036, &VersionInfo::GetFileDescription},
                          {IDC_FIELD_1033, &VersionInfo::GetFileVersion},
                          {IDC_FIELD_1037, &VersionInfo::GetProductName},
                          {IDC_FIELD_1032, &VersionInfo::GetProductVersion}};
    for (const auto& field : versionFields) {
        text[0] = '\0';
        if (hasVersion) (version.*field.get)(text, sizeof text);
        SetField(field.id, text);
    }

    FileStatus status = {};
    char size[24] = "?";
    char modified[64] = "?";
    if (ops->readStatus && ops->readStatus(ops->context, file, &status) == 0) {
        std::snprintf(size, sizeof size, "%llu", static_cast<unsigned long long>(status.size));
        if (!FormatModifiedTime(status.modified, modified, sizeof modified)) std::strcpy(modified, "?");
    }
    SetField(IDC_FIELD_1034, size);
    SetField(IDC_FIELD_1035, modified);
    std::free(resolved);
}

void MainDialog::ShowRecordDetails(uint32_t key, const char* text) {
    const ItemRecord* record = FindRecord(records, key);
    const uint32_t type = record ? record->kind : kRecordTypeHeading;
    const FieldMap* map = nullptr;
    size_t mapSize = 0;
    switch (type) {
    case kRecordTypeFile:
    case kRecordTypeEndedFile:
        ShowPanelLayout(ProcessPanel);
        map = kFileFields;
        mapSize = 8;
        break;
    case kRecordTypeConnection:
        ShowPanelLayout(ConnectionPanel);
        SetField(IDC_FIELD_1071, text);
        map = kConnectionFields;
        mapSize = 7;
        break;
    case kRecordTypeList:
    case kRecordTypeList + 1:
        ShowPanelLayout(ListPanel);
        recordList.ResetContent();
        for (uint32_t i = 0; i < record->count; ++i) {
            if (record->items[i]) recordList.AddStringAnsi(record->items[i]);
        }
        return;
    case kRecordTypeShortcut:
        ShowPanelLayout(ShortcutPanel);
        map = kShortcutFields;
        mapSize = 8;
        break;
    default:
        ShowPanelLayout(SystemPanel);
        ShowSystemInfo(key);
        return;
    }
    for (size_t i = 0; i < mapSize; ++i) SetField(map[i].id, ItemRecordField(record, map[i].field));
}

void MainDialog::ShowSystemInfo(uint32_t key) {
    const ItemRecord* index = viewMode == ReportView ? FindRecord(records, 0) : nullptr;
    if (index) {
        uint32_t sectionKey = 0;
        if (!FindSystemInfoSection(index, key, &sectionKey)) {
            // Before the report's first system line: the report does not say which system.
            SetField(IDC_FIELD_1031, "");
            SetField(IDC_FIELD_1032, "");
            return;
        }
        if (const ItemRecord* section = FindRecord(records, sectionKey)) {
            SetField(IDC_FIELD_1031, ItemRecordField(section, 1));
            SetField(IDC_FIELD_1032, ItemRecordField(section, 2));
            return;
        }
    }
    SetField(IDC_FIELD_1031, DescribeOs().text);
    SetField(IDC_FIELD_1032, DescribeOsVersion().text);
}

void MainDialog::OnItemExpanding(HTREEITEM item, UINT action) {
    if (viewMode != LiveProcessView || !item) return;
    const uint32_t s = tree.GetStateImage(item);
    if (action == TVE_COLLAPSE) {
        tree.SetStateImage(item, ProcessImageOnCollapse(s));
        return;
    }
    if (action != TVE_EXPAND) return;
    // A marked (gone) process keeps its items; one revealed for a selection the program
    // just made keeps the modules it was built with.
    if (s > StateSearchedModule || revealing_) {
        tree.SetStateImage(item, ProcessImageOnExpand(s));
        return;
    }
    const auto processId = static_cast<uint32_t>(tree.GetItemData(item));
    if (CanOpenProcess(processId)) {
        uint32_t result = 0;
        ReplaceModuleItems(probe, tree.hwnd, item, searchedModulePath, &result);
        tree.SetStateImage(item, ProcessImageOnExpand(s));
    } else if (HasProcessEnded(probe, processId)) {
        for (HTREEITEM child = tree.GetChildItem(item); child; child = tree.GetNextSiblingItem(child)) {
            tree.SetStateImage(child, GoneModuleImageOnExpand(tree.GetStateImage(child)));
        }
        tree.SetStateImage(item, GoneProcessImageOnExpand(s));
    } else {
        // Running but not to be opened: its modules cannot be read again; it keeps them.
        tree.SetStateImage(item, ProcessImageOnExpand(s));
    }
}
