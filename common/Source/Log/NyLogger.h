#pragma once
#include <windows.h>

#include "ILogger.h"
#include "../NyHandle.h"
#include "NyShmLogger.h"

// Per-process facts carried by every record written to the ring.
struct ProcessLogInfo {
  uint32_t u4ProcessId;
  char szExeName[32];
  uint32_t u4WordSize;
  char szExeVersion[20];
  char szUserName[20];
};

// Gathers the facts of the running process: executable name without folder,
// its file version, the user name; each cut to fit its field.
void GatherProcessLogInfo(ProcessLogInfo* pInfo);

class CNyLogger : public ILogger {
 public:
  CNyLogger();
  ~CNyLogger() override = default;
  CNyLogger(const CNyLogger&) = delete;
  CNyLogger& operator=(const CNyLogger&) = delete;

  uint32_t Configure(const LoggerConfig* pConfig) override;
  bool Log(uint32_t u4Level, const char* pszSrcFile, int nLine, const char* pszText) override;

 private:
  CNyShmLogger m_shmLogger;
  LoggerConfig m_config;
  CNyHandle m_mutex;
  ProcessLogInfo m_processInfo;
};
