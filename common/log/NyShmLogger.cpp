#include "NyShmLogger.h"

#include "NyResult.h"

const wchar_t kNyLogRingName[] = L"{NyShmLogByLockfreeCirculayArray-4b1a}";
const wchar_t kNyLogSinkMutexName[] = L"{NyMutexForShmLog-4b1a}";

namespace {

// How long an open or close waits for the sink mutex. Its honest holders
// keep it for the few milliseconds of an open; any process of the machine
// may take it and never let go, and logging must not stall a setup.
constexpr DWORD kSinkMutexWaitMs = 100;

// Holds the sink mutex for one open or close, when it can be had in time.
// Without it the open goes ahead: all it guards against is a second process
// opening a ring that the first is still initialising, which that second
// process refuses by the capacity check.
class SinkLock {
 public:
  explicit SinkLock(HANDLE hMutex) : m_hMutex(hMutex) {
    if (m_hMutex == nullptr) return;
    const DWORD dw = WaitForSingleObject(m_hMutex, kSinkMutexWaitMs);
    // An owner that died while holding the mutex left nothing half-done
    // that the open relies on: the region itself is checked.
    m_bHeld = dw == WAIT_OBJECT_0 || dw == WAIT_ABANDONED;
  }
  ~SinkLock() {
    if (m_bHeld) ReleaseMutex(m_hMutex);
  }
  SinkLock(const SinkLock&) = delete;
  SinkLock& operator=(const SinkLock&) = delete;

 private:
  HANDLE m_hMutex;
  bool m_bHeld = false;
};

}  // namespace

bool CNyShmLogger::OpenLogRingWriter(bool bCreate, uint32_t* pu4Result) {
  uint32_t u4Dummy = 0;
  uint32_t& u4Result = pu4Result != nullptr ? *pu4Result : u4Dummy;
  u4Result = NY_SUCCESS;
  if (!m_sinkMutex) m_sinkMutex = NyCreateNamedMutex(kNyLogSinkMutexName, false);
  SinkLock lock(m_sinkMutex.Get());
  if (m_bOpened) return true;

  bool bCreated = false;
  u4Result = NyShareMemOpen(kNyLogRingName, NyLogRingRegionSize(NY_RING_CAPACITY), bCreate, &m_region, &bCreated);
  if (u4Result != 0) return false;
  void* pvArea = static_cast<uint8_t*>(m_region.View()) + sizeof(uint32_t);
  const size_t cbArea = m_region.cbSize - sizeof(uint32_t);
  u4Result = m_queue.Attach(pvArea, cbArea, NY_RING_CAPACITY, bCreated);
  if (u4Result != 0) {
    m_region = NyShareMemHandle();
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
  SinkLock lock(m_sinkMutex.Get());
  if (!m_bOpened) return;
  if (m_bRegisteredReader) m_queue.UnregisterReader();
  m_queue.Detach();
  m_region = NyShareMemHandle();
  m_pvArea = nullptr;
  m_cbArea = 0;
  m_bOpened = false;
  m_bRegisteredReader = false;
}
