// The ring's protocol on plain memory: claim and commit, full detection,
// overflow with and without a reader, dead writers, concurrent writers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "LockfreeArrayQueue.h"
#include "NyLog.h"
#include "NyResult.h"

namespace {

// A sleep budget no test can exhaust, for tests of what is waited for.
constexpr uint32_t kPatientMs = 600000;

class Ring {
 public:
  explicit Ring(uint32_t u4Capacity, uint32_t u4WaitBudgetMs = NY_RING_WAIT_BUDGET_MS)
      : queue(u4WaitBudgetMs), m_area(CLockfreeArrayQueue::AreaSize(u4Capacity) + 7, 0xCD) {
    EXPECT_EQ(queue.Attach(m_area.data(), CLockfreeArrayQueue::AreaSize(u4Capacity), u4Capacity, true), 0u);
  }
  void* Area() { return m_area.data(); }
  CLockfreeArrayQueue queue;

 private:
  std::vector<uint8_t> m_area;
};

LogRecord MakeRecord(uint32_t u4Seq, uint32_t u4Writer = 0) {
  LogRecord record;
  memset(&record, 0, sizeof(record));
  record.u4Line = u4Seq;
  record.u4ThreadId = u4Writer;
  // Every byte of the message depends on the sequence, so a torn record
  // (bytes of two writes mixed) shows up as a checksum mismatch.
  for (size_t i = 0; i < 4096; ++i) record.szText[i] = char('a' + (u4Seq * 7 + u4Writer * 13 + i) % 26);
  record.u8Time = record.u8Time2 = u4Seq;
  return record;
}

bool IsWhole(const LogRecord& record) {
  const LogRecord expected = MakeRecord(record.u4Line, record.u4ThreadId);
  return memcmp(&record, &expected, sizeof(record)) == 0;
}

TEST(LogRingQueue, AttachValidatesCapacityAndKeepsAnExistingRing) {
  Ring ring(8);
  CLockfreeArrayQueue other;
  EXPECT_EQ(other.Attach(ring.Area(), CLockfreeArrayQueue::AreaSize(8), 16, false), NY_E_INVALID_DATA);
  EXPECT_EQ(other.Attach(ring.Area(), CLockfreeArrayQueue::AreaSize(8), 6, false), NY_E_INVALID_PARAM);
  EXPECT_EQ(other.Attach(ring.Area(), 32, 8, false), NY_E_INVALID_DATA);

  ASSERT_TRUE(ring.queue.Push(MakeRecord(1)));
  ASSERT_EQ(other.Attach(ring.Area(), CLockfreeArrayQueue::AreaSize(8), 8, false), 0u);
  EXPECT_EQ(other.Word(RING_COMMIT), 1u);
  LogRecord out;
  ASSERT_EQ(other.Read(&out, 1), 1u);
  EXPECT_EQ(out.u4Line, 1u);
  EXPECT_EQ(CLockfreeArrayQueue::AreaSize(32768), 167772225u);
}

TEST(LogRingQueue, HoldsCapacityMinusOneThenReportsFull) {
  Ring ring(8);
  for (uint32_t i = 0; i < 7; ++i)
    ASSERT_EQ(ring.queue.TryPush(MakeRecord(i)), CLockfreeArrayQueue::PushResult::Written);
  EXPECT_EQ(ring.queue.TryPush(MakeRecord(7)), CLockfreeArrayQueue::PushResult::Full);
  LogRecord out[8];
  ASSERT_EQ(ring.queue.Read(out, 8), 7u);
  for (uint32_t i = 0; i < 7; ++i) EXPECT_EQ(out[i].u4Line, i);
  EXPECT_EQ(ring.queue.Word(RING_READ), 7u);
}

TEST(LogRingQueue, WithoutReaderOldestRecordsAreDroppedInBatches) {
  // The program's geometry: 40,000 records into a fresh ring of 32768.
  Ring ring(NY_RING_CAPACITY);
  for (uint32_t i = 0; i < 40000; ++i) ASSERT_TRUE(ring.queue.Push(MakeRecord(i)));
  EXPECT_EQ(ring.queue.GetStats().u4Discards, 2u);
  EXPECT_EQ(ring.queue.GetStats().u4Stalls, 0u);
  EXPECT_EQ(ring.queue.Word(RING_READ), 2 * NY_RING_DISCARD_BATCH);
  EXPECT_EQ(ring.queue.Word(RING_COMMIT), 40000u);
  std::vector<LogRecord> out(1024);
  uint32_t u4Expected = 2 * NY_RING_DISCARD_BATCH;
  for (uint32_t n; (n = ring.queue.Read(out.data(), 1024)) != 0;) {
    for (uint32_t i = 0; i < n; ++i, ++u4Expected) {
      ASSERT_EQ(out[i].u4Line, u4Expected);
      ASSERT_TRUE(IsWhole(out[i]));
    }
  }
  EXPECT_EQ(u4Expected, 40000u);
}

TEST(LogRingQueue, StalledReaderIsWaitedForThenWrittenOff) {
  // A budget that a hundred 1 ms sleeps cannot exhaust on a busy machine.
  Ring ring(NY_RING_CAPACITY, kPatientMs);
  ASSERT_TRUE(ring.queue.RegisterReader());
  for (uint32_t i = 0; i < NY_RING_CAPACITY - 1; ++i) ASSERT_TRUE(ring.queue.Push(MakeRecord(i)));
  EXPECT_EQ(ring.queue.GetStats().u4Stalls, 0u);
  ASSERT_TRUE(ring.queue.Push(MakeRecord(NY_RING_CAPACITY - 1)));
  EXPECT_EQ(ring.queue.GetStats().u4Stalls, NY_RING_MAX_STALLS + 1);
  EXPECT_EQ(ring.queue.GetStats().u4ReadersDropped, 1u);
  EXPECT_EQ(ring.queue.Word(RING_READER_COUNT), 0u);
  EXPECT_EQ(ring.queue.Word(RING_READ), NY_RING_DISCARD_BATCH);
  // With the reader written off the next overflow does not wait.
  for (uint32_t i = 0; i < NY_RING_DISCARD_BATCH + 10; ++i) ASSERT_TRUE(ring.queue.Push(MakeRecord(i)));
  EXPECT_EQ(ring.queue.GetStats().u4Stalls, NY_RING_MAX_STALLS + 1);
}

TEST(LogRingQueue, ActiveReaderIsNeverWrittenOffWithinTheBudget) {
  // A 64-slot ring keeps the writer waiting for the reader most of the time;
  // here it may wait as long as it takes.
  Ring ring(64, kPatientMs);
  ASSERT_TRUE(ring.queue.RegisterReader());
  std::atomic<bool> bDone{false};
  std::atomic<uint32_t> u4Read{0};
  std::atomic<bool> bOrdered{true};
  std::thread reader([&] {
    CLockfreeArrayQueue view;
    EXPECT_EQ(view.Attach(ring.Area(), CLockfreeArrayQueue::AreaSize(64), 64, false), 0u);
    LogRecord out[16];
    uint32_t u4Next = 0;
    while (!bDone || view.Word(RING_COMMIT) != view.Word(RING_READ)) {
      const uint32_t n = view.Read(out, 16);
      for (uint32_t i = 0; i < n; ++i, ++u4Next)
        if (out[i].u4Line != u4Next || !IsWhole(out[i])) bOrdered = false;
      u4Read += n;
      if (n == 0) std::this_thread::yield();
    }
  });
  for (uint32_t i = 0; i < 20000; ++i) ASSERT_TRUE(ring.queue.Push(MakeRecord(i)));
  bDone = true;
  reader.join();
  EXPECT_EQ(u4Read.load(), 20000u);
  EXPECT_TRUE(bOrdered.load());
  EXPECT_EQ(ring.queue.GetStats().u4ReadersDropped, 0u);
  EXPECT_EQ(ring.queue.Word(RING_READER_COUNT), 1u);
}

TEST(LogRingQueue, DeadWritersArePublishedAndTheGapTheyCauseIsExplained) {
  Ring ring(8);
  auto* pu4Header = static_cast<uint32_t*>(ring.Area());
  // A writer that claimed a slot and died before committing.
  ASSERT_EQ(ring.queue.TryPush(MakeRecord(0)), CLockfreeArrayQueue::PushResult::Written);
  pu4Header[RING_RESERVE] += 1;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(ring.queue.Push(MakeRecord(1)));
  // A writer that is only slow (preempted) must not be taken for dead.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(NY_RING_DEAD_WRITER_MS));
  EXPECT_EQ(ring.queue.GetStats().u4DeadWriters, 1u);

  // One that claims again at once, as a hostile process does, gets the
  // rest of the sleep budget; after that records are dropped without
  // waiting until its claim too has been held long enough.
  pu4Header[RING_RESERVE] += 1;
  EXPECT_FALSE(ring.queue.Push(MakeRecord(2)));
  EXPECT_FALSE(ring.queue.MayWait());
  uint32_t u4Seq = 3;
  while (!ring.queue.Push(MakeRecord(u4Seq, 1))) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ++u4Seq;
  }
  EXPECT_EQ(ring.queue.GetStats().u4DeadWriters, 2u);
  EXPECT_EQ(ring.queue.GetStats().u4Dropped, u4Seq - 2);

  LogRecord out[8];
  ASSERT_EQ(ring.queue.Read(out, 8), 6u);
  EXPECT_EQ(out[0].u4Line, 0u);
  EXPECT_EQ(out[2].u4Line, 1u);
  // The first record after the gap is preceded by one notice that carries
  // its thread and time.
  EXPECT_EQ(out[4].u4Level, LOG_LEVEL_OUTCOME);
  EXPECT_EQ(out[4].u4ThreadId, 1u);
  const uint64_t u8Time = out[4].u8Time;
  EXPECT_EQ(u8Time, u4Seq);
  EXPECT_NE(strstr(out[4].szText, "Log ring: this process has slept"), nullptr) << out[4].szText;
  EXPECT_EQ(out[5].u4Line, u4Seq);
  for (int i : {0, 2, 5}) EXPECT_TRUE(IsWhole(out[i]));
  ASSERT_TRUE(ring.queue.Push(MakeRecord(99)));
  ASSERT_EQ(ring.queue.Read(out, 8), 1u);
  EXPECT_EQ(out[0].u4Line, 99u);
}

TEST(LogRingQueue, ReaderThatOnlyPretendsToReadHoldsWritersNoLongerThanTheBudget) {
  Ring ring(64);
  std::atomic<bool> bDone{false};
  // Registers again whenever it is written off and moves its activity word,
  // but never reads.
  std::thread faker([&] {
    auto* pu4Header = static_cast<volatile uint32_t*>(ring.Area());
    while (!bDone) {
      __atomic_store_n(&pu4Header[RING_READER_COUNT], 1u, __ATOMIC_SEQ_CST);
      __atomic_add_fetch(&pu4Header[RING_READER_ACTIVITY], 1u, __ATOMIC_SEQ_CST);
      std::this_thread::yield();
    }
  });
  while (ring.queue.Word(RING_READER_COUNT) == 0) std::this_thread::yield();
  for (uint32_t i = 0; i < 1000; ++i) ASSERT_TRUE(ring.queue.Push(MakeRecord(i)));
  bDone = true;
  faker.join();
  EXPECT_GT(ring.queue.GetStats().u4ReadersDropped, 0u);
  // The newest records survive.
  LogRecord out[64];
  const uint32_t n = ring.queue.Read(out, 64);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(out[n - 1].u4Line, 999u);
  EXPECT_TRUE(IsWhole(out[n - 1]));
}

TEST(LogRingQueue, ReaderRegistrationRules) {
  Ring ring(8);
  auto* pu4Header = static_cast<uint32_t*>(ring.Area());
  pu4Header[RING_READER_COUNT] = NY_RING_NO_REGISTER;
  EXPECT_FALSE(ring.queue.RegisterReader());
  pu4Header[RING_READER_COUNT] = 0;
  EXPECT_TRUE(ring.queue.RegisterReader());
  EXPECT_TRUE(ring.queue.RegisterReader());
  EXPECT_EQ(ring.queue.Word(RING_READER_COUNT), 2u);
  ring.queue.UnregisterReader();
  ring.queue.UnregisterReader();
  ring.queue.UnregisterReader();  // already written off: stays at zero
  EXPECT_EQ(ring.queue.Word(RING_READER_COUNT), 0u);
  LogRecord out;
  const uint32_t u4Activity = ring.queue.Word(RING_READER_ACTIVITY);
  EXPECT_EQ(ring.queue.Read(&out, 1), 0u);
  EXPECT_EQ(ring.queue.Word(RING_READER_ACTIVITY), u4Activity + 1);
}

TEST(LogRingQueue, ConcurrentWritersNeverTearRecords) {
  // Writers wait for the reader as long as it takes, so that nothing is lost.
  Ring ring(256);
  constexpr uint32_t kWriters = 4, kEach = 5000;
  std::atomic<bool> bDone{false};
  std::vector<uint32_t> next(kWriters, 0);
  bool bOk = true;
  uint32_t u4Total = 0;
  ASSERT_TRUE(ring.queue.RegisterReader());
  std::thread reader([&] {
    CLockfreeArrayQueue view;
    EXPECT_EQ(view.Attach(ring.Area(), CLockfreeArrayQueue::AreaSize(256), 256, false), 0u);
    LogRecord out[32];
    while (!bDone || view.Word(RING_COMMIT) != view.Word(RING_READ)) {
      const uint32_t n = view.Read(out, 32);
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t w = out[i].u4ThreadId;
        if (w >= kWriters || out[i].u4Line != next[w] || !IsWhole(out[i])) bOk = false;
        if (w < kWriters) next[w] = out[i].u4Line + 1;
      }
      u4Total += n;
      if (n == 0) std::this_thread::yield();
    }
  });
  std::vector<std::thread> writers;
  for (uint32_t w = 0; w < kWriters; ++w) {
    writers.emplace_back([&ring, w] {
      CLockfreeArrayQueue view(kPatientMs);
      EXPECT_EQ(view.Attach(ring.Area(), CLockfreeArrayQueue::AreaSize(256), 256, false), 0u);
      for (uint32_t i = 0; i < kEach; ++i) view.Push(MakeRecord(i, w));
    });
  }
  for (auto& t : writers) t.join();
  bDone = true;
  reader.join();
  EXPECT_TRUE(bOk);
  EXPECT_EQ(u4Total, kWriters * kEach);
}

}  // namespace
