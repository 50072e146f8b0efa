#include "inspect/win/file_info_win.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <new>

#include "inspect/win/snapshots_win.h"

static_assert(sizeof(wchar_t) == 2, "UTF-16 wide characters");

namespace {

uint32_t GetVersionSize(void*, const char* path) {
    DWORD ignored = 0;
    return GetFileVersionInfoSizeA(path, &ignored);
}

int ReadVersion(void*, const char* path, uint32_t size, void* block) {
    return GetFileVersionInfoA(path, 0, size, block) ? 0 : 1;
}

int ReadStatus(void*, const char* path, FileStatus* status) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return 1;
    // Local time as it was at the moment of the change (daylight saving of that date);
    // the current bias only when the zone conversion is not available.
    SYSTEMTIME universal;
    SYSTEMTIME local;
    if (!FileTimeToSystemTime(&data.ftLastWriteTime, &universal)) return 1;
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
        FILETIME localFileTime;
        if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &localFileTime) ||
            !FileTimeToSystemTime(&localFileTime, &local)) {
            return 1;
        }
    }
    status->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    status->modified.year = local.wYear;
    status->modified.month = local.wMonth;
    status->modified.day = local.wDay;
    status->modified.hour = local.wHour;
    status->modified.minute = local.wMinute;
    status->modified.second = local.wSecond;
    return 0;
}

size_t WideToAnsi(void*, const uint8_t* utf16le, size_t unitCount, char* out, size_t outSize) {
    if (unitCount == 0 || unitCount > INT_MAX / 2) return 0;
    // The units may lie at any offset of the caller's block: copy them to aligned storage.
    wchar_t local[256];
    wchar_t* wide = unitCount <= 256 ? local : new (std::nothrow) wchar_t[unitCount];
    if (!wide) return 0;
    std::memcpy(wide, utf16le, unitCount * sizeof(wchar_t));
    int written;
    if (!out) {
        written = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(unitCount), nullptr, 0, nullptr, nullptr);
    } else {
        const int capacity = outSize > INT_MAX ? INT_MAX : static_cast<int>(outSize);
        written = capacity == 0 ? 0
                                : WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(unitCount), out, capacity,
                                                      nullptr, nullptr);
    }
    if (wide != local) delete[] wide;
    return written > 0 ? static_cast<size_t>(written) : 0;
}

const FileInfoOps kSystemFileInfoOps = {nullptr, GetVersionSize, ReadVersion, ReadStatus, WideToAnsi};

}  // namespace

const FileInfoOps* SystemFileInfoOps() { return &kSystemFileInfoOps; }

char* GetFileDetails(char** detailsOut, const char* path, IdList* idList) {
    return GetFileDetails(&kSystemFileInfoOps, detailsOut, path, idList);
}

IdList* FindProcessIdsByName(const HashTable* processTable, IdList** idListInOut, const char* name) {
    return FindProcessIdsByName(processTable, idListInOut, name, SystemLeadByteOps());
}
