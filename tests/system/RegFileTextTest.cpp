// What a registry file will change, read as regedit reads it: its key
// sections, the values each writes or deletes, continued data lines, escaped
// names, and the lines that cannot be read.
#include <gtest/gtest.h>

#include "NyRegFileText.h"

namespace {

TEST(RegFileText, SectionsAndTheValuesTheyChange) {
  std::vector<RegFileSection> sections;
  ASSERT_TRUE(ParseRegFileText(L"Windows Registry Editor Version 5.00\r\n"
                               L"\"Outside\"=\"not in a key: ignored\"\r\n"
                               L"\r\n; a comment\r\n"
                               L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\A B]\r\n"
                               L"\"Plain\"=\"x\"\r\n"
                               L"  \"Quote \\\"q\\\" and \\\\ back\"=hex:01,02,\\\r\n"
                               L"    03,04\r\n"
                               L"@=\"default\"\r\n"
                               L"\"Gone\"=-\r\n"
                               L"[-HKLM\\SOFTWARE\\Old]\r\n"
                               L"\"Ignored\"=\"under a deleted key\"\r\n"
                               L"[HKEY_CURRENT_USER]\r\n"
                               L"\"Top\"=dword:00000001",
                               &sections));
  ASSERT_EQ(sections.size(), 3u);
  EXPECT_EQ(sections[0].root, L"HKEY_LOCAL_MACHINE");
  EXPECT_EQ(sections[0].subKey, L"SOFTWARE\\A B");
  EXPECT_FALSE(sections[0].bDeleteKey);
  EXPECT_EQ(sections[0].valueNames, (std::vector<std::wstring>{L"Plain", L"Quote \"q\" and \\ back", L"", L"Gone"}));
  EXPECT_EQ(sections[1].root, L"HKLM");
  EXPECT_EQ(sections[1].subKey, L"SOFTWARE\\Old");
  EXPECT_TRUE(sections[1].bDeleteKey);
  EXPECT_TRUE(sections[1].valueNames.empty());
  EXPECT_EQ(sections[2].root, L"HKEY_CURRENT_USER");
  EXPECT_EQ(sections[2].subKey, L"");
  EXPECT_EQ(sections[2].valueNames, std::vector<std::wstring>{L"Top"});

  // Without the header regedit imports nothing.
  ASSERT_TRUE(ParseRegFileText(L"[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=\"1\"\r\n", &sections));
  EXPECT_TRUE(sections.empty());
  // Lines regedit would act on that cannot be read here.
  for (const wchar_t* pwszBad : {L"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X\n", L"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\nname=1\n",
                                 L"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"open=1\n",
                                 L"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\" \"b\"\n"}) {
    EXPECT_FALSE(ParseRegFileText(pwszBad, &sections)) << std::string(pwszBad, pwszBad + wcslen(pwszBad));
  }
}

TEST(RegFileText, TheFileIsDecodedByItsMark) {
  std::wstring text;
  ASSERT_TRUE(DecodeRegFileBytes({0xFF, 0xFE, 'R', 0, 0xE9, 0, 0x2D, 0x4E}, &text));
  EXPECT_EQ(text, std::wstring(L"R\u00e9\u4e2d"));
  ASSERT_TRUE(DecodeRegFileBytes({0xEF, 0xBB, 0xBF, 'o', 'k', 0xC3, 0xA9}, &text));
  EXPECT_EQ(text, std::wstring(L"ok\u00e9"));
  ASSERT_TRUE(DecodeRegFileBytes({'R', 'E', 'G'}, &text));
  EXPECT_EQ(text, L"REG");
  ASSERT_TRUE(DecodeRegFileBytes({}, &text));
  EXPECT_TRUE(text.empty());
}

}  // namespace
