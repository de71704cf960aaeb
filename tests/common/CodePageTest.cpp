#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "NyResult.h"
#include "NyString.h"

namespace {

TEST(CodePage, OnlyTheFourCodePagesAndNonEmptyTextAreAccepted) {
  char buf[16];
  size_t cb = sizeof(buf);
  EXPECT_EQ(WideToCodePage(L"", CP_UTF8, buf, &cb), NY_E_INVALID_PARAM);
  EXPECT_EQ(WideToCodePage(nullptr, CP_UTF8, buf, &cb), NY_E_INVALID_PARAM);
  EXPECT_EQ(WideToCodePage(L"abc", CP_UTF8, buf, nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(WideToCodePage(L"abc", 1252, buf, &cb), NY_E_INVALID_PARAM);
  wchar_t wbuf[16];
  size_t cch = 16;
  EXPECT_EQ(CodePageToWide("abc", 1252, wbuf, &cch), NY_E_INVALID_PARAM);
  EXPECT_EQ(CodePageToWide("", CP_UTF8, wbuf, &cch), NY_E_INVALID_PARAM);
  // An accepted code page that the system cannot convert (Wine 8 has no
  // GB18030 tables) is a conversion failure, not a bad argument.
  for (uint32_t cp : {0u, 54936u, 950u, 65001u}) {
    cb = sizeof(buf);
    if (cp != 0 && !IsValidCodePage(cp)) {
      EXPECT_EQ(WideToCodePage(L"abc", cp, buf, &cb), NY_E_INVALID_DATA) << cp;
      continue;
    }
    EXPECT_EQ(WideToCodePage(L"abc", cp, buf, &cb), 0u) << cp;
    EXPECT_EQ(cb, 4u);
  }
}

TEST(CodePage, SizesCountTheTerminatorAndTooSmallReportsTheNeed) {
  // "Zorvak ä€" in UTF-8: 7 ASCII, 2 + 3 bytes, terminator.
  const wchar_t* pwsz = L"Zorvak \u00e4\u20ac";
  size_t cb = 0;
  EXPECT_EQ(WideToCodePage(pwsz, CP_UTF8, nullptr, &cb), 0u);
  EXPECT_EQ(cb, 13u);
  char small[5] = {};
  cb = sizeof(small);
  EXPECT_EQ(WideToCodePage(pwsz, CP_UTF8, small, &cb), NY_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(cb, 13u);
  char utf8[13];
  cb = sizeof(utf8);
  ASSERT_EQ(WideToCodePage(pwsz, CP_UTF8, utf8, &cb), 0u);
  EXPECT_STREQ(utf8, "Zorvak \xc3\xa4\xe2\x82\xac");

  size_t cch = 0;
  EXPECT_EQ(CodePageToWide(utf8, CP_UTF8, nullptr, &cch), 0u);
  EXPECT_EQ(cch, 10u);
  wchar_t wsmall[3];
  cch = 3;
  EXPECT_EQ(CodePageToWide(utf8, CP_UTF8, wsmall, &cch), NY_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(cch, 10u);
  wchar_t wide[10];
  cch = 10;
  ASSERT_EQ(CodePageToWide(utf8, CP_UTF8, wide, &cch), 0u);
  EXPECT_EQ(std::wstring(wide), pwsz);

  // Big5: two bytes for each of these characters.
  cb = 0;
  ASSERT_EQ(WideToCodePage(L"\u4e2d\u6587", 950, nullptr, &cb), 0u);
  EXPECT_EQ(cb, 5u);
}

}  // namespace
