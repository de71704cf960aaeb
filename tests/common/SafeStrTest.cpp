#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CaptureLogger.h"
#include "NyResult.h"
#include "NySafeStr.h"

namespace {

TEST(SafeStrCopy, CutsToCapacityAndSaysWhy) {
  CaptureLogger log;
  char buf[4];
  EXPECT_FALSE(NyStrCopy(buf, sizeof(buf), "abcdef"));
  EXPECT_STREQ(buf, "abc");
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].u4Level, LOG_LEVEL_OUTCOME);
  EXPECT_EQ(log.lines[0].text, "NyStrCopy failed due to srclen > (cchDest-1)");
  EXPECT_NE(log.lines[0].source.find("NySafeStr"), std::string::npos);

  EXPECT_TRUE(NyStrCopy(buf, sizeof(buf), "abc"));
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(log.lines.size(), 1u);
}

TEST(SafeStrCopy, MissingArgumentsLeaveDestinationUntouched) {
  CaptureLogger log;
  char buf[8] = "keep";
  EXPECT_FALSE(NyStrCopy(buf, 0, "x"));
  EXPECT_FALSE(NyStrCopy(buf, sizeof(buf), nullptr));
  EXPECT_FALSE(NyStrCopy(nullptr, 8, "x"));
  EXPECT_STREQ(buf, "keep");
  ASSERT_EQ(log.lines.size(), 3u);
  EXPECT_EQ(log.lines[0].text, "NyStrCopy failed due to paramters are invalid");

  wchar_t wbuf[3];
  EXPECT_FALSE(NyWcsCopy(wbuf, 3, L"xyz"));
  EXPECT_EQ(std::wstring(wbuf), L"xy");
  EXPECT_EQ(log.lines.back().text, "NyWcsCopy failed due to srclen > (cchDest-1)");
}

TEST(SafeStrCat, AppendsCutsAndRefusesAFullDestination) {
  CaptureLogger log;
  char buf[6] = "ab";
  EXPECT_TRUE(NyStrCat(buf, sizeof(buf), "cd"));
  EXPECT_STREQ(buf, "abcd");
  EXPECT_FALSE(NyStrCat(buf, sizeof(buf), "xyz"));
  EXPECT_STREQ(buf, "abcdx");
  EXPECT_EQ(log.lines.back().text, "NyStrCat failed due to srclen > (cchDest - dstlen - 1)");

  // A destination whose length already equals the capacity: no terminator
  // inside the room at all. It must stay untouched and nothing may be read
  // past the capacity.
  char full[4] = {'w', 'x', 'y', 'z'};
  EXPECT_FALSE(NyStrCat(full, sizeof(full), "q"));
  EXPECT_EQ(0, memcmp(full, "wxyz", 4));
  EXPECT_EQ(log.lines.back().text, "NyStrCat failed due to cchDest <= dstlen");

  // An empty source succeeds without reading the destination.
  EXPECT_TRUE(NyStrCat(full, sizeof(full), ""));

  wchar_t wbuf[4] = L"a";
  EXPECT_FALSE(NyWcsCat(wbuf, 4, L"bcd"));
  EXPECT_EQ(std::wstring(wbuf), L"abc");
  EXPECT_EQ(log.lines.back().text, "NyWcsCat failed due to srclen > (cchDest - dstlen - 1)");
}

TEST(SafeStrPrintf, FitsExactlyOrCutsWithWarning) {
  CaptureLogger log;
  char buf[6];
  EXPECT_TRUE(NyStrPrintf(buf, sizeof(buf), "%s%d", "ab", 123));
  EXPECT_STREQ(buf, "ab123");
  EXPECT_TRUE(log.lines.empty());
  EXPECT_FALSE(NyStrPrintf(buf, sizeof(buf), "%s%d", "ab", 1234));
  EXPECT_STREQ(buf, "ab123");
  EXPECT_EQ(log.lines.back().text, "NyStrVPrintf failed due to buffer may be too small");

  EXPECT_FALSE(NyStrVPrintf(buf, sizeof(buf), "x", nullptr));
  EXPECT_EQ(log.lines.back().text, "NyStrVPrintf failed due to argList is NULL");
  EXPECT_FALSE(NyStrPrintf(buf, 0, "x"));
  EXPECT_EQ(log.lines.back().text, "NyStrVPrintf failed due to paramters are invalid");

  wchar_t wbuf[6];
  EXPECT_TRUE(NyWcsPrintf(wbuf, 6, L"%d", 12345));
  EXPECT_EQ(std::wstring(wbuf), L"12345");
  EXPECT_FALSE(NyWcsPrintf(wbuf, 6, L"%d", 123456));
  EXPECT_EQ(std::wstring(wbuf), L"12345");
  EXPECT_EQ(log.lines.back().text, "NyWcsVPrintf failed due to buffer may be too small");
}

TEST(SafeStrCompare, NullIsEmptyAndOnlyAsciiCaseFolds) {
  EXPECT_EQ(SafeStrLen(nullptr), 0u);
  EXPECT_EQ(SafeWcsLen(nullptr), 0u);
  EXPECT_EQ(SafeStrCmp(nullptr, ""), 0);
  EXPECT_LT(SafeStrCmp(nullptr, "a"), 0);
  EXPECT_EQ(SafeWcsICmp(L"Uninstall.EXE", L"uninstall.exe"), 0);
  EXPECT_EQ(SafeWcsICmp(nullptr, L""), 0);
  EXPECT_NE(SafeWcsICmp(L"\u00c4", L"\u00e4"), 0);
  EXPECT_LT(SafeWcsICmp(L"a", L"B"), 0);
  EXPECT_EQ(SafeStrICmp("UTF-8", "utf-8"), 0);
  EXPECT_EQ(SafeStrICmp(nullptr, ""), 0);
  EXPECT_NE(SafeStrICmp("\xc4", "\xe4"), 0);
  EXPECT_GT(SafeStrICmp("\xe4", "z"), 0) << "bytes above 127 compare unsigned";
}

TEST(MemCopy, ClearsDestinationOnEveryFailure) {
  CaptureLogger log;
  unsigned char dest[4] = {1, 2, 3, 4};
  const unsigned char src[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(NyMemCpy(dest, sizeof(dest), src, sizeof(src)), NY_E_DEST_TOO_SMALL);
  EXPECT_EQ(0, memcmp(dest, "\0\0\0\0", 4));
  EXPECT_EQ(log.lines.back().text, "NyMemCpy failed due to cchDest < cchCount");
  EXPECT_NE(log.lines.back().source.find("NyCommon"), std::string::npos);

  memset(dest, 7, sizeof(dest));
  EXPECT_EQ(NyMemCpy(dest, sizeof(dest), nullptr, 2), NY_E_INVALID_DATA);
  EXPECT_EQ(0, memcmp(dest, "\0\0\0\0", 4));
  EXPECT_EQ(NyMemCpy(nullptr, 4, src, 2), NY_E_INVALID_PARAM);
  EXPECT_EQ(NyMemCpy(nullptr, 0, nullptr, 0), NY_SUCCESS);
  EXPECT_EQ(NyMemCpy(dest, sizeof(dest), src, 4), NY_SUCCESS);
  EXPECT_EQ(dest[3], 9);

  char overlap[8] = "abcdef";
  EXPECT_TRUE(NyMemMove(overlap + 1, 7, overlap, 6));
  EXPECT_STREQ(overlap, "aabcdef");
  EXPECT_FALSE(NyMemMove(overlap, 2, "xyz", 3));
  EXPECT_EQ(log.lines.back().text,
            "NyMemMove failed due to NULL == pvDest || NULL == pvSrc || cchDest < cchCount");
}

TEST(SafeStrToUIntTest, ReadsLikeThePercentU) {
  uint32_t u4 = 7;
  EXPECT_TRUE(SafeStrToUInt(" 1033x", &u4));
  EXPECT_EQ(u4, 1033u);
  EXPECT_TRUE(SafeStrToUInt("-1", &u4));
  EXPECT_EQ(u4, 0xFFFFFFFFu);
  EXPECT_TRUE(SafeStrToUInt("99999999999", &u4));
  EXPECT_EQ(u4, 0xFFFFFFFFu);
  u4 = 7;
  EXPECT_FALSE(SafeStrToUInt("x1", &u4));
  EXPECT_FALSE(SafeStrToUInt(nullptr, &u4));
  EXPECT_EQ(u4, 7u);
}

TEST(CopyOutTest, ReportsNeededSize) {
  const char src[5] = "abcd";
  size_t cb = 0;
  EXPECT_EQ(CopyOut(src, 5, nullptr, &cb), 0u);
  EXPECT_EQ(cb, 5u);
  char small[3] = {};
  cb = sizeof(small);
  EXPECT_EQ(CopyOut(src, 5, small, &cb), NY_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(cb, 5u);
  EXPECT_EQ(small[0], 0);
  char room[8] = {};
  cb = sizeof(room);
  EXPECT_EQ(CopyOut(src, 5, room, &cb), 0u);
  EXPECT_EQ(cb, 5u);
  EXPECT_STREQ(room, "abcd");
}

}  // namespace
