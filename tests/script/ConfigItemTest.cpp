// CNyXmlConfigItem: attributes, localized text, children.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CaptureLogger.h"
#include "NyConfigItem.h"
#include "NyResult.h"
#include "NyXml.h"
#include "tinyxml.h"

namespace {

class ConfigItemTest : public ::testing::Test {
 protected:
  void Load(const std::string& text) {
    ASSERT_EQ(NyXmlLoadFromMemory(text.data(), text.size(), &m_pDocument), NY_SUCCESS);
  }
  void TearDown() override {
    if (m_pDocument != nullptr) NyXmlFree(m_pDocument);
  }
  std::unique_ptr<CNyXmlConfigItem> Item(uint32_t u4Language = 1) {
    return std::unique_ptr<CNyXmlConfigItem>(
        new CNyXmlConfigItem(m_pDocument->RootElement(), 0, u4Language, nullptr));
  }
  static std::string Text(const CNyXmlConfigItem& item, const char* pszStart = nullptr) {
    CNyString text;
    if (pszStart != nullptr) text.Assign(pszStart, NY_CP_UTF8);
    EXPECT_EQ(item.GetText(&text), NY_SUCCESS);
    return text.GetText();
  }
  TiXmlDocument* m_pDocument = nullptr;
};

TEST_F(ConfigItemTest, ChildrenInDocumentOrderWithParents) {
  Load("<r><!-- c --><a><x/></a>text<b/><a/></r>");
  auto pItem = Item();
  ASSERT_EQ(pItem->GetChildCount(), 3u);
  EXPECT_STREQ(pItem->GetChild(0)->GetName(), "a");
  EXPECT_STREQ(pItem->GetChild(1)->GetName(), "b");
  EXPECT_EQ(pItem->GetChild(3), nullptr);
  EXPECT_EQ(pItem->GetChild(0)->GetParent(), pItem.get());
  EXPECT_EQ(pItem->GetParent(), nullptr);
  EXPECT_EQ(pItem->GetChild(0)->GetChildCount(), 1u);
  EXPECT_EQ(pItem->FindChild("a"), pItem->GetChild(0));  // the first one
  EXPECT_EQ(pItem->FindChild("A"), nullptr);             // exact names
  EXPECT_EQ(pItem->FindChild("x"), nullptr);             // children only
  int n = 0;
  for (CNyXmlConfigItem* p = pItem->GetFirstChild(); p != nullptr; p = pItem->GetNextChild()) ++n;
  EXPECT_EQ(n, 3);
}

TEST_F(ConfigItemTest, OwnTextWinsInEveryLanguage) {
  // The first child is the text "text", followed by an empty child element.
  Load("<File>text<en_us/></File>");
  for (uint32_t u4Language : {0u, 1u, 2u, 7u, 12u}) EXPECT_EQ(Text(*Item(u4Language)), "text");
}

TEST_F(ConfigItemTest, LanguageChildGivesTheTextWhenTheFirstChildIsAnElement) {
  // The text follows an element: no own text, so the language child counts.
  Load("<File><zh_cn>CN</zh_cn>late<zh_tw>TW</zh_tw><en_us>Copy $[src] to $[dest]</en_us></File>");
  EXPECT_EQ(Text(*Item(1)), "Copy $[src] to $[dest]");
  EXPECT_EQ(Text(*Item(0)), "CN");
  EXPECT_EQ(Text(*Item(2)), "TW");
  // Every other code uses "en_us" (the rule of the variable collection).
  for (uint32_t u4Language : {3u, 4u, 7u, 10u, 11u, 12u, 100u}) EXPECT_EQ(Text(*Item(u4Language)), "Copy $[src] to $[dest]");
}

TEST_F(ConfigItemTest, LastMatchingLanguageChildWinsAndNoMatchLeavesTheText) {
  Load("<T><en_us>one</en_us><en_us>two</en_us><zh_cn><en_us>deep</en_us></zh_cn></T>");
  EXPECT_EQ(Text(*Item(1)), "two");
  // zh_cn has no text of its own and no zh_cn child: the text stays.
  EXPECT_EQ(Text(*Item(0), "before"), "before");
  EXPECT_EQ(Text(*Item(2), "kept"), "kept");
}

TEST_F(ConfigItemTest, AttributeReaders) {
  Load("<A t1=\"TRUE\" t2=\"True\" t3=\"true\" f1=\"yes\" f2=\"1\" f3=\"\" n=\"42\" m=\"-1\" x=\"4x\" e=\"\" "
       "s=\"a &amp; b\" CmdLine=\"/S &quot;x&quot;\"/>");
  auto pItem = Item();
  CaptureLogger log;
  EXPECT_TRUE(pItem->GetAttributeBool("t1", false));
  EXPECT_TRUE(pItem->GetAttributeBool("t2", false));
  EXPECT_TRUE(pItem->GetAttributeBool("t3", false));
  EXPECT_FALSE(pItem->GetAttributeBool("f1", true));
  EXPECT_FALSE(pItem->GetAttributeBool("f2", true));
  EXPECT_FALSE(pItem->GetAttributeBool("f3", true));
  EXPECT_TRUE(log.lines.empty());
  EXPECT_TRUE(pItem->GetAttributeBool("missing", true));
  EXPECT_FALSE(pItem->GetAttributeBool("missing", false));
  EXPECT_EQ(pItem->GetAttributeUInt("n"), 42u);
  EXPECT_EQ(pItem->GetAttributeUInt("m"), 0xFFFFFFFFu);  // "%u" wraps a negative number
  EXPECT_EQ(pItem->GetAttributeUInt("x"), 4u);
  EXPECT_EQ(pItem->GetAttributeUInt("e"), 0u);
  EXPECT_EQ(pItem->GetAttributeUInt("missing"), 0u);
  CNyString value;
  EXPECT_EQ(pItem->GetAttribute("s", &value), NY_SUCCESS);
  EXPECT_STREQ(value.GetText(), "a & b");
  EXPECT_EQ(pItem->GetAttribute("e", &value), NY_SUCCESS);
  EXPECT_TRUE(value.IsEmpty());
  EXPECT_STREQ(pItem->GetCmdLine(), "/S \"x\"");
  // Every look-up of a missing attribute is logged once.
  log.lines.clear();
  EXPECT_EQ(pItem->GetAttribute("missing", &value), NY_E_ATTR_MISSING);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].text, "u4Result = E0607003");
  EXPECT_EQ(log.lines[0].u4Level, LOG_LEVEL_ERROR);
  pItem->GetAttributeBool("missing", true);
  pItem->GetAttributeUInt("missing");
  EXPECT_EQ(log.lines.size(), 3u);
}

TEST_F(ConfigItemTest, CmdLineMissingIsEmpty) {
  Load("<A/>");
  CaptureLogger log;
  EXPECT_STREQ(Item()->GetCmdLine(), "");
  EXPECT_TRUE(log.Contains("u4Result = E0607003"));
}

}  // namespace
