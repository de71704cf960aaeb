#pragma once
// CNyXmlConfigItem: one element of the expanded setup script, with
// an item for each of its element children (built at once by the
// constructor). The element belongs to the script's expanded document: an
// item and all its descendants are valid only until the script's next
// expansion or its destruction.
#include <cstdint>
#include <memory>
#include <vector>

#include "NyObject.h"
#include "NyString.h"

class TiXmlElement;

class CNyXmlConfigItem : public CNyObject {
 public:
  CNyXmlConfigItem(TiXmlElement* pElement, int32_t nEncoding, uint32_t u4Language, CNyXmlConfigItem* pParent);
  ~CNyXmlConfigItem() override;
  CNyXmlConfigItem(const CNyXmlConfigItem&) = delete;
  CNyXmlConfigItem& operator=(const CNyXmlConfigItem&) = delete;

  // The attribute's value, converted from the document's code page. A
  // missing attribute gives 0xE0607003 (logged "u4Result = E0607003" each
  // time), a value that is null 0xE0600008.
  uint32_t GetAttribute(const char* pszName, CNyString* pValue) const;
  // The attribute read as an unsigned decimal number ("%u"); 0 when it is
  // missing or not a number.
  uint32_t GetAttributeUInt(const char* pszName) const;
  // True exactly when the value is "true" ignoring letter case; the default
  // when the attribute is missing or has no value.
  bool GetAttributeBool(const char* pszName, bool bDefault) const;
  // Every attribute's value and the element's own text, whatever their
  // names: what an action may read a path from.
  std::vector<CNyString> GetAllValues() const;
  // The raw value of the attribute CmdLine in the document's code page, or
  // "" when it is missing. Valid as long as the item.
  const char* GetCmdLine() const;
  // The localized text: the element's own text, else the text of its
  // children named after the item's language (the last match wins; no match
  // leaves pText as it was). Codes other than 0, 1 and 2 use "en_us".
  uint32_t GetText(CNyString* pText) const;
  // The first child item whose element name equals the name exactly.
  CNyXmlConfigItem* FindChild(const char* pszName) const;

  uint32_t GetChildCount() const { return static_cast<uint32_t>(m_children.size()); }
  CNyXmlConfigItem* GetChild(uint32_t u4Index) const;
  CNyXmlConfigItem* GetParent() const { return m_pParent; }
  // Child iteration with the item's cursor: the first child (cursor reset),
  // then each next one; null at the end.
  CNyXmlConfigItem* GetFirstChild();
  CNyXmlConfigItem* GetNextChild();

  // The element's tag name ("" if it cannot be read).
  const char* GetName() const;
  TiXmlElement* GetElement() const { return m_pElement; }
  int32_t GetEncoding() const { return m_nEncoding; }
  uint32_t GetLanguage() const { return m_u4Language; }
  uint32_t GetCodePage() const;

 private:
  TiXmlElement* m_pElement;
  int32_t m_nEncoding;
  uint32_t m_u4Language;
  CNyXmlConfigItem* m_pParent;
  // One per element child, in document order; null where the item could not
  // be had (walks stop there).
  std::vector<std::unique_ptr<CNyXmlConfigItem>> m_children;
  uint32_t m_u4Cursor;
};
