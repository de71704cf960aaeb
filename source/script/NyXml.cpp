#include "NyXml.h"

#include <cstring>
#include <memory>
#include <new>

#include "Log/NyLog.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "tinyxml.h"

namespace {

// ---------------------------------------------------------------------------
// Nesting guard. TinyXML parses elements recursively, so a text that nests
// elements thousands deep would exhaust the stack inside TinyXML. Before
// TinyXML sees a text, this scan follows TinyXML's own reading of the markup
// (its Identify, element, attribute, declaration, comment, CDATA, "unknown"
// and text rules) and counts the elements open. TinyXML's reading depends on
// its encoding mode only at a multi-byte lead byte that would swallow a '<',
// a quote or an '&' in UTF-8 mode, and at the byte sequences EF BB BF, EF BF BE and
// EF BF BF (white space to TinyXML in UTF-8 mode): the scan follows TinyXML
// up to the first such byte, and from there on takes a pure upper bound, in
// which every '<' that could open an element counts as one more level. Where
// the scan ends early, TinyXML ends too (end of text or a parse error).
// ---------------------------------------------------------------------------
class CNestingScan {
 public:
  // pszText is the private, writable copy that TinyXML will parse.
  CNestingScan(char* pszText, uint32_t u4Limit) : m_p0(pszText), m_u4Limit(u4Limit) {}

  bool Exceeds() {
    // Scan only the part whose reading does not depend on TinyXML's encoding
    // mode; past it, count every possible element start.
    char* pDanger = FindModeDependentByte(m_p0);
    const char cSaved = *pDanger;
    *pDanger = 0;
    uint32_t u4Depth = 0;
    const bool bExceeds = Scan(&u4Depth);
    *pDanger = cSaved;
    if (bExceeds) return true;
    return cSaved != 0 && UpperBound(u4Depth, pDanger);
  }

 private:
  // True once more than m_u4Limit elements are open; false at the end of
  // the text or where TinyXML stops with an error. *pu4Depth is the number
  // of elements open there.
  bool Scan(uint32_t* pu4Depth) const {
    const char* p = m_p0;
    if (Byte(p, 0) == 0xEF && Byte(p, 1) == 0xBB && Byte(p, 2) == 0xBF) p += 3;  // the BOM
    uint32_t& u4Depth = *pu4Depth;
    for (;;) {
      p = SkipBlank(p);
      if (*p == 0) return false;
      if (*p != '<') {
        if (u4Depth == 0) return false;  // TinyXML stops at text outside elements
        p = SkipText(p, '<');              // element text
        if (p == nullptr) return false;
        continue;
      }
      if (u4Depth > 0 && p[1] == '/') {  // an end tag closes one level
        p = SkipPast(p + 2, ">");
        if (p == nullptr) return false;
        --u4Depth;
        continue;
      }
      if (StartsNoCase(p, "<?xml")) {
        p = SkipDeclaration(p + 5);
      } else if (strncmp(p, "<!--", 4) == 0) {
        p = SkipPast(p + 4, "-->");
      } else if (strncmp(p, "<![CDATA[", 9) == 0) {
        p = SkipPast(p + 9, "]]>");
      } else if (IsNameStart(Byte(p, 1))) {
        bool bOpen = false;
        p = SkipStartTag(p + 1, &bOpen);
        if (p != nullptr && bOpen && ++u4Depth > m_u4Limit) return true;
      } else {
        p = SkipPast(p + 1, ">");  // "<!...>", "<?...>" and anything else: an unknown node
      }
      if (p == nullptr) return false;  // TinyXML ends with an error here
    }
  }

 private:
  static unsigned Byte(const char* p, size_t i) { return static_cast<unsigned char>(p[i]); }
  // TinyXML's IsWhiteSpace in the C locale.
  static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
  static bool IsAsciiAlpha(unsigned c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  static bool IsNameStart(unsigned c) { return c >= 127 || IsAsciiAlpha(c) || c == '_'; }
  static bool IsNameChar(unsigned c) {
    return c >= 127 || IsAsciiAlpha(c) || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' || c == ':';
  }
  static const char* SkipBlank(const char* p) {
    while (IsBlank(*p)) ++p;
    return p;
  }
  static bool StartsNoCase(const char* p, const char* pszTag) {
    for (; *pszTag != 0; ++p, ++pszTag) {
      char c = *p;
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != *pszTag) return false;
    }
    return true;
  }
  static const char* SkipPast(const char* p, const char* pszEnd) {
    const char* pFound = strstr(p, pszEnd);
    return pFound == nullptr ? nullptr : pFound + strlen(pszEnd);
  }

  // The first byte at which TinyXML's reading could depend on its encoding
  // mode; the text's end when there is none.
  static char* FindModeDependentByte(char* p0) {
    char* p = p0;
    for (; *p != 0; ++p) {
      const unsigned c = Byte(p, 0);
      if (c < 0xC2 || c > 0xF4) continue;
      if (c == 0xEF && p != p0 && Byte(p, 1) == 0xBB && Byte(p, 2) == 0xBF) return p;
      if (c == 0xEF && Byte(p, 1) == 0xBF && (Byte(p, 2) == 0xBE || Byte(p, 2) == 0xBF)) return p;
      const size_t cbSeq = c <= 0xDF ? 2 : c <= 0xEF ? 3 : 4;
      for (size_t i = 1; i < cbSeq && p[i] != 0; ++i) {
        if (p[i] == '<' || p[i] == '"' || p[i] == '\'' || p[i] == '&') return p;
      }
    }
    return p;
  }

  // Every '<' that could open an element from pFrom on counts as one level.
  bool UpperBound(uint32_t u4Depth, const char* pFrom) const {
    uint64_t u8Bound = static_cast<uint64_t>(u4Depth) + 1;
    for (const char* p = pFrom; *p != 0; ++p) {
      if (*p == '<' && IsNameStart(Byte(p, 1)) && ++u8Bound > m_u4Limit) return true;
    }
    return u8Bound > m_u4Limit;
  }

  // TinyXML's reading of a character reference at "&#": it takes everything
  // up to the next ';', wherever that is, as long as the digits just before
  // the ';' follow the last 'x' (hexadecimal) or '#' (decimal) before it. The
  // position after the ';', or null where TinyXML fails.
  static const char* SkipCharacterReference(const char* p) {
    const bool bHex = p[2] == 'x';
    if (bHex && p[3] == 0) return nullptr;
    const char* pSemicolon = strchr(p + (bHex ? 3 : 2), ';');
    if (pSemicolon == nullptr) return nullptr;
    const char* q = pSemicolon - 1;
    while (*q != (bHex ? 'x' : '#')) {
      const bool bDigit = (*q >= '0' && *q <= '9') ||
                          (bHex && ((*q >= 'a' && *q <= 'f') || (*q >= 'A' && *q <= 'F')));
      if (!bDigit) return nullptr;
      --q;
    }
    return pSemicolon + 1;
  }

  // TinyXML's ReadText up to cEnd (element text up to '<', a quoted value up
  // to its quote): character by character, a character reference as one.
  // The position of cEnd or of the terminator, or null where TinyXML fails.
  static const char* SkipText(const char* p, char cEnd) {
    while (*p != 0 && *p != cEnd) {
      if (p[0] == '&' && p[1] == '#' && p[2] != 0) {
        p = SkipCharacterReference(p);
        if (p == nullptr) return nullptr;
      } else {
        ++p;
      }
    }
    return p;
  }

  // TinyXML's attribute: name, '=', quoted or bare value. Null on an error.
  static const char* SkipAttribute(const char* p) {
    if (!IsNameStart(Byte(p, 0))) return nullptr;
    while (IsNameChar(Byte(p, 0))) ++p;
    p = SkipBlank(p);
    if (*p != '=') return nullptr;
    p = SkipBlank(p + 1);
    if (*p == 0) return nullptr;
    if (*p == '"' || *p == '\'') {
      const char* pEnd = SkipText(p + 1, *p);
      return pEnd == nullptr || *pEnd == 0 ? nullptr : pEnd + 1;
    }
    while (*p != 0 && !IsBlank(*p) && *p != '/' && *p != '>') {
      if (*p == '"' || *p == '\'') return nullptr;
      ++p;
    }
    return p;
  }

  // After "<" and the first name byte: the rest of a start tag. Sets *pbOpen
  // when the element has content ("...>") rather than closing at once
  // ("/>"). Null on an error.
  static const char* SkipStartTag(const char* p, bool* pbOpen) {
    while (IsNameChar(Byte(p, 0))) ++p;
    for (;;) {
      p = SkipBlank(p);
      if (*p == 0) return nullptr;
      if (*p == '/') return p[1] == '>' ? p + 2 : nullptr;
      if (*p == '>') {
        *pbOpen = true;
        return p + 1;
      }
      p = SkipAttribute(p);
      if (p == nullptr) return nullptr;
    }
  }

  // After "<?xml": TinyXML's declaration loop. Null on an error.
  static const char* SkipDeclaration(const char* p) {
    for (;;) {
      if (*p == '>') return p + 1;
      p = SkipBlank(p);
      if (*p == 0) return nullptr;
      if (StartsNoCase(p, "version") || StartsNoCase(p, "encoding") || StartsNoCase(p, "standalone")) {
        p = SkipAttribute(p);
        if (p == nullptr) return nullptr;
      } else {
        while (*p != 0 && *p != '>' && !IsBlank(*p)) ++p;
      }
    }
  }

  char* m_p0;
  uint32_t m_u4Limit;
};

// TinyXML may step a few bytes past a text's terminator on a broken UTF-8
// sequence at its end; the copy it parses carries this many zero bytes.
constexpr size_t kParsePadding = 8;

}  // namespace

uint32_t NyXmlEncodingToCodePage(int32_t nEncoding) {
  switch (nEncoding) {
    case NY_XML_ENCODING_UTF8:
      return 65001;
    case NY_XML_ENCODING_GBK:
    case NY_XML_ENCODING_GB18030:
    case NY_XML_ENCODING_GB2312:
      return 936;
    default:
      return 0;
  }
}

bool NyXmlMayNestDeeper(const char* pszText, size_t cbSize, uint32_t u4Limit) {
  if (pszText == nullptr) return false;
  const void* pvZero = memchr(pszText, 0, cbSize);
  const size_t cbText = pvZero != nullptr ? static_cast<size_t>(static_cast<const char*>(pvZero) - pszText) : cbSize;
  std::unique_ptr<char[]> copy(new (std::nothrow) char[cbText + 1]);
  if (copy == nullptr) return true;
  memcpy(copy.get(), pszText, cbText);
  copy[cbText] = 0;
  return CNestingScan(copy.get(), u4Limit).Exceeds();
}

uint32_t NyXmlLoadFromMemory(const char* pszText, size_t cbSize, TiXmlDocument** ppDocument) {
  if (pszText == nullptr || ppDocument == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlLoadFromMemory()->Invalid parameter!");
    return NY_E_INVALID_PARAM;
  }
  *ppDocument = nullptr;
  // TinyXML reads up to the first zero byte. It parses a private copy that
  // ends there, followed by zero padding.
  const void* pvZero = memchr(pszText, 0, cbSize);
  const size_t cbText = pvZero != nullptr ? static_cast<size_t>(static_cast<const char*>(pvZero) - pszText) : cbSize;
  if (cbText > static_cast<size_t>(-1) - kParsePadding) return NY_E_OUTOFMEMORY;
  char* pszCopy = new (std::nothrow) char[cbText + kParsePadding];
  if (pszCopy == nullptr) return NY_E_OUTOFMEMORY;
  memcpy(pszCopy, pszText, cbText);
  memset(pszCopy + cbText, 0, kParsePadding);
  TiXmlDocument* pDocument = new (std::nothrow) TiXmlDocument();
  if (pDocument == nullptr) {
    delete[] pszCopy;
    return NY_E_OUTOFMEMORY;
  }
  if (CNestingScan(pszCopy, NY_XML_MAX_DEPTH).Exceeds()) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlLoadFromFile()->Failed to call TiXmlDocument::LoadFile, Error in %s: %s",
          pDocument->Value(), "Elements may nest deeper than 256 levels");
    delete pDocument;
    delete[] pszCopy;
    return NY_E_XML_PARSE;
  }
  // No row and column bookkeeping: nothing reads them, and it is a fifth of
  // the parse time.
  pDocument->SetTabSize(0);
  bool bOutOfMemory = false;
  try {
    pDocument->Parse(pszCopy, nullptr, TIXML_ENCODING_UNKNOWN);
  } catch (const std::bad_alloc&) {
    bOutOfMemory = true;
  }
  delete[] pszCopy;
  if (bOutOfMemory) {
    delete pDocument;
    return NY_E_OUTOFMEMORY;
  }
  if (pDocument->Error()) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlLoadFromFile()->Failed to call TiXmlDocument::LoadFile, Error in %s: %s",
          pDocument->Value(), pDocument->ErrorDesc());
    delete pDocument;
    return NY_E_XML_PARSE;
  }
  *ppDocument = pDocument;
  return NY_SUCCESS;
}

uint32_t NyXmlGetEncoding(TiXmlDocument* pDocument, int32_t* pnEncoding) {
  if (pDocument == nullptr || pnEncoding == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlGetEncoding()->Invalid parameter!");
    return NY_E_INVALID_PARAM;
  }
  TiXmlNode* pFirst = pDocument->FirstChild();
  if (pFirst == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlGetEncoding()->The xml document has no children!");
    return NY_E_INVALID_DATA;
  }
  TiXmlDeclaration* pDeclaration = pFirst->ToDeclaration();
  if (pDeclaration == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlGetEncoding()->The xml document has no declaration!");
    return NY_E_INVALID_DATA;
  }
  const char* pszEncoding = pDeclaration->Encoding();
  if (pszEncoding == nullptr || pszEncoding[0] == 0) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlGetEncoding()->The xml document has no encoding info!");
    return NY_E_INVALID_DATA;
  }
  if (SafeStrICmp(pszEncoding, "utf-8") == 0) {
    *pnEncoding = NY_XML_ENCODING_UTF8;
  } else if (SafeStrICmp(pszEncoding, "gbk") == 0) {
    *pnEncoding = NY_XML_ENCODING_GBK;
  } else if (SafeStrICmp(pszEncoding, "gb18030") == 0) {
    *pnEncoding = NY_XML_ENCODING_GB18030;
  } else if (SafeStrICmp(pszEncoding, "gb2312") == 0) {
    *pnEncoding = NY_XML_ENCODING_GB2312;
  } else {
    *pnEncoding = NY_XML_ENCODING_UNKNOWN;
  }
  return NY_SUCCESS;
}

uint32_t NyXmlCreate(int32_t nEncoding, TiXmlDocument** ppDocument) {
  if (ppDocument == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlCreate()->Invalid parameter!");
    return NY_E_INVALID_PARAM;
  }
  *ppDocument = nullptr;
  const char* pszEncoding = nullptr;
  switch (nEncoding) {
    case NY_XML_ENCODING_UTF8:
      pszEncoding = "utf-8";
      break;
    case NY_XML_ENCODING_GBK:
      pszEncoding = "gbk";
      break;
    case NY_XML_ENCODING_GB18030:
      pszEncoding = "GB18030";
      break;
    case NY_XML_ENCODING_GB2312:
      pszEncoding = "gb2312";
      break;
    default:
      NYLOG(LOG_LEVEL_OUTCOME, "NyXmlCreate()->Invalid parameter(Unknown encoding %d)!", static_cast<int>(nEncoding));
      return NY_E_INVALID_PARAM;
  }
  try {
    TiXmlDocument* pDocument = new TiXmlDocument();
    pDocument->LinkEndChild(new TiXmlDeclaration("1.0", pszEncoding, ""));
    *ppDocument = pDocument;
  } catch (const std::bad_alloc&) {
    return NY_E_OUTOFMEMORY;
  }
  return NY_SUCCESS;
}

uint32_t NyXmlFree(TiXmlDocument* pDocument) {
  if (pDocument == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlFree()->Invalid parameter!");
    return NY_E_INVALID_PARAM;
  }
  delete pDocument;
  return NY_SUCCESS;
}

uint32_t NyXmlGetChildren(TiXmlNode* pNode, TiXmlElement** ppChildren, uint32_t* pu4Count) {
  if (pNode == nullptr || pu4Count == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlGetChildren()->Invalid parameter!");
    return NY_E_INVALID_PARAM;
  }
  const uint32_t u4Room = ppChildren != nullptr ? *pu4Count : 0;
  uint32_t u4Found = 0;
  for (TiXmlNode* pChild = pNode->FirstChild(); pChild != nullptr; pChild = pChild->NextSibling()) {
    TiXmlElement* pElement = pChild->ToElement();
    if (pElement == nullptr) continue;
    if (u4Found < u4Room) ppChildren[u4Found] = pElement;
    ++u4Found;
  }
  *pu4Count = u4Found;
  if (ppChildren != nullptr && u4Room < u4Found) return NY_E_BUFFER_TOO_SMALL;
  return NY_SUCCESS;
}

uint32_t NyXmlGetSingleChild(TiXmlNode* pNode, const char* pszName, TiXmlNode** ppChild) {
  if (pNode == nullptr || pszName == nullptr || ppChild == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlGetSingleChild()->Invalid parameter!");
    return NY_E_INVALID_PARAM;
  }
  *ppChild = pNode->FirstChild(pszName);
  return NY_SUCCESS;
}

namespace {

// The node as an element for NyXmlGetClassName and NyXmlGetText, which
// refuse alike and with the same messages.
TiXmlElement* ElementForRead(TiXmlNode* pNode, const void* pvOut) {
  if (pNode == nullptr || pvOut == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlGetClassName()->Invalid parameter!");
    return nullptr;
  }
  TiXmlElement* pElement = pNode->ToElement();
  if (pElement == nullptr) NYLOG(LOG_LEVEL_OUTCOME, "NyXmlGetClassName()->Invalid parameter(Not an element)!");
  return pElement;
}

}  // namespace

uint32_t NyXmlGetClassName(TiXmlNode* pNode, const char** ppszName) {
  TiXmlElement* pElement = ElementForRead(pNode, ppszName);
  if (pElement == nullptr) return NY_E_INVALID_PARAM;
  *ppszName = pElement->Value();
  return NY_SUCCESS;
}

uint32_t NyXmlGetText(TiXmlNode* pNode, const char** ppszText) {
  TiXmlElement* pElement = ElementForRead(pNode, ppszText);
  if (pElement == nullptr) return NY_E_INVALID_PARAM;
  *ppszText = pElement->GetText();
  return NY_SUCCESS;
}

uint32_t NyXmlGetAttribute(TiXmlNode* pNode, const char* pszName, const char** ppszValue) {
  if (pNode == nullptr || pszName == nullptr || ppszValue == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlGetAttribute()->Invalid parameter!");
    return NY_E_INVALID_PARAM;
  }
  TiXmlElement* pElement = pNode->ToElement();
  if (pElement == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlGetAttribute()->Invalid parameter(Not an element)!");
    return NY_E_INVALID_PARAM;
  }
  *ppszValue = pElement->Attribute(pszName);
  return *ppszValue == nullptr ? NY_E_ATTR_MISSING : NY_SUCCESS;
}

uint32_t NyXmlAddChild(TiXmlNode* pParent, const char* pszName, const char* pszText, TiXmlElement** ppElement) {
  if (ppElement != nullptr) *ppElement = nullptr;
  if (pParent == nullptr || pszName == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlAddChild()->Invalid parameter!");
    return NY_E_INVALID_PARAM;
  }
  try {
    std::unique_ptr<TiXmlElement> pElement(new TiXmlElement(pszName));
    if (pszText != nullptr) pElement->LinkEndChild(new TiXmlText(pszText));
    TiXmlElement* pLinked = pElement.release();
    pParent->LinkEndChild(pLinked);
    if (ppElement != nullptr) *ppElement = pLinked;
  } catch (const std::bad_alloc&) {
    return NY_E_OUTOFMEMORY;
  }
  return NY_SUCCESS;
}

uint32_t NyXmlSetText(TiXmlElement* pElement, const char* pszText) {
  if (pElement == nullptr || pszText == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlSetText()->Invalid parameter!");
    return NY_E_INVALID_PARAM;
  }
  try {
    TiXmlNode* pFirst = pElement->FirstChild();
    if (pFirst != nullptr) {
      pFirst->SetValue(pszText);
    } else {
      pElement->LinkEndChild(new TiXmlText(pszText));
    }
  } catch (const std::bad_alloc&) {
    return NY_E_OUTOFMEMORY;
  }
  return NY_SUCCESS;
}
