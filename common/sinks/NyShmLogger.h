#pragma once
// The log sink that is always there: the shared-memory ring that the viewer
// reads. Its records also carry the facts of the writing process.
#include <windows.h>

#include "LockfreeArrayQueue.h"
#include "NyHandle.h"
#include "NyLogSink.h"
#include "NyShareMem.h"

extern const wchar_t kNyLogRingName[];      // the region's short name
extern const wchar_t kNyLogSinkMutexName[];  // serializes open and close

// Whole region: size word, then the ring area.
constexpr size_t NyLogRingRegionSize(uint32_t u4Capacity) {
  return sizeof(uint32_t) + CLockfreeArrayQueue::AreaSize(u4Capacity);
}

// Per-process facts carried by every record written to the ring.
struct ProcessLogInfo {
  uint32_t u4ProcessId;
  char szExeName[32];
  uint32_t u4WordSize;
  char szExeVersion[20];
  char szUserName[20];
};

class CNyShmLogger : public INyLogSink {
 public:
  CNyShmLogger() = default;
  ~CNyShmLogger() { Close(); }
  CNyShmLogger(const CNyShmLogger&) = delete;
  CNyShmLogger& operator=(const CNyShmLogger&) = delete;

  // Opens or creates the ring and attaches as a writer. A region of another
  // capacity is refused. With bCreate false an absent ring is not created
  // (the viewer's way of attaching).
  bool OpenLogRingWriter(bool bCreate = true, uint32_t* pu4Result = nullptr);
  // Writes the record as it is; true when written.
  bool PushLogRecord(const LogRecord& record);
  // Writes the record with the process facts at its offsets 4264 to 4339.
  void Write(const LogRecord& record) override;
  void Close();

  // Reader side, used by the viewer.
  bool RegisterReader();
  CLockfreeArrayQueue& Queue() { return m_queue; }
  bool IsOpen() const { return m_bOpened; }

 private:
  NyShareMemHandle m_region;
  CNyHandle m_sinkMutex;
  bool m_bOpened = false;
  bool m_bRegisteredReader = false;
  CLockfreeArrayQueue m_queue;
  void* m_pvArea = nullptr;
  size_t m_cbArea = 0;
  ProcessLogInfo m_processInfo{};
};
