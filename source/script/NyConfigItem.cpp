#include "NyConfigItem.h"

#include <cstring>
#include <new>

#include "Log/NyLog.h"
#include "NyLanguage.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "NyXml.h"
#include "tinyxml.h"

CNyXmlConfigItem::CNyXmlConfigItem(TiXmlElement* pElement, int32_t nEncoding, uint32_t u4Language,
                                   CNyXmlConfigItem* pParent)
    : m_pElement(pElement), m_nEncoding(nEncoding), m_u4Language(u4Language), m_pParent(pParent),
      m_ppChildren(nullptr), m_u4ChildCount(0), m_u4Cursor(0) {
  uint32_t u4Count = 0;
  uint32_t u4Result = NyXmlGetChildren(pElement, nullptr, &u4Count);
  TiXmlElement** ppElements = nullptr;
  if (u4Result == NY_SUCCESS && u4Count != 0) {
    ppElements = new (std::nothrow) TiXmlElement*[u4Count];
    m_ppChildren = new (std::nothrow) CNyXmlConfigItem*[u4Count]();
    if (ppElements == nullptr || m_ppChildren == nullptr) {
      u4Result = NY_E_OUTOFMEMORY;
    } else {
      u4Result = NyXmlGetChildren(pElement, ppElements, &u4Count);
    }
  }
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    NYLOG(LOG_LEVEL_OUTCOME, "CNyXmlConfigItem()->Invalid xml");
    delete[] ppElements;
    delete[] m_ppChildren;
    m_ppChildren = nullptr;
    return;
  }
  for (uint32_t i = 0; i < u4Count; ++i) {
    // A child that cannot be allocated stays null; walks stop there.
    m_ppChildren[i] = new (std::nothrow) CNyXmlConfigItem(ppElements[i], nEncoding, u4Language, this);
  }
  m_u4ChildCount = u4Count;
  delete[] ppElements;
}

CNyXmlConfigItem::~CNyXmlConfigItem() {
  for (uint32_t i = 0; i < m_u4ChildCount; ++i) delete m_ppChildren[i];
  delete[] m_ppChildren;
}

uint32_t CNyXmlConfigItem::GetCodePage() const { return NyXmlEncodingToCodePage(m_nEncoding); }

const char* CNyXmlConfigItem::GetName() const {
  const char* pszName = nullptr;
  if (m_pElement == nullptr) return "";
  if (NyXmlGetClassName(m_pElement, &pszName) != NY_SUCCESS || pszName == nullptr) {
    return "";
  }
  return pszName;
}

uint32_t CNyXmlConfigItem::GetAttribute(const char* pszName, CNyString* pValue) const {
  const char* pszValue = nullptr;
  const uint32_t u4Result = NyXmlGetAttribute(m_pElement, pszName, &pszValue);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    return u4Result;
  }
  if (pszValue == nullptr) return NY_E_NOT_FOUND;
  if (pValue == nullptr) return NY_E_INVALID_PARAM;
  pValue->Assign(pszValue, GetCodePage());
  return NY_SUCCESS;
}

uint32_t CNyXmlConfigItem::GetAttributeUInt(const char* pszName) const {
  const char* pszValue = nullptr;
  const uint32_t u4Result = NyXmlGetAttribute(m_pElement, pszName, &pszValue);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    return 0;
  }
  uint32_t u4Value = 0;
  if (pszValue == nullptr || !SafeStrToUInt(pszValue, &u4Value)) return 0;
  return u4Value;
}

bool CNyXmlConfigItem::GetAttributeBool(const char* pszName, bool bDefault) const {
  const char* pszValue = nullptr;
  const uint32_t u4Result = NyXmlGetAttribute(m_pElement, pszName, &pszValue);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    return bDefault;
  }
  if (pszValue == nullptr) return bDefault;
  return SafeStrICmp(pszValue, "true") == 0;
}

const char* CNyXmlConfigItem::GetCmdLine() const {
  const char* pszValue = nullptr;
  const uint32_t u4Result = NyXmlGetAttribute(m_pElement, "CmdLine", &pszValue);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    return "";
  }
  return pszValue != nullptr ? pszValue : "";
}

uint32_t CNyXmlConfigItem::GetText(CNyString* pText) const {
  const char* pszText = nullptr;
  const uint32_t u4Result = NyXmlGetText(m_pElement, &pszText);
  if (u4Result != NY_SUCCESS) {
    NYLOG_RESULT(u4Result);
    return u4Result;
  }
  if (pText == nullptr) return NY_E_INVALID_PARAM;
  if (pszText != nullptr) {
    pText->Assign(pszText, GetCodePage());
    return NY_SUCCESS;
  }
  const char* pszLanguage = NyLanguageName(m_u4Language);
  for (uint32_t i = 0; i < m_u4ChildCount; ++i) {
    const CNyXmlConfigItem* pChild = m_ppChildren[i];
    if (pChild == nullptr) break;
    if (strcmp(pChild->GetName(), pszLanguage) == 0) pChild->GetText(pText);
  }
  return NY_SUCCESS;
}

CNyXmlConfigItem* CNyXmlConfigItem::FindChild(const char* pszName) const {
  if (pszName == nullptr) return nullptr;
  for (uint32_t i = 0; i < m_u4ChildCount; ++i) {
    CNyXmlConfigItem* pChild = m_ppChildren[i];
    if (pChild == nullptr) break;
    if (strcmp(pChild->GetName(), pszName) == 0) return pChild;
  }
  return nullptr;
}

CNyXmlConfigItem* CNyXmlConfigItem::GetChild(uint32_t u4Index) const {
  return u4Index < m_u4ChildCount ? m_ppChildren[u4Index] : nullptr;
}

CNyXmlConfigItem* CNyXmlConfigItem::GetFirstChild() {
  m_u4Cursor = 0;
  return GetNextChild();
}

CNyXmlConfigItem* CNyXmlConfigItem::GetNextChild() {
  if (m_u4Cursor >= m_u4ChildCount) return nullptr;
  return m_ppChildren[m_u4Cursor++];
}
