#include "app/win/main_dialog.h"

#include <cstdlib>

#include "inspect/hash_table.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/worker_job.h"
#include "net/win/connections_dialog.h"
#include "resources/resource.h"

const int kFieldEditIds[10] = {IDC_FIELD_1031, IDC_FIELD_1032, IDC_FIELD_1037, IDC_FIELD_1038, IDC_FIELD_1033,
                               IDC_FIELD_1034, IDC_FIELD_1035, IDC_FIELD_1036, IDC_FIELD_1070, IDC_FIELD_1071};
const int kOptionControlIds[5] = {IDC_OPT_AUTORUN, IDC_OPT_PROCESSES, IDC_OPT_CONNECTIONS, IDC_MODULES_SELECTED,
                                  IDC_MODULES_ALL};

namespace {
enum OptionIndex { OptAutorun, OptProcesses, OptConnections, OptModulesSelected, OptModulesAll };

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

MainDialog::MainDialog() : Dialog(IDD_MAIN) {
    // The window bears the application icon.
    windowIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP));
}

void MainDialog::DoDataExchange() {
    tree.Attach(hwnd_, IDC_TREE);
    for (int i = 0; i < 10; ++i) fieldEdits[i].Attach(hwnd_, kFieldEditIds[i]);
    for (int i = 0; i < 5; ++i) optionControls[i].Attach(hwnd_, kOptionControlIds[i]);
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

    probe = new SystemProbe();

    BuildInitialProcessTree();
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

void MainDialog::BuildInitialProcessTree() {
    auto* job = static_cast<WorkerJob*>(std::calloc(1, sizeof(WorkerJob)));
    auto* params = static_cast<TreeJobParams*>(std::calloc(1, sizeof(TreeJobParams)));
    uint32_t result = JobFailed;
    if (job && params) {
        params->tree = tree.hwnd;
        job->kind = BuildProcessTree;
        job->viewMode = &viewMode;
        job->probe = probe;
        job->params = params;
        params = nullptr;
        result = RunJobWithProgress(job);
    }
    std::free(params);
    if (result == JobSucceeded) {
        HTREEITEM first = tree.GetFirstVisibleItem();
        if (first) TreeView_Select(tree.hwnd, first, TVGN_CARET);
    } else {
        if (result != JobCancelled) ShowMessageBox(L"严重错误:无法建立进程列表", MB_OK | MB_ICONSTOP, hwnd_);
        tree.DeleteAllItems();
    }
    FreeWorkerJob(job);
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
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case ID_FILE_EXIT:
            EndDialog(IDCANCEL);
            return true;
        case ID_HELP_ABOUT:
            ShowAbout();
            return true;
        case ID_HELP:
            ShowHelp(HELP_FINDER);
            return true;
        case ID_VIEW_CONNECTIONS:
            RunConnectionsDialog(hwnd_, probe);
            return true;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return Dialog::OnMessage(message, wParam, lParam, result);
}
