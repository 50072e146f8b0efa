// Planting autorun entries in the shared Wine prefix for a test, and removing them when
// the test ends: registry values (keys created on the way are removed too), INI lines,
// files, folders and shortcuts. Names carry UniqueSuffix() so that tests running in the
// same prefix never meet.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

namespace planttest {

// "<process ID>_<tick count>": unique among the processes that share the prefix.
inline std::string UniqueSuffix() { return std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount()); }

// The Windows folder, and the temporary folder ending with a backslash; "" when unreadable.
inline std::string WindowsFolder() {
    char folder[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? folder : "";
}
inline std::string TempFolder() {
    char folder[MAX_PATH] = {};
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    return length > 0 && length < MAX_PATH ? folder : "";
}

// Registry values; each key created to hold them is removed with them, deepest first.
// view (KEY_WOW64_32KEY or KEY_WOW64_64KEY, 0 none) picks a view of HKEY_LOCAL_MACHINE.
class RegistryPlant {
public:
    RegistryPlant() = default;
    RegistryPlant(const RegistryPlant&) = delete;
    ~RegistryPlant() {
        for (auto it = values_.rbegin(); it != values_.rend(); ++it) {
            HKEY key = nullptr;
            if (RegOpenKeyExA(it->hive, it->key.c_str(), 0, KEY_SET_VALUE | it->view, &key) != ERROR_SUCCESS) continue;
            RegDeleteValueA(key, it->name.c_str());
            RegCloseKey(key);
        }
        for (auto it = keys_.rbegin(); it != keys_.rend(); ++it) RegDeleteKeyExA(it->hive, it->key.c_str(), it->view, 0);
    }
    // name ("" the default value) = data under hive\key, which is created with each
    // missing key above it.
    bool Value(HKEY hive, const std::string& key, const std::string& name, const std::string& data,
               DWORD type = REG_SZ, REGSAM view = 0) {
        HKEY handle = nullptr;
        for (size_t end = 0;; RegCloseKey(handle)) {
            end = key.find('\\', end + 1);
            DWORD created = 0;
            if (RegCreateKeyExA(hive, key.substr(0, end).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &handle,
                                &created) != ERROR_SUCCESS) return false;
            if (created == REG_CREATED_NEW_KEY) keys_.push_back({hive, key.substr(0, end), "", view});
            if (end == std::string::npos) break;
        }
        const LONG set = RegSetValueExA(handle, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                                        static_cast<DWORD>(data.size() + 1));
        RegCloseKey(handle);
        if (set == ERROR_SUCCESS) values_.push_back({hive, key, name, view});
        return set == ERROR_SUCCESS;
    }

private:
    struct Planted { HKEY hive; std::string key, name; REGSAM view; };
    std::vector<Planted> values_, keys_;
};

// Files, folders, shortcuts and INI lines; removed in the reverse order of planting.
class FilePlant {
public:
    FilePlant() = default;
    FilePlant(const FilePlant&) = delete;
    ~FilePlant() {
        for (auto it = iniLines_.rbegin(); it != iniLines_.rend(); ++it) {
            WritePrivateProfileStringA((*it)[1].c_str(), (*it)[2].c_str(), nullptr, (*it)[0].c_str());
        }
        for (auto it = paths_.rbegin(); it != paths_.rend(); ++it) {
            if (!RemoveDirectoryA(it->c_str())) DeleteFileA(it->c_str());
        }
    }
    bool Folder(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) && Track(path); }
    bool File(const std::string& path) {  // an empty file
        FILE* file = std::fopen(path.c_str(), "wb");
        return file && std::fclose(file) == 0 && Track(path);
    }
    bool Copy(const std::string& from, const std::string& to) { return CopyFileA(from.c_str(), to.c_str(), TRUE) && Track(to); }
    // A shortcut file made with the shell's link object.
    bool Shortcut(const std::string& path, const std::string& target, const std::string& arguments) {
        const HRESULT com = CoInitialize(nullptr);
        IShellLinkA* link = nullptr;
        IPersistFile* file = nullptr;
        WCHAR wide[MAX_PATH];
        const bool saved = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                                      reinterpret_cast<void**>(&link))) &&
                           SUCCEEDED(link->SetPath(target.c_str())) && SUCCEEDED(link->SetArguments(arguments.c_str())) &&
                           SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                           MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) != 0 &&
                           SUCCEEDED(file->Save(wide, TRUE));
        if (file) file->Release();
        if (link) link->Release();
        if (SUCCEEDED(com)) CoUninitialize();
        return saved && Track(path);
    }
    // key=value in [section] of an INI file; the key is deleted again.
    bool IniLine(const std::string& file, const std::string& section, const std::string& key, const std::string& value) {
        if (!WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str())) return false;
        iniLines_.push_back({file, section, key});
        return true;
    }
    bool Track(const std::string& path) { return paths_.push_back(path), true; }

private:
    std::vector<std::string> paths_;
    std::vector<std::vector<std::string>> iniLines_;  // file, section, key
};

}  // namespace planttest
