#pragma once
// The log ring: fixed-size slots of one LogRecord each, behind a header of
// sixteen 32-bit words, laid out in any memory block (a named shared-memory
// region in the program, plain memory in tests). Writers in any number of
// processes and threads change the header only through interlocked
// operations; no lock is held while a record is written.
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
constexpr uint32_t NY_RING_DEAD_WRITER_MS = 1000;  // least wait before a writer counts as dead
constexpr uint32_t NY_RING_MAX_STALLS = 100;
constexpr uint32_t NY_RING_NO_REGISTER = 0xFFFFFFFF;

class CLockfreeArrayQueue {
 public:
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

  enum class PushResult { Written, Full };
  // One claim-copy-commit attempt, without the overflow policy.
  PushResult TryPush(const LogRecord& record);
  // Writes the record, applying the overflow policy when the ring is full:
  // with no reader the oldest records are dropped; a reader that has stopped
  // reading is waited for 1 ms at a time and then given up.
  bool Push(const LogRecord& record);

  // Reader side. Register fails while the reader count holds 0xFFFFFFFF.
  bool RegisterReader();
  void UnregisterReader();
  // Copies up to u4Max ready records and consumes them; returns how many.
  // Records a discarding writer took away during the copy are not returned.
  uint32_t Read(LogRecord* pRecords, uint32_t u4Max);

  uint32_t Word(RingWord word) const;

  // Counters of the overflow policy, for tests and the benchmark.
  struct Stats {
    uint32_t u4Stalls = 0;      // 1 ms sleeps waiting for a stalled reader
    uint32_t u4Discards = 0;    // discard batches
    uint32_t u4ReadersDropped = 0;
    uint32_t u4DeadWriters = 0; // slots published for a writer that did not commit
  };
  const Stats& GetStats() const { return m_stats; }

 private:
  uint8_t* Slot(uint32_t u4Index) const;
  void DiscardOldest();

  volatile uint32_t* m_pu4Header = nullptr;
  uint8_t* m_pbSlots = nullptr;
  uint32_t m_u4Capacity = 0;
  Stats m_stats;
};
