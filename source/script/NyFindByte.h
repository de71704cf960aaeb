// The first byte of a given value in a range, as memchr finds it. The
// Windows builds take memchr from msvcrt.dll, and Wine's compares one byte
// per step: with the script scanned once per expansion pass and once more
// before each parse, that was a sixth of the time spent preparing the script.
// Eight bytes are compared per step here.
#pragma once

#include <cstdint>
#include <cstring>

// The first c in [p, pEnd), or null when there is none.
inline const char* NyFindByte(const char* p, const char* pEnd, char c) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHighs = 0x8080808080808080ULL;
  const uint64_t u8Pattern = kOnes * static_cast<unsigned char>(c);
  for (; pEnd - p >= 8; p += 8) {
    uint64_t u8Word;
    memcpy(&u8Word, p, sizeof(u8Word));
    const uint64_t u8Diff = u8Word ^ u8Pattern;
    // Non-zero when one of the eight bytes equals c; which one is found
    // below, in any byte order.
    if (((u8Diff - kOnes) & ~u8Diff & kHighs) != 0) break;
  }
  for (; p < pEnd; ++p) {
    if (*p == c) return p;
  }
  return nullptr;
}
