#pragma once
// A script item made from an XML snippet, for tests of what reads items.
#include <tinyxml.h>

#include <string>

#include "NyConfigItem.h"
#include "NyXml.h"

class XmlItem {
 public:
  // UTF-8 text, English strings (language code 1).
  explicit XmlItem(const std::string& xml, uint32_t u4Language = 1) {
    if (NyXmlLoadFromMemory(xml.c_str(), xml.size(), &m_pDocument) != 0) return;
    m_pItem = new CNyXmlConfigItem(m_pDocument->RootElement(), 0, u4Language, nullptr);
  }
  ~XmlItem() {
    delete m_pItem;
    if (m_pDocument != nullptr) NyXmlFree(m_pDocument);
  }
  XmlItem(const XmlItem&) = delete;
  XmlItem& operator=(const XmlItem&) = delete;
  CNyXmlConfigItem* Get() const { return m_pItem; }

 private:
  TiXmlDocument* m_pDocument = nullptr;
  CNyXmlConfigItem* m_pItem = nullptr;
};
