#include "NyData.h"

#include <cstring>
#include <new>

#include "NyLog.h"
#include "NyResult.h"

namespace {

uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

void WriteLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void WriteLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

CNyData::CNyData(uint32_t u4Capacity)
    : m_u4Capacity(u4Capacity), m_pbBuffer(nullptr), m_u4Used(0), m_pbCursor(nullptr) {
  // Zero-filled; a bag whose buffer cannot be had has capacity 0.
  try {
    m_buffer.assign(u4Capacity == 0 ? 1 : u4Capacity, 0);
    m_pbBuffer = m_buffer.data();
  } catch (const std::bad_alloc&) {
    m_u4Capacity = 0;
  }
  m_pbCursor = m_pbBuffer;
}

CNyData::~CNyData() = default;

bool CNyData::RecordAt(uint32_t u4Offset, uint16_t* pu2Tag, uint32_t* pu4Length) const {
  if (m_pbBuffer == nullptr || u4Offset > m_u4Used || m_u4Used - u4Offset < NY_DATA_HEADER_SIZE) return false;
  const uint32_t u4Length = ReadLe32(m_pbBuffer + u4Offset + 2);
  if (u4Length > m_u4Used - u4Offset - NY_DATA_HEADER_SIZE) return false;
  *pu2Tag = ReadLe16(m_pbBuffer + u4Offset);
  *pu4Length = u4Length;
  return true;
}

bool CNyData::FindOffset(uint16_t u2Tag, uint32_t* pu4Offset, uint32_t* pu4Length) const {
  uint32_t u4Offset = 0;
  uint16_t u2RecordTag = 0;
  uint32_t u4Length = 0;
  while (RecordAt(u4Offset, &u2RecordTag, &u4Length)) {
    if (u2RecordTag == u2Tag) {
      *pu4Offset = u4Offset;
      *pu4Length = u4Length;
      return true;
    }
    u4Offset += NY_DATA_HEADER_SIZE + u4Length;
  }
  return false;
}

void CNyData::WriteHeader(uint32_t u4Offset, uint16_t u2Tag, uint32_t u4Length) {
  WriteLe16(m_pbBuffer + u4Offset, u2Tag);
  WriteLe32(m_pbBuffer + u4Offset + 2, u4Length);
}

uint32_t CNyData::SetData(uint16_t u2Tag, const void* pvData, uint32_t u4Length) {
  uint32_t u4Offset = 0;
  uint32_t u4OldLength = 0;
  const uint32_t u4Free = m_u4Capacity - m_u4Used;
  if (FindOffset(u2Tag, &u4Offset, &u4OldLength)) {
    // A replacement needs room for the new value; a removal needs none, or a
    // full bag could never give up a record (and Merge, which removes before
    // it writes, would keep a stale value).
    if (pvData != nullptr && static_cast<uint64_t>(u4Free) < static_cast<uint64_t>(u4OldLength) + u4Length) {
      return NY_E_OUTOFMEMORY;
    }
    const uint32_t u4RecordSize = NY_DATA_HEADER_SIZE + u4OldLength;
    const uint32_t u4Behind = m_u4Used - u4Offset - u4RecordSize;
    memmove(m_pbBuffer + u4Offset, m_pbBuffer + u4Offset + u4RecordSize, u4Behind);
    m_u4Used -= u4RecordSize;
    memset(m_pbBuffer + m_u4Used, 0, u4RecordSize);
    if (pvData == nullptr) return NY_SUCCESS;
  } else if (pvData == nullptr) {
    return NY_E_NOT_FOUND;
  }
  if (static_cast<uint64_t>(m_u4Capacity - m_u4Used) < static_cast<uint64_t>(u4Length) + NY_DATA_HEADER_SIZE) {
    return NY_E_OUTOFMEMORY;
  }
  WriteHeader(m_u4Used, u2Tag, u4Length);
  if (u4Length != 0) memcpy(m_pbBuffer + m_u4Used + NY_DATA_HEADER_SIZE, pvData, u4Length);
  m_u4Used += NY_DATA_HEADER_SIZE + u4Length;
  return NY_SUCCESS;
}

uint32_t CNyData::SetDword(uint16_t u2Tag, uint32_t u4Value) {
  uint8_t ab[4];
  memcpy(ab, &u4Value, sizeof(ab));
  return SetData(u2Tag, ab, sizeof(ab));
}

uint32_t CNyData::GetData(uint16_t u2Tag, void* pvBuffer, uint32_t* pu4Length) {
  if (pu4Length == nullptr) return NY_E_INVALID_PARAM;
  uint32_t u4Offset = 0;
  uint32_t u4Length = 0;
  if (!FindOffset(u2Tag, &u4Offset, &u4Length)) return NY_E_NOT_FOUND;
  if (pvBuffer == nullptr) {
    *pu4Length = u4Length;
    return NY_SUCCESS;
  }
  if (*pu4Length < u4Length) {
    *pu4Length = u4Length;
    return NY_E_BUFFER_TOO_SMALL;
  }
  // Merge writes straight into another bag's free room; move, never copy
  // overlapping bytes.
  if (u4Length != 0) memmove(pvBuffer, m_pbBuffer + u4Offset + NY_DATA_HEADER_SIZE, u4Length);
  *pu4Length = u4Length;
  return NY_SUCCESS;
}

uint32_t CNyData::GetDword(uint16_t u2Tag, uint32_t u4Default) {
  uint32_t u4Offset = 0;
  uint32_t u4Length = 0;
  if (!FindOffset(u2Tag, &u4Offset, &u4Length) || u4Length != 4) return u4Default;
  uint32_t u4Value = 0;
  memcpy(&u4Value, m_pbBuffer + u4Offset + NY_DATA_HEADER_SIZE, sizeof(u4Value));
  return u4Value;
}

uint32_t CNyData::Import(const void* pvBuffer, uint32_t u4Length) {
  if (pvBuffer == nullptr) return NY_E_INVALID_DATA;
  if (u4Length > m_u4Capacity) return NY_E_OUTOFMEMORY;
  if (u4Length != 0) memmove(m_pbBuffer, pvBuffer, u4Length);
  memset(m_pbBuffer + u4Length, 0, m_u4Capacity - u4Length);
  m_u4Used = u4Length;
  m_pbCursor = m_pbBuffer;
  return NY_SUCCESS;
}

uint32_t CNyData::Export(void* pvBuffer, uint32_t* pu4Size) {
  if (pu4Size == nullptr) return NY_E_INVALID_PARAM;
  if (pvBuffer == nullptr) {
    *pu4Size = m_u4Used;
    return NY_SUCCESS;
  }
  if (*pu4Size < m_u4Used) {
    *pu4Size = m_u4Used;
    return NY_E_BUFFER_TOO_SMALL;
  }
  if (m_u4Used != 0) memcpy(pvBuffer, m_pbBuffer, m_u4Used);
  *pu4Size = m_u4Used;
  return NY_SUCCESS;
}

uint32_t CNyData::Merge(INyData* pOther) {
  if (pOther == nullptr) return NY_E_INVALID_DATA;
  // A bag merged into itself keeps every record as it is.
  if (pOther == this) return NY_SUCCESS;
  std::vector<uint8_t> saved;
  try {
    saved.assign(m_pbBuffer, m_pbBuffer + m_u4Capacity);
  } catch (const std::bad_alloc&) {
    NYLOG_RESULT(NY_E_OUTOFMEMORY);
    return NY_E_OUTOFMEMORY;
  }
  const uint32_t u4SavedUsed = m_u4Used;
  const size_t cbCursor = static_cast<size_t>(m_pbCursor - m_pbBuffer);

  uint32_t u4Result = NY_SUCCESS;
  uint16_t u2Tag = 0;
  for (bool bMore = pOther->GetFirstTag(&u2Tag); bMore; bMore = pOther->GetNextTag(&u2Tag)) {
    SetData(u2Tag, nullptr, 0);  // result ignored
    uint32_t u4Room = 0;
    if (m_u4Capacity - m_u4Used < NY_DATA_HEADER_SIZE) {
      u4Result = NY_E_OUTOFMEMORY;  // not even room for a header
    } else {
      u4Room = m_u4Capacity - m_u4Used - NY_DATA_HEADER_SIZE;
      u4Result = pOther->GetData(u2Tag, m_pbBuffer + m_u4Used + NY_DATA_HEADER_SIZE, &u4Room);
    }
    if (u4Result != NY_SUCCESS) {
      NYLOG_RESULT(u4Result);
      if (m_u4Capacity != 0) memcpy(m_pbBuffer, saved.data(), m_u4Capacity);
      m_u4Used = u4SavedUsed;
      m_pbCursor = m_pbBuffer + cbCursor;
      return u4Result;
    }
    WriteHeader(m_u4Used, u2Tag, u4Room);
    m_u4Used += NY_DATA_HEADER_SIZE + u4Room;
  }
  return NY_SUCCESS;
}

bool CNyData::GetFirstTag(uint16_t* pu2Tag) {
  m_pbCursor = m_pbBuffer;
  uint16_t u2Tag = 0;
  uint32_t u4Length = 0;
  if (!RecordAt(0, &u2Tag, &u4Length)) return false;
  if (pu2Tag != nullptr) *pu2Tag = u2Tag;
  return true;
}

bool CNyData::GetNextTag(uint16_t* pu2Tag) {
  if (m_pbBuffer == nullptr) return false;
  const uint32_t u4Offset = static_cast<uint32_t>(m_pbCursor - m_pbBuffer);
  uint16_t u2Tag = 0;
  uint32_t u4Length = 0;
  if (u4Offset >= m_u4Used || !RecordAt(u4Offset, &u2Tag, &u4Length)) return false;
  const uint32_t u4Next = u4Offset + NY_DATA_HEADER_SIZE + u4Length;
  m_pbCursor = m_pbBuffer + u4Next;
  if (u4Next >= m_u4Used || !RecordAt(u4Next, &u2Tag, &u4Length)) return false;
  if (pu2Tag != nullptr) *pu2Tag = u2Tag;
  return true;
}

bool CNyData::FindTag(uint16_t u2Tag, uint8_t** ppRecord, uint32_t* pu4Length, uint8_t** ppValue) {
  uint32_t u4Offset = 0;
  uint32_t u4Length = 0;
  const bool bFound = FindOffset(u2Tag, &u4Offset, &u4Length);
  if (ppRecord != nullptr) *ppRecord = bFound ? m_pbBuffer + u4Offset : nullptr;
  if (pu4Length != nullptr) *pu4Length = bFound ? u4Length : 0;
  if (ppValue != nullptr) *ppValue = bFound ? m_pbBuffer + u4Offset + NY_DATA_HEADER_SIZE : nullptr;
  return bFound;
}
