#pragma once
// The record shared with the log viewer: exactly 5120 bytes, little-endian,
// every text narrow and NUL-terminated inside its field.
#include <cstddef>
#include <cstdint>

constexpr size_t NY_LOG_MAX_TEXT = 4096;
constexpr size_t NY_LOG_RECORD_SIZE = 5120;

#pragma pack(push, 4)
struct LogRecord {
  uint32_t u4Level;          // 0
  char szSrcFile[128];       // 4: the last 127 characters of a longer name
  uint64_t u8Time;           // 132: FILETIME, 100 ns since 1601-01-01 UTC
  uint32_t u4ProcessId;      // 140
  uint32_t u4ThreadId;       // 144
  uint32_t u4Line;           // 148
  char szText[4104];         // 152: at most 4096 characters
  uint64_t u8Time2;          // 4256: the same time again
  uint32_t u4WordSize;       // 4264: 32
  char szExeName[32];        // 4268
  char szExeVersion[20];     // 4300: "%d.%d.%d.%d"
  char szUserName[20];       // 4320
  uint8_t abReserved[780];   // 4340: zero
};
#pragma pack(pop)

static_assert(sizeof(LogRecord) == NY_LOG_RECORD_SIZE, "LogRecord is 5120 bytes");
static_assert(offsetof(LogRecord, szSrcFile) == 4, "LogRecord layout");
static_assert(offsetof(LogRecord, u8Time) == 132, "LogRecord layout");
static_assert(offsetof(LogRecord, u4ProcessId) == 140, "LogRecord layout");
static_assert(offsetof(LogRecord, u4ThreadId) == 144, "LogRecord layout");
static_assert(offsetof(LogRecord, u4Line) == 148, "LogRecord layout");
static_assert(offsetof(LogRecord, szText) == 152, "LogRecord layout");
static_assert(offsetof(LogRecord, u8Time2) == 4256, "LogRecord layout");
static_assert(offsetof(LogRecord, u4WordSize) == 4264, "LogRecord layout");
static_assert(offsetof(LogRecord, szExeName) == 4268, "LogRecord layout");
static_assert(offsetof(LogRecord, szExeVersion) == 4300, "LogRecord layout");
static_assert(offsetof(LogRecord, szUserName) == 4320, "LogRecord layout");
static_assert(offsetof(LogRecord, abReserved) == 4340, "LogRecord layout");

// Fills a record the way the logger does: cleared, level, the source name cut
// to its last 127 characters, the text, the same time at both offsets.
void NyFillLogRecord(LogRecord* pRecord, uint32_t u4Level, const char* pszSrcFile, uint32_t u4Line,
                     const char* pszText, uint64_t u8Time, uint32_t u4ProcessId, uint32_t u4ThreadId);
