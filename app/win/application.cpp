#include "app/win/application.h"

#include <winsock2.h>
#include <commctrl.h>

#include "app/win/job_operations.h"
#include "app/win/main_dialog.h"
#include "resources/resource.h"

char LocalHostName[260] = "";

int RunApplication() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0) {
        wchar_t text[64];
        if (!LoadResourceString(IDS_INIT_FAILED, text, 64)) lstrcpyW(text, L"初始化失败");
        ShowMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
        return 1;
    }
    if (gethostname(LocalHostName, sizeof LocalHostName) != 0) LocalHostName[0] = '\0';
    LocalHostName[sizeof LocalHostName - 1] = '\0';

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    InstallJobOperations();
    {
        MainDialog dialog;
        dialog.DoModal();
    }
    WSACleanup();
    return 0;
}
