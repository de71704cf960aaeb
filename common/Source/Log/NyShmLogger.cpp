#include "NyShmLogger.h"

#include "NyLog.h"
#include "../NyResult.h"

const wchar_t kNyLogRingName[] = L"{NyShmLogByLockfreeCirculayArray-4b1a}";
const wchar_t kNyLogSinkMutexName[] = L"{NyMutexForShmLog-4b1a}";

namespace {

// Holds the sink mutex for one open or close.
class SinkLock {
 public:
  explicit SinkLock(HANDLE hMutex) : m_hMutex(hMutex) {
    if (m_hMutex == nullptr) return;
    const DWORD dw = WaitForSingleObject(m_hMutex, INFINITE);
    // An owner that died while holding the mutex left nothing half-done
    // that the open relies on: the region itself is checked.
    m_bHeld = dw == WAIT_OBJECT_0 || dw == WAIT_ABANDONED;
  }
  ~SinkLock() {
    if (m_bHeld) ReleaseMutex(m_hMutex);
  }
  bool Held() const { return m_bHeld; }

 private:
  HANDLE m_hMutex;
  bool m_bHeld = false;
};

}  // namespace

CNyShmLogger::~CNyShmLogger() {
  Close();
  if (m_hSinkMutex != nullptr) CloseHandle(m_hSinkMutex);
}

bool CNyShmLogger::OpenLogRingWriter(bool bCreate, uint32_t* pu4Result) {
  uint32_t u4Dummy = 0;
  uint32_t& u4Result = pu4Result != nullptr ? *pu4Result : u4Dummy;
  u4Result = NY_SUCCESS;
  const size_t cbRegion = NyLogRingRegionSize(NY_RING_CAPACITY);
  if (m_hSinkMutex == nullptr) m_hSinkMutex = NyCreateNamedMutex(kNyLogSinkMutexName, false);
  if (m_hSinkMutex == nullptr) {
    u4Result = GetLastError();
    NYLOG_RESULT(u4Result);
    return false;
  }
  SinkLock lock(m_hSinkMutex);
  if (!lock.Held()) {
    u4Result = GetLastError();
    NYLOG_RESULT(u4Result);
    return false;
  }
  if (m_bOpened) return true;

  bool bCreated = false;
  u4Result = NyShareMemOpen(kNyLogRingName, cbRegion, bCreate, &m_region, &bCreated);
  if (u4Result != 0) {
    if (bCreate) NYLOG_RESULT(u4Result);
    return false;
  }
  void* pvArea = static_cast<uint8_t*>(m_region.pView) + sizeof(uint32_t);
  const size_t cbArea = m_region.cbSize - sizeof(uint32_t);
  u4Result = m_queue.Attach(pvArea, cbArea, NY_RING_CAPACITY, bCreated);
  if (u4Result != 0) {
    NyShareMemClose(&m_region);
    return false;
  }
  m_pvArea = pvArea;
  m_cbArea = cbArea;
  m_bOpened = true;
  return true;
}

bool CNyShmLogger::RegisterReader() {
  if (!m_bOpened || m_bRegisteredReader) return m_bRegisteredReader;
  m_bRegisteredReader = m_queue.RegisterReader();
  return m_bRegisteredReader;
}

bool CNyShmLogger::PushLogRecord(const LogRecord& record) {
  if (!m_bOpened) return false;
  return m_queue.Push(record);
}

void CNyShmLogger::Close() {
  if (m_hSinkMutex == nullptr) return;
  SinkLock lock(m_hSinkMutex);
  if (!m_bOpened) return;
  if (m_bRegisteredReader) m_queue.UnregisterReader();
  m_queue.Detach();
  NyShareMemClose(&m_region);
  m_pvArea = nullptr;
  m_cbArea = 0;
  m_bOpened = false;
  m_bRegisteredReader = false;
}
