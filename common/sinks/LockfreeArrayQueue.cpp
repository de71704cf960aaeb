#include "LockfreeArrayQueue.h"

#include <cstdio>
#include <cstring>
#include <thread>

#include "NyLog.h"
#include "NyResult.h"

namespace {

// Full-barrier interlocked operations on the shared header, as the viewer
// and writers in other processes expect.
uint32_t Load(volatile uint32_t* p) { return __atomic_load_n(p, __ATOMIC_SEQ_CST); }

bool Cas(volatile uint32_t* p, uint32_t u4Expected, uint32_t u4Desired) {
  return __atomic_compare_exchange_n(p, &u4Expected, u4Desired, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

uint32_t AtomicAdd(volatile uint32_t* p, uint32_t u4Delta) {
  return __atomic_add_fetch(p, u4Delta, __ATOMIC_SEQ_CST);
}

// Rounds of making room that one write may take on a full ring.
constexpr uint32_t kMakeRoomRounds = 8;

const char kCauseWriter[] = "another writer's claim that was not committed";
const char kCauseReader[] = "a full ring that its reader did not drain";

}  // namespace

// The waiting of one write, charged to the process's budget with the time
// each pause really took: on a busy machine a yield can hand the processor
// away for a whole time slice, and Sleep(1) lasts up to a timer tick (15.6 ms
// by default on Windows), so counting pauses would not bound the time. A
// write yields first, which sees another writer through its copy at no cost
// on an idle machine, and sleeps after NY_RING_MAX_YIELDS yields.
class CLockfreeArrayQueue::Wait {
 public:
  explicit Wait(CLockfreeArrayQueue& queue) : m_queue(queue) {}
  Wait(const Wait&) = delete;
  Wait& operator=(const Wait&) = delete;

  // Yields the processor, or sleeps 1 ms with bSleep or when the write has
  // yielded long enough; false when the process has waited all it may.
  bool Pause(bool bSleep, const char* pszCause) {
    if (!m_queue.MayWait()) {
      m_queue.StopWaiting(pszCause);
      return false;
    }
    const Clock::time_point start = Clock::now();
    if (!bSleep && ++m_u4Yields <= NY_RING_MAX_YIELDS) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_queue.AddWait(uint32_t(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count()));
    return true;
  }

 private:
  CLockfreeArrayQueue& m_queue;
  uint32_t m_u4Yields = 0;
};

uint32_t CLockfreeArrayQueue::Attach(void* pvArea, size_t cbArea, uint32_t u4Capacity, bool bInitialize) {
  if (pvArea == nullptr || u4Capacity < 2 || (u4Capacity & (u4Capacity - 1)) != 0) return NY_E_INVALID_PARAM;
  auto* pu4Header = static_cast<volatile uint32_t*>(pvArea);
  if (bInitialize) {
    if (cbArea < AreaSize(u4Capacity)) return NY_E_INVALID_PARAM;
    // Only the header and the spare byte are cleared: a slot is never read
    // before a writer has filled it, and touching every page of a 160 MB
    // region would cost each new ring a noticeable start-up delay.
    memset(pvArea, 0, sizeof(uint32_t) * RING_WORDS);
    static_cast<uint8_t*>(pvArea)[AreaSize(u4Capacity) - 1] = 0;
    __atomic_store_n(&pu4Header[RING_CAPACITY], u4Capacity, __ATOMIC_SEQ_CST);
  } else if (cbArea < sizeof(uint32_t) * RING_WORDS || Load(&pu4Header[RING_CAPACITY]) != u4Capacity ||
             cbArea < AreaSize(u4Capacity)) {
    return NY_E_INVALID_DATA;
  }
  m_pu4Header = pu4Header;
  m_pbSlots = static_cast<uint8_t*>(pvArea) + sizeof(uint32_t) * RING_WORDS;
  m_u4Capacity = u4Capacity;
  return NY_SUCCESS;
}

void CLockfreeArrayQueue::Detach() {
  m_pu4Header = nullptr;
  m_pbSlots = nullptr;
  m_u4Capacity = 0;
}

uint32_t CLockfreeArrayQueue::Word(RingWord word) const { return Load(&m_pu4Header[word]); }

uint8_t* CLockfreeArrayQueue::Slot(uint32_t u4Index) const {
  return m_pbSlots + size_t(u4Index & (m_u4Capacity - 1)) * NY_LOG_RECORD_SIZE;
}

uint32_t CLockfreeArrayQueue::NowMs() const {
  return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_epoch).count());
}

bool CLockfreeArrayQueue::MayWait() const { return m_u4WaitedUs.load() < m_u4WaitBudgetMs * 1000; }

void CLockfreeArrayQueue::AddWait(uint32_t u4WaitedUs) { m_u4WaitedUs += u4WaitedUs; }

void CLockfreeArrayQueue::StopWaiting(const char* pszCause) {
  if (!m_bNoticeGiven.exchange(true)) m_pszNoticeOwed = pszCause;
}

// A claim is taken for a dead writer's once the same commit index has been
// seen held up for NY_RING_DEAD_WRITER_MS, across as many writes as that
// takes: the time is measured, not waited for, so a process that no longer
// waits still frees the ring from a dead writer. A yield count alone is no
// measure: a yield returns at once on an idle core, while the other writer
// may merely be preempted for a time slice, and publishing its slot early
// loses its record. 200 ms is many time slices, and short enough that the
// first writer to find a dead claim publishes it within its waiting budget.
bool CLockfreeArrayQueue::IsDeadWriter(uint32_t u4Commit) {
  const uint32_t u4Stamp = NowMs() + 1;
  const uint64_t u8Seen = m_u8Blocker.load();
  if (uint32_t(u8Seen >> 32) != u4Commit || uint32_t(u8Seen) == 0) {
    m_u8Blocker = (uint64_t(u4Commit) << 32) | u4Stamp;
    return false;
  }
  // Stamps are whole milliseconds, cut down: only a difference of one more
  // than the limit proves that the limit has passed.
  return u4Stamp - uint32_t(u8Seen) > NY_RING_DEAD_WRITER_MS;
}

CLockfreeArrayQueue::PushResult CLockfreeArrayQueue::TryPush(const LogRecord& record) {
  if (m_pu4Header == nullptr) return PushResult::Dropped;
  Wait wait(*this);
  return TryPush(record, wait);
}

CLockfreeArrayQueue::PushResult CLockfreeArrayQueue::TryPush(const LogRecord& record, Wait& wait) {
  const uint32_t mask = m_u4Capacity - 1;
  uint32_t r;
  for (;;) {
    r = Load(&m_pu4Header[RING_RESERVE]);
    const uint32_t rd = Load(&m_pu4Header[RING_READ]);
    const uint32_t c = Load(&m_pu4Header[RING_COMMIT]);
    if (((r + 1) & mask) == (rd & mask)) return PushResult::Full;
    if (c == r) {
      if (Cas(&m_pu4Header[RING_RESERVE], r, r + 1)) break;
      continue;
    }
    // Another writer is between claim and commit: usually in the middle of
    // its copy, so a few yields see it through; one preempted for a time
    // slice takes the 1 ms sleeps that follow. One that died mid-write
    // would block every process for good, so its slot is published with
    // whatever it holds.
    if (IsDeadWriter(c)) {
      if (Cas(&m_pu4Header[RING_COMMIT], c, r)) ++m_stats.u4DeadWriters;
      continue;
    }
    if (!wait.Pause(false, kCauseWriter)) return PushResult::Dropped;
  }
  memcpy(Slot(r), &record, NY_LOG_RECORD_SIZE);
  Cas(&m_pu4Header[RING_COMMIT], r, r + 1);
  return PushResult::Written;
}

void CLockfreeArrayQueue::DiscardOldest() {
  const uint32_t rd = Load(&m_pu4Header[RING_READ]);
  const uint32_t c = Load(&m_pu4Header[RING_COMMIT]);
  uint32_t n = c - rd;
  if (n > NY_RING_DISCARD_BATCH) n = NY_RING_DISCARD_BATCH;
  if (n > m_u4Capacity) n = m_u4Capacity;
  // One attempt: when another writer or the reader moved read meanwhile,
  // room has been made anyway.
  if (n != 0 && Cas(&m_pu4Header[RING_READ], rd, rd + n)) ++m_stats.u4Discards;
}

// The reader is considered gone, so later writes no longer wait for it.
void CLockfreeArrayQueue::WriteOffReader() {
  DiscardOldest();
  __atomic_store_n(&m_pu4Header[RING_READER_COUNT], 0u, __ATOMIC_SEQ_CST);
  ++m_stats.u4ReadersDropped;
}

bool CLockfreeArrayQueue::Write(const LogRecord& record) {
  Wait wait(*this);
  uint32_t u4LastActivity = Load(&m_pu4Header[RING_READER_ACTIVITY]);
  uint32_t u4Stalls = 0;
  for (uint32_t u4RoomMade = 0;;) {
    const PushResult result = TryPush(record, wait);
    if (result != PushResult::Full) return result == PushResult::Written;
    const uint32_t u4Readers = Load(&m_pu4Header[RING_READER_COUNT]);
    const uint32_t u4Activity = Load(&m_pu4Header[RING_READER_ACTIVITY]);
    const bool bWaitForReader = u4Readers != 0 && MayWait();
    if (!bWaitForReader) {
      // Nobody to wait for, or no more waiting: the oldest records make
      // room, so that the newest survive. Whoever fills the ring again as
      // fast as it is emptied is not given more than a few rounds.
      if (++u4RoomMade > kMakeRoomRounds) return false;
      if (u4Readers == 0) {
        DiscardOldest();
      } else {
        StopWaiting(kCauseReader);
        WriteOffReader();
      }
    } else if (u4Activity != u4LastActivity) {
      u4LastActivity = u4Activity;
      u4Stalls = 0;
      if (!wait.Pause(false, kCauseReader)) return false;
    } else {
      ++m_stats.u4Stalls;
      if (++u4Stalls > NY_RING_MAX_STALLS) {
        WriteOffReader();
        u4Stalls = 0;
      } else if (!wait.Pause(true, kCauseReader)) {
        return false;
      }
    }
  }
}

void CLockfreeArrayQueue::WriteNotice(const LogRecord& record) {
  const char* pszCause = m_pszNoticeOwed.exchange(nullptr);
  if (pszCause == nullptr) return;
  // The notice carries the process facts and time of the record it precedes.
  LogRecord notice;
  NyFillLogRecord(&notice, LOG_LEVEL_OUTCOME, __FILE__, __LINE__, nullptr, record.u8Time, record.u4ProcessId,
                  record.u4ThreadId);
  snprintf(notice.szText, sizeof(notice.szText),
           "Log ring: this process has slept %u ms waiting for %s, all it may; from now on a record that "
           "cannot be written at once is dropped (%u so far)",
           m_u4WaitedUs.load() / 1000, pszCause, m_stats.u4Dropped);
  notice.u4WordSize = record.u4WordSize;
  memcpy(notice.szExeName, record.szExeName, sizeof(notice.szExeName));
  memcpy(notice.szExeVersion, record.szExeVersion, sizeof(notice.szExeVersion));
  memcpy(notice.szUserName, record.szUserName, sizeof(notice.szUserName));
  if (!Write(notice)) m_pszNoticeOwed = pszCause;
}

bool CLockfreeArrayQueue::Push(const LogRecord& record) {
  if (m_pu4Header == nullptr) return false;
  WriteNotice(record);
  if (Write(record)) return true;
  ++m_stats.u4Dropped;
  return false;
}

bool CLockfreeArrayQueue::RegisterReader() {
  if (m_pu4Header == nullptr) return false;
  for (;;) {
    const uint32_t n = Load(&m_pu4Header[RING_READER_COUNT]);
    if (n == NY_RING_NO_REGISTER) return false;
    if (Cas(&m_pu4Header[RING_READER_COUNT], n, n + 1)) return true;
  }
}

void CLockfreeArrayQueue::UnregisterReader() {
  if (m_pu4Header == nullptr) return;
  for (;;) {
    const uint32_t n = Load(&m_pu4Header[RING_READER_COUNT]);
    // A writer may already have written the reader off.
    if (n == 0 || n == NY_RING_NO_REGISTER) return;
    if (Cas(&m_pu4Header[RING_READER_COUNT], n, n - 1)) return;
  }
}

uint32_t CLockfreeArrayQueue::Ready() const {
  if (m_pu4Header == nullptr) return 0;
  const uint32_t n = Load(&m_pu4Header[RING_COMMIT]) - Load(&m_pu4Header[RING_READ]);
  return n < m_u4Capacity ? n : m_u4Capacity - 1;
}

uint32_t CLockfreeArrayQueue::Read(LogRecord* pRecords, uint32_t u4Max) {
  if (m_pu4Header == nullptr || pRecords == nullptr || u4Max == 0) return 0;
  for (;;) {
    AtomicAdd(&m_pu4Header[RING_READER_ACTIVITY], 1);
    const uint32_t rd = Load(&m_pu4Header[RING_READ]);
    const uint32_t c = Load(&m_pu4Header[RING_COMMIT]);
    uint32_t n = c - rd;
    if (n == 0) return 0;
    if (n > u4Max) n = u4Max;
    if (n > m_u4Capacity - 1) n = m_u4Capacity - 1;
    for (uint32_t i = 0; i < n; ++i) memcpy(&pRecords[i], Slot(rd + i), NY_LOG_RECORD_SIZE);
    // If a writer discarded meanwhile, the copied slots may have been
    // reused: drop the copy and read again from the new position.
    if (Cas(&m_pu4Header[RING_READ], rd, rd + n)) return n;
  }
}
