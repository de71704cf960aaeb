// Log ring throughput: records per second pushed by one writer and by two
// writer threads with no reader (so the ring keeps overflowing and dropping
// its oldest records, as in a setup run nobody watches), against plain
// 5120-byte copies into the same region; and what a process that keeps a
// claim open without ever committing costs a writer.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "LockfreeArrayQueue.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

int main(int argc, char** argv) {
  const uint32_t u4Records = argc > 1 ? static_cast<uint32_t>(strtoul(argv[1], nullptr, 10)) : 1000000;
  std::vector<uint8_t> area(CLockfreeArrayQueue::AreaSize(NY_RING_CAPACITY));
  LogRecord record;
  NyFillLogRecord(&record, 1, "bench.cpp", 1, "benchmark record", 0, 1, 1);

  // Touch the whole region once so no run pays for first-touch page faults.
  memset(area.data(), 0, area.size());

  uint8_t* pbSlots = area.data() + 64;
  auto start = Clock::now();
  for (uint32_t i = 0; i < u4Records; ++i) {
    memcpy(pbSlots + size_t(i & (NY_RING_CAPACITY - 1)) * NY_LOG_RECORD_SIZE, &record, sizeof(record));
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
  }
  const double copyRate = u4Records / Seconds(start);

  CLockfreeArrayQueue queue;
  queue.Attach(area.data(), area.size(), NY_RING_CAPACITY, true);
  start = Clock::now();
  for (uint32_t i = 0; i < u4Records; ++i) queue.Push(record);
  const double oneRate = u4Records / Seconds(start);

  queue.Attach(area.data(), area.size(), NY_RING_CAPACITY, true);
  start = Clock::now();
  std::vector<std::thread> writers;
  for (int w = 0; w < 2; ++w) {
    writers.emplace_back([&area, &record, u4Records] {
      CLockfreeArrayQueue view;
      view.Attach(area.data(), area.size(), NY_RING_CAPACITY, false);
      for (uint32_t i = 0; i < u4Records / 2; ++i) view.Push(record);
    });
  }
  for (auto& t : writers) t.join();
  const double twoRate = (u4Records / 2 * 2) / Seconds(start);

  // A hostile process claims a slot whenever none is claimed and never
  // commits: the first write waits until the claim counts as dead, later
  // ones are dropped or wait within what is left of the sleep budget.
  CLockfreeArrayQueue stuck;
  stuck.Attach(area.data(), area.size(), NY_RING_CAPACITY, true);
  auto* pu4Header = reinterpret_cast<volatile uint32_t*>(area.data());
  const auto claim = [pu4Header] {
    const uint32_t r = pu4Header[RING_RESERVE];
    if (pu4Header[RING_COMMIT] == r) pu4Header[RING_RESERVE] = r + 1;
  };
  claim();
  start = Clock::now();
  stuck.Push(record);
  const double firstStuck = Seconds(start);
  constexpr uint32_t kStuckWrites = 2000;
  start = Clock::now();
  for (uint32_t i = 0; i < kStuckWrites; ++i) {
    claim();
    stuck.Push(record);
  }
  const double eachStuck = Seconds(start) / kStuckWrites;

  printf("records per run:            %u\n", u4Records);
  printf("plain 5120-byte copies:     %.0f records/s\n", copyRate);
  printf("one writer:                 %.0f records/s (%.0f%% of copy)\n", oneRate, 100.0 * oneRate / copyRate);
  printf("two writers together:       %.0f records/s (%.2fx one writer)\n", twoRate, twoRate / oneRate);
  printf("beside a hostile claimer:   first write %.0f ms, then %.1f us per write (%u dropped of %u)\n",
         firstStuck * 1e3, eachStuck * 1e6, stuck.GetStats().u4Dropped, kStuckWrites + 1);
  return 0;
}
