#pragma once
// The XML layer over TinyXML. Documents are parsed, walked and
// built only through these functions. Each returns a 32-bit code (0 =
// success) and writes its result through an out pointer; refusals are logged
// at LOG_LEVEL_OUTCOME from this unit (source name NyXml).
#include <cstddef>
#include <cstdint>

class TiXmlNode;
class TiXmlElement;
class TiXmlDocument;

// Encoding codes of a document's declaration.
constexpr int32_t NY_XML_ENCODING_UTF8 = 0;
constexpr int32_t NY_XML_ENCODING_GBK = 1;
constexpr int32_t NY_XML_ENCODING_GB18030 = 2;
constexpr int32_t NY_XML_ENCODING_GB2312 = 3;
constexpr int32_t NY_XML_ENCODING_UNKNOWN = -1;

// Encoding code to code page: 0 -> 65001; 1, 2, 3 -> 936; anything else -> 0
// (the system ANSI code page).
uint32_t NyXmlEncodingToCodePage(int32_t nEncoding);

// Parses a text of cbSize bytes (copied first into a zero-terminated buffer
// when no terminator lies within cbSize) into a new document, with TinyXML's
// automatic encoding detection. Parsing stops at the first zero byte.
// TinyXML recurses once per level of nesting: elements nested more than
// NY_XML_MAX_DEPTH deep make the text a parse error.
constexpr uint32_t NY_XML_MAX_DEPTH = 256;
uint32_t NyXmlLoadFromMemory(const char* pszText, size_t cbSize, TiXmlDocument** ppDocument);
// Reads the encoding of the declaration, which must be the document's first
// child: "utf-8" 0, "gbk" 1, "gb18030" 2, "gb2312" 3 (letter case ignored),
// any other text -1.
uint32_t NyXmlGetEncoding(TiXmlDocument* pDocument, int32_t* pnEncoding);
// The name a declaration gives the encoding code; null outside 0..3.
const char* NyXmlEncodingName(int32_t nEncoding);
// A new document holding only a declaration (version "1.0", the encoding's
// name, standalone empty). An encoding code outside 0..3 has no name and is
// refused with 0xE0600007.
uint32_t NyXmlCreate(int32_t nEncoding, TiXmlDocument** ppDocument);
uint32_t NyXmlFree(TiXmlDocument* pDocument);
// Counts the element children of a node (other node kinds are skipped). With
// an array, fills at most *pu4Count entries in document order and returns
// 0xE0600005 if *pu4Count is smaller than the number found. The out count is
// always the number found.
uint32_t NyXmlGetChildren(TiXmlNode* pNode, TiXmlElement** ppChildren, uint32_t* pu4Count);
// The first child node whose value equals the name (case-sensitive), or null
// (not an error).
uint32_t NyXmlGetSingleChild(TiXmlNode* pNode, const char* pszName, TiXmlNode** ppChild);
// The element's tag name.
uint32_t NyXmlGetClassName(TiXmlNode* pNode, const char** ppszName);
// The element's text: its first child's value when that child is a text
// node, else null.
uint32_t NyXmlGetText(TiXmlNode* pNode, const char** ppszText);
// The attribute's value; absent: value null and 0xE0607003 (not logged).
uint32_t NyXmlGetAttribute(TiXmlNode* pNode, const char* pszName, const char** ppszValue);
// Appends a new element (with a text child when pszText is not null) as the
// parent's last child.
uint32_t NyXmlAddChild(TiXmlNode* pParent, const char* pszName, const char* pszText, TiXmlElement** ppElement);
// The element's first child, of any kind, takes the text as its value; an
// element without children gets a new text child.
uint32_t NyXmlSetText(TiXmlElement* pElement, const char* pszText);
