#include "NyLogger.h"

#include <cstring>

#include "NyResult.h"

CNyLogger::CNyLogger() : m_config{}, m_mutex(CreateMutexW(nullptr, FALSE, nullptr)) {}

uint32_t CNyLogger::Configure(const LoggerConfig* pConfig) {
  if (pConfig == nullptr) return NY_E_INVALID_PARAM;
  if (!m_mutex) return NY_E_OUTOFMEMORY;
  const DWORD dwWait = WaitForSingleObject(m_mutex.Get(), INFINITE);
  if (dwWait != WAIT_OBJECT_0 && dwWait != WAIT_ABANDONED) return GetLastError();
  uint32_t u4Result = NY_SUCCESS;
  if (memcmp(pConfig, &m_config, sizeof(m_config)) != 0) {
    RemoveSink(&m_shmLogger);
    if (pConfig->u4SinkType != NY_LOG_SINK_SHM) {
      m_shmLogger.Close();
      m_config = *pConfig;
    } else if (m_shmLogger.OpenLogRingWriter() && AddSink(&m_shmLogger)) {
      m_config = *pConfig;
    } else {
      // The stored configuration stays as it was: a logger whose first
      // configuration failed drops what the ring would have had.
      m_shmLogger.Close();
      u4Result = NY_E_INVALID_PARAM;
    }
  }
  ReleaseMutex(m_mutex.Get());
  return u4Result;
}

bool CNyLogger::Log(uint32_t u4Level, const char* pszSrcFile, int nLine, const char* pszText) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const uint64_t u8Time = (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  LogRecord record;
  NyFillLogRecord(&record, u4Level, pszSrcFile, static_cast<uint32_t>(nLine), pszText, u8Time,
                  GetCurrentProcessId(), GetCurrentThreadId());
  bool bTaken = false;
  for (std::atomic<INyLogSink*>& slot : m_apSinks) {
    INyLogSink* pSink = slot.load();
    if (pSink == nullptr) continue;
    pSink->Write(record);
    bTaken = true;
  }
  return bTaken;
}

bool CNyLogger::AddSink(INyLogSink* pSink) {
  for (std::atomic<INyLogSink*>& slot : m_apSinks) {
    INyLogSink* pEmpty = nullptr;
    if (slot.compare_exchange_strong(pEmpty, pSink)) return true;
  }
  return false;
}

void CNyLogger::RemoveSink(INyLogSink* pSink) {
  for (std::atomic<INyLogSink*>& slot : m_apSinks) {
    INyLogSink* pExpected = pSink;
    slot.compare_exchange_strong(pExpected, nullptr);
  }
}
