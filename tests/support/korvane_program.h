// The real korvane.exe driven from a test program: started beside the test, its main
// window found, commands posted, dialogs answered, and its tree read from outside
// (through memory allocated in its process, since tree messages carry pointers).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/support/window_test_util.h"

namespace testutil {

class KorvaneProgram {
public:
    KorvaneProgram() = default;
    KorvaneProgram(const KorvaneProgram&) = delete;
    KorvaneProgram& operator=(const KorvaneProgram&) = delete;
    ~KorvaneProgram() { Close(); }

    // Starts the program and waits for its main window; start-up message boxes are
    // answered and their texts kept in startupMessages.
    bool Start() {
        wchar_t own[MAX_PATH];
        const std::wstring path(own, GetModuleFileNameW(nullptr, own, MAX_PATH));
        std::wstring command = L"\"" + path.substr(0, path.find_last_of(L'\\') + 1) + L"korvane.exe\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_)) {
            exitCode = GetLastError();
            return false;
        }
        for (const DWORD start = GetTickCount(); !main_ && GetTickCount() - start < 60000; Sleep(5)) {
            for (HWND w : Dialogs()) {
                if (WindowText(w) == L"搜索进度") sawProgress = true;
                else if (GetDlgItem(w, IDC_TREE)) main_ = w;
                else if (GetDlgItem(w, 0xFFFF)) {
                    startupMessages.push_back(MessageBoxText(w));
                    PostMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                }
            }
            if (WaitForSingleObject(info_.hProcess, 0) == WAIT_OBJECT_0) {
                GetExitCodeProcess(info_.hProcess, &exitCode);
                return false;
            }
        }
        if (!main_) return false;
        tree_ = GetDlgItem(main_, IDC_TREE);
        remote_ = static_cast<char*>(VirtualAllocEx(info_.hProcess, nullptr, kRemoteSize, MEM_COMMIT, PAGE_READWRITE));
        return remote_ != nullptr && WaitIdle();
    }

    // Ends the program through its window; true when it exited with code 0.
    bool Close() {
        if (!info_.hProcess) return true;
        if (remote_) VirtualFreeEx(info_.hProcess, remote_, 0, MEM_RELEASE);
        remote_ = nullptr;
        if (main_) PostMessageW(main_, WM_CLOSE, 0, 0);
        exitCode = 1;
        if (WaitForSingleObject(info_.hProcess, 30000) == WAIT_OBJECT_0) {
            GetExitCodeProcess(info_.hProcess, &exitCode);
        } else {
            TerminateProcess(info_.hProcess, 1);
            WaitForSingleObject(info_.hProcess, 10000);
        }
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
        info_ = {};
        main_ = tree_ = nullptr;
        return exitCode == 0;
    }

    HWND Main() const { return main_; }
    DWORD Id() const { return info_.dwProcessId; }
    HANDLE Process() const { return info_.hProcess; }

    // The visible dialogs of the program.
    std::vector<HWND> Dialogs() const {
        FoundDialogs found{info_.dwProcessId, {}};
        EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
        return found.windows;
    }

    // A visible dialog other than the main window and the progress dialog; null when none
    // appeared within ms.
    HWND WaitForDialog(DWORD ms = 20000) const {
        for (const DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(5)) {
            for (HWND w : Dialogs()) {
                if (w != main_ && WindowText(w) != L"搜索进度") return w;
            }
        }
        return nullptr;
    }

    // Waits until the main window is enabled and no other dialog shows, for a while.
    bool WaitIdle(DWORD ms = 120000) const {
        DWORD quietSince = GetTickCount();
        for (const DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(10)) {
            const bool busy = !IsWindowEnabled(main_) || Dialogs().size() > 1;
            if (busy) quietSince = GetTickCount();
            else if (GetTickCount() - quietSince > 300) return true;
        }
        return false;
    }

    // A button or menu command of the main window; the caller answers any dialog it opens.
    void Post(UINT command) const { PostMessageW(main_, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0); }

    // Saves a report to path through the Save button, or loads one through the menu,
    // answering the file dialog.
    bool SaveReport(const std::wstring& path) const { return ThroughFileDialog(IDC_SAVE, path); }
    bool LoadReport(const std::wstring& path) const { return ThroughFileDialog(ID_VIEW_LOAD_REPORT, path); }

    // Answers a file dialog with a full path.
    static void AnswerFileDialog(HWND dialog, const std::wstring& path) {
        Sleep(200);
        SetDlgItemTextW(dialog, 0x47C, path.c_str());  // the file-name box of the explorer-style dialog
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }

    // A control's text: asked with WM_GETTEXT, which crosses processes (GetWindowText
    // does not ask another process's controls).
    std::wstring Field(int id) const {
        wchar_t text[2048] = {};
        SendMessageW(GetDlgItem(main_, id), WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text));
        return text;
    }

    // The tree, read from outside.
    HTREEITEM Next(HTREEITEM item, UINT relation) const {
        return reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
    }
    HTREEITEM Root() const { return Next(nullptr, TVGN_ROOT); }
    HTREEITEM Parent(HTREEITEM item) const { return Next(item, TVGN_PARENT); }
    HTREEITEM Selected() const { return Next(nullptr, TVGN_CARET); }
    std::vector<HTREEITEM> Children(HTREEITEM parent) const {
        std::vector<HTREEITEM> items;
        for (HTREEITEM i = parent ? Next(parent, TVGN_CHILD) : Root(); i; i = Next(i, TVGN_NEXT)) items.push_back(i);
        return items;
    }
    UINT StateImage(HTREEITEM item) const {
        return (static_cast<UINT>(SendMessageW(tree_, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item),
                                               TVIS_STATEIMAGEMASK)) & TVIS_STATEIMAGEMASK) >> 12;
    }

    struct Item { std::wstring text; LPARAM data = 0; bool hasChildren = false; };
    Item Read(HTREEITEM item) const {
        TVITEMW request = {};
        request.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN | TVIF_HANDLE;
        request.hItem = item;
        request.pszText = reinterpret_cast<wchar_t*>(remote_ + kTextOffset);
        request.cchTextMax = kTextChars;
        Item result;
        if (!WriteProcessMemory(info_.hProcess, remote_, &request, sizeof request, nullptr) ||
            !SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote_))) {
            return result;
        }
        wchar_t text[kTextChars] = {};
        ReadProcessMemory(info_.hProcess, remote_, &request, sizeof request, nullptr);
        ReadProcessMemory(info_.hProcess, remote_ + kTextOffset, text, sizeof text - sizeof(wchar_t), nullptr);
        result.text = text;
        result.data = request.lParam;
        result.hasChildren = request.cChildren != 0;
        return result;
    }
    // The first child of parent (null: a top-level item) whose text is text.
    HTREEITEM Find(HTREEITEM parent, const std::wstring& text) const {
        for (HTREEITEM i : Children(parent)) if (Read(i).text == text) return i;
        return nullptr;
    }
    void Select(HTREEITEM item) const { SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)); }
    void Expand(HTREEITEM item) const { SendMessageW(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item)); }

    std::vector<std::wstring> startupMessages;
    DWORD exitCode = 0;
    bool sawProgress = false;

private:
    struct FoundDialogs { DWORD id; std::vector<HWND> windows; };
    static BOOL CALLBACK CollectDialog(HWND w, LPARAM p) {
        auto* found = reinterpret_cast<FoundDialogs*>(p);
        DWORD id = 0;
        GetWindowThreadProcessId(w, &id);
        if (id == found->id && IsWindowVisible(w) && ClassName(w) == L"#32770") found->windows.push_back(w);
        return TRUE;
    }
    bool ThroughFileDialog(UINT command, const std::wstring& path) const {
        Post(command);
        HWND dialog = WaitForDialog(60000);
        if (dialog) AnswerFileDialog(dialog, path);
        return dialog && WaitIdle();
    }
    static constexpr size_t kRemoteSize = 16384;
    static constexpr size_t kTextOffset = 1024;
    static constexpr int kTextChars = 2048;
    PROCESS_INFORMATION info_ = {};
    HWND main_ = nullptr;
    HWND tree_ = nullptr;
    char* remote_ = nullptr;
};

}  // namespace testutil
