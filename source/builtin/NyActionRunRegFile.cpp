#include "NyActionRunRegFile.h"

#include "NyConfigItem.h"
#include "NyRegistryUtil.h"
#include "NySetupInfo.h"
#include "NyUndoRegistry.h"

const char* CNyActionRunRegFile::SourceFile() const { return __FILE__; }

uint32_t CNyActionRunRegFile::ReadAttributes() {
  const uint32_t u4Result = ReadRequired("Src", &m_src, "%s: Src in xml is: %s");
  if (u4Result != 0) return u4Result;
  m_b64Key = ReadBool("Key64", false);
  ReadOptional("os", &m_os, nullptr);
  return 0;
}

void CNyActionRunRegFile::CompleteDescription(CNyString* pText) const {
  pText->ReplaceAll(L"$[src]", m_src.GetWide());
}

uint32_t CNyActionRunRegFile::Execute(CNySetupInfo* pSetupInfo) {
  const uint32_t u4Result = RecordRegFileImport(NyJournalOf(pSetupInfo), m_src.GetWide(), m_b64Key);
  if (u4Result != 0) return u4Result;
  return RunRegeditFile(m_src.GetWide(), m_b64Key);
}
