#include "NyActionDeleteFile.h"

#include "NyConfigItem.h"
#include "NyFileDelete.h"
#include "NySetupInfo.h"
#include "NyUndoFile.h"

const char* CNyActionDeleteFile::SourceFile() const { return __FILE__; }

uint32_t CNyActionDeleteFile::ReadAttributes() {
  const uint32_t u4Result = ReadRequired("Src", &m_src, "%s: Src in xml is: %s");
  if (u4Result != 0) return u4Result;
  m_bUnregister = ReadBool("Unregister", false);
  ReadOptional("os", &m_os, nullptr);
  return 0;
}

void CNyActionDeleteFile::CompleteDescription(CNyString* pText) const {
  pText->ReplaceAll(L"$[src]", m_src.GetWide());
  if (m_bUnregister) pText->Append(L" UnRegister=\"True\"");
}

// Unregister is shown in the description only: the file is deleted, not
// unregistered first, as the shipped script's uninstall list expects.
uint32_t CNyActionDeleteFile::Execute(CNySetupInfo* pSetupInfo) {
  CNyFileUndoRecorder changes(NyJournalOf(pSetupInfo));
  uint32_t bReboot = 0;
  const uint32_t u4Result = DeleteFileOrSchedule(m_src.GetWide(), &bReboot, &changes);
  if (u4Result != 0) return u4Result;
  // An earlier install may have left a replacement of the file for the next
  // restart: it would bring the file back after the uninstall.
  return CancelStagedReplacements(m_src.GetWide(), &bReboot, &changes);
}
