// Fuzz target: setup-script text through LoadFromMemory (Init), the built-in
// variables, Update and every reader of the result. No crash, no hang, no
// unbounded memory, whatever the text. Each input also checks TinyXML's
// element depth limit.
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

// The element depth limit of TinyXML (patched in by the build) at small
// limits, against the parse at the layer's own limit: a parse within a limit
// builds no deeper tree, and the limit refuses only texts that nest deeper.
void CheckDepthLimit(const uint8_t* pbData, size_t cbData) {
  const void* pvZero = memchr(pbData, 0, cbData);
  const size_t cbText = pvZero != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(pvZero) - pbData) : cbData;
  std::string text(reinterpret_cast<const char*>(pbData), cbText);
  text.append(8, '\0');  // NyXmlLoadFromMemory's padding
  TiXmlDocument reference;
  reference.SetTabSize(0);
  reference.SetMaxElementDepth(NY_XML_MAX_DEPTH);
  reference.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
  const int nReferenceDepth = reference.Error() ? -1 : TreeDepth(&reference, 0);
  for (int nLimit : {1, 2, 4}) {
    TiXmlDocument document;
    document.SetTabSize(0);
    document.SetMaxElementDepth(nLimit);
    document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
    if (!document.Error() && TreeDepth(&document, 0) > nLimit) abort();
    if (document.Error() && nReferenceDepth >= 0 && nReferenceDepth <= nLimit) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData) {
  CheckDepthLimit(pbData, cbData);
  CNyXmlConfigScript script;
  if (script.LoadFromMemory(pbData, cbData) != NY_SUCCESS) return 0;
  script.InitVariables("C:\\Temp\\NyKeyPackage_0000ABCD");
  if (script.Update() == NY_SUCCESS) ReadBack(script);
  // Another language collects other strings; the last byte picks it.
  if (cbData != 0 && script.SetLanguage(pbData[cbData - 1] % 12u) == NY_SUCCESS) ReadBack(script);
  return 0;
}
