#include "net/win/connection_report.h"

#include <vector>

#include "inspect/win/file_info_win.h"
#include "inspect/win/system_probe.h"
#include "jobs/win/progress.h"
#include "net/win/connection_list.h"
#include "net/win/connection_names_win.h"

namespace {

char* ImagePath(void* probe, const HashTable* processTable, uint32_t processId) {
    return static_cast<SystemProbe*>(probe)->GetProcessImagePath(processTable, processId);
}

char* FileDetails(void*, const char* path, IdList* ids) { return GetFileDetails(nullptr, path, ids); }

}  // namespace

uint32_t PrepareConnectionLines(const void* table, ConnectionKind kind, HWND progressWindow) {
    return ResolveTableHostNames(SystemConnectionNames(), table, kind, progressWindow);
}

bool WriteConnectionLine(SystemProbe* probe, HashTable* processTable, FILE* stream, const ConnectionRow& row,
                         uint32_t processFilter) {
    if (!probe) return false;
    const ConnectionOwnerOps owners = {probe, ImagePath, FileDetails};
    return WriteConnectionLine(SystemConnectionNames(), owners, processTable, stream, row, processFilter);
}
