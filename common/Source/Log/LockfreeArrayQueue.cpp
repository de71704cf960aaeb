#include "LockfreeArrayQueue.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "../NyResult.h"

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

}  // namespace

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

CLockfreeArrayQueue::PushResult CLockfreeArrayQueue::TryPush(const LogRecord& record) {
  const uint32_t mask = m_u4Capacity - 1;
  uint32_t u4Yields = 0;
  std::chrono::steady_clock::time_point waitStart;
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
    // Another writer is between claim and commit. A writer that never
    // commits (it died mid-write) would block every process for good, so
    // its slot is published with whatever it holds once the wait has been
    // long enough. A yield count alone is no measure of "long": a yield
    // returns at once when the core is otherwise idle, while the other
    // writer may merely be preempted for a whole time slice, and publishing
    // its slot early loses its record. So the yields are followed by 1 ms
    // sleeps until a wait of at least NY_RING_DEAD_WRITER_MS has passed.
    if (u4Yields < NY_RING_MAX_YIELDS) {
      // The clock is read only once the wait has become long, off the path
      // of an ordinary hand-over between two writers.
      if (++u4Yields == NY_RING_MAX_YIELDS) waitStart = std::chrono::steady_clock::now();
      std::this_thread::yield();
      continue;
    }
    if (std::chrono::steady_clock::now() - waitStart < std::chrono::milliseconds(NY_RING_DEAD_WRITER_MS)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    if (Cas(&m_pu4Header[RING_COMMIT], c, r)) ++m_stats.u4DeadWriters;
    u4Yields = 0;
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

bool CLockfreeArrayQueue::Push(const LogRecord& record) {
  if (m_pu4Header == nullptr) return false;
  if (TryPush(record) == PushResult::Written) return true;
  uint32_t u4LastActivity = Load(&m_pu4Header[RING_READER_ACTIVITY]);
  uint32_t u4Stalls = 0;
  for (;;) {
    const uint32_t u4Readers = Load(&m_pu4Header[RING_READER_COUNT]);
    const uint32_t u4Activity = Load(&m_pu4Header[RING_READER_ACTIVITY]);
    if (u4Readers == 0) {
      DiscardOldest();
    } else if (u4Activity != u4LastActivity) {
      std::this_thread::yield();
      u4LastActivity = u4Activity;
      u4Stalls = 0;
    } else {
      ++m_stats.u4Stalls;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (++u4Stalls > NY_RING_MAX_STALLS) {
        // The reader has stopped reading: it is considered gone, so later
        // writes no longer wait for it.
        DiscardOldest();
        __atomic_store_n(&m_pu4Header[RING_READER_COUNT], 0u, __ATOMIC_SEQ_CST);
        ++m_stats.u4ReadersDropped;
        u4Stalls = 0;
      }
    }
    if (TryPush(record) == PushResult::Written) return true;
  }
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
