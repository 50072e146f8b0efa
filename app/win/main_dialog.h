// The main window: result tree, property panel, report options, buttons and menu.
#pragma once

#include <cstdint>

#include "ui/controls.h"
#include "ui/dialog.h"

struct HashTable;
struct SystemProbe;

enum ViewMode : uint8_t {
    LiveProcessView = 0,
    AutorunView = 1,
    ReportView = 2,
};

class MainDialog : public Dialog {
public:
    MainDialog();

    TreeRef tree;
    EditRef fieldEdits[10];    // 1031, 1032, 1037, 1038, 1033, 1034, 1035, 1036, 1070, 1071
    ButtonRef optionControls[5];  // 1022, 1023, 1068, 1006, 1007
    MenuRef menu;
    char searchedModulePath[512] = {};
    uint8_t viewMode = LiveProcessView;
    HIMAGELIST stateImages = nullptr;
    HICON windowIcon = nullptr;
    SystemProbe* probe = nullptr;
    HashTable* records = nullptr;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    // Enter starts Save (1008 is the default button), so IDOK never closes the window.
    void OnOK() override {}

private:
    void BuildStateImages();
    void BuildInitialProcessTree();
    void OnPaint();
    void OnDestroy();
    void ShowAbout();
    void ShowHelp(UINT command);
};

// Control IDs of the ten value fields, in member order.
extern const int kFieldEditIds[10];
// Control IDs of the five report option buttons, in member order.
extern const int kOptionControlIds[5];
