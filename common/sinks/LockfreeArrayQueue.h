#pragma once
// The log ring: fixed-size slots of one LogRecord each, behind a header of
// sixteen 32-bit words, laid out in any memory block (a named shared-memory
// region in the program, plain memory in tests). Writers in any number of
// processes and threads change the header only through interlocked
// operations; no lock is held while a record is written.
//
// Every process of the machine may open the ring, so another writer can hold
// a claim for ever and a reader can pose as attached and never read. Logging
// may slow a setup, never stall it: each queue object (one per process) may
// wait on the ring NY_RING_WAIT_BUDGET_MS in all, yields and sleeps counted
// as they last, the wait for a dead writer's claim included. After that a
// record that cannot be written at once is dropped; the first record written
// after the process runs out of waiting is preceded by one notice that says so.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "NyLogRecord.h"

// Header words. The indices are free-running counters; the slot of index i
// is i & (capacity - 1).
enum RingWord : uint32_t {
  RING_CAPACITY = 0,
  RING_RESERVE = 1,
  RING_READ = 2,
  RING_COMMIT = 3,
  RING_READER_ACTIVITY = 4,
  RING_READER_COUNT = 5,
  RING_WORDS = 16,
};

constexpr uint32_t NY_RING_CAPACITY = 32768;
constexpr uint32_t NY_RING_DISCARD_BATCH = 4096;
constexpr uint32_t NY_RING_MAX_YIELDS = 1000;
constexpr uint32_t NY_RING_DEAD_WRITER_MS = 200;  // a claim left uncommitted this long belongs to a dead writer
constexpr uint32_t NY_RING_MAX_STALLS = 100;
constexpr uint32_t NY_RING_WAIT_BUDGET_MS = 250;  // waiting on the ring one process may do in its whole life
constexpr uint32_t NY_RING_NO_REGISTER = 0xFFFFFFFF;

class CLockfreeArrayQueue {
 public:
  CLockfreeArrayQueue() = default;
  // Tests that need a reader waited for longer than a process ever is.
  explicit CLockfreeArrayQueue(uint32_t u4WaitBudgetMs) : m_u4WaitBudgetMs(u4WaitBudgetMs) {}
  CLockfreeArrayQueue(const CLockfreeArrayQueue&) = delete;
  CLockfreeArrayQueue& operator=(const CLockfreeArrayQueue&) = delete;

  // Bytes of a ring area: header, slots and one spare byte.
  static constexpr size_t AreaSize(uint32_t u4Capacity) {
    return sizeof(uint32_t) * RING_WORDS + size_t(u4Capacity) * NY_LOG_RECORD_SIZE + 1;
  }

  // Attaches to an area. With bInitialize the header is cleared and gets the
  // capacity; otherwise the area must already hold exactly that capacity
  // (0xE0600003 if not). The capacity must be a power of two.
  uint32_t Attach(void* pvArea, size_t cbArea, uint32_t u4Capacity, bool bInitialize);
  void Detach();
  bool IsAttached() const { return m_pu4Header != nullptr; }
  uint32_t Capacity() const { return m_u4Capacity; }

  enum class PushResult { Written, Full, Dropped };
  // One claim-copy-commit attempt, without the overflow policy. A claim that
  // another writer holds is waited for within the budget; Dropped when the
  // waiting is over before the claim was published.
  PushResult TryPush(const LogRecord& record);
  // Writes the record, applying the overflow policy when the ring is full:
  // with no reader the oldest records are dropped; a reader that has stopped
  // reading is waited for 1 ms at a time and then given up. False when the
  // record was dropped.
  bool Push(const LogRecord& record);
  // False once this object has waited all it may. Only reads the shared
  // count: every writer spinning on a hand-over asks this.
  bool MayWait() const;

  // Reader side. Register fails while the reader count holds 0xFFFFFFFF.
  bool RegisterReader();
  void UnregisterReader();
  // Copies up to u4Max ready records and consumes them; returns how many.
  // Records a discarding writer took away during the copy are not returned.
  uint32_t Read(LogRecord* pRecords, uint32_t u4Max);
  // Records ready now, at most what the ring can hold whatever the header says.
  uint32_t Ready() const;

  uint32_t Word(RingWord word) const;

  // Counters of the overflow policy, for tests and the benchmark.
  struct Stats {
    uint32_t u4Stalls = 0;      // 1 ms sleeps waiting for a stalled reader
    uint32_t u4Discards = 0;    // discard batches
    uint32_t u4ReadersDropped = 0;
    uint32_t u4DeadWriters = 0; // slots published for a writer that did not commit
    uint32_t u4Dropped = 0;     // own records given up once waiting was over
  };
  const Stats& GetStats() const { return m_stats; }

 private:
  using Clock = std::chrono::steady_clock;
  class Wait;

  uint8_t* Slot(uint32_t u4Index) const;
  PushResult TryPush(const LogRecord& record, Wait& wait);
  bool Write(const LogRecord& record);
  bool IsDeadWriter(uint32_t u4Commit);
  void DiscardOldest();
  void WriteOffReader();
  uint32_t NowMs() const;
  void AddWait(uint32_t u4WaitedUs);
  void StopWaiting(const char* pszCause);
  void WriteNotice(const LogRecord& record);

  volatile uint32_t* m_pu4Header = nullptr;
  uint8_t* m_pbSlots = nullptr;
  uint32_t m_u4Capacity = 0;
  Stats m_stats;
  // Shared by the threads of the process that write through this object.
  const uint32_t m_u4WaitBudgetMs = NY_RING_WAIT_BUDGET_MS;
  const Clock::time_point m_epoch = Clock::now();
  std::atomic<uint32_t> m_u4WaitedUs{0};
  std::atomic<bool> m_bNoticeGiven{false};
  std::atomic<const char*> m_pszNoticeOwed{nullptr};
  // The commit index last seen held up by another writer's claim (high
  // word) and when it was first seen, in ms since m_epoch plus one (low).
  std::atomic<uint64_t> m_u8Blocker{0};
};
