#pragma once
// What the Windows benchmarks measure with: a clock and the peak working set.
#include <windows.h>
#include <psapi.h>

// Seconds, from the performance counter.
inline double Now() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return double(counter.QuadPart) / double(frequency.QuadPart);
}

// The process's peak working set in bytes (under Wine, what it reports of
// the process's resident memory); -1 when it cannot be read.
inline double PeakWorkingSetBytes() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return -1;
  return double(counters.PeakWorkingSetSize);
}
