// File information against the real version library and file system under Wine:
// the version strings of real executables compared with what VerQueryValueA answers,
// and details texts of real files and of this test's own running process.
#include <windows.h>
#include <tlhelp32.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "inspect/hash_table.h"
#include "inspect/win/file_info_win.h"

namespace {

std::string OwnPath() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

std::string SystemFile(const char* name) {
    char folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(folder) + "\\" + name;
}

std::vector<std::string> SplitFields(const char* text) {
    std::vector<std::string> fields;
    std::string field;
    for (const char* p = text; *p; ++p) {
        if (*p == '|') {
            fields.push_back(field);
            field.clear();
        } else {
            field += *p;
        }
    }
    fields.push_back(field);
    return fields;
}

// What the version library itself answers for one file, read independently of the
// code under test.
struct ReferenceVersion {
    bool loaded = false;
    uint32_t translation = 0;  // language high, code page low
    std::vector<char> block;

    explicit ReferenceVersion(const std::string& path) {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        if (size == 0) return;
        block.resize(size);
        if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return;
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length) || length < 4) return;
        WORD pair[2];
        std::memcpy(pair, value, sizeof pair);
        translation = (static_cast<uint32_t>(pair[0]) << 16) | pair[1];
        loaded = true;
    }

    std::string String(const char* name) {
        if (!loaded) return std::string();
        char subBlock[128];
        std::snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%08x\\%s", static_cast<unsigned>(translation),
                      name);
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(block.data(), subBlock, &value, &length) || value == nullptr) return std::string();
        return std::string(static_cast<const char*>(value));
    }
};

std::string Query(const VersionInfo& info, size_t (VersionInfo::*getter)(char*, size_t) const) {
    char text[1024];
    const size_t length = (info.*getter)(text, sizeof text);
    EXPECT_EQ(length, std::strlen(text));
    return text;
}

const char* const kStringNames[4] = {"FileDescription", "FileVersion", "ProductName", "ProductVersion"};
size_t (VersionInfo::*const kGetters[4])(char*, size_t) const = {
    &VersionInfo::GetFileDescription, &VersionInfo::GetFileVersion, &VersionInfo::GetProductName,
    &VersionInfo::GetProductVersion};

// Loads path both ways and compares the translation and the four strings; returns how
// many of the strings were not empty.
int CompareWithVersionLibrary(const std::string& path) {
    ReferenceVersion reference(path);
    VersionInfo info(SystemFileInfoOps());
    const bool loaded = info.Load(path.c_str());
    EXPECT_EQ(loaded, reference.loaded) << path;
    if (!loaded || !reference.loaded) return 0;
    EXPECT_EQ(info.translation, reference.translation) << path;
    int filled = 0;
    for (int i = 0; i < 4; ++i) {
        const std::string expected = reference.String(kStringNames[i]);
        EXPECT_EQ(Query(info, kGetters[i]), expected) << path << " " << kStringNames[i];
        if (!expected.empty()) ++filled;
    }
    return filled;
}

// A temporary folder of this test, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder() {
        char base[MAX_PATH] = {};
        const DWORD length = GetTempPathA(MAX_PATH, base);
        if (length == 0 || length >= MAX_PATH) return;
        char name[64];
        std::snprintf(name, sizeof name, "korvane-fileinfo-%lu", static_cast<unsigned long>(GetCurrentProcessId()));
        path_ = std::string(base) + name;
        if (!CreateDirectoryA(path_.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) path_.clear();
    }
    ~TempFolder() {
        for (const std::string& file : files_) DeleteFileA(file.c_str());
        if (!path_.empty()) RemoveDirectoryA(path_.c_str());
    }
    const std::string& path() const { return path_; }

    // Creates name with size bytes; the full path, or "" on failure.
    std::string MakeFile(const char* name, DWORD size) {
        const std::string full = path_ + "\\" + name;
        HANDLE file = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return std::string();
        files_.push_back(full);
        std::vector<char> bytes(size, 'k');
        DWORD written = 0;
        const BOOL ok = size == 0 || WriteFile(file, bytes.data(), size, &written, nullptr);
        CloseHandle(file);
        return ok && written == size ? full : std::string();
    }

private:
    std::string path_;
    std::vector<std::string> files_;
};

// Sets the file's last-write time to the given local time.
bool SetLocalWriteTime(const std::string& path, const SYSTEMTIME& local) {
    SYSTEMTIME universal;
    FILETIME time;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) || !SystemTimeToFileTime(&universal, &time)) {
        return false;
    }
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
    return ok != FALSE;
}

// The modification time as the details text writes it, computed from the file's status.
std::string ExpectedModified(const std::string& path, uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::string();
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    SYSTEMTIME universal;
    SYSTEMTIME local;
    if (!FileTimeToSystemTime(&data.ftLastWriteTime, &universal) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
        return std::string();
    }
    static const char* const kMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                            "July",    "August",   "September", "October", "November", "December"};
    char text[64];
    std::snprintf(text, sizeof text, "%s %02u, %04u %02u:%02u:%02u", kMonths[local.wMonth - 1], local.wDay,
                  local.wYear, local.wHour, local.wMinute, local.wSecond);
    return text;
}

std::string Hex(uint32_t number) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(number));
    return text;
}

// The running processes as the 9x listing keeps them: process ID keys, executable
// names as values, owner flag 1.
HashTable* SnapshotProcessTable() {
    HashTable* table = CreateTable(8, 1);
    if (!table) return nullptr;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return table;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        void* key = NewUInt32Key(entry.th32ProcessID);
        char* name = _strdup(entry.szExeFile);
        if (!key || !name || !InsertEntry(table, key, sizeof(uint32_t), name)) {
            std::free(key);
            std::free(name);
        }
    }
    CloseHandle(snapshot);
    return table;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Destroys a table with its keys and values, and frees a list, on every path.
struct TableGuard {
    HashTable* table;
    ~TableGuard() { DestroyTable(table, 1); }
};
struct ListGuard {
    IdList* list;
    ~ListGuard() { FreeIdList(list); }
};

class FileInfoWinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InstallApplicationTableHooks(); }
};

TEST_F(FileInfoWinTest, OwnExecutableCarriesTheProgramsVersionResource) {
    const std::string self = OwnPath();
    ASSERT_FALSE(self.empty());
    VersionInfo info(SystemFileInfoOps());
    ASSERT_TRUE(info.Load(self.c_str()));
    EXPECT_EQ(info.translation, 0x080404b0u);

    EXPECT_EQ(Query(info, &VersionInfo::GetFileDescription), "Korvane Inspector");
    EXPECT_EQ(Query(info, &VersionInfo::GetFileVersion), "3, 0, 0, 0");
    EXPECT_EQ(Query(info, &VersionInfo::GetProductName), "Korvane Inspector");
    EXPECT_EQ(Query(info, &VersionInfo::GetProductVersion), "3, 0, 0, 0");
    EXPECT_EQ(CompareWithVersionLibrary(self), 4);

    // An explicit translation names its own table; one the file lacks gives nothing.
    char text[64];
    EXPECT_EQ(info.QueryString("CompanyName", 0x080404b0u, text, sizeof text), 7u);
    EXPECT_STREQ(text, "Korvane");
    std::strcpy(text, "stale");
    EXPECT_EQ(info.QueryString("CompanyName", 0x040904b0u, text, sizeof text), 0u);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(info.QueryString("NoSuchValue", 0, text, sizeof text), 0u);
    EXPECT_STREQ(text, "");

    // A short buffer keeps the head and still learns the full length.
    char shortText[5];
    EXPECT_EQ(info.GetProductName(shortText, sizeof shortText), std::strlen("Korvane Inspector"));
    EXPECT_STREQ(shortText, "Korv");
    EXPECT_EQ(info.GetProductName(nullptr, 0), std::strlen("Korvane Inspector"));

    // Loading again, or a file without a resource, replaces what was held.
    ASSERT_TRUE(info.Load(self.c_str()));
    EXPECT_EQ(Query(info, &VersionInfo::GetFileVersion), "3, 0, 0, 0");
    TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const std::string plain = folder.MakeFile("plain.bin", 64);
    ASSERT_FALSE(plain.empty());
    EXPECT_FALSE(info.Load(plain.c_str()));
    EXPECT_EQ(info.block, nullptr);
    EXPECT_EQ(info.translation, 0u);
    EXPECT_EQ(Query(info, &VersionInfo::GetFileVersion), "");
}

TEST_F(FileInfoWinTest, SystemLibrariesReadAsTheVersionLibraryReadsThem) {
    int filled = 0;
    for (const char* name : {"kernel32.dll", "user32.dll", "comctl32.dll", "shell32.dll", "version.dll",
                             "rundll32.exe"}) {
        const std::string path = SystemFile(name);
        ASSERT_FALSE(path.empty());
        ASSERT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path;
        filled += CompareWithVersionLibrary(path);
    }
    // The comparison means something only if the prefix's libraries have version strings.
    EXPECT_GT(filled, 0);
}

TEST_F(FileInfoWinTest, DetailsOfAFileWithKnownSizeAndTime) {
    TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const std::string path = folder.MakeFile("known size.dat", 12345);
    ASSERT_FALSE(path.empty());
    SYSTEMTIME when = {};
    when.wYear = 2003;
    when.wMonth = 7;
    when.wDay = 5;
    when.wHour = 13;
    when.wMinute = 4;
    when.wSecond = 9;
    ASSERT_TRUE(SetLocalWriteTime(path, when));

    char* details = nullptr;
    char* returned = GetFileDetails(&details, path.c_str(), nullptr);
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(returned, details);
    EXPECT_EQ(std::string(details), "application does not loaded|" + path + "||12345|July 05, 2003 13:04:09|||");
    std::free(details);

    // A file beyond 4 GiB (sparse, so it takes no room) shows its whole size.
    const std::string large = folder.MakeFile("large.dat", 0);
    ASSERT_FALSE(large.empty());
    {
        HANDLE file = CreateFileA(large.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD ignored = 0;
        DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = 5368709121LL;  // 5 GiB and one byte
        const bool sized = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
        CloseHandle(file);
        ASSERT_TRUE(sized);
    }
    details = GetFileDetails(nullptr, large.c_str(), nullptr);
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(SplitFields(details)[3], "5368709121");
    std::free(details);

    // An empty file still has a status.
    const std::string empty = folder.MakeFile("empty.dat", 0);
    ASSERT_FALSE(empty.empty());
    details = GetFileDetails(nullptr, empty.c_str(), nullptr);
    ASSERT_NE(details, nullptr);
    const std::vector<std::string> fields = SplitFields(details);
    ASSERT_EQ(fields.size(), 8u);
    EXPECT_EQ(fields[3], "0");
    uint64_t size = 0;
    EXPECT_EQ(fields[4], ExpectedModified(empty, &size));
    EXPECT_FALSE(fields[4].empty());
    std::free(details);
}

TEST_F(FileInfoWinTest, DetailsOfAMissingFileKeepOnlyInstancesAndPath) {
    TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const std::string missing = folder.path() + "\\not here.exe";
    char* details = GetFileDetails(nullptr, missing.c_str(), NewIdList(0x1A4));
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(std::string(details), "1a4|" + missing + "||||||");
    std::free(details);

    // A missing folder on the way.
    details = GetFileDetails(nullptr, (folder.path() + "\\no folder\\x.exe").c_str(), nullptr);
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(SplitFields(details).size(), 8u);
    EXPECT_EQ(SplitFields(details)[3], "");
    std::free(details);

    details = GetFileDetails(nullptr, "", nullptr);
    ASSERT_NE(details, nullptr);
    EXPECT_STREQ(details, "application does not loaded|||||||");
    std::free(details);
}

TEST_F(FileInfoWinTest, OwnProcessFoundByNameAndDescribed) {
    const std::string self = OwnPath();
    ASSERT_FALSE(self.empty());
    HashTable* table = SnapshotProcessTable();
    ASSERT_NE(table, nullptr);
    TableGuard tableGuard{table};

    // The name is matched without regard to case; the test runs once, so its name
    // appears once.
    ListGuard held{nullptr};
    IdList*& list = held.list;
    IdList* found = FindProcessIdsByName(table, &list, Upper(BaseName(self)).c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found, list);
    ASSERT_EQ(list->count, 1u);
    EXPECT_EQ(IdListNumber(list, 0), GetCurrentProcessId());

    // A name that no process has leaves the list as it was.
    EXPECT_EQ(FindProcessIdsByName(table, &list, "no-such-program.exe"), list);
    EXPECT_EQ(list->count, 1u);

    // A second pass appends: the list names the process twice, the last one first.
    FindProcessIdsByName(table, &list, BaseName(self).c_str());
    ASSERT_EQ(list->count, 2u);

    uint64_t size = 0;
    const std::string modified = ExpectedModified(self, &size);
    ASSERT_FALSE(modified.empty());
    IdList* handedOver = list;
    list = nullptr;
    char* details = GetFileDetails(nullptr, self.c_str(), handedOver);  // takes the list over
    ASSERT_NE(details, nullptr);
    const std::vector<std::string> fields = SplitFields(details);
    ASSERT_EQ(fields.size(), 8u) << details;
    const std::string pid = Hex(GetCurrentProcessId());
    EXPECT_EQ(fields[0], pid + "," + pid);
    EXPECT_EQ(fields[1], self);
    EXPECT_EQ(fields[2], "3, 0, 0, 0");
    EXPECT_EQ(fields[3], std::to_string(size));
    EXPECT_EQ(fields[4], modified);
    EXPECT_EQ(fields[5], "Korvane Inspector");
    EXPECT_EQ(fields[6], "Korvane Inspector");
    EXPECT_EQ(fields[7], "3, 0, 0, 0");
    std::free(details);

    // A fresh lookup builds a new list of the one process.
    IdList* again = nullptr;
    details = GetFileDetails(nullptr, self.c_str(), FindProcessIdsByName(table, &again, BaseName(self).c_str()));
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(SplitFields(details)[0], pid);
    std::free(details);
}

}  // namespace
