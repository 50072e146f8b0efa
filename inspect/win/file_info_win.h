// The system's file information services: version resources from the version
// library, file status, and UTF-16 to ANSI conversion in the system code page.
#pragma once

#include "inspect/file_info.h"

// The operations backed by the system; the table lives for the whole program.
const FileInfoOps* SystemFileInfoOps();

// GetFileDetails with the system's operations.
char* GetFileDetails(char** detailsOut, const char* path, IdList* idList);

// FindProcessIdsByName with the lead bytes of the system's code page.
IdList* FindProcessIdsByName(const HashTable* processTable, IdList** idListInOut, const char* name);
