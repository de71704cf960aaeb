#pragma once
// The process-wide logger: it makes each record (time, process and thread,
// source file and line, level, text) and delivers it to its sinks: the
// shared-memory ring, which Configure opens, and the sinks registered beside
// it (the /LOG file).
#include <windows.h>

#include <atomic>

#include "ILogger.h"
#include "NyHandle.h"
#include "NyLogSink.h"
#include "NyShmLogger.h"

class CNyLogger : public ILogger {
 public:
  CNyLogger();
  ~CNyLogger() override = default;
  CNyLogger(const CNyLogger&) = delete;
  CNyLogger& operator=(const CNyLogger&) = delete;

  uint32_t Configure(const LoggerConfig* pConfig) override;
  // True when a sink was there to take the record.
  bool Log(uint32_t u4Level, const char* pszSrcFile, int nLine, const char* pszText) override;

  // A sink beside the ring; it must outlive its registration. Records
  // logged from then on reach it. False when every place is taken.
  bool AddSink(INyLogSink* pSink);
  void RemoveSink(INyLogSink* pSink);

 private:
  // The ring and one file, with room to spare. Log reads the places without
  // a lock: they change only while the library starts and stops.
  static constexpr size_t kMaxSinks = 4;

  std::atomic<INyLogSink*> m_apSinks[kMaxSinks] = {};
  CNyShmLogger m_shmLogger;
  LoggerConfig m_config;
  CNyHandle m_mutex;
};
