#include "NyLogLine.h"

#include <windows.h>

#include <cstring>

#include "NySafeStr.h"

std::string NyFormatLogLine(const LogRecord& record) {
  FILETIME ftUtc, ftLocal;
  ftUtc.dwLowDateTime = static_cast<DWORD>(record.u8Time);
  ftUtc.dwHighDateTime = static_cast<DWORD>(record.u8Time >> 32);
  SYSTEMTIME st{};
  if (!FileTimeToLocalFileTime(&ftUtc, &ftLocal) || !FileTimeToSystemTime(&ftLocal, &st)) st = SYSTEMTIME{};
  // Fields are terminated inside the record by the writer; a damaged record
  // is still read only up to its field's end.
  char szSource[sizeof(record.szSrcFile)] = {};
  memcpy(szSource, record.szSrcFile, sizeof(szSource) - 1);
  const char* pszBase = szSource;
  for (const char* p = szSource; *p != 0; ++p)
    if (*p == '\\' || *p == '/') pszBase = p + 1;
  char szHead[160];
  NyStrPrintf(szHead, sizeof(szHead), "%04u-%02u-%02u %02u:%02u:%02u.%03u %u %u %u ", st.wYear, st.wMonth, st.wDay,
              st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, record.u4ProcessId, record.u4ThreadId,
              record.u4Level);
  char szLine[24];
  NyStrPrintf(szLine, sizeof(szLine), ":%u ", record.u4Line);
  std::string line = szHead;
  line.append(pszBase).append(szLine);
  line.append(record.szText, strnlen(record.szText, sizeof(record.szText) - 1));
  line += '\n';
  return line;
}
