#include "NySha256Blocks.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define NY_SHA_X86 1
#endif

namespace {

constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

#ifdef NY_SHA_X86
alignas(16) constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// The rounds of cBlocks 64-byte blocks, four at a time: sha256rnds2 takes
// the state as ABEF and CDGH, so it is turned into that order and back.
// 32-bit Windows keeps the stack only 4-byte aligned, and the compiler
// spills the saved state to 16-byte aligned slots: the entry realigns it.
__attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer, noinline)) void Compress(uint32_t* pu4State, const uint8_t* pb, size_t cBlocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pu4State)), 0xB1);
  __m128i hgfe = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pu4State + 4)), 0x1B);
  __m128i abef = _mm_alignr_epi8(dcba, hgfe, 8);
  __m128i cdgh = _mm_blend_epi16(hgfe, dcba, 0xF0);
  for (; cBlocks != 0; --cBlocks, pb += 64) {
    const __m128i abefSaved = abef, cdghSaved = cdgh;
    __m128i w[4];
    for (int i = 0; i < 4; ++i)
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pb + 16 * i)), byteSwap);
    for (int i = 0; i < 16; ++i) {
      __m128i words = _mm_add_epi32(w[i & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * i)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
      if (i >= 3 && i <= 14) {
        __m128i& next = w[(i + 1) & 3];
        next = _mm_sha256msg2_epu32(_mm_add_epi32(next, _mm_alignr_epi8(w[i & 3], w[(i - 1) & 3], 4)), w[i & 3]);
      }
      words = _mm_shuffle_epi32(words, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, words);
      if (i >= 1 && i <= 12) w[(i - 1) & 3] = _mm_sha256msg1_epu32(w[(i - 1) & 3], w[i & 3]);
    }
    abef = _mm_add_epi32(abef, abefSaved);
    cdgh = _mm_add_epi32(cdgh, cdghSaved);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(pu4State), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(pu4State + 4), _mm_alignr_epi8(dchg, feba, 8));
}
#else
void Compress(uint32_t*, const uint8_t*, size_t) {}
#endif

}  // namespace

bool NySha256HasShaExtensions() {
#ifdef NY_SHA_X86
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool bSse = (c & bit_SSSE3) != 0 && (c & bit_SSE4_1) != 0;
  if (!bSse || !__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return (b & bit_SHA) != 0;
#else
  return false;
#endif
}

void CNySha256Blocks::Reset() {
  memcpy(m_au4State, kInitial, sizeof(m_au4State));
  m_cbPending = 0;
  m_u8Bytes = 0;
}

void CNySha256Blocks::Add(const void* pv, size_t cb) {
  const auto* pb = static_cast<const uint8_t*>(pv);
  m_u8Bytes += cb;
  if (m_cbPending != 0) {
    const size_t cbTake = cb < 64 - m_cbPending ? cb : 64 - m_cbPending;
    memcpy(m_abPending + m_cbPending, pb, cbTake);
    m_cbPending += cbTake;
    pb += cbTake;
    cb -= cbTake;
    if (m_cbPending < 64) return;
    Compress(m_au4State, m_abPending, 1);
    m_cbPending = 0;
  }
  Compress(m_au4State, pb, cb / 64);
  m_cbPending = cb % 64;
  if (m_cbPending != 0) memcpy(m_abPending, pb + cb - m_cbPending, m_cbPending);
}

void CNySha256Blocks::Finish(NySha256* pDigest) {
  const uint64_t u8Bits = m_u8Bytes * 8;
  uint8_t abTail[128] = {0x80};
  // The marker byte, zeros up to 8 bytes short of a block, the bit count.
  const size_t cbTail = (m_cbPending < 56 ? 64 : 128) - m_cbPending;
  for (int i = 0; i < 8; ++i) abTail[cbTail - 1 - i] = static_cast<uint8_t>(u8Bits >> (8 * i));
  Add(abTail, cbTail);
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 4; ++j) (*pDigest)[4 * i + j] = static_cast<uint8_t>(m_au4State[i] >> (24 - 8 * j));
  }
  Reset();
}
