// Fuzz target: setup-script text through LoadFromMemory (Init), the built-in
// variables, Update and every reader of the result. No crash, no hang, no
// unbounded memory, whatever the text. Each input also checks the XML
// layer's nesting guard against TinyXML's own parse.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>

#include "NyConfigItem.h"
#include "NyConfigScript.h"
#include "NyResult.h"
#include "NyXml.h"
#include "tinyxml.h"

namespace {

// Reads everything an action or the driver could read from an item tree.
void Walk(CNyXmlConfigItem* pItem, int nDepth) {
  if (pItem == nullptr || nDepth > 300) return;
  CNyString text;
  pItem->GetText(&text);
  pItem->GetAttribute("Src", &text);
  pItem->GetAttribute("name", &text);
  pItem->GetAttributeUInt("Index");
  pItem->GetAttributeBool("Key64", false);
  pItem->GetCmdLine();
  pItem->FindChild("en_us");
  for (CNyXmlConfigItem* pChild = pItem->GetFirstChild(); pChild != nullptr; pChild = pItem->GetNextChild()) {
    Walk(pChild, nDepth + 1);
  }
}

void ReadBack(CNyXmlConfigScript& script) {
  CNyString value;
  for (const char* pszName : {"ProductCode", "ProductName", "Publisher", "Version", "InstallDir", "language"}) {
    script.GetValue(pszName, &value);
    script.GetUInt(pszName);
    script.GetBool(pszName, true);
  }
  for (const char* pszList : {"Insall", "Uninstall", "Install Finish", "Uninstall Finish"}) {
    std::unique_ptr<CNyXmlConfigItem> pList(script.GetItem("Action", pszList));
    Walk(pList.get(), 0);
  }
  std::unique_ptr<CNyXmlConfigItem> pDesc(script.GetItem("ActionDescString", nullptr));
  Walk(pDesc.get(), 0);
  std::unique_ptr<CNyXmlConfigItem> pAny(script.GetItem(nullptr, nullptr));
  Walk(pAny.get(), 0);
}

int TreeDepth(const TiXmlNode* pNode, int nDepth) {
  int nMax = nDepth;
  for (const TiXmlNode* pChild = pNode->FirstChild(); pChild != nullptr; pChild = pChild->NextSibling()) {
    if (pChild->ToElement() != nullptr) nMax = std::max(nMax, TreeDepth(pChild, nDepth + 1));
  }
  return nMax;
}

// The nesting guard of NyXmlLoadFromMemory against TinyXML itself, at small
// limits: whenever TinyXML builds elements nested more than limit + 1 deep
// (limit open elements and one more inside), the guard must have said so.
// TinyXML parses the text directly only when the guard lets it through at
// the real limit, as NyXmlLoadFromMemory would.
void CheckNestingGuard(const uint8_t* pbData, size_t cbData) {
  const char* pszText = reinterpret_cast<const char*>(pbData);
  if (NyXmlMayNestDeeper(pszText, cbData, NY_XML_MAX_DEPTH)) return;
  const void* pvZero = memchr(pbData, 0, cbData);
  const size_t cbText = pvZero != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(pvZero) - pbData) : cbData;
  std::string text(pszText, cbText);
  text.append(8, '\0');  // NyXmlLoadFromMemory's padding
  TiXmlDocument document;
  document.SetTabSize(0);
  document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
  const int nDepth = TreeDepth(&document, 0);
  for (uint32_t u4Limit : {0u, 1u, 2u, 4u}) {
    if (nDepth > static_cast<int>(u4Limit) + 1 && !NyXmlMayNestDeeper(pszText, cbData, u4Limit)) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData) {
  CheckNestingGuard(pbData, cbData);
  CNyXmlConfigScript script;
  if (script.LoadFromMemory(pbData, cbData) != NY_SUCCESS) return 0;
  script.InitVariables("C:\\Temp\\NyKeyPackage_0000ABCD");
  if (script.Update() == NY_SUCCESS) ReadBack(script);
  // Another language collects other strings; the last byte picks it.
  if (cbData != 0 && script.SetLanguage(pbData[cbData - 1] % 12u) == NY_SUCCESS) ReadBack(script);
  return 0;
}
