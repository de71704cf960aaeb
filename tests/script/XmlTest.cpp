// The XML layer over TinyXML.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "CaptureLogger.h"
#include "NyFindByte.h"
#include "NyResult.h"
#include "NyXml.h"
#include "tinyxml.h"

namespace {

TiXmlDocument* Parse(const std::string& text) {
  TiXmlDocument* pDocument = nullptr;
  EXPECT_EQ(NyXmlLoadFromMemory(text.data(), text.size(), &pDocument), NY_SUCCESS) << text;
  return pDocument;
}

// The word-at-a-time scan finds what memchr finds, at every alignment and
// length, for a byte with the high bit set too, and never reads past the end.
TEST(NyFindByte, AgreesWithMemchr) {
  for (const char c : {'$', '\0', '\xFF'}) {
    for (size_t cb = 0; cb <= 24; ++cb) {
      for (size_t at = 0; at <= cb; ++at) {
        // Exactly cb bytes on the heap, so that a read past them is caught.
        std::vector<char> text(cb, '\x80');
        if (at < cb) text[at] = c;
        const char* pEnd = text.data() + cb;
        for (const char* p = text.data(); p < pEnd; ++p) {
          const void* pvExpected = memchr(p, c, static_cast<size_t>(pEnd - p));
          EXPECT_EQ(NyFindByte(p, pEnd, c), pvExpected) << cb << " " << at;
        }
      }
    }
  }
}

TEST(NyXml, LoadFromMemoryTakesUnterminatedText) {
  const char text[] = {'<', 'a', '>', 'x', '<', '/', 'a', '>'};  // no terminator
  TiXmlDocument* pDocument = nullptr;
  ASSERT_EQ(NyXmlLoadFromMemory(text, sizeof(text), &pDocument), NY_SUCCESS);
  ASSERT_NE(pDocument->FirstChildElement("a"), nullptr);
  EXPECT_STREQ(pDocument->FirstChildElement("a")->GetText(), "x");
  EXPECT_EQ(NyXmlFree(pDocument), NY_SUCCESS);
}

TEST(NyXml, LoadFromMemoryRefusals) {
  CaptureLogger log;
  TiXmlDocument* pDocument = nullptr;
  EXPECT_EQ(NyXmlLoadFromMemory(nullptr, 3, &pDocument), NY_E_INVALID_PARAM);
  EXPECT_EQ(NyXmlLoadFromMemory("<a/>", 4, nullptr), NY_E_INVALID_PARAM);
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0].text, "NyXmlLoadFromMemory()->Invalid parameter!");
  EXPECT_EQ(log.lines[0].u4Level, LOG_LEVEL_OUTCOME);
  EXPECT_NE(log.lines[0].source.find("NyXml"), std::string::npos);

  EXPECT_EQ(NyXmlLoadFromMemory("<a><b></a>", 10, &pDocument), NY_E_XML_PARSE);
  EXPECT_EQ(pDocument, nullptr);
  ASSERT_EQ(log.lines.size(), 3u);
  EXPECT_EQ(log.lines[2].text.rfind("NyXmlLoadFromFile()->Failed to call TiXmlDocument::LoadFile, Error in ", 0), 0u);
  EXPECT_NE(log.lines[2].text.find("Error reading end tag."), std::string::npos) << log.lines[2].text;
  EXPECT_EQ(NyXmlLoadFromMemory("", 0, &pDocument), NY_E_XML_PARSE);
  EXPECT_TRUE(log.Contains("Error document empty."));
}

TEST(NyXml, EncodingOfTheDeclaration) {
  CaptureLogger log;
  const struct {
    const char* pszText;
    int32_t nEncoding;
  } cases[] = {{"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>", 0},
               {"<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>", 0},
               {"<?xml version=\"1.0\" encoding=\"GBK\"?><a/>", 1},
               {"<?xml version=\"1.0\" encoding=\"gb18030\"?><a/>", 2},
               {"<?xml version=\"1.0\" encoding=\"GB2312\"?><a/>", 3},
               {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>", -1}};
  for (const auto& c : cases) {
    TiXmlDocument* pDocument = Parse(c.pszText);
    ASSERT_NE(pDocument, nullptr);
    int32_t nEncoding = 99;
    EXPECT_EQ(NyXmlGetEncoding(pDocument, &nEncoding), NY_SUCCESS);
    EXPECT_EQ(nEncoding, c.nEncoding) << c.pszText;
    NyXmlFree(pDocument);
  }
  EXPECT_TRUE(log.lines.empty());

  TiXmlDocument* pNoDeclaration = Parse("<!-- c --><?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>");
  int32_t nEncoding = 0;
  EXPECT_EQ(NyXmlGetEncoding(pNoDeclaration, &nEncoding), NY_E_INVALID_DATA);
  EXPECT_TRUE(log.Contains("NyXmlGetEncoding()->The xml document has no declaration!"));
  NyXmlFree(pNoDeclaration);
  TiXmlDocument* pNoEncoding = Parse("<?xml version=\"1.0\"?><a/>");
  EXPECT_EQ(NyXmlGetEncoding(pNoEncoding, &nEncoding), NY_E_INVALID_DATA);
  EXPECT_TRUE(log.Contains("NyXmlGetEncoding()->The xml document has no encoding info!"));
  NyXmlFree(pNoEncoding);
  TiXmlDocument empty;
  EXPECT_EQ(NyXmlGetEncoding(&empty, &nEncoding), NY_E_INVALID_DATA);
  EXPECT_TRUE(log.Contains("NyXmlGetEncoding()->The xml document has no children!"));
  EXPECT_EQ(NyXmlGetEncoding(nullptr, &nEncoding), NY_E_INVALID_PARAM);
  EXPECT_TRUE(log.Contains("NyXmlGetEncoding()->Invalid parameter!"));
  EXPECT_EQ(NyXmlEncodingToCodePage(0), 65001u);
  EXPECT_EQ(NyXmlEncodingToCodePage(1), 936u);
  EXPECT_EQ(NyXmlEncodingToCodePage(2), 936u);
  EXPECT_EQ(NyXmlEncodingToCodePage(3), 936u);
  EXPECT_EQ(NyXmlEncodingToCodePage(-1), 0u);
}

TEST(NyXml, CreateWritesTheDeclaration) {
  const char* const names[] = {"utf-8", "gbk", "GB18030", "gb2312"};
  for (int32_t n = 0; n < 4; ++n) {
    TiXmlDocument* pDocument = nullptr;
    ASSERT_EQ(NyXmlCreate(n, &pDocument), NY_SUCCESS);
    TiXmlDeclaration* pDeclaration = pDocument->FirstChild()->ToDeclaration();
    ASSERT_NE(pDeclaration, nullptr);
    EXPECT_STREQ(pDeclaration->Version(), "1.0");
    EXPECT_STREQ(pDeclaration->Encoding(), names[n]);
    EXPECT_STREQ(pDeclaration->Standalone(), "");
    int32_t nEncoding = -5;
    EXPECT_EQ(NyXmlGetEncoding(pDocument, &nEncoding), NY_SUCCESS);
    EXPECT_EQ(nEncoding, n);
    NyXmlFree(pDocument);
  }
  CaptureLogger log;
  TiXmlDocument* pDocument = nullptr;
  EXPECT_EQ(NyXmlCreate(-1, &pDocument), NY_E_INVALID_PARAM);
  EXPECT_EQ(pDocument, nullptr);
  EXPECT_EQ(NyXmlFree(nullptr), NY_E_INVALID_PARAM);
  EXPECT_TRUE(log.Contains("NyXmlFree()->Invalid parameter!"));
}

TEST(NyXml, ChildrenCountOnlyElements) {
  // A comment, an element, a text and another element: 2.
  TiXmlDocument* pDocument = Parse("<r><!-- c --><a/>text<b/></r>");
  TiXmlElement* pRoot = pDocument->RootElement();
  uint32_t u4Count = 0;
  EXPECT_EQ(NyXmlGetChildren(pRoot, nullptr, &u4Count), NY_SUCCESS);
  EXPECT_EQ(u4Count, 2u);
  TiXmlElement* apChildren[2] = {};
  EXPECT_EQ(NyXmlGetChildren(pRoot, apChildren, &u4Count), NY_SUCCESS);
  EXPECT_STREQ(apChildren[0]->Value(), "a");
  EXPECT_STREQ(apChildren[1]->Value(), "b");
  TiXmlElement* apOne[2] = {};
  u4Count = 1;
  EXPECT_EQ(NyXmlGetChildren(pRoot, apOne, &u4Count), NY_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(u4Count, 2u);
  EXPECT_STREQ(apOne[0]->Value(), "a");
  EXPECT_EQ(apOne[1], nullptr);  // nothing written past the stated room
  CaptureLogger log;
  EXPECT_EQ(NyXmlGetChildren(nullptr, nullptr, &u4Count), NY_E_INVALID_PARAM);
  EXPECT_TRUE(log.Contains("NyXmlGetChildren()->Invalid parameter!"));
  NyXmlFree(pDocument);
}

TEST(NyXml, SingleChildClassNameTextAndAttribute) {
  TiXmlDocument* pDocument = Parse("<Config><A x=\"1\">t<z/></A><B><c/>late</B><A/></Config>");
  TiXmlNode* pConfig = nullptr;
  ASSERT_EQ(NyXmlGetSingleChild(pDocument, "Config", &pConfig), NY_SUCCESS);
  ASSERT_NE(pConfig, nullptr);
  TiXmlNode* pMissing = reinterpret_cast<TiXmlNode*>(1);
  EXPECT_EQ(NyXmlGetSingleChild(pDocument, "config", &pMissing), NY_SUCCESS);
  EXPECT_EQ(pMissing, nullptr);
  TiXmlNode* pA = nullptr;
  ASSERT_EQ(NyXmlGetSingleChild(pConfig, "A", &pA), NY_SUCCESS);
  const char* psz = nullptr;
  EXPECT_EQ(NyXmlGetClassName(pA, &psz), NY_SUCCESS);
  EXPECT_STREQ(psz, "A");
  EXPECT_EQ(NyXmlGetText(pA, &psz), NY_SUCCESS);
  EXPECT_STREQ(psz, "t");
  TiXmlNode* pB = nullptr;
  ASSERT_EQ(NyXmlGetSingleChild(pConfig, "B", &pB), NY_SUCCESS);
  EXPECT_EQ(NyXmlGetText(pB, &psz), NY_SUCCESS);
  EXPECT_EQ(psz, nullptr);  // the first child is an element
  EXPECT_EQ(NyXmlGetAttribute(pA, "x", &psz), NY_SUCCESS);
  EXPECT_STREQ(psz, "1");

  CaptureLogger log;
  EXPECT_EQ(NyXmlGetAttribute(pA, "y", &psz), NY_E_ATTR_MISSING);
  EXPECT_EQ(psz, nullptr);
  EXPECT_TRUE(log.lines.empty());  // a missing attribute is not logged here
  TiXmlNode* pText = pA->FirstChild();
  EXPECT_EQ(NyXmlGetClassName(pText, &psz), NY_E_INVALID_PARAM);
  EXPECT_TRUE(log.Contains("NyXmlGetClassName()->Invalid parameter(Not an element)!"));
  EXPECT_EQ(NyXmlGetText(pText, &psz), NY_E_INVALID_PARAM);
  EXPECT_EQ(NyXmlGetAttribute(pText, "x", &psz), NY_E_INVALID_PARAM);
  EXPECT_TRUE(log.Contains("NyXmlGetAttribute()->Invalid parameter(Not an element)!"));
  EXPECT_EQ(NyXmlGetSingleChild(nullptr, "A", &pA), NY_E_INVALID_PARAM);
  EXPECT_TRUE(log.Contains("NyXmlGetSingleChild()->Invalid parameter!"));
  NyXmlFree(pDocument);
}

TEST(NyXml, AddChildAndSetText) {
  TiXmlDocument* pDocument = nullptr;
  ASSERT_EQ(NyXmlCreate(0, &pDocument), NY_SUCCESS);
  TiXmlElement* pElement = nullptr;
  ASSERT_EQ(NyXmlAddChild(pDocument, "v", "one", &pElement), NY_SUCCESS);
  ASSERT_NE(pElement, nullptr);
  EXPECT_STREQ(pElement->GetText(), "one");
  ASSERT_EQ(NyXmlSetText(pElement, "two"), NY_SUCCESS);
  EXPECT_STREQ(pElement->GetText(), "two");
  TiXmlElement* pBare = nullptr;
  ASSERT_EQ(NyXmlAddChild(pDocument, "w", nullptr, &pBare), NY_SUCCESS);
  EXPECT_EQ(pBare->FirstChild(), nullptr);
  ASSERT_EQ(NyXmlSetText(pBare, "new"), NY_SUCCESS);
  EXPECT_STREQ(pBare->GetText(), "new");
  EXPECT_EQ(pDocument->LastChild(), pBare);  // appended as the last child
  EXPECT_EQ(NyXmlAddChild(nullptr, "x", "y", nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(NyXmlAddChild(pDocument, nullptr, "y", nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(NyXmlSetText(pElement, nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(NyXmlSetText(nullptr, "x"), NY_E_INVALID_PARAM);
  NyXmlFree(pDocument);
}

// --- The depth limit ------------------------------------------------------

std::string Nested(int nDepth, const std::string& open = "<a>", const std::string& close = "</a>") {
  std::string text;
  for (int i = 0; i < nDepth; ++i) text += open;
  for (int i = 0; i < nDepth; ++i) text += close;
  return text;
}

uint32_t LoadCode(const std::string& text) {
  TiXmlDocument* pDocument = nullptr;
  const uint32_t u4Result = NyXmlLoadFromMemory(text.data(), text.size(), &pDocument);
  if (pDocument != nullptr) NyXmlFree(pDocument);
  return u4Result;
}

TEST(NyXmlNesting, DeepNestingIsAParseError) {
  CaptureLogger log;
  EXPECT_EQ(LoadCode(Nested(NY_XML_MAX_DEPTH)), NY_SUCCESS);
  EXPECT_EQ(LoadCode(Nested(NY_XML_MAX_DEPTH + 1)), NY_E_XML_PARSE);
  EXPECT_TRUE(log.Contains("Error: elements nest too deep."));
  // Far deeper than any stack would take.
  EXPECT_EQ(LoadCode(Nested(200000)), NY_E_XML_PARSE);
  // Unclosed, too.
  std::string unclosed;
  for (int i = 0; i < 100000; ++i) unclosed += "<a>";
  EXPECT_EQ(LoadCode(unclosed), NY_E_XML_PARSE);
  // An empty element is a level as well; siblings are not.
  EXPECT_EQ(LoadCode(Nested(NY_XML_MAX_DEPTH - 1, "<a><b/><b/>")), NY_SUCCESS);
  EXPECT_EQ(LoadCode(Nested(NY_XML_MAX_DEPTH, "<a><b/>")), NY_E_XML_PARSE);
}

TEST(NyXmlNesting, ADocumentCountsAfreshAfterARefusal) {
  TiXmlDocument document;
  document.SetMaxElementDepth(2);
  document.Parse("<a><b><c/></b></a>");
  ASSERT_TRUE(document.Error());
  EXPECT_EQ(document.ErrorId(), TiXmlBase::TIXML_ERROR_ELEMENT_DEPTH);
  document.Parse("<a><b/></a>");
  EXPECT_FALSE(document.Error()) << document.ErrorDesc();
}

TEST(NyXmlNesting, ManySiblingsAreFine) {
  std::string text = "<r>";
  for (int i = 0; i < 5000; ++i) text += "<e a=\"/>\" b='</e>'><!-- <x> --><![CDATA[<y>]]><?pi <z>?></e><f/>";
  text += "</r>";
  EXPECT_EQ(LoadCode(text), NY_SUCCESS);
}

TEST(NyXmlNesting, MarkupThatHidesClosingsStillNests) {
  // Each level holds something that looks like a closing to a naive scan.
  EXPECT_EQ(LoadCode(Nested(400, "<a x=\"/>\">")), NY_E_XML_PARSE);
  EXPECT_EQ(LoadCode(Nested(400, "<a><!-- </a> -->")), NY_E_XML_PARSE);
  EXPECT_EQ(LoadCode(Nested(400, "<a><![CDATA[</a>]]>")), NY_E_XML_PARSE);
  EXPECT_EQ(LoadCode(Nested(400, "<a><?xml version='</a>'?>")), NY_E_XML_PARSE);
  // TinyXML reads "&#x" up to the next ';' when hex digits after an 'x'
  // end it: the end tag in between is text.
  EXPECT_EQ(LoadCode(Nested(400, "<a>&#x</a>x1;")), NY_E_XML_PARSE);
  EXPECT_EQ(LoadCode(Nested(400, "<a b=\"&#x\"/>x1;\">")), NY_E_XML_PARSE);
  EXPECT_EQ(LoadCode(Nested(200, "<a>&#x</a>x1;")), NY_SUCCESS);
  // In UTF-8 mode TinyXML swallows the bytes after a lead byte: "\xF0</b>"
  // is text, not an end tag, so the elements do nest.
  const std::string bom = "\xEF\xBB\xBF";
  EXPECT_EQ(LoadCode(bom + Nested(400, "<a>\xF0</b>")), NY_E_XML_PARSE);
  EXPECT_EQ(LoadCode(bom + Nested(400, "<a x=\"\xF0\"/>\">")), NY_E_XML_PARSE);
  // White space TinyXML skips in UTF-8 mode only.
  EXPECT_EQ(LoadCode(bom + Nested(400, "<a x=\"1\"\xEF\xBB\xBF>")), NY_E_XML_PARSE);
}

TEST(NyXmlNesting, BrokenUtf8AtTheEndIsReadSafely) {
  // TinyXML steps past the terminator on a lead byte at the very end.
  const std::string text = "\xEF\xBB\xBF<a>\xF0";
  EXPECT_EQ(LoadCode(text), NY_E_XML_PARSE);
  const char embedded[] = "\xEF\xBB\xBF<a>\xF0\0<b>";
  EXPECT_EQ(LoadCode(std::string(embedded, sizeof(embedded) - 1)), NY_E_XML_PARSE);
}

}  // namespace
