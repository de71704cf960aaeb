// Log ring throughput: records per second pushed by one writer and by two
// writer threads with no reader (so the ring keeps overflowing and dropping
// its oldest records, as in a setup run nobody watches), against plain
// 5120-byte copies into the same region.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "Log/LockfreeArrayQueue.h"

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

  printf("records per run:            %u\n", u4Records);
  printf("plain 5120-byte copies:     %.0f records/s\n", copyRate);
  printf("one writer:                 %.0f records/s (%.0f%% of copy)\n", oneRate, 100.0 * oneRate / copyRate);
  printf("two writers together:       %.0f records/s (%.2fx one writer)\n", twoRate, twoRate / oneRate);
  return 0;
}
