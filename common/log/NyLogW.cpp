#include <windows.h>

#include <cstdarg>

#include "ILogger.h"
#include "NyLog.h"
#include "NyLogRecord.h"
#include "NySafeStr.h"
#include "NyString.h"

void NyLogW(uint32_t u4Level, const char* pszSrcFile, int nLine, const wchar_t* pwszFormat, ...) {
  wchar_t wszText[NY_LOG_MAX_TEXT + 1] = {};
  char szText[NY_LOG_MAX_TEXT + 1] = {};
  if (pwszFormat == nullptr) return;
  va_list args;
  va_start(args, pwszFormat);
  NyWcsVPrintf(wszText, NY_LOG_MAX_TEXT + 1, pwszFormat, &args);
  va_end(args);
  size_t cb = sizeof(szText);
  if (WideToCodePage(wszText, 0, szText, &cb) != 0) return;
  ILogger* pLogger = g_pNyLogger;
  if (pLogger != nullptr) pLogger->Log(u4Level, pszSrcFile, nLine, szText);
}

uint32_t NyLogFailure(const char* pszSrcFile, int nLine, uint32_t u4Result, const char* pszOperation,
                      const wchar_t* pwszObject) {
  wchar_t wszOperation[128] = {};
  MultiByteToWideChar(CP_ACP, 0, pszOperation, -1, wszOperation, ARRAYSIZE(wszOperation) - 1);
  NyLogW(LOG_LEVEL_ERROR, pszSrcFile, nLine, L"%s failed for %s (error 0x%08X)", wszOperation,
         pwszObject != nullptr ? pwszObject : L"", static_cast<unsigned>(u4Result));
  return u4Result;
}
