#pragma once
// SHA-256 with the processor's SHA extensions (x86 and x64): several times
// the speed of the system's own hash, which under Wine and on older Windows
// is plain C, and no provider DLL to load before the first byte. Portable:
// the platform's hash stands in where the processor lacks them.
#include <cstddef>
#include <cstdint>

#include "NyPackageDigest.h"

// True where this processor has the SHA extensions (and SSSE3 and SSE4.1,
// which the rounds also use).
bool NySha256HasShaExtensions();

// One computation; only where NySha256HasShaExtensions() says so.
class CNySha256Blocks {
 public:
  CNySha256Blocks() { Reset(); }
  void Add(const void* pv, size_t cb);
  // The digest; the object is ready for the next computation.
  void Finish(NySha256* pDigest);

 private:
  void Reset();

  uint32_t m_au4State[8];
  uint8_t m_abPending[64];
  size_t m_cbPending;
  uint64_t m_u8Bytes;
};
