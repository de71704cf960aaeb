#include "NyFileLogger.h"

#include <process.h>

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "NyHandle.h"
#include "NyLog.h"
#include "NyLogLine.h"

namespace {

// A record as it waits in the queue: what its line is made of, then its
// source file name and its text, each terminated, padded to eight bytes.
struct QueuedRecord {
  uint64_t u8Time;
  uint32_t u4ProcessId;
  uint32_t u4ThreadId;
  uint32_t u4Level;
  uint32_t u4Line;
  uint16_t cbSource;
  uint16_t cbText;
  uint32_t u4Padding;
};

size_t QueuedSize(size_t cbSource, size_t cbText) {
  return (sizeof(QueuedRecord) + cbSource + 1 + cbText + 1 + 7) & ~size_t(7);
}

// Writes at the end of the file as it is then, in one piece, also while
// another process appends to it: both offset words all ones ask for that,
// as a handle opened for appending alone would. Write access is asked for
// as well, for a pipe takes writes only with it.
bool AppendToFile(HANDLE hFile, const std::string& text) {
  OVERLAPPED atEnd{};
  atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFF;
  DWORD cbWritten = 0;
  return WriteFile(hFile, text.data(), static_cast<DWORD>(text.size()), &cbWritten, &atEnd) &&
         cbWritten == text.size();
}

// A writer blocked in the file system (a hung share, a full pipe) comes out
// of its write when the write is cancelled. The call is looked up, for a
// system without it must still end the run; there the writer is left
// blocked, and the process ends around it. A write that starts between two
// tries is caught by the next one.
void CancelBlockedWrite(HANDLE hThread, DWORD dwWaitMs) {
  using CancelSynchronousIoFn = BOOL(WINAPI*)(HANDLE);
  const auto pfnCancel = reinterpret_cast<CancelSynchronousIoFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CancelSynchronousIo")));
  if (pfnCancel == nullptr) return;
  const ULONGLONG ullEnd = GetTickCount64() + dwWaitMs;
  do {
    pfnCancel(hThread);
  } while (WaitForSingleObject(hThread, 10) == WAIT_TIMEOUT && GetTickCount64() < ullEnd);
}

}  // namespace

// The records on their way to one file, shared by the sink and the writer
// thread: whichever lets go last deletes it, so a writer that the sink gave
// up on (still blocked in the file system at exit) never touches freed
// memory.
class CNyFileLogger::Queue {
 public:
  Queue() = default;
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  void Release() {
    if (--m_lRefs == 0) delete this;
  }

  bool IsWriting() const { return m_thread.IsValid(); }

  void Push(const LogRecord& record) {
    const size_t cbSource = strnlen(record.szSrcFile, sizeof(record.szSrcFile) - 1);
    const size_t cbText = strnlen(record.szText, NY_LOG_MAX_TEXT);
    const size_t cbQueued = QueuedSize(cbSource, cbText);
    AcquireSRWLockExclusive(&m_lock);
    const bool bWasEmpty = m_queued.empty();
    const bool bFull = m_bWriting ? m_queued.size() + cbQueued > kQueueBytes : m_u4Pending >= kMaxKept;
    const bool bQueued = !bFull && Append(record, cbSource, cbText, cbQueued);
    if (bQueued) {
      ++m_u4Pending;
      ++m_u4Queued;
    } else {
      ++m_u4Dropped;
    }
    ReleaseSRWLockExclusive(&m_lock);
    // The writer sleeps only on an empty queue.
    if (bQueued && bWasEmpty) WakeConditionVariable(&m_wake);
  }

  // Starts the writer on the file: what was kept is written first.
  uint32_t Start(CNyFile file) {
    // Room for a full queue on both sides: no log call allocates from now on.
    bool bReserved = true;
    AcquireSRWLockExclusive(&m_lock);
    try {
      m_queued.reserve(kQueueBytes);
      m_writing.reserve(kQueueBytes);
      m_bWriting = true;
    } catch (const std::bad_alloc&) {
      bReserved = false;
    }
    ReleaseSRWLockExclusive(&m_lock);
    if (!bReserved) return ERROR_NOT_ENOUGH_MEMORY;
    m_file = std::move(file);
    ++m_lRefs;
    m_thread.Reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &WriterMain, this, 0, nullptr)));
    if (m_thread) return 0;
    const DWORD dwError = GetLastError();
    --m_lRefs;
    return dwError != 0 ? dwError : ERROR_NOT_ENOUGH_MEMORY;
  }

  // Has the writer write what is queued, waiting a bounded time; then it is
  // told to end and its write cancelled. A write that has been under way
  // for that time already is not waited for again: the file has stopped
  // taking writes. The records that missed the file, none when there never
  // was one.
  uint32_t Stop() {
    if (!m_thread) return 0;
    SetFlag(&m_bStop);
    AcquireSRWLockExclusive(&m_lock);
    const ULONGLONG ullWriting = m_ullWriteStart != 0 ? GetTickCount64() - m_ullWriteStart : 0;
    ReleaseSRWLockExclusive(&m_lock);
    const DWORD dwWaitMs = ullWriting < kFlushWaitMs ? kFlushWaitMs - DWORD(ullWriting) : 0;
    if (WaitForSingleObject(m_thread.Get(), dwWaitMs) == WAIT_TIMEOUT) {
      SetFlag(&m_bAbandoned);
      CancelBlockedWrite(m_thread.Get(), kCancelWaitMs);
    }
    AcquireSRWLockExclusive(&m_lock);
    const uint32_t u4Missed = m_u4Dropped + (m_u4Queued - m_u4Written);
    ReleaseSRWLockExclusive(&m_lock);
    return u4Missed;
  }

 private:
  ~Queue() = default;

  bool Append(const LogRecord& record, size_t cbSource, size_t cbText, size_t cbQueued) {
    const size_t offset = m_queued.size();
    try {
      // Within the room reserved when the file was opened, this does not
      // allocate; only the records kept before it may.
      m_queued.resize(offset + cbQueued);
    } catch (const std::bad_alloc&) {
      return false;
    }
    uint8_t* pb = m_queued.data() + offset;
    const QueuedRecord queued{record.u8Time, record.u4ProcessId, record.u4ThreadId, record.u4Level,
                              record.u4Line, static_cast<uint16_t>(cbSource), static_cast<uint16_t>(cbText), 0};
    memcpy(pb, &queued, sizeof(queued));
    memcpy(pb + sizeof(queued), record.szSrcFile, cbSource);
    memcpy(pb + sizeof(queued) + cbSource + 1, record.szText, cbText);
    return true;
  }

  void SetFlag(bool* pbFlag) {
    AcquireSRWLockExclusive(&m_lock);
    *pbFlag = true;
    ReleaseSRWLockExclusive(&m_lock);
    WakeConditionVariable(&m_wake);
  }

  static unsigned __stdcall WriterMain(void* pvQueue) {
    Queue* pQueue = static_cast<Queue*>(pvQueue);
    pQueue->WriteUntilStopped();
    pQueue->Release();
    return 0;
  }

  // Takes what is queued in one go and writes it outside the lock, so that a
  // log call never waits for the file.
  void WriteUntilStopped() {
    std::string lines;
    AcquireSRWLockExclusive(&m_lock);
    for (;;) {
      while (m_queued.empty() && !m_bStop && !m_bAbandoned) SleepConditionVariableSRW(&m_wake, &m_lock, INFINITE, 0);
      if (m_bAbandoned || m_queued.empty()) break;
      m_queued.swap(m_writing);
      const uint32_t u4Records = m_u4Pending;
      m_u4Pending = 0;
      m_ullWriteStart = GetTickCount64();
      ReleaseSRWLockExclusive(&m_lock);
      const bool bWritten = MakeLines(&lines) && AppendToFile(m_file.Get(), lines);
      m_writing.clear();
      AcquireSRWLockExclusive(&m_lock);
      m_ullWriteStart = 0;
      if (bWritten) m_u4Written += u4Records;
    }
    ReleaseSRWLockExclusive(&m_lock);
  }

  // The lines of the records taken; false when memory ran out for them.
  bool MakeLines(std::string* pLines) const {
    pLines->clear();
    LogRecord record;
    for (size_t offset = 0; offset < m_writing.size();) {
      const uint8_t* pb = m_writing.data() + offset;
      QueuedRecord queued;
      memcpy(&queued, pb, sizeof(queued));
      const char* pszSource = reinterpret_cast<const char*>(pb + sizeof(queued));
      NyFillLogRecord(&record, queued.u4Level, pszSource, queued.u4Line, pszSource + queued.cbSource + 1,
                      queued.u8Time, queued.u4ProcessId, queued.u4ThreadId);
      try {
        pLines->append(NyFormatLogLine(record));
      } catch (const std::bad_alloc&) {
        return false;
      }
      offset += QueuedSize(queued.cbSource, queued.cbText);
    }
    return true;
  }

  std::atomic<LONG> m_lRefs{1};
  SRWLOCK m_lock = SRWLOCK_INIT;
  CONDITION_VARIABLE m_wake = CONDITION_VARIABLE_INIT;
  // Filled by the log calls; swapped with m_writing, which only the writer
  // reads, when the writer takes what is queued.
  std::vector<uint8_t> m_queued;
  std::vector<uint8_t> m_writing;
  uint32_t m_u4Pending = 0;  // records in m_queued
  uint32_t m_u4Queued = 0;
  uint32_t m_u4Written = 0;
  uint32_t m_u4Dropped = 0;
  ULONGLONG m_ullWriteStart = 0;  // when the write under way began
  bool m_bWriting = false;    // the file is open: no more keeping
  bool m_bStop = false;       // end once the queue is written
  bool m_bAbandoned = false;  // end after the write under way
  CNyFile m_file;
  CNyHandle m_thread;
};

CNyFileLogger::CNyFileLogger() : m_pQueue(new (std::nothrow) Queue) {}

uint32_t CNyFileLogger::Open(const wchar_t* pwszPath) {
  // A file open before gives way; the records kept since the start stay for
  // the first one.
  if (m_pQueue != nullptr && m_pQueue->IsWriting()) Close();
  CNyFile file(CreateFileW(pwszPath, FILE_WRITE_DATA | FILE_APPEND_DATA | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD dwError = GetLastError();
    Close();
    return dwError;
  }
  Queue* pQueue = m_pQueue != nullptr ? m_pQueue : new (std::nothrow) Queue;
  const uint32_t u4Result = pQueue != nullptr ? pQueue->Start(std::move(file)) : ERROR_NOT_ENOUGH_MEMORY;
  if (u4Result != 0) {
    if (pQueue != nullptr && pQueue != m_pQueue) pQueue->Release();
    Close();
    return u4Result;
  }
  m_path = pwszPath;
  AcquireSRWLockExclusive(&m_lock);
  m_pQueue = pQueue;
  ReleaseSRWLockExclusive(&m_lock);
  return 0;
}

void CNyFileLogger::Close() {
  AcquireSRWLockExclusive(&m_lock);
  Queue* pQueue = m_pQueue;
  m_pQueue = nullptr;
  ReleaseSRWLockExclusive(&m_lock);
  if (pQueue == nullptr) return;
  const uint32_t u4Missed = pQueue->Stop();
  pQueue->Release();
  // Said once, after the file has gone from the sinks: in the ring.
  if (u4Missed != 0) {
    NYLOGW(LOG_LEVEL_OUTCOME, L"Log file %s did not take %u records in time; they are in the log ring only",
           m_path.c_str(), u4Missed);
  }
}

void CNyFileLogger::Write(const LogRecord& record) {
  AcquireSRWLockShared(&m_lock);
  if (m_pQueue != nullptr) m_pQueue->Push(record);
  ReleaseSRWLockShared(&m_lock);
}
