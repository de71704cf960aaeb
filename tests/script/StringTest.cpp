// CNyString and the language codes.
#include <gtest/gtest.h>

#include <string>

#include "NyLanguage.h"
#include "NyString.h"

namespace {

TEST(NyString, EmptyStringHasNoFormsAndCodePage65001) {
  CNyString s;
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_EQ(s.AnsiPtr(), nullptr);
  EXPECT_EQ(s.WidePtr(), nullptr);
  EXPECT_EQ(s.TextPtr(), nullptr);
  EXPECT_EQ(s.GetCodePage(), 65001u);
  EXPECT_STREQ(s.GetAnsi(), "");
  EXPECT_STREQ(s.GetText(), "");
  EXPECT_EQ(std::wstring(s.GetWide()), L"");
}

TEST(NyString, AssignKeepsAllFormsInStep) {
  CNyString s("C:\\Program Files", NY_CP_UTF8);
  EXPECT_EQ(std::wstring(s.GetWide()), L"C:\\Program Files");
  EXPECT_STREQ(s.GetAnsi(), "C:\\Program Files");
  EXPECT_STREQ(s.GetText(), "C:\\Program Files");
  EXPECT_EQ(s.GetWideLength(), 16u);
  EXPECT_TRUE(s.Assign(L"wide"));
  EXPECT_STREQ(s.GetText(), "wide");
  EXPECT_STREQ(s.GetAnsi(), "wide");
}

TEST(NyString, Utf8RoundTripsThroughTheWideForm) {
  // "Größe €" in UTF-8.
  const char* pszUtf8 = "Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC";
  CNyString s(pszUtf8, NY_CP_UTF8);
  EXPECT_EQ(std::wstring(s.GetWide()), L"Gr\u00F6\u00DFe \u20AC");
  EXPECT_STREQ(s.GetText(), pszUtf8);
}

TEST(NyString, AppendRules) {
  CNyString s;
  EXPECT_TRUE(s.Append("abc", NY_CP_UTF8));
  EXPECT_TRUE(s.Append(L"def"));
  EXPECT_STREQ(s.GetText(), "abcdef");
  EXPECT_STREQ(s.GetAnsi(), "abcdef");
  // Appending a null or empty text changes nothing.
  EXPECT_TRUE(s.Append(static_cast<const char*>(nullptr), NY_CP_UTF8));
  EXPECT_TRUE(s.Append(""  , NY_CP_UTF8));
  EXPECT_TRUE(s.Append(L""));
  EXPECT_STREQ(s.GetText(), "abcdef");
  // Assigning one leaves the string empty.
  EXPECT_TRUE(s.Assign("", NY_CP_UTF8));
  EXPECT_TRUE(s.IsEmpty());
  s.Assign("x", NY_CP_UTF8);
  EXPECT_TRUE(s.Assign(static_cast<const wchar_t*>(nullptr)));
  EXPECT_TRUE(s.IsEmpty());
}

TEST(NyString, ClearAndAssignResetTheCodePage) {
  CNyString s("abc", NY_CP_UTF8);
  EXPECT_TRUE(s.SetCodePage(NY_CP_ACP));
  EXPECT_EQ(s.GetCodePage(), 0u);
  EXPECT_STREQ(s.GetText(), "abc");
  s.Clear();
  EXPECT_EQ(s.GetCodePage(), 65001u);
  EXPECT_TRUE(s.IsEmpty());
  s.SetCodePage(NY_CP_ACP);
  s.Assign("q", NY_CP_UTF8);
  EXPECT_EQ(s.GetCodePage(), 65001u);
}

TEST(NyString, ConversionFailureLeavesTheStringEmpty) {
  // Code page 12345 exists nowhere.
  CNyString s("abc", NY_CP_UTF8);
  EXPECT_FALSE(s.SetCodePage(12345));
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_EQ(s.GetCodePage(), 65001u);
  CNyString t("abc", NY_CP_UTF8);
  EXPECT_FALSE(t.Append("def", 12345));
  EXPECT_TRUE(t.IsEmpty());
}

TEST(NyString, CopyAndMove) {
  CNyString a("abc", NY_CP_UTF8);
  a.SetCodePage(NY_CP_ACP);
  CNyString b(a);
  EXPECT_STREQ(b.GetText(), "abc");
  EXPECT_EQ(b.GetCodePage(), 0u);
  CNyString c;
  c = b;
  EXPECT_STREQ(c.GetAnsi(), "abc");
  CNyString d(std::move(c));
  EXPECT_STREQ(d.GetText(), "abc");
  EXPECT_TRUE(c.IsEmpty());  // NOLINT(bugprone-use-after-move): a moved-from string is empty
  CNyString e;
  e = std::move(d);
  EXPECT_STREQ(e.GetText(), "abc");
}

TEST(NyString, ReplaceAllIsCaseSensitiveAndDoesNotRescan) {
  CNyString s(L"C:\\Windows\\System32 and system32");
  EXPECT_EQ(s.ReplaceAll(L"System32", L"SysWow64"), 1);
  EXPECT_EQ(s.ReplaceAll(L"system32", L"SysWow64"), 1);
  EXPECT_EQ(std::wstring(s.GetWide()), L"C:\\Windows\\SysWow64 and SysWow64");
  EXPECT_STREQ(s.GetText(), "C:\\Windows\\SysWow64 and SysWow64");
  CNyString t(L"aaa");
  EXPECT_EQ(t.ReplaceAll(L"a", L"aa"), 3);
  EXPECT_EQ(std::wstring(t.GetWide()), L"aaaaaa");
  EXPECT_EQ(t.ReplaceAll(L"aaaaaa", L""), 1);
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_EQ(t.ReplaceAll(L"x", L"y"), 0);
}

TEST(NyLanguage, CodesFromLanguageIds) {
  // Primary language in the low 10 bits, sub-language above.
  auto id = [](unsigned primary, unsigned sub) { return static_cast<uint16_t>(primary | (sub << 10)); };
  EXPECT_EQ(NyLanguageCodeFromLangId(id(4, 2)), 0u);  // Chinese (PRC)
  EXPECT_EQ(NyLanguageCodeFromLangId(id(4, 1)), 2u);
  EXPECT_EQ(NyLanguageCodeFromLangId(id(4, 3)), 2u);
  EXPECT_EQ(NyLanguageCodeFromLangId(id(4, 4)), 2u);
  EXPECT_EQ(NyLanguageCodeFromLangId(id(4, 5)), 2u);
  EXPECT_EQ(NyLanguageCodeFromLangId(id(4, 6)), 1u);
  EXPECT_EQ(NyLanguageCodeFromLangId(id(9, 1)), 1u);  // English (US)
  EXPECT_EQ(NyLanguageCodeFromLangId(id(1, 1)), 8u);
  EXPECT_EQ(NyLanguageCodeFromLangId(id(7, 1)), 7u);  // German
  EXPECT_EQ(NyLanguageCodeFromLangId(id(12, 1)), 3u);
  EXPECT_EQ(NyLanguageCodeFromLangId(id(17, 1)), 5u);
  EXPECT_EQ(NyLanguageCodeFromLangId(id(18, 1)), 9u);
  EXPECT_EQ(NyLanguageCodeFromLangId(id(25, 1)), 4u);
  EXPECT_EQ(NyLanguageCodeFromLangId(id(33, 1)), 6u);
  EXPECT_EQ(NyLanguageCodeFromLangId(id(63, 1)), 10u);
  EXPECT_EQ(NyLanguageCodeFromLangId(id(10, 1)), 1u);  // Spanish: not listed
  EXPECT_STREQ(NyLanguageName(0), "zh_cn");
  EXPECT_STREQ(NyLanguageName(1), "en_us");
  EXPECT_STREQ(NyLanguageName(2), "zh_tw");
  EXPECT_STREQ(NyLanguageName(3), "en_us");
  EXPECT_STREQ(NyLanguageName(7), "en_us");
  EXPECT_STREQ(NyLanguageName(12), "en_us");
}

#if defined(_WIN32)
TEST(NyString, WindowsCodePages) {
  // GBK (936) text for U+4E2D U+6587.
  CNyString s("\xD6\xD0\xCE\xC4", NY_CP_GBK);
  EXPECT_EQ(std::wstring(s.GetWide()), L"\u4E2D\u6587");
  EXPECT_STREQ(s.GetText(), "\xE4\xB8\xAD\xE6\x96\x87");  // own code page: UTF-8
  EXPECT_TRUE(s.SetCodePage(NY_CP_GBK));
  EXPECT_STREQ(s.GetText(), "\xD6\xD0\xCE\xC4");
}
#endif

}  // namespace
