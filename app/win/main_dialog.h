// The main window: result tree, property panel, report options, buttons and menu.
// main_dialog.cpp holds its life and message dispatch, main_commands.cpp the commands
// and view modes, property_panel.cpp the panel and the tree's expanding.
#pragma once

#include <cstdint>

#include "jobs/win/worker_job.h"
#include "ui/controls.h"
#include "ui/dialog.h"

struct HashTable;
struct SystemProbe;

// The report option buttons, in member order.
enum OptionIndex { OptAutorun, OptProcesses, OptConnections, OptModulesSelected, OptModulesAll };

// The panel's arrangements: which fields show and how they are labelled.
enum PanelLayout : int {
    ProcessPanel = 0,
    ConnectionPanel = 1,
    ListPanel = 2,
    ShortcutPanel = 3,
    SystemPanel = 4,
};

class MainDialog : public Dialog {
public:
    MainDialog();

    TreeRef tree;
    EditRef fieldEdits[10];    // 1031, 1032, 1037, 1038, 1033, 1034, 1035, 1036, 1070, 1071
    ButtonRef optionControls[5];  // 1022, 1023, 1068, 1006, 1007
    ListBoxRef recordList;     // 1052
    MenuRef menu;
    char searchedModulePath[512] = {};
    uint8_t viewMode = LiveProcessView;
    HIMAGELIST stateImages = nullptr;
    HICON windowIcon = nullptr;
    SystemProbe* probe = nullptr;
    HashTable* records = nullptr;
    // Whether the program has administrator rights, which the title follows on current
    // systems; tests put another answer in its place.
    bool (*hasAdministratorRights)() = nullptr;

    // Shows, hides and relabels the panel's controls.
    void ShowPanelLayout(int layout);

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    // Enter starts Save (1008 is the default button), so IDOK never closes the window.
    void OnOK() override {}

private:
    void BuildStateImages();
    void OnPaint();
    void OnDestroy();
    void ShowAbout();
    void ShowHelp(UINT command);
    bool OnCommand(UINT id);
    // Places the controls for the current client size (narrower buttons below 696 pixels).
    void LayoutControls();

    // Commands and view modes (main_commands.cpp).
    void OnRefresh();
    void OnSave();
    void OnProcessOptionClicked();
    void OnProcessTree();
    void OnCheckAutorun();
    void OnLoadReport(bool reload);
    void OnLockedModuleSearch();
    void OnEndProcess();
    // Runs a tree job; its tail: select the item the job names, else the first visible
    // item; on a stop empty the tree; on a failure say so and empty the tree.
    void RunTreeJob(WorkerJob* job, bool selectNamedItem);
    void SetViewMenu(UINT checkedCommand);
    // Selects an item as the caret, revealing it without re-reading its process's modules.
    void SelectItem(HTREEITEM item);
    bool LoadReportFile(const char* path, uint32_t kind);

    // The property panel (property_panel.cpp).
    void OnSelectionChanged(HTREEITEM item, LPARAM data);
    void OnItemExpanding(HTREEITEM item, UINT action);
    void ShowLiveProcess(HTREEITEM item, LPARAM data);
    void ShowLiveModule(HTREEITEM item, LPARAM data);
    void ShowFileDetails(const char* path, bool isProcess);
    void ShowRecordDetails(uint32_t key, const char* text);
    void ShowSystemInfo(uint32_t key);
    void SetField(int id, const char* text);

    bool revealing_ = false;  // the program itself expands a process to show a selection
};

// The title on current systems without administrator rights, where some processes
// cannot be opened; with them, and on older systems, the template's title stays.
extern const wchar_t kTitleWithoutAdministratorRights[];

// Control IDs of the ten value fields, in member order.
extern const int kFieldEditIds[10];
// Control IDs of the five report option buttons, in member order.
extern const int kOptionControlIds[5];
