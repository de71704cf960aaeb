#include "NyActionAddRegister.h"

#include <vector>

#include "NyConfigItem.h"
#include "NyRegistryUtil.h"
#include "NyRegistryValueText.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "NySetupInfo.h"
#include "NyUndoRegistry.h"

const char* CNyActionAddRegister::SourceFile() const { return __FILE__; }

uint32_t CNyActionAddRegister::ReadAttributes() {
  uint32_t u4Result = ReadRequired("Root", &m_root, "%s: process Root in xml is: %s");
  if (u4Result == 0) u4Result = ReadRequired("SubKey", &m_subKey, "%s: process SubKey in xml is: %s");
  if (u4Result != 0) return u4Result;
  ReadOptional("ValueName", &m_valueName, "%s: process ValueName in xml is: %s");
  ReadOptional("ValueType", &m_valueType, "%s: process ValueType in xml is: %s");
  // ValueData must be there, but only a binary value may be empty.
  u4Result = ReadOptional("ValueData", &m_valueData, "%s: process ValueData in xml is: %s");
  if (u4Result != 0) return u4Result;
  if (m_valueData.IsEmpty() && SafeStrCmp(m_valueType.GetAnsi(), "REG_BINARY") != 0) return NY_E_INVALID_PARAM;
  m_b64Key = ReadBool("Key64", false);
  ReadOptional("os", &m_os, nullptr);
  return 0;
}

void CNyActionAddRegister::CompleteDescription(CNyString* pText) const {
  pText->ReplaceAll(L"$[path]", RegistryPathText(m_root.GetWide(), m_subKey.GetWide(), m_valueName.GetWide()).c_str());
}

uint32_t CNyActionAddRegister::Execute(CNySetupInfo* pSetupInfo) {
  RegistryKeyRef ref;
  ref.hRoot = RegistryRootFromName(m_root.GetWide());
  if (ref.hRoot == nullptr) return NY_E_INVALID_PARAM;
  ref.subKey = m_subKey.GetWide();
  ref.valueName = m_valueName.GetWide();
  ref.b64Key = m_b64Key;
  const char* pszType = m_valueType.GetAnsi();
  DWORD dwType = REG_NONE;
  std::vector<uint8_t> bytes;
  if (SafeStrCmp(pszType, "REG_SZ") == 0) {
    // Stored as the script's characters, without a terminator of its own.
    dwType = REG_SZ;
    const auto* pb = reinterpret_cast<const uint8_t*>(m_valueData.GetWide());
    bytes.assign(pb, pb + m_valueData.GetWideLength() * sizeof(wchar_t));
  } else if (SafeStrCmp(pszType, "REG_DWORD") == 0) {
    dwType = REG_DWORD;
    const int32_t nValue = ParseRegDwordText(m_valueData.GetAnsi());
    const auto* pb = reinterpret_cast<const uint8_t*>(&nValue);
    bytes.assign(pb, pb + sizeof(nValue));
  } else if (SafeStrCmp(pszType, "REG_BINARY") == 0) {
    dwType = REG_BINARY;
    if (!ParseRegBinaryText(m_valueData.GetAnsi(), &bytes)) return NY_E_INVALID_PARAM;
  } else {
    return NY_E_INVALID_PARAM;
  }
  const uint32_t u4Result =
      RecordRegistryWrite(NyJournalOf(pSetupInfo), ref.hRoot, ref.subKey, ref.b64Key, {ref.valueName});
  if (u4Result != 0) return u4Result;
  return SetRegistryValue(ref, dwType, bytes.data(), static_cast<DWORD>(bytes.size()));
}
