#include "NyActionKillProcess.h"

#include <windows.h>

#include "NyLog.h"
#include "NyConfigItem.h"
#include "NyProcessUtil.h"
#include "NyResult.h"
#include "NySafeStr.h"
#include "NySetupInfo.h"
#include "NyUndoProcess.h"

const char* CNyActionKillProcess::SourceFile() const { return __FILE__; }

uint32_t CNyActionKillProcess::ReadAttributes() {
  m_u4Pid = 0;
  const uint32_t u4Result = ReadOptional("Name", &m_name, "%s: process name in xml is: %s");
  if (u4Result == 0) return m_name.IsEmpty() ? NY_E_INVALID_PARAM : 0;
  if (u4Result != NY_E_ATTR_MISSING) return u4Result;
  m_u4Pid = m_pConfigItem->GetAttributeUInt("Pid");
  if (m_u4Pid == 0) {
    Log(LOG_LEVEL_OUTCOME, __LINE__, "%s: pid in xml is invalid", "CNyActionKillProcess::LoadConfig");
    return NY_E_NO_TEMPLATE;
  }
  return 0;
}

void CNyActionKillProcess::CompleteDescription(CNyString* pText) const {
  if (!m_name.IsEmpty()) {
    pText->ReplaceAll(L"$[pname]", m_name.GetWide());
    return;
  }
  wchar_t wszPid[16] = {};
  NyWcsPrintf(wszPid, ARRAYSIZE(wszPid), L"%d", static_cast<int>(m_u4Pid));
  pText->ReplaceAll(L"$[pname]", wszPid);
}

uint32_t CNyActionKillProcess::Execute(CNySetupInfo* pSetupInfo) {
  const std::wstring what = m_name.IsEmpty() ? L"the process " + std::to_wstring(m_u4Pid) + L" ended"
                                             : std::wstring(L"the processes of ") + m_name.GetWide() + L" ended";
  const uint32_t u4Result = NoteProcessChange(NyJournalOf(pSetupInfo), what);
  if (u4Result != 0) return u4Result;
  if (!m_name.IsEmpty()) return KillProcessesByImage(m_name.GetWide());
  // A process that could neither be opened nor ended: most often one the
  // installer has no rights on.
  return KillProcessById(m_u4Pid) ? 0 : static_cast<uint32_t>(ERROR_ACCESS_DENIED);
}
