#include <windows.h>

#include <cstdarg>
#include <cwchar>

#include "NyLog.h"
#include "NyLogCut.h"
#include "NyLogRecord.h"

void NyLogW(uint32_t u4Level, const char* pszSrcFile, int nLine, const wchar_t* pwszFormat, ...) {
  wchar_t wszText[NY_LOG_MAX_TEXT + 1];
  char szText[NY_LOG_MAX_TEXT + 1];
  if (pwszFormat == nullptr) return;
  va_list args;
  va_start(args, pwszFormat);
  // msvcrt's _vsnwprintf keeps the Windows rule that "%s" in a wide format is
  // a wide string; it returns -1 when the text does not fit and then leaves
  // the buffer unterminated.
  const int n = _vsnwprintf(wszText, NY_LOG_MAX_TEXT, pwszFormat, args);
  va_end(args);
  wszText[n < 0 ? NY_LOG_MAX_TEXT : n] = 0;
  if (n < 0) NyLogCutWarning("NyWcsVPrintf");
  // An empty text is not logged, nor one that does not fit the record once
  // converted to the ANSI code page.
  if (wszText[0] == 0) return;
  if (WideCharToMultiByte(CP_ACP, 0, wszText, -1, szText, sizeof(szText), nullptr, nullptr) == 0) return;
  NyLogText(u4Level, pszSrcFile, nLine, szText);
}

uint32_t NyLogFailure(const char* pszSrcFile, int nLine, uint32_t u4Result, const char* pszOperation,
                      const wchar_t* pwszObject) {
  wchar_t wszOperation[128] = {};
  MultiByteToWideChar(CP_ACP, 0, pszOperation, -1, wszOperation, ARRAYSIZE(wszOperation) - 1);
  NyLogW(LOG_LEVEL_ERROR, pszSrcFile, nLine, L"%s failed for %s (error 0x%08X)", wszOperation,
         pwszObject != nullptr ? pwszObject : L"", static_cast<unsigned>(u4Result));
  return u4Result;
}
