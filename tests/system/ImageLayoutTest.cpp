// What the PE headers say about the file: where a range of the image lies in
// it, and where its signatures are; headers that say too little, or point
// outside the bytes given, say nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "NyImageLayout.h"

namespace {

constexpr size_t PE = 0x80, OPTIONAL = PE + 24, SECTIONS = OPTIONAL + 0xF0;

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { memcpy(&b[at], &v, 4); }
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) { memcpy(&b[at], &v, 2); }

// A 64-bit image with two sections: .text at 0x1000 (0x3000 in memory, 0x2000
// in the file at 0x400) and .rsrc at 0x5000 (0x100 in memory of 0x200 raw,
// at 0x2400), and a certificate table of 0x300 bytes at 0x2600.
std::vector<uint8_t> Headers() {
  std::vector<uint8_t> b(0x400, 0);
  b[0] = 'M', b[1] = 'Z';
  Put32(b, 0x3C, PE);
  memcpy(&b[PE], "PE\0\0", 4);
  Put16(b, PE + 6, 2);
  Put16(b, PE + 20, 0xF0);
  Put16(b, OPTIONAL, 0x20B);
  Put32(b, OPTIONAL + 108, 16);
  Put32(b, OPTIONAL + 112 + 4 * 8, 0x2600);
  Put32(b, OPTIONAL + 112 + 4 * 8 + 4, 0x300);
  const uint32_t sections[2][4] = {{0x3000, 0x1000, 0x2000, 0x400}, {0x100, 0x5000, 0x200, 0x2400}};
  for (size_t i = 0; i < 2; ++i)
    for (size_t f = 0; f < 4; ++f) Put32(b, SECTIONS + i * 40 + 8 + f * 4, sections[i][f]);
  return b;
}

bool Offset(const std::vector<uint8_t>& b, uint32_t u4Rva, uint32_t u4Size, uint32_t* pu4Offset, size_t cb = 0) {
  return NyImageRangeToFileOffset(b.data(), cb != 0 ? cb : b.size(), u4Rva, u4Size, pu4Offset);
}

TEST(ImageLayout, ARangeLiesInTheFileOnlyWithinOneSectionsFileData) {
  const std::vector<uint8_t> b = Headers();
  uint32_t u4Offset = 0;
  ASSERT_TRUE(Offset(b, 0x1010, 0x10, &u4Offset));
  EXPECT_EQ(u4Offset, 0x410u);
  ASSERT_TRUE(Offset(b, 0x2FF0, 0x10, &u4Offset));  // up to the end of the file data
  EXPECT_EQ(u4Offset, 0x23F0u);
  EXPECT_FALSE(Offset(b, 0x2FF0, 0x11, &u4Offset));  // into what the loader fills with zeros
  ASSERT_TRUE(Offset(b, 0x50F0, 0x10, &u4Offset));
  EXPECT_EQ(u4Offset, 0x24F0u);
  EXPECT_FALSE(Offset(b, 0x50F0, 0x20, &u4Offset));  // into the file's padding, which is not mapped
  EXPECT_FALSE(Offset(b, 0x4000, 1, &u4Offset));     // between the sections
  EXPECT_FALSE(Offset(b, 0xFFFFFFF0, 0x20, &u4Offset));
  // Headers cut short: the second section header is not there to read.
  EXPECT_FALSE(Offset(b, 0x50F0, 0x10, &u4Offset, SECTIONS + 40 + 39));
}

TEST(ImageLayout, MalformedHeadersSayNothing) {
  uint32_t u4Offset = 0, u4Size = 0;
  std::vector<uint8_t> b = Headers();
  Put32(b, 0x3C, 0x3F0);  // "PE" would lie past the bytes given
  EXPECT_FALSE(Offset(b, 0x1010, 0x10, &u4Offset));
  EXPECT_FALSE(NyImageCertificateTable(b.data(), b.size(), &u4Offset, &u4Size));
  b = Headers();
  b[PE] = 'X';
  EXPECT_FALSE(Offset(b, 0x1010, 0x10, &u4Offset));
  EXPECT_FALSE(NyImageRangeToFileOffset(nullptr, 0, 0x1010, 0x10, &u4Offset));
}

TEST(ImageLayout, TheCertificateTableOfBothWordSizes) {
  std::vector<uint8_t> b = Headers();
  uint32_t u4Offset = 0, u4Size = 0;
  ASSERT_TRUE(NyImageCertificateTable(b.data(), b.size(), &u4Offset, &u4Size));
  EXPECT_EQ(u4Offset, 0x2600u);
  EXPECT_EQ(u4Size, 0x300u);
  // A 32-bit image: the directories start 16 bytes earlier.
  Put16(b, OPTIONAL, 0x10B);
  Put32(b, OPTIONAL + 92, 16);
  Put32(b, OPTIONAL + 96 + 4 * 8, 0x1800);
  Put32(b, OPTIONAL + 96 + 4 * 8 + 4, 0x20);
  ASSERT_TRUE(NyImageCertificateTable(b.data(), b.size(), &u4Offset, &u4Size));
  EXPECT_EQ(u4Offset, 0x1800u);
  // Fewer directories than the certificate table's, or none of it: unsigned.
  Put32(b, OPTIONAL + 92, 4);
  EXPECT_FALSE(NyImageCertificateTable(b.data(), b.size(), &u4Offset, &u4Size));
  Put32(b, OPTIONAL + 92, 16);
  Put32(b, OPTIONAL + 96 + 4 * 8 + 4, 0);
  EXPECT_FALSE(NyImageCertificateTable(b.data(), b.size(), &u4Offset, &u4Size));
}

// The signed data of the table's first entry; an entry of another kind, or
// one whose length runs past the table, is none.
TEST(ImageLayout, TheFirstSignatureIsTheTablesFirstPkcs7Entry) {
  std::vector<uint8_t> t(24, 0xAB);
  Put32(t, 0, 20);
  Put16(t, 4, 0x0200);
  Put16(t, 6, 0x0002);
  size_t cbOffset = 0, cbSize = 0;
  ASSERT_TRUE(NyImageFirstSignature(t.data(), t.size(), &cbOffset, &cbSize));
  EXPECT_EQ(cbOffset, 8u);
  EXPECT_EQ(cbSize, 12u);
  Put32(t, 0, 25);
  EXPECT_FALSE(NyImageFirstSignature(t.data(), t.size(), &cbOffset, &cbSize));
  Put32(t, 0, 20);
  Put16(t, 6, 0x0001);  // an X.509 certificate alone
  EXPECT_FALSE(NyImageFirstSignature(t.data(), t.size(), &cbOffset, &cbSize));
  EXPECT_FALSE(NyImageFirstSignature(t.data(), 7, &cbOffset, &cbSize));
}

}  // namespace
