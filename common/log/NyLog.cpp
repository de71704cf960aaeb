#include "NyLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ILogger.h"
#include "NyLogCut.h"
#include "NyLogRecord.h"

ILogger* volatile g_pNyLogger = nullptr;

void NyLogCutWarning(const char* pszRoutine) {
  NyLog(LOG_LEVEL_OUTCOME, __FILE__, __LINE__, "%s failed due to %s", pszRoutine, "buffer may be too small");
}

void NyLog(uint32_t u4Level, const char* pszSrcFile, int nLine, const char* pszFormat, ...) {
  // The text lives on the caller's stack: a log call allocates nothing.
  char szText[NY_LOG_MAX_TEXT + 1];
  if (pszFormat == nullptr) return;
  va_list args;
  va_start(args, pszFormat);
  const int n = vsnprintf(szText, sizeof(szText), pszFormat, args);
  va_end(args);
  // The warning comes first, so that the viewer shows why the record after
  // it is cut; its own text always fits.
  if (n < 0) szText[0] = 0;
  if (n < 0 || static_cast<size_t>(n) > NY_LOG_MAX_TEXT) NyLogCutWarning("NyStrVPrintf");
  NyLogText(u4Level, pszSrcFile, nLine, szText);
}

void NyLogText(uint32_t u4Level, const char* pszSrcFile, int nLine, const char* pszText) {
  ILogger* pLogger = g_pNyLogger;
  if (pLogger != nullptr && pszText != nullptr) pLogger->Log(u4Level, pszSrcFile, nLine, pszText);
}

uint32_t NyLogFailure(const char* pszSrcFile, int nLine, uint32_t u4Result, const char* pszOperation,
                      const char* pszObject) {
  NyLog(LOG_LEVEL_ERROR, pszSrcFile, nLine, "%s failed for %s (error 0x%08X)", pszOperation,
        pszObject != nullptr ? pszObject : "", static_cast<unsigned>(u4Result));
  return u4Result;
}

void NyFillLogRecord(LogRecord* pRecord, uint32_t u4Level, const char* pszSrcFile, uint32_t u4Line,
                     const char* pszText, uint64_t u8Time, uint32_t u4ProcessId, uint32_t u4ThreadId) {
  memset(pRecord, 0, sizeof(*pRecord));
  pRecord->u4Level = u4Level;
  pRecord->u4ProcessId = u4ProcessId;
  pRecord->u4ThreadId = u4ThreadId;
  pRecord->u4Line = u4Line;
  pRecord->u8Time = u8Time;
  pRecord->u8Time2 = u8Time;
  if (pszSrcFile != nullptr) {
    const size_t len = strlen(pszSrcFile);
    const size_t room = sizeof(pRecord->szSrcFile) - 1;
    memcpy(pRecord->szSrcFile, len > room ? pszSrcFile + (len - room) : pszSrcFile, len > room ? room : len);
  }
  if (pszText != nullptr) {
    const size_t len = strnlen(pszText, NY_LOG_MAX_TEXT);
    memcpy(pRecord->szText, pszText, len);
  }
}
