// CNyData: the tagged parameter bag.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "CaptureLogger.h"
#include "NyData.h"
#include "NyResult.h"

namespace {

std::vector<uint8_t> Export(CNyData& bag) {
  uint32_t u4Size = 0;
  EXPECT_EQ(bag.Export(nullptr, &u4Size), NY_SUCCESS);
  std::vector<uint8_t> bytes(u4Size);
  EXPECT_EQ(bag.Export(bytes.data(), &u4Size), NY_SUCCESS);
  return bytes;
}

TEST(NyData, RecordLayoutIsTagLengthValueLittleEndian) {
  CNyData bag(64);
  ASSERT_EQ(bag.SetData(0x1234, "abc", 3), NY_SUCCESS);
  ASSERT_EQ(bag.SetDword(20, 0x11223344), NY_SUCCESS);
  const std::vector<uint8_t> expected = {0x34, 0x12, 3, 0, 0, 0, 'a', 'b', 'c',
                                         20, 0, 4, 0, 0, 0, 0x44, 0x33, 0x22, 0x11};
  EXPECT_EQ(Export(bag), expected);
  EXPECT_EQ(bag.GetUsed(), 19u);
  EXPECT_EQ(bag.GetRefCount(), 0u);
}

TEST(NyData, CapacityCountsTheSixByteHeader) {
  // Capacity 16 takes one 10-byte value and refuses a second 1-byte value.
  CNyData bag(16);
  const char ten[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(bag.SetData(1, ten, 10), NY_SUCCESS);
  EXPECT_EQ(bag.GetUsed(), 16u);
  EXPECT_EQ(bag.SetData(2, "x", 1), NY_E_OUTOFMEMORY);
  EXPECT_EQ(bag.GetUsed(), 16u);

  CNyData small(15);
  EXPECT_EQ(small.SetData(1, ten, 10), NY_E_OUTOFMEMORY);
  EXPECT_EQ(small.GetUsed(), 0u);
}

TEST(NyData, ReplacementNeedsRoomForOldAndNewValueAndMovesToTheEnd) {
  // 3 records of 4 bytes: used 30 of 37, 7 free: fewer than 8.
  CNyData bag(37);
  ASSERT_EQ(bag.SetDword(1, 100), NY_SUCCESS);
  ASSERT_EQ(bag.SetDword(2, 200), NY_SUCCESS);
  ASSERT_EQ(bag.SetDword(3, 300), NY_SUCCESS);
  EXPECT_EQ(bag.SetDword(1, 111), NY_E_OUTOFMEMORY);
  EXPECT_EQ(bag.GetDword(1, 0), 100u);
  EXPECT_EQ(bag.GetUsed(), 30u);

  // With 8 free bytes the replacement works and the record moves last.
  CNyData roomy(38);
  ASSERT_EQ(roomy.SetDword(1, 100), NY_SUCCESS);
  ASSERT_EQ(roomy.SetDword(2, 200), NY_SUCCESS);
  ASSERT_EQ(roomy.SetDword(3, 300), NY_SUCCESS);
  EXPECT_EQ(roomy.SetDword(1, 111), NY_SUCCESS);
  EXPECT_EQ(roomy.GetDword(1, 0), 111u);
  EXPECT_EQ(roomy.GetUsed(), 30u);
  uint16_t u2Tag = 0;
  std::vector<uint16_t> order;
  for (bool b = roomy.GetFirstTag(&u2Tag); b; b = roomy.GetNextTag(&u2Tag)) order.push_back(u2Tag);
  EXPECT_EQ(order, (std::vector<uint16_t>{2, 3, 1}));
}

TEST(NyData, RemovalAndAbsentTags) {
  CNyData bag(64);
  EXPECT_EQ(bag.SetData(7, nullptr, 0), NY_E_NOT_FOUND);
  ASSERT_EQ(bag.SetData(7, "xy", 2), NY_SUCCESS);
  ASSERT_EQ(bag.SetData(8, "z", 1), NY_SUCCESS);
  EXPECT_EQ(bag.SetData(7, nullptr, 0), NY_SUCCESS);
  EXPECT_EQ(bag.GetUsed(), 7u);
  uint8_t* pRecord = nullptr;
  uint32_t u4Length = 99;
  uint8_t* pValue = nullptr;
  EXPECT_FALSE(bag.FindTag(7, &pRecord, &u4Length, &pValue));
  EXPECT_EQ(pRecord, nullptr);
  EXPECT_EQ(u4Length, 0u);
  EXPECT_EQ(pValue, nullptr);
  ASSERT_TRUE(bag.FindTag(8, &pRecord, &u4Length, &pValue));
  EXPECT_EQ(u4Length, 1u);
  EXPECT_EQ(*pValue, 'z');
  EXPECT_EQ(pValue, pRecord + 6);
}

TEST(NyData, RemovalNeverNeedsRoom) {
  // A full bag gives up a record whose value is larger than its free room.
  CNyData bag(16);
  ASSERT_EQ(bag.SetData(1, "0123456789", 10), NY_SUCCESS);
  EXPECT_EQ(bag.SetData(1, nullptr, 0), NY_SUCCESS);
  EXPECT_EQ(bag.GetUsed(), 0u);
  // A replacement still needs room for the new value next to the old one.
  ASSERT_EQ(bag.SetData(1, "0123456789", 10), NY_SUCCESS);
  EXPECT_EQ(bag.SetData(1, "abcdefghij", 10), NY_E_OUTOFMEMORY);
  EXPECT_EQ(bag.GetUsed(), 16u);
}

TEST(NyData, GetDwordNeedsExactlyFourBytes) {
  CNyData bag(64);
  ASSERT_EQ(bag.SetData(5, "ab", 2), NY_SUCCESS);
  EXPECT_EQ(bag.GetDword(5, 0xDEAD), 0xDEADu);
  EXPECT_EQ(bag.GetDword(6, 0xBEEF), 0xBEEFu);
  ASSERT_EQ(bag.SetDword(20, 0x80000001), NY_SUCCESS);
  EXPECT_EQ(bag.GetDword(20, 0), 0x80000001u);
}

TEST(NyData, GetDataNeverWritesPastTheStatedRoom) {
  CNyData bag(64);
  ASSERT_EQ(bag.SetData(3, "hello", 5), NY_SUCCESS);
  char buf[8];
  memset(buf, '#', sizeof(buf));
  uint32_t u4Length = 3;
  EXPECT_EQ(bag.GetData(3, buf, &u4Length), NY_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(u4Length, 5u);
  EXPECT_EQ(std::string(buf, 8), "########");
  u4Length = 0;
  EXPECT_EQ(bag.GetData(3, nullptr, &u4Length), NY_SUCCESS);
  EXPECT_EQ(u4Length, 5u);
  u4Length = sizeof(buf);
  EXPECT_EQ(bag.GetData(3, buf, &u4Length), NY_SUCCESS);
  EXPECT_EQ(u4Length, 5u);
  EXPECT_EQ(std::string(buf, 8), "hello###");
  EXPECT_EQ(bag.GetData(4, buf, &u4Length), NY_E_NOT_FOUND);
  EXPECT_EQ(bag.GetData(3, buf, nullptr), NY_E_INVALID_PARAM);
}

TEST(NyData, ImportAndExport) {
  CNyData bag(16);
  EXPECT_EQ(bag.Import(nullptr, 0), NY_E_INVALID_DATA);
  const uint8_t stream[] = {9, 0, 2, 0, 0, 0, 'o', 'k'};
  uint8_t big[17] = {};
  EXPECT_EQ(bag.Import(big, sizeof(big)), NY_E_OUTOFMEMORY);
  ASSERT_EQ(bag.Import(stream, sizeof(stream)), NY_SUCCESS);
  EXPECT_EQ(bag.GetUsed(), 8u);
  char value[2] = {};
  uint32_t u4Length = sizeof(value);
  EXPECT_EQ(bag.GetData(9, value, &u4Length), NY_SUCCESS);
  EXPECT_EQ(std::string(value, 2), "ok");

  EXPECT_EQ(bag.Export(nullptr, nullptr), NY_E_INVALID_PARAM);
  uint32_t u4Size = 0;
  EXPECT_EQ(bag.Export(nullptr, &u4Size), NY_SUCCESS);
  EXPECT_EQ(u4Size, 8u);
  uint8_t out[8] = {};
  u4Size = 7;
  EXPECT_EQ(bag.Export(out, &u4Size), NY_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(u4Size, 8u);
  EXPECT_EQ(bag.Export(out, &u4Size), NY_SUCCESS);
  EXPECT_EQ(0, memcmp(out, stream, 8));
}

TEST(NyData, DamagedImportedStreamIsNeverReadPastItsEnd) {
  // A record whose length runs past the used bytes ends the walk there.
  CNyData bag(32);
  const uint8_t stream[] = {1, 0, 1, 0, 0, 0, 'a', 2, 0, 0xFF, 0xFF, 0xFF, 0x7F, 'b'};
  ASSERT_EQ(bag.Import(stream, sizeof(stream)), NY_SUCCESS);
  uint16_t u2Tag = 0;
  ASSERT_TRUE(bag.GetFirstTag(&u2Tag));
  EXPECT_EQ(u2Tag, 1);
  EXPECT_FALSE(bag.GetNextTag(&u2Tag));
  EXPECT_FALSE(bag.FindTag(2, nullptr, nullptr, nullptr));
  EXPECT_EQ(bag.GetDword(2, 5), 5u);
}

TEST(NyData, TagIteration) {
  CNyData bag(64);
  uint16_t u2Tag = 0xFFFF;
  EXPECT_FALSE(bag.GetFirstTag(&u2Tag));
  EXPECT_FALSE(bag.GetNextTag(&u2Tag));
  ASSERT_EQ(bag.SetData(4, "", 0), NY_SUCCESS);  // an empty value is a record too
  ASSERT_EQ(bag.SetDword(6, 1), NY_SUCCESS);
  ASSERT_TRUE(bag.GetFirstTag(&u2Tag));
  EXPECT_EQ(u2Tag, 4);
  ASSERT_TRUE(bag.GetNextTag(&u2Tag));
  EXPECT_EQ(u2Tag, 6);
  EXPECT_FALSE(bag.GetNextTag(&u2Tag));
  EXPECT_FALSE(bag.GetNextTag(&u2Tag));
}

TEST(NyData, MergeReplacesInTheOtherBagsOrder) {
  CNyData bag(64);
  ASSERT_EQ(bag.SetDword(1, 1), NY_SUCCESS);
  ASSERT_EQ(bag.SetDword(2, 2), NY_SUCCESS);
  CNyData other(64);
  ASSERT_EQ(other.SetDword(2, 22), NY_SUCCESS);
  ASSERT_EQ(other.SetData(3, "xyz", 3), NY_SUCCESS);
  EXPECT_EQ(bag.Merge(nullptr), NY_E_INVALID_DATA);
  EXPECT_EQ(bag.Merge(&other), NY_SUCCESS);
  EXPECT_EQ(bag.GetDword(1, 0), 1u);
  EXPECT_EQ(bag.GetDword(2, 0), 22u);
  uint16_t u2Tag = 0;
  std::vector<uint16_t> order;
  for (bool b = bag.GetFirstTag(&u2Tag); b; b = bag.GetNextTag(&u2Tag)) order.push_back(u2Tag);
  EXPECT_EQ(order, (std::vector<uint16_t>{1, 2, 3}));
  CNyData empty(8);
  EXPECT_EQ(bag.Merge(&empty), NY_SUCCESS);
  EXPECT_EQ(bag.Merge(&bag), NY_SUCCESS);
  EXPECT_EQ(bag.GetUsed(), 10u + 10u + 9u);
}

TEST(NyData, MergeWithoutRoomRestoresTheBag) {
  CaptureLogger log;
  CNyData bag(30);
  ASSERT_EQ(bag.SetDword(1, 1), NY_SUCCESS);
  const std::vector<uint8_t> before = Export(bag);
  CNyData other(64);
  ASSERT_EQ(other.SetDword(5, 5), NY_SUCCESS);                // fits: 10 + 10 = 20 of 30
  ASSERT_EQ(other.SetData(6, "0123456789", 10), NY_SUCCESS);  // 4 bytes of room left
  EXPECT_EQ(bag.Merge(&other), NY_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(Export(bag), before);
  EXPECT_TRUE(log.Contains("u4Result = E0600005"));

  // Not even room for a header.
  CNyData tight(14);
  ASSERT_EQ(tight.SetDword(1, 1), NY_SUCCESS);
  CNyData one(16);
  ASSERT_EQ(one.SetData(2, "", 0), NY_SUCCESS);
  EXPECT_EQ(tight.Merge(&one), NY_E_OUTOFMEMORY);
  EXPECT_EQ(tight.GetUsed(), 10u);
}

TEST(NyObject, ReferenceCountStartsAtZeroAndReleaseDeletes) {
  static int s_nDeleted = 0;
  struct Probe : CNyObject {
    ~Probe() override { ++s_nDeleted; }
  };
  Probe* pProbe = new Probe();
  EXPECT_EQ(pProbe->GetRefCount(), 0u);
  EXPECT_EQ(pProbe->AddRef(), 1u);
  EXPECT_EQ(pProbe->AddRef(), 2u);
  EXPECT_EQ(pProbe->Release(), 1u);
  EXPECT_EQ(s_nDeleted, 0);
  EXPECT_EQ(pProbe->Release(), 0u);
  EXPECT_EQ(s_nDeleted, 1);
  INyData* pData = new CNyData(8);  // an owner that never calls AddRef deletes directly
  delete pData;
}

}  // namespace
