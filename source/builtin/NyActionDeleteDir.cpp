#include "NyActionDeleteDir.h"

#include <windows.h>
#include <shlwapi.h>

#include "NyLog.h"
#include "NyConfigItem.h"
#include "NyFileDelete.h"
#include "NySetupInfo.h"
#include "NyUndoFile.h"

const char* CNyActionDeleteDir::SourceFile() const { return __FILE__; }

uint32_t CNyActionDeleteDir::ReadAttributes() {
  const uint32_t u4Result = ReadRequired("Src", &m_src, "%s: Src in xml is: %s");
  if (u4Result != 0) return u4Result;
  m_bCheckIsEmpty = ReadBool("CheckIsEmpty", true);
  return 0;
}

void CNyActionDeleteDir::CompleteDescription(CNyString* pText) const {
  pText->ReplaceAll(L"$[src]", m_src.GetWide());
  if (m_bCheckIsEmpty) pText->Append(L" CheckIsEmpty=\"True\"");
}

uint32_t CNyActionDeleteDir::Execute(CNySetupInfo* pSetupInfo) {
  if (m_bCheckIsEmpty && !PathIsDirectoryEmptyW(m_src.GetWide())) {
    Log(LOG_LEVEL_ERROR, __LINE__, "%s is not etmpty path!", m_src.GetAnsi());
    return 0;
  }
  CNyFileUndoRecorder changes(NyJournalOf(pSetupInfo));
  uint32_t bReboot = 0;
  return DeleteDirectoryTree(m_src.GetWide(), &bReboot, &changes);
}
