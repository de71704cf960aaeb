#pragma once
// The bytes of one undo step: the fields its kind's undo needs, written by
// the kind's recorder and read back by its undo in the same order. Numbers
// are little-endian; a text is its count of UTF-16 units and the units; a
// byte string is its count and the bytes. Portable.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A kind of undo step: four characters, the first in the lowest byte
// ("RKEY" is 0x59454B52). Every kind has a tag of its own.
using NyUndoKind = uint32_t;

constexpr NyUndoKind NyUndoKindTag(const char (&tag)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(tag[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(tag[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(tag[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(tag[3])) << 24;
}

class CNyUndoStep {
 public:
  explicit CNyUndoStep(NyUndoKind kind) : m_kind(kind) {}

  CNyUndoStep& AddU32(uint32_t u4Value);
  CNyUndoStep& AddU64(uint64_t u8Value);
  CNyUndoStep& AddBytes(const void* pvData, size_t cbData);
  CNyUndoStep& AddText(const std::wstring& text);

  NyUndoKind Kind() const { return m_kind; }
  const std::vector<uint8_t>& Payload() const { return m_payload; }

 private:
  NyUndoKind m_kind;
  std::vector<uint8_t> m_payload;
};

// Reads a step's fields back. Every read is checked against the step's
// length: a read past the end, or a count larger than what is left, answers
// false and leaves the reader at the end, so that a malformed step is
// refused rather than misread.
class CNyUndoReader {
 public:
  CNyUndoReader(const uint8_t* pbData, size_t cbData) : m_pb(pbData), m_cb(cbData) {}

  bool ReadU32(uint32_t* pu4Value);
  bool ReadU64(uint64_t* pu8Value);
  bool ReadBytes(std::vector<uint8_t>* pBytes);
  bool ReadText(std::wstring* pText);
  bool AtEnd() const { return m_at == m_cb; }

 private:
  bool Take(size_t cb, const uint8_t** ppb);

  const uint8_t* m_pb;
  size_t m_cb;
  size_t m_at = 0;
};
