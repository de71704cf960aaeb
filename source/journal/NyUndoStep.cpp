#include "NyUndoStep.h"

CNyUndoStep& CNyUndoStep::AddU32(uint32_t u4Value) {
  for (int i = 0; i < 4; ++i) m_payload.push_back(static_cast<uint8_t>(u4Value >> (8 * i)));
  return *this;
}

CNyUndoStep& CNyUndoStep::AddU64(uint64_t u8Value) {
  AddU32(static_cast<uint32_t>(u8Value));
  return AddU32(static_cast<uint32_t>(u8Value >> 32));
}

CNyUndoStep& CNyUndoStep::AddBytes(const void* pvData, size_t cbData) {
  AddU32(static_cast<uint32_t>(cbData));
  const auto* pb = static_cast<const uint8_t*>(pvData);
  m_payload.insert(m_payload.end(), pb, pb + cbData);
  return *this;
}

CNyUndoStep& CNyUndoStep::AddText(const std::wstring& text) {
  AddU32(static_cast<uint32_t>(text.size()));
  for (wchar_t ch : text) {
    m_payload.push_back(static_cast<uint8_t>(ch));
    m_payload.push_back(static_cast<uint8_t>(static_cast<uint16_t>(ch) >> 8));
  }
  return *this;
}

bool CNyUndoReader::Take(size_t cb, const uint8_t** ppb) {
  if (cb > m_cb - m_at) {
    m_at = m_cb;
    return false;
  }
  *ppb = m_pb + m_at;
  m_at += cb;
  return true;
}

bool CNyUndoReader::ReadU32(uint32_t* pu4Value) {
  const uint8_t* pb = nullptr;
  if (!Take(4, &pb)) return false;
  *pu4Value = static_cast<uint32_t>(pb[0]) | static_cast<uint32_t>(pb[1]) << 8 |
              static_cast<uint32_t>(pb[2]) << 16 | static_cast<uint32_t>(pb[3]) << 24;
  return true;
}

bool CNyUndoReader::ReadU64(uint64_t* pu8Value) {
  uint32_t u4Low = 0, u4High = 0;
  if (!ReadU32(&u4Low) || !ReadU32(&u4High)) return false;
  *pu8Value = static_cast<uint64_t>(u4High) << 32 | u4Low;
  return true;
}

bool CNyUndoReader::ReadBytes(std::vector<uint8_t>* pBytes) {
  uint32_t u4Count = 0;
  const uint8_t* pb = nullptr;
  if (!ReadU32(&u4Count) || !Take(u4Count, &pb)) return false;
  pBytes->assign(pb, pb + u4Count);
  return true;
}

bool CNyUndoReader::ReadText(std::wstring* pText) {
  uint32_t u4Count = 0;
  const uint8_t* pb = nullptr;
  // Compared before multiplying: a count near 2^32 must not wrap.
  if (!ReadU32(&u4Count) || u4Count > (m_cb - m_at) / 2 || !Take(size_t(u4Count) * 2, &pb)) {
    m_at = m_cb;
    return false;
  }
  pText->resize(u4Count);
  for (uint32_t i = 0; i < u4Count; ++i) {
    (*pText)[i] = static_cast<wchar_t>(static_cast<uint16_t>(pb[2 * i] | pb[2 * i + 1] << 8));
  }
  return true;
}
