// Test helper: a hostile process beside the log ring, which every process
// may open by design. It runs until it is ended.
//   ny_ring_staller writer   claims a slot and never commits it; claims the
//                            next one as soon as the stuck one is published
//   ny_ring_staller reader   poses as an attached reader that never reads,
//                            and keeps the ring full
//   ny_ring_staller flood    publishes slots faster than any reader can read
//                            them, without writing them
// It prints "ready" once its trap is set, for the benchmarks that start it.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "NyShmLogger.h"
#include "NyShareMem.h"

namespace {

bool Cas(volatile uint32_t* p, uint32_t u4Expected, uint32_t u4Desired) {
  return __atomic_compare_exchange_n(p, &u4Expected, u4Desired, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 1;
  const bool bWriter = wcscmp(argv[1], L"writer") == 0;
  const bool bReader = wcscmp(argv[1], L"reader") == 0;
  if (!bWriter && !bReader && wcscmp(argv[1], L"flood") != 0) return 1;
  NyNamespaceAcquire();
  // Keeps the ring alive even when nobody else has it open yet.
  CNyShmLogger keeper;
  if (!keeper.OpenLogRingWriter()) return 2;
  NyShareMemHandle region;
  bool bCreated = false;
  if (NyShareMemOpen(kNyLogRingName, NyLogRingRegionSize(NY_RING_CAPACITY), false, &region, &bCreated) != 0) return 3;
  auto* pu4Header = reinterpret_cast<volatile uint32_t*>(static_cast<uint8_t*>(region.View()) + sizeof(uint32_t));
  for (bool bReady = false;;) {
    const uint32_t r = pu4Header[RING_RESERVE];
    if (bWriter) {
      if (pu4Header[RING_COMMIT] == r) Cas(&pu4Header[RING_RESERVE], r, r + 1);
    } else if (bReader) {
      Cas(&pu4Header[RING_READER_COUNT], 0, 1);
      const uint32_t rd = pu4Header[RING_READ];
      if (((r + 1) ^ rd) & (NY_RING_CAPACITY - 1)) Cas(&pu4Header[RING_READ], rd, r + 1 - NY_RING_CAPACITY);
    } else {
      // Half a ring ahead of the reader, every millisecond.
      const uint32_t n = pu4Header[RING_READ] + NY_RING_CAPACITY / 2 - r;
      if (int32_t(n) > 0 && pu4Header[RING_COMMIT] == r && Cas(&pu4Header[RING_RESERVE], r, r + n)) {
        Cas(&pu4Header[RING_COMMIT], r, r + n);
      }
    }
    if (!bReady && (bWriter ? pu4Header[RING_RESERVE] != pu4Header[RING_COMMIT]
                            : pu4Header[RING_READ] != pu4Header[RING_COMMIT])) {
      bReady = true;
      puts("ready");
      fflush(stdout);
    }
    Sleep(1);
  }
}
