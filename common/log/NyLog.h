#pragma once
// The one log call of the program. A call formats its message, packs it with
// the time, process and thread ids, source file and line into a LogRecord and
// hands it to the process-wide logger. Nothing is logged before the common
// library starts or after it stops, and a log call never fails its caller.
#include <cstdint>

constexpr uint32_t LOG_LEVEL_TRACE = 1;    // entry, normal end, echoes of values
constexpr uint32_t LOG_LEVEL_ERROR = 2;    // "u4Result = %08X" of a failed step
constexpr uint32_t LOG_LEVEL_OUTCOME = 3;  // an operation that failed; truncation warnings

void NyLog(uint32_t u4Level, const char* pszSrcFile, int nLine, const char* pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;
// A text that is formatted already.
void NyLogText(uint32_t u4Level, const char* pszSrcFile, int nLine, const char* pszText);
// Wide format and arguments; "%s" takes a wide string. The text is converted
// to the system ANSI code page for the record.
void NyLogW(uint32_t u4Level, const char* pszSrcFile, int nLine, const wchar_t* pwszFormat, ...);

// The one record of a failure, written where it happens: the operation, the
// object it concerned (a path, key, store, task) and the code that came
// back, in one line at LOG_LEVEL_ERROR. It returns the code, so a caller
// hands it on in the same statement:
//   return NYFAIL(GetLastError(), "CopyFileW", dest.c_str());
uint32_t NyLogFailure(const char* pszSrcFile, int nLine, uint32_t u4Result, const char* pszOperation,
                      const char* pszObject);
uint32_t NyLogFailure(const char* pszSrcFile, int nLine, uint32_t u4Result, const char* pszOperation,
                      const wchar_t* pwszObject);

#define NYLOG(level, ...) NyLog((level), __FILE__, __LINE__, __VA_ARGS__)
#define NYLOGW(level, ...) NyLogW((level), __FILE__, __LINE__, __VA_ARGS__)
#define NYFAIL(u4, operation, object) NyLogFailure(__FILE__, __LINE__, (u4), (operation), (object))
// The record of a failed step's code, as every operation logs it.
#define NYLOG_RESULT(u4) NYLOG(LOG_LEVEL_ERROR, "u4Result = %08X", static_cast<unsigned>(u4))
