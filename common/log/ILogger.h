#pragma once
// The abstract logger. Slot order is fixed: Configure, Log, destructor.
#include <cstdint>

struct LoggerConfig {
  uint32_t u4SinkType;  // NY_LOG_SINK_NONE or NY_LOG_SINK_SHM
};

constexpr uint32_t NY_LOG_SINK_NONE = 0;
constexpr uint32_t NY_LOG_SINK_SHM = 1;

class ILogger {
 public:
  virtual uint32_t Configure(const LoggerConfig* pConfig) = 0;
  virtual bool Log(uint32_t u4Level, const char* pszSrcFile, int nLine, const char* pszText) = 0;
  virtual ~ILogger() = default;
};

// The process-wide logger: null before the common library starts and after
// it stops; the log calls test it on every call.
extern ILogger* volatile g_pNyLogger;
