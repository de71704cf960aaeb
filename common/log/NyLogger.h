#pragma once
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "ILogger.h"
#include "NyHandle.h"
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

  // Writes every record, as a line, also to a log file (appended to; shared
  // with the other processes of the run), each line as it comes, so that a
  // run that is killed leaves what it logged up to then. The lines logged
  // before the file is chosen are written first. A null path means no file
  // (from then on; a file attached before is closed). 0 or the open's error.
  uint32_t AttachFile(const wchar_t* pwszPath);

 private:
  // The records kept until the program has said whether it logs to a file;
  // they are made lines only then (the first local-time conversion loads the
  // time zone, which a run without a file need not pay for).
  static constexpr size_t kMaxBacklog = 64;

  // Appends the record's line to the file; called with m_fileLock held. A line
  // that cannot be made for want of memory is lost, never the program.
  void WriteLine(const LogRecord& record);

  std::mutex m_fileLock;
  CNyFile m_file;
  bool m_bFileChosen = false;
  std::vector<LogRecord> m_backlog;
  CNyShmLogger m_shmLogger;
  LoggerConfig m_config;
  CNyHandle m_mutex;
  ProcessLogInfo m_processInfo;
};
