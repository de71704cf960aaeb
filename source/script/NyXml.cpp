#include "NyXml.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "NyLog.h"
#include "NyFindByte.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "tinyxml.h"

namespace {

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

uint32_t NyXmlLoadFromMemory(const char* pszText, size_t cbSize, TiXmlDocument** ppDocument) {
  if (pszText == nullptr || ppDocument == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlLoadFromMemory()->Invalid parameter!");
    return NY_E_INVALID_PARAM;
  }
  *ppDocument = nullptr;
  // TinyXML reads up to the first zero byte. It parses a private copy that
  // ends there, followed by zero padding.
  const char* pZero = NyFindByte(pszText, pszText + cbSize, 0);
  const size_t cbText = pZero != nullptr ? static_cast<size_t>(pZero - pszText) : cbSize;
  if (cbText > static_cast<size_t>(-1) - kParsePadding) return NY_E_OUTOFMEMORY;
  try {
    std::vector<char> copy(cbText + kParsePadding);
    memcpy(copy.data(), pszText, cbText);
    std::unique_ptr<TiXmlDocument> pDocument(new TiXmlDocument());
    // No row and column bookkeeping: nothing reads them, and it is a fifth of
    // the parse time.
    pDocument->SetTabSize(0);
    pDocument->SetMaxElementDepth(NY_XML_MAX_DEPTH);
    pDocument->Parse(copy.data(), nullptr, TIXML_ENCODING_UNKNOWN);
    if (pDocument->Error()) {
      NYLOG(LOG_LEVEL_OUTCOME, "NyXmlLoadFromFile()->Failed to call TiXmlDocument::LoadFile, Error in %s: %s",
            pDocument->Value(), pDocument->ErrorDesc());
      return NY_E_XML_PARSE;
    }
    *ppDocument = pDocument.release();
  } catch (const std::bad_alloc&) {
    return NY_E_OUTOFMEMORY;
  }
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

const char* NyXmlEncodingName(int32_t nEncoding) {
  switch (nEncoding) {
    case NY_XML_ENCODING_UTF8:
      return "utf-8";
    case NY_XML_ENCODING_GBK:
      return "gbk";
    case NY_XML_ENCODING_GB18030:
      return "GB18030";
    case NY_XML_ENCODING_GB2312:
      return "gb2312";
    default:
      return nullptr;
  }
}

uint32_t NyXmlCreate(int32_t nEncoding, TiXmlDocument** ppDocument) {
  if (ppDocument == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlCreate()->Invalid parameter!");
    return NY_E_INVALID_PARAM;
  }
  *ppDocument = nullptr;
  const char* pszEncoding = NyXmlEncodingName(nEncoding);
  if (pszEncoding == nullptr) {
    NYLOG(LOG_LEVEL_OUTCOME, "NyXmlCreate()->Invalid parameter(Unknown encoding %d)!", static_cast<int>(nEncoding));
    return NY_E_INVALID_PARAM;
  }
  try {
    std::unique_ptr<TiXmlDocument> pDocument(new TiXmlDocument());
    pDocument->LinkEndChild(new TiXmlDeclaration("1.0", pszEncoding, ""));
    *ppDocument = pDocument.release();
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
