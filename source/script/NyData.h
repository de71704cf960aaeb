#pragma once
// INyData / CNyData: a tagged parameter bag of fixed capacity.
//
// The buffer holds records back to back: tag (16-bit little-endian), value
// length L (32-bit little-endian), L value bytes. Slot order of INyData:
// 0 destructor, 1 AddRef, 2 Release (from CNyObject), then 3 SetData,
// 4 SetDword, 5 GetData, 6 GetDword, 7 Import, 8 Export, 9 Merge,
// 10 GetFirstTag, 11 GetNextTag, 12 FindTag.
#include <cstdint>
#include <vector>

#include "NyObject.h"

constexpr uint32_t NY_DATA_HEADER_SIZE = 6;

class INyData : public CNyObject {
 public:
  // Replaces a record with the tag, or appends one. With pvData null only
  // removes: 0 when a record was removed, 0xE0600008 when there was none.
  // Replacing needs capacity - used - old length >= new length, appending
  // capacity - used >= length + 6; otherwise 0xE0600002 and nothing changes.
  // A replaced record moves to the end.
  virtual uint32_t SetData(uint16_t u2Tag, const void* pvData, uint32_t u4Length) = 0;
  virtual uint32_t SetDword(uint16_t u2Tag, uint32_t u4Value) = 0;
  // Copies the value into pvBuffer, whose room *pu4Length states; sets
  // *pu4Length to the value's length. 0xE0600008 when the tag is absent,
  // 0xE0600007 without a length pointer, 0xE0600005 (and the needed length)
  // when the room is too small: nothing is ever written past the room. With
  // pvBuffer null only the needed length is stored (result 0).
  virtual uint32_t GetData(uint16_t u2Tag, void* pvBuffer, uint32_t* pu4Length) = 0;
  // The 32-bit value when the record exists and is exactly 4 bytes long.
  virtual uint32_t GetDword(uint16_t u2Tag, uint32_t u4Default) = 0;
  // The contents become a copy of the given record stream.
  virtual uint32_t Import(const void* pvBuffer, uint32_t u4Length) = 0;
  // Copies the record stream out; *pu4Size is in/out.
  virtual uint32_t Export(void* pvBuffer, uint32_t* pu4Size) = 0;
  // Takes every record of the other bag, in its order, replacing records
  // with the same tag; a failure restores the bag as it was.
  virtual uint32_t Merge(INyData* pOther) = 0;
  virtual bool GetFirstTag(uint16_t* pu2Tag) = 0;
  virtual bool GetNextTag(uint16_t* pu2Tag) = 0;
  // The first record with the tag: its start, its value length and value.
  virtual bool FindTag(uint16_t u2Tag, uint8_t** ppRecord, uint32_t* pu4Length, uint8_t** ppValue) = 0;
};

class CNyData : public INyData {
 public:
  explicit CNyData(uint32_t u4Capacity);
  ~CNyData() override;
  CNyData(const CNyData&) = delete;
  CNyData& operator=(const CNyData&) = delete;

  uint32_t SetData(uint16_t u2Tag, const void* pvData, uint32_t u4Length) override;
  uint32_t SetDword(uint16_t u2Tag, uint32_t u4Value) override;
  uint32_t GetData(uint16_t u2Tag, void* pvBuffer, uint32_t* pu4Length) override;
  uint32_t GetDword(uint16_t u2Tag, uint32_t u4Default) override;
  uint32_t Import(const void* pvBuffer, uint32_t u4Length) override;
  uint32_t Export(void* pvBuffer, uint32_t* pu4Size) override;
  uint32_t Merge(INyData* pOther) override;
  bool GetFirstTag(uint16_t* pu2Tag) override;
  bool GetNextTag(uint16_t* pu2Tag) override;
  bool FindTag(uint16_t u2Tag, uint8_t** ppRecord, uint32_t* pu4Length, uint8_t** ppValue) override;

  uint32_t GetCapacity() const { return m_u4Capacity; }
  uint32_t GetUsed() const { return m_u4Used; }

 private:
  // The value length of the record at u4Offset, or false when the record
  // does not fit inside the used bytes (a damaged stream ends there).
  bool RecordAt(uint32_t u4Offset, uint16_t* pu2Tag, uint32_t* pu4Length) const;
  // Offset of the first record with the tag, or false.
  bool FindOffset(uint16_t u2Tag, uint32_t* pu4Offset, uint32_t* pu4Length) const;
  void WriteHeader(uint32_t u4Offset, uint16_t u2Tag, uint32_t u4Length);

  uint32_t m_u4Capacity;
  // The records; never reallocated after construction, so pointers into it
  // (the cursor, FindTag's results) stay valid.
  std::vector<uint8_t> m_buffer;
  uint8_t* m_pbBuffer;
  uint32_t m_u4Used;
  uint8_t* m_pbCursor;
};
