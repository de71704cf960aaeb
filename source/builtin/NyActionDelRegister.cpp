#include "NyActionDelRegister.h"

#include "NyConfigItem.h"
#include "NyRegistryUtil.h"
#include "NyResult.h"
#include "NySetupInfo.h"
#include "NyUndoRegistry.h"

const char* CNyActionDelRegister::SourceFile() const { return __FILE__; }

uint32_t CNyActionDelRegister::ReadAttributes() {
  uint32_t u4Result = ReadRequired("Root", &m_root, "%s: Root in xml is: %s");
  if (u4Result == 0) u4Result = ReadRequired("SubKey", &m_subKey, "%s: SubKey in xml is: %s");
  if (u4Result != 0) return u4Result;
  ReadOptional("ValueName", &m_valueName, nullptr);
  m_b64Key = ReadBool("Key64", false);
  ReadOptional("os", &m_os, nullptr);
  return 0;
}

void CNyActionDelRegister::CompleteDescription(CNyString* pText) const {
  pText->ReplaceAll(L"$[path]", RegistryPathText(m_root.GetWide(), m_subKey.GetWide(), m_valueName.GetWide()).c_str());
  pText->Append(m_b64Key ? L" m_b64Key=true" : L" m_b64Key=false");
}

uint32_t CNyActionDelRegister::Execute(CNySetupInfo* pSetupInfo) {
  HKEY hRoot = RegistryRootFromName(m_root.GetWide());
  if (hRoot == nullptr) return NY_E_INVALID_PARAM;
  const uint32_t u4Result =
      RecordRegistryDeletion(NyJournalOf(pSetupInfo), hRoot, m_subKey.GetWide(), m_b64Key, m_valueName.GetWide());
  if (u4Result != 0) return u4Result;
  if (m_valueName.IsEmpty()) return DeleteRegistryTree(hRoot, m_subKey.GetWide(), m_b64Key);
  RegistryKeyRef ref;
  ref.hRoot = hRoot;
  ref.subKey = m_subKey.GetWide();
  ref.valueName = m_valueName.GetWide();
  ref.b64Key = m_b64Key;
  return DeleteRegistryValue(ref);
}
