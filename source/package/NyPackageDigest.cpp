#include "NyPackageDigest.h"

#include <algorithm>
#include <cstring>

#include "NyResult.h"

namespace {

constexpr char RECORD_MARKER[4] = {'N', 'Y', 'P', 'D'};
constexpr uint32_t DEFINITION_CHUNKED_SHA256 = 1;

uint32_t U32At(const uint8_t* pb) {
  return uint32_t(pb[0]) | uint32_t(pb[1]) << 8 | uint32_t(pb[2]) << 16 | uint32_t(pb[3]) << 24;
}

void PutU32(std::string& out, uint32_t u4) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((u4 >> shift) & 0xFF);
}

}  // namespace

bool NyPackageDigestRead(const uint8_t* pb, size_t cb, NyPackageDigest* pDigest) {
  if (pb == nullptr || cb != NY_PACKAGE_DIGEST_RECORD_SIZE || memcmp(pb, RECORD_MARKER, 4) != 0 ||
      U32At(pb + 4) != DEFINITION_CHUNKED_SHA256)
    return false;
  const uint32_t u4Chunk = U32At(pb + 8);
  if (u4Chunk < NY_PACKAGE_DIGEST_MIN_CHUNK || u4Chunk > NY_PACKAGE_DIGEST_MAX_CHUNK) return false;
  pDigest->u4ChunkSize = u4Chunk;
  pDigest->u4PackageSize = U32At(pb + 12);
  memcpy(pDigest->digest.data(), pb + 16, NY_SHA256_SIZE);
  return true;
}

std::string NyPackageDigestRecord(const NyPackageDigest& digest) {
  std::string out(RECORD_MARKER, 4);
  PutU32(out, DEFINITION_CHUNKED_SHA256);
  PutU32(out, digest.u4ChunkSize);
  PutU32(out, digest.u4PackageSize);
  out.append(reinterpret_cast<const char*>(digest.digest.data()), NY_SHA256_SIZE);
  return out;
}

std::string NySha256Hex(const NySha256& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : digest) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

uint32_t CNyPackageDigester::Add(const void* pv, size_t cb) {
  if (m_u4ChunkSize < NY_PACKAGE_DIGEST_MIN_CHUNK || m_u4ChunkSize > NY_PACKAGE_DIGEST_MAX_CHUNK)
    return NY_E_INVALID_PARAM;
  const auto* pb = static_cast<const uint8_t*>(pv);
  while (cb != 0) {
    const size_t cbTake = std::min<size_t>(cb, m_u4ChunkSize - m_u4InChunk);
    const uint32_t u4Result = m_chunk.Add(pb, cbTake);
    if (u4Result != 0) return u4Result;
    pb += cbTake;
    cb -= cbTake;
    m_u8Size += cbTake;
    m_u4InChunk += static_cast<uint32_t>(cbTake);
    if (m_u4InChunk == m_u4ChunkSize) {
      const uint32_t u4End = EndChunk();
      if (u4End != 0) return u4End;
    }
  }
  return 0;
}

uint32_t CNyPackageDigester::EndChunk() {
  NySha256 chunk;
  uint32_t u4Result = m_chunk.Finish(&chunk);
  if (u4Result == 0) u4Result = m_root.Add(chunk.data(), chunk.size());
  m_u4InChunk = 0;
  return u4Result;
}

uint32_t CNyPackageDigester::Finish(NyPackageDigest* pDigest) {
  if (m_u8Size > 0xFFFFFFFFu || m_u4ChunkSize < NY_PACKAGE_DIGEST_MIN_CHUNK ||
      m_u4ChunkSize > NY_PACKAGE_DIGEST_MAX_CHUNK)
    return NY_E_INVALID_PARAM;
  uint32_t u4Result = m_u4InChunk != 0 ? EndChunk() : 0;
  if (u4Result == 0) u4Result = m_root.Finish(&pDigest->digest);
  if (u4Result != 0) return u4Result;
  pDigest->u4ChunkSize = m_u4ChunkSize;
  pDigest->u4PackageSize = static_cast<uint32_t>(m_u8Size);
  return 0;
}
