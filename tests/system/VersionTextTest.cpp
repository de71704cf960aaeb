#include <gtest/gtest.h>

#include "NyVersionText.h"

namespace {

NyFileVersion V(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  NyFileVersion v;
  v.au4Parts[0] = a, v.au4Parts[1] = b, v.au4Parts[2] = c, v.au4Parts[3] = d;
  return v;
}

TEST(VersionText, BlanksAndCommasAreAccepted) {
  NyFileVersion v;
  ASSERT_TRUE(ParseVersionText("1, 0, 0, 0", &v));
  EXPECT_EQ(CompareVersions(v, V(1, 0, 0, 0)), 0);
  ASSERT_TRUE(ParseVersionText(L" 6.4 .0,11 ", &v));
  EXPECT_EQ(CompareVersions(v, V(6, 4, 0, 11)), 0);
}

TEST(VersionText, MalformedTextsFailAndLeaveTheOutputAlone) {
  for (const char* pszBad : {"1.0.0", "1..0.0", "v1.0.0.0", "1.0.0.0.", ".1.0.0", "1.0.0.0.0", "", "1.0.0.-1", "1.0.0.0x"}) {
    NyFileVersion v = V(9, 9, 9, 9);
    EXPECT_FALSE(ParseVersionText(pszBad, &v)) << pszBad;
    EXPECT_EQ(CompareVersions(v, V(9, 9, 9, 9)), 0) << pszBad;
  }
  EXPECT_FALSE(ParseVersionText(static_cast<const char*>(nullptr), nullptr));
}

TEST(VersionText, PartsWrapAtSixtyFiveThousandFiveHundredThirtySix) {
  NyFileVersion v;
  ASSERT_TRUE(ParseVersionText("1.65536.0.0", &v));
  EXPECT_EQ(CompareVersions(v, V(1, 0, 0, 0)), 0);
  ASSERT_TRUE(ParseVersionText("0.0.0.99999999999999999999", &v));
  EXPECT_LT(v.au4Parts[3], 65536u);
}

TEST(VersionText, ComparisonOrdersByPartsMostSignificantFirst) {
  EXPECT_EQ(CompareVersions(V(2, 0, 0, 0), V(1, 9, 0, 0)), 1);
  EXPECT_EQ(CompareVersions(V(1, 9, 0, 0), V(2, 0, 0, 0)), -1);
  EXPECT_EQ(CompareVersions(V(1, 0, 0, 65535), V(1, 0, 1, 0)), -1);
  EXPECT_EQ(CompareVersions(V(65535, 0, 0, 0), V(1, 65535, 65535, 65535)), 1);
}

}  // namespace
