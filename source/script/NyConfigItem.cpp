#include "NyConfigItem.h"

#include <cstring>
#include <new>

#include "NyLog.h"
#include "NyLanguage.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "NyXml.h"
#include "tinyxml.h"

CNyXmlConfigItem::CNyXmlConfigItem(TiXmlElement* pElement, int32_t nEncoding, uint32_t u4Language,
                                   CNyXmlConfigItem* pParent)
    : m_pElement(pElement), m_nEncoding(nEncoding), m_u4Language(u4Language), m_pParent(pParent), m_u4Cursor(0) {
  uint32_t u4Count = 0;
  uint32_t u4Result = NyXmlGetChildren(pElement, nullptr, &u4Count);
  try {
    std::vector<TiXmlElement*> elements(u4Count);
    if (u4Result == NY_SUCCESS && u4Count != 0) u4Result = NyXmlGetChildren(pElement, elements.data(), &u4Count);
    if (u4Result == NY_SUCCESS) {
      m_children.reserve(u4Count);
      for (TiXmlElement* pChild : elements) {
        m_children.emplace_back(new (std::nothrow) CNyXmlConfigItem(pChild, nEncoding, u4Language, this));
      }
      return;
    }
  } catch (const std::bad_alloc&) {
    u4Result = NY_E_OUTOFMEMORY;
  }
  NYLOG_RESULT(u4Result);
  NYLOG(LOG_LEVEL_OUTCOME, "CNyXmlConfigItem()->Invalid xml");
  m_children.clear();
}

CNyXmlConfigItem::~CNyXmlConfigItem() = default;

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

std::vector<CNyString> CNyXmlConfigItem::GetAllValues() const {
  std::vector<CNyString> values;
  if (m_pElement == nullptr) return values;
  for (const TiXmlAttribute* pAttribute = m_pElement->FirstAttribute(); pAttribute != nullptr;
       pAttribute = pAttribute->Next()) {
    values.emplace_back();
    values.back().Assign(pAttribute->Value(), GetCodePage());
  }
  if (const char* pszText = m_pElement->GetText()) {
    values.emplace_back();
    values.back().Assign(pszText, GetCodePage());
  }
  return values;
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
  for (const auto& pChild : m_children) {
    if (pChild == nullptr) break;
    if (strcmp(pChild->GetName(), pszLanguage) == 0) pChild->GetText(pText);
  }
  return NY_SUCCESS;
}

CNyXmlConfigItem* CNyXmlConfigItem::FindChild(const char* pszName) const {
  if (pszName == nullptr) return nullptr;
  for (const auto& pChild : m_children) {
    if (pChild == nullptr) break;
    if (strcmp(pChild->GetName(), pszName) == 0) return pChild.get();
  }
  return nullptr;
}

CNyXmlConfigItem* CNyXmlConfigItem::GetChild(uint32_t u4Index) const {
  return u4Index < m_children.size() ? m_children[u4Index].get() : nullptr;
}

CNyXmlConfigItem* CNyXmlConfigItem::GetFirstChild() {
  m_u4Cursor = 0;
  return GetNextChild();
}

CNyXmlConfigItem* CNyXmlConfigItem::GetNextChild() {
  if (m_u4Cursor >= m_children.size()) return nullptr;
  return m_children[m_u4Cursor++].get();
}
