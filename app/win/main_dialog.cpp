#include "app/win/main_dialog.h"

#include <cstdlib>

#include "app/dialog_layout.h"
#include "app/win/dialog_layout_win.h"
#include "inspect/hash_table.h"
#include "inspect/os_family.h"
#include "inspect/win/os_family_win.h"
#include "inspect/win/process_state_win.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/worker_job.h"
#include "net/win/connections_dialog.h"
#include "resources/resource.h"
#include "ui/dpi.h"

const int kFieldEditIds[10] = {IDC_FIELD_1031, IDC_FIELD_1032, IDC_FIELD_1037, IDC_FIELD_1038, IDC_FIELD_1033,
                               IDC_FIELD_1034, IDC_FIELD_1035, IDC_FIELD_1036, IDC_FIELD_1070, IDC_FIELD_1071};
const wchar_t kTitleWithoutAdministratorRights[] = L"Korvane Inspector (无管理员权限)";
const int kOptionControlIds[5] = {IDC_OPT_AUTORUN, IDC_OPT_PROCESSES, IDC_OPT_CONNECTIONS, IDC_MODULES_SELECTED,
                                  IDC_MODULES_ALL};

namespace {
constexpr int kStateImageSize = 15;
constexpr int kStateImageCount = 8;

// Path of the application's help file: the program's path with the extension ".hlp".
bool HelpFilePath(wchar_t* path, DWORD chars) {
    const DWORD n = GetModuleFileNameW(nullptr, path, chars);
    if (n == 0 || n >= chars) return false;
    wchar_t* dot = wcsrchr(path, L'.');
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!dot || (slash && dot < slash)) dot = path + n;
    if (static_cast<DWORD>(dot - path) + 5 > chars) return false;
    wcscpy(dot, L".hlp");
    return true;
}
}  // namespace

MainDialog::MainDialog() : Dialog(IDD_MAIN), hasAdministratorRights(HasAdministratorRights) {
    // The window bears the application icon.
    windowIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP));
}

void MainDialog::DoDataExchange() {
    tree.Attach(hwnd_, IDC_TREE);
    for (int i = 0; i < 10; ++i) fieldEdits[i].Attach(hwnd_, kFieldEditIds[i]);
    for (int i = 0; i < 5; ++i) optionControls[i].Attach(hwnd_, kOptionControlIds[i]);
    recordList.Attach(hwnd_, IDC_LIST);
}

BOOL MainDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    SetApplicationMainWindow(hwnd_);

    wchar_t aboutCaption[128];
    if (LoadResourceString(IDS_ABOUTBOX, aboutCaption, 128)) {
        HMENU systemMenu = GetSystemMenu(hwnd_, FALSE);
        if (systemMenu) {
            AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutCaption);
        }
    }

    if (menu.Load(IDR_MAIN_MENU)) menu.AttachTo(hwnd_);

    InstallApplicationTableHooks();
    records = CreateTable(8, 0);

    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(windowIcon));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(windowIcon));

    BuildStateImages();

    optionControls[OptAutorun].SetCheck(true);
    optionControls[OptProcesses].SetCheck(true);
    optionControls[OptConnections].SetCheck(true);
    optionControls[OptModulesSelected].Enable(true);
    optionControls[OptModulesAll].Enable(true);
    optionControls[OptModulesSelected].SetCheck(false);
    optionControls[OptModulesAll].SetCheck(true);

    // The menu bar took its height from the template's client area: the start size is
    // laid out like any other.
    LayoutControls();

    probe = new SystemProbe();
    if (DetectOsFamily(nullptr, nullptr) == kOsWindowsNt6 && hasAdministratorRights && !hasAdministratorRights()) {
        SetWindowTextW(hwnd_, kTitleWithoutAdministratorRights);
    }

    // The first live tree is built before the window is first shown.
    auto* job = static_cast<WorkerJob*>(std::calloc(1, sizeof(WorkerJob)));
    auto* params = static_cast<TreeJobParams*>(std::calloc(1, sizeof(TreeJobParams)));
    if (job && params) {
        params->tree = tree.hwnd;
        job->kind = BuildProcessTree;
        job->params = params;
        RunTreeJob(job, false);
    } else {
        std::free(job);
        std::free(params);
        ShowMessageBox(L"严重错误:无法建立进程列表", MB_OK | MB_ICONSTOP, hwnd_);
    }
    return TRUE;
}

void MainDialog::BuildStateImages() {
    // Index 0 stays empty: state image 0 means "none".
    stateImages = ImageList_Create(kStateImageSize, kStateImageSize, ILC_COLOR32 | ILC_MASK, 0, 7);
    if (!stateImages) return;
    ImageList_SetImageCount(stateImages, kStateImageCount);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const struct { HINSTANCE module; const wchar_t* name; } icons[kStateImageCount - 1] = {
        {nullptr, MAKEINTRESOURCEW(32516)},  // the system information icon
        {nullptr, MAKEINTRESOURCEW(32514)},  // the system question icon
        {instance, MAKEINTRESOURCEW(IDI_STATE_MODULE)},
        {instance, MAKEINTRESOURCEW(IDI_STATE_ENDED)},
        {instance, MAKEINTRESOURCEW(IDI_STATE_INFO_ENDED)},
        {instance, MAKEINTRESOURCEW(IDI_STATE_QUESTION_ENDED)},
        {instance, MAKEINTRESOURCEW(IDI_STATE_MODULE_ENDED)},
    };
    for (int i = 0; i < kStateImageCount - 1; ++i) {
        HICON icon = static_cast<HICON>(LoadImageW(icons[i].module, icons[i].name, IMAGE_ICON, kStateImageSize,
                                                   kStateImageSize, icons[i].module ? 0 : LR_SHARED));
        if (!icon) continue;
        ImageList_ReplaceIcon(stateImages, i + 1, icon);
        if (icons[i].module) DestroyIcon(icon);
    }
    tree.SetStateImageList(stateImages);
}

bool MainDialog::OnCommand(UINT id) {
    switch (id) {
    case ID_FILE_EXIT:
        EndDialog(IDCANCEL);
        return true;
    case ID_HELP_ABOUT:
        ShowAbout();
        return true;
    case ID_HELP:
        ShowHelp(HELP_FINDER);
        return true;
    case IDC_REFRESH:
        OnRefresh();
        return true;
    case IDC_SAVE:
        OnSave();
        return true;
    case IDC_OPT_PROCESSES:
        OnProcessOptionClicked();
        return true;
    case IDC_LOCKED_DLL:
        OnLockedModuleSearch();
        return true;
    case ID_VIEW_PROCESS_TREE:
        OnProcessTree();
        return true;
    case ID_VIEW_AUTORUN:
        OnCheckAutorun();
        return true;
    case ID_VIEW_LOAD_REPORT:
        OnLoadReport(false);
        return true;
    case ID_VIEW_RELOAD_REPORT:
        OnLoadReport(true);
        return true;
    case ID_VIEW_CONNECTIONS:
        RunConnectionsDialog(hwnd_, probe);
        return true;
    case ID_EDIT_END_PROCESS:
        OnEndProcess();
        return true;
    default:
        return false;
    }
}

void MainDialog::LayoutControls() {
    RECT client = {};
    GetClientRect(hwnd_, &client);
    LayoutRule rules[kMainLayoutRuleCount];
    // The narrow-window widths are given for 96 DPI: the client width is measured in
    // pixels of that density.
    MainWindowLayout(MulDiv(client.right - client.left, kBaseDpi, WindowDpi(hwnd_)), rules);
    ApplyWindowLayout(hwnd_, rules, kMainLayoutRuleCount);
}

void MainDialog::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    SendMessageW(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(hwnd_, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, windowIcon);
    EndPaint(hwnd_, &ps);
}

void MainDialog::OnDestroy() {
    DestroyTable(records, 1);
    records = nullptr;
    delete probe;
    probe = nullptr;
    ShowHelp(HELP_QUIT);
    if (stateImages) {
        tree.SetStateImageList(nullptr);
        ImageList_Destroy(stateImages);
        stateImages = nullptr;
    }
    if (GetApplicationMainWindow() == hwnd_) SetApplicationMainWindow(nullptr);
}

void MainDialog::ShowAbout() {
    Dialog about(IDD_ABOUT, hwnd_);
    about.DoModal();
}

void MainDialog::ShowHelp(UINT command) {
    wchar_t path[MAX_PATH];
    if (HelpFilePath(path, MAX_PATH)) WinHelpW(hwnd_, path, command, 0);
}

bool MainDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            ShowAbout();
            return true;
        }
        return false;
    case WM_PAINT:
        if (!IsIconic(hwnd_)) return false;
        OnPaint();
        return true;
    case WM_QUERYDRAGICON:
        *result = reinterpret_cast<LRESULT>(windowIcon);
        return true;
    case WM_DESTROY:
        OnDestroy();
        return false;
    case WM_SIZE:
        LayoutControls();
        return false;
    case WM_GETMINMAXINFO:
        // The smallest size is given for 96 DPI and grows with the window's density.
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {ScaleForWindow(hwnd_, kMainWindowMinWidth),
                                                                 ScaleForWindow(hwnd_, kMainWindowMinHeight)};
        *result = 0;
        return true;
    case kDpiChangedMessage: {
        // Moved to a screen of another density: take the size the system suggests.
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        LayoutControls();
        *result = 0;
        return true;
    }
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && OnCommand(LOWORD(wParam))) return true;
        break;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != IDC_TREE) break;
        // The tree sends the wide forms to this Unicode window; both forms carry the
        // item handle, state and data at the same places.
        const auto* notice = reinterpret_cast<const NMTREEVIEWW*>(lParam);
        if (header->code == TVN_SELCHANGEDW || header->code == TVN_SELCHANGEDA) {
            OnSelectionChanged(notice->itemNew.hItem, notice->itemNew.lParam);
            *result = 0;
            return true;
        }
        if (header->code == TVN_ITEMEXPANDINGW || header->code == TVN_ITEMEXPANDINGA) {
            OnItemExpanding(notice->itemNew.hItem, notice->action);
            *result = 0;
            return true;
        }
        break;
    }
    default:
        break;
    }
    return Dialog::OnMessage(message, wParam, lParam, result);
}
