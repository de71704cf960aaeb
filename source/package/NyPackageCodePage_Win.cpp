// The lead bytes of a Windows code page, for the package's name checks.
#include <windows.h>

#include <cstring>

#include "NyPackageFormat.h"

NyLeadByteTable NyPackageLeadBytes(uint32_t u4CodePage, uint8_t table[256]) {
  CPINFO info = {};
  if (!GetCPInfo(u4CodePage, &info) || info.MaxCharSize != 2) return nullptr;
  memset(table, 0, 256);
  for (size_t i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2)
    for (unsigned c = info.LeadByte[i]; c <= info.LeadByte[i + 1]; ++c) table[c] = 1;
  return table;
}
