// Lead-byte tables for portable tests and fuzz targets: a single-byte code page, and
// GBK's lead bytes 0x81 to 0xFE.
#pragma once

#include "inspect/processes_names.h"

inline int GbkLeadByte(void*, unsigned char byte) { return byte >= 0x81 && byte <= 0xFE ? 1 : 0; }

inline const LeadByteOps kSingleByte = {nullptr, nullptr};
inline const LeadByteOps kGbk = {GbkLeadByte, nullptr};
